#include "THostServices.h"
#include "TRefHost.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace refhost;
namespace fs = std::filesystem;

namespace {

// A folder of its own for one test, removed with everything in it when the test ends.
class TTempDir {
public:
    explicit TTempDir(const std::string& name)
        : FPath(fs::temp_directory_path() / ("zumvo_refhost_" + name + "_" + std::to_string(getpid()))) {
        fs::remove_all(FPath);
        fs::create_directories(FPath);
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    fs::path operator/(const fs::path& name) const { return FPath / name; }

private:
    fs::path FPath;
};

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

} // namespace

TEST(IniSettingsTest, ReadsTheRootSectionAndLetsAProfileSectionOverrideIt) {
    const TTempDir dir("ini");
    WriteFile(dir / "m.ini", "; module settings\n[Settings]\nSOAPServer = http://x:1\nZumvoStoreID=17\n"
                             "BrandLinks={\"BR1\": 23, \"BR2\": 5}\nBad=12x\n"
                             "[Settings.Default]\nsoapserver=http://override\n");
    auto s = pallux::MakeIntf<TINISettings>();
    s->Open((dir / "m.ini").string(), "Settings");
    EXPECT_EQ(s->ReadString("SOAPServer", "Default"), "http://override")
        << "profile section first, case ignored";
    EXPECT_EQ(s->ReadString("SOAPServer", "Other"), "http://x:1");
    EXPECT_EQ(s->ReadString("BrandLinks", "Default"), "{\"BR1\": 23, \"BR2\": 5}")
        << "a JSON value stays intact";
    EXPECT_EQ(s->ReadInteger("ZumvoStoreID", "Default"), 17);
    EXPECT_EQ(s->ReadString("Missing", "Default"), "");
    EXPECT_THROW(s->ReadInteger("Missing", "Default"), std::runtime_error);
    EXPECT_THROW(s->ReadInteger("Bad", "Default"), std::runtime_error);

    s->WriteString("SOAPID", "", "till");
    auto again = pallux::MakeIntf<TINISettings>();
    again->Open((dir / "m.ini").string(), "Settings");
    EXPECT_EQ(again->ReadString("SOAPID", "Default"), "till");
    EXPECT_EQ(again->ReadString("BrandLinks", "Default"), "{\"BR1\": 23, \"BR2\": 5}")
        << "saving keeps the rest";
}

TEST(IniSettingsTest, AMissingFileReadsAsEmptyAndAMalformedOneIsAnError) {
    const TTempDir dir("ini2");
    auto s = pallux::MakeIntf<TINISettings>();
    s->Open((dir / "none.ini").string(), "Settings");
    EXPECT_EQ(s->ReadString("SOAPUrl", "Default"), "");
    WriteFile(dir / "bad.ini", "[Settings]\nthis line has no equals sign\n");
    EXPECT_THROW(s->Open((dir / "bad.ini").string(), "Settings"), std::runtime_error);
}

TEST(IniSettingsTest, EveryReadSeesTheFileAsItIsNow) {
    const TTempDir dir("ini3");
    const auto file = dir / "m.ini";
    WriteFile(file, "[Settings]\nZumvoStoreID=77\n");
    auto s = pallux::MakeIntf<TINISettings>();
    s->Open(file.string(), "Settings");
    ASSERT_EQ(s->ReadInteger("ZumvoStoreID", "Default"), 77);

    WriteFile(file, "[Settings]\nZumvoStoreID=88\n"); // same size, within one clock tick
    EXPECT_EQ(s->ReadInteger("ZumvoStoreID", "Default"), 88);
    WriteFile(file, "[Settings]\nZumvoStoreID=5\n[Settings.Default]\nSOAPID=till\n");
    EXPECT_EQ(s->ReadString("SOAPID", "Default"), "till");
    EXPECT_EQ(s->ReadInteger("ZumvoStoreID", "Default"), 5);

    // A file whose time stamp goes back with the same size is still read again.
    WriteFile(file, "[Settings]\nZumvoStoreID=6\n[Settings.Default]\nSOAPID=tilt\n");
    fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(1));
    EXPECT_EQ(s->ReadString("SOAPID", "Default"), "tilt");

    WriteFile(file, "[Settings]\nno equals sign\n");
    EXPECT_THROW(s->ReadString("SOAPID", "Default"), std::runtime_error) << "a broken file is an error";
    WriteFile(file, "[Settings]\nZumvoStoreID=7\n");
    EXPECT_EQ(s->ReadInteger("ZumvoStoreID", "Default"), 7) << "and is read again once mended";

    fs::remove(file);
    EXPECT_EQ(s->ReadString("ZumvoStoreID", "Default"), "") << "a removed file reads as empty";
}

TEST(HostServicesTest, IdentityComesFromTheHostConfiguration) {
    const TTempDir dir("identity");
    WriteFile(dir / "host.ini", "[Host]\nStoreID=12\nTillID=3\n");
    auto ctx = THostContext::Load(dir / "host.ini", "Invoicing", true);
    auto c = pallux::MakeIntf<TDIContainer, TDIContainer>();
    RegisterCoreServices(*c, ctx);
    pallux::IntfPtr<pallux::IStoreIdentity> store;
    pallux::IntfPtr<pallux::ITillIdentity> till;
    ASSERT_TRUE(c->CreateInstance(store));
    ASSERT_TRUE(c->CreateInstance(till));
    EXPECT_EQ(store->GetHostStoreID(), 12);
    EXPECT_EQ(till->GetHostTillID(), 3);
    EXPECT_THROW(THostContext::Load(dir / "absent.ini", "Invoicing", true), std::runtime_error);
}

TEST(HostServicesTest, RestSettingsComeFromTheRestSectionWithSaneDefaults) {
    const TTempDir dir("rest");
    WriteFile(dir / "none.ini", "[Host]\nStoreID=1\n");
    const TRestSettings defaults = RestSettingsFromConfig(TIniFile(dir / "none.ini"));
    EXPECT_EQ(defaults.ConnectTimeoutMs, 5000);
    EXPECT_EQ(defaults.RequestTimeoutMs, 30000);
    EXPECT_EQ(defaults.MaxAnswerBytes, 1024u * 1024)
        << "far above any real answer, far below the log's rotation size";

    WriteFile(dir / "set.ini", "[Rest]\nConnectTimeoutMs=100\nRequestTimeoutMs=200\nMaxAnswerKB=64\n");
    const TRestSettings set = RestSettingsFromConfig(TIniFile(dir / "set.ini"));
    EXPECT_EQ(set.ConnectTimeoutMs, 100);
    EXPECT_EQ(set.RequestTimeoutMs, 200);
    EXPECT_EQ(set.MaxAnswerBytes, 64u * 1024);
    EXPECT_EQ(set.CAFile, "") << "no CAFile: the system's CA store (on Windows, Windows' own)";

    // A relative CA file is found beside the configuration, wherever the program runs; an absolute
    // one is kept. The setting is UTF-8 text, and so is the path handed on.
    const struct {
        std::string Value;
        fs::path Expected;
    } caFiles[] = {
        {"certs/ca.pem", dir / "certs/ca.pem"},
        {"Zertifikate \xC3\xA4\xC4\x87/ca.pem", dir / fs::path(u8"Zertifikate \u00e4\u0107/ca.pem")},
#ifdef _WIN32
        {"C:\\ProgramData\\Zumvo\\ca.pem", "C:\\ProgramData\\Zumvo\\ca.pem"},
        {"\\\\server\\certs\\ca.pem", "\\\\server\\certs\\ca.pem"},
        // No drive: the configuration's drive, not whichever is current when the program runs.
        {"\\Zumvo\\ca.pem", (dir / "x").root_name() / "\\Zumvo\\ca.pem"},
#else
        {"/etc/zumvo/ca.pem", "/etc/zumvo/ca.pem"},
#endif
    };
    for (const auto& c : caFiles) {
        SCOPED_TRACE(c.Value);
        WriteFile(dir / "ca.ini", "[Rest]\nCAFile=" + c.Value + "\n");
        const std::string caFile = RestSettingsFromConfig(TIniFile(dir / "ca.ini")).CAFile;
        EXPECT_EQ(fs::path(std::u8string(caFile.begin(), caFile.end())), c.Expected);
    }

    for (const char* bad : {"MaxAnswerKB=0", "MaxAnswerKB=-5", "MaxAnswerKB=1MB", "RequestTimeoutMs=0"}) {
        WriteFile(dir / "bad.ini", std::string("[Rest]\n") + bad + "\n");
        try {
            RestSettingsFromConfig(TIniFile(dir / "bad.ini"));
            ADD_FAILURE() << bad << " must be refused";
        } catch (const std::exception& e) {
            const std::string key = std::string(bad).substr(0, std::string(bad).find('='));
            EXPECT_NE(std::string(e.what()).find(key), std::string::npos) << e.what();
        }
    }
}

TEST(HostServicesTest, HeadlessMessagesAreAnsweredFromTheQueueAndTranscribed) {
    const TTempDir dir("messages");
    WriteFile(dir / "host.ini", "[Headless]\nTranscript=transcript.txt\n");
    auto ctx = THostContext::Load(dir / "host.ini", "Invoicing", true);
    auto c = pallux::MakeIntf<TDIContainer, TDIContainer>();
    RegisterCoreServices(*c, ctx);
    pallux::IntfPtr<pallux::IDisplayMessage> msg;
    ASSERT_TRUE(c->CreateInstance(msg));
    ctx->MessageAnswers.push_back(pallux::mbNo);
    EXPECT_EQ(msg->ShowMessage("Reverse?", pallux::mtConfirmation, pallux::mbYes | pallux::mbNo),
              pallux::mrNo);
    EXPECT_EQ(msg->ShowKeyedMessage("Done", "{X}", pallux::mbOK, 1), pallux::mrOK)
        << "no answer queued: first button";
    {
        pallux::IntfPtr<pallux::IActivityMessage> activity;
        ASSERT_TRUE(c->CreateInstance(activity));
        activity->ShowActivity("Finalising Zumvo Basket", 0);
    }
    const std::vector<std::string> expected{"MESSAGE: confirmation: Reverse?", "MESSAGE: information: Done",
                                            "ACTIVITY: Finalising Zumvo Basket"};
    EXPECT_EQ(ctx->Transcript.Lines(), expected);
    std::ifstream file(dir / "transcript.txt");
    std::string line;
    std::vector<std::string> fromFile;
    while (std::getline(file, line))
        fromFile.push_back(line);
    EXPECT_EQ(fromFile, expected);
}

TEST(RefHostTest, CommandLineAndRole) {
    const auto cl =
        TCommandLine::Parse({"--headless", "--config", "h.ini", "--module", "/m/lib.so", "--list-services"});
    EXPECT_TRUE(cl.Headless);
    EXPECT_TRUE(cl.ListServices);
    EXPECT_EQ(cl.Config, "h.ini");
    EXPECT_EQ(cl.Module, "/m/lib.so");
    EXPECT_THROW(TCommandLine::Parse({"--config"}), std::invalid_argument);
    EXPECT_THROW(TCommandLine::Parse({"--bogus"}), std::invalid_argument);
    EXPECT_EQ(RoleFromProgramPath("/opt/pallux/BackOffice"), "BackOffice");
    EXPECT_EQ(RoleFromProgramPath("C:/Pallux/Invoicing.exe"), "Invoicing");
}
