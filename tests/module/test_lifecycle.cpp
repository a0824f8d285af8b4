// The module library loaded as the host loads it: a copy in its own folder (where its settings
// file and log then live), the reference host's container and services.
#include "ChildProcess.h"
#include "THostServices.h"
#include "TModuleLoader.h"
#include "TRefHost.h"
#include "clsSysUtils.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

using namespace refhost;
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const kModuleFile = "ZumvoPayment.dll";
const char* const kSettingsFile = "ZumvoPayment.ini";
const char* const kInvoicing = "Invoicing.exe";
// As installed: blanks in the folder names, and a letter outside ASCII (and outside some ANSI
// code pages) in the module's own folder.
const char8_t* const kModuleFolder = u8"Pallux/Zumvo Modul \u00e4\u0107";
#else
const char* const kModuleFile = "libZumvoPayment.so";
const char* const kSettingsFile = "libZumvoPayment.ini";
const char* const kInvoicing = "Invoicing";
const char8_t* const kModuleFolder = u8"";
#endif

const std::vector<std::string> kRegistrations = {
    "RegisterFactory {3BCB6A09-0CFC-41A0-A842-93467EC0B6D3} ",
    "RegisterFactory {95A6DCCD-6735-44E9-8F05-1CBE25D4D754} ",
    "RegisterNamedFactory {46A625EC-9BF5-42C0-AC4F-9E6719539020} Zumvo",
    "RegisterFactory {C477BCB1-F216-4D90-8C9F-55FD6416FD37} ",
    "RegisterFactory {1E155008-98DB-4678-9533-EA1AFBBAE1D3} ",
    "RegisterFactory {2F7BD419-078E-43BF-982C-66AA7EEDF203} ",
    "RegisterFactory {E54CCCBA-1827-4B9A-9958-688322F63ABA} ",
    "RegisterFactory {4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87} ",
    "RegisterInstance {4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87} ",
    "RegisterNamedFactory {98B1C2E1-13C4-4EA2-BAB7-AE40ECD8443C} Zumvo",
    "RegisterNamedFactory {B99696A6-EA20-4DD7-8E91-13B5762D314D} Zumvo",
    "RegisterNamedFactory {F80579CD-19FC-4203-BD1B-42E3D4AC2598} Zumvo",
    "RegisterNamedFactory {C8753185-FCAC-4182-B497-F7E86F26F280} ZumvoDiscount",
};

const std::vector<std::string> kWithdrawals = {
    "UnregisterNamedFactory {F80579CD-19FC-4203-BD1B-42E3D4AC2598} Zumvo",
    "UnregisterNamedFactory {B99696A6-EA20-4DD7-8E91-13B5762D314D} Zumvo",
    "UnregisterNamedFactory {C8753185-FCAC-4182-B497-F7E86F26F280} ZumvoDiscount",
    "UnregisterNamedFactory {98B1C2E1-13C4-4EA2-BAB7-AE40ECD8443C} Zumvo",
    "ReleaseInstance {4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87} ",
    "UnregisterFactory {4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87} ",
    "UnregisterFactory {E54CCCBA-1827-4B9A-9958-688322F63ABA} ",
    "ReleaseInstance {2F7BD419-078E-43BF-982C-66AA7EEDF203} ",
    "UnregisterFactory {2F7BD419-078E-43BF-982C-66AA7EEDF203} ",
    "UnregisterFactory {1E155008-98DB-4678-9533-EA1AFBBAE1D3} ",
    "ReleaseInstance {C477BCB1-F216-4D90-8C9F-55FD6416FD37} ",
    "UnregisterFactory {C477BCB1-F216-4D90-8C9F-55FD6416FD37} ",
    "UnregisterNamedFactory {46A625EC-9BF5-42C0-AC4F-9E6719539020} Zumvo",
    "UnregisterFactory {95A6DCCD-6735-44E9-8F05-1CBE25D4D754} ",
    "UnregisterFactory {3BCB6A09-0CFC-41A0-A842-93467EC0B6D3} ",
};

class ModuleLifecycleTest : public ::testing::Test {
protected:
    fs::path folder;
    fs::path module;
    std::shared_ptr<THostContext> ctx;
    pallux::IntfPtr<TDIContainer> container;
    std::vector<std::string> ops;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("zumvo_lifecycle_" + std::string(info->name()) + "_" + std::to_string(getpid())) /
                 fs::path(kModuleFolder);
        fs::remove_all(folder);
        fs::create_directories(folder);
        module = folder / kModuleFile;
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / kModuleFile, module);
        std::ofstream(folder / kSettingsFile) << "[Settings]\nZumvoStoreID=401\n";
        std::ofstream(folder / "host.ini") << "[Host]\nStoreID=12\nTillID=2\n";
        ctx = THostContext::Load(folder / "host.ini", "Invoicing", true);
        container = pallux::MakeIntf<TDIContainer, TDIContainer>();
        RegisterCoreServices(*container, ctx);
        container->OnOperation = [this](const std::string& op, const pallux::TGUID& iid,
                                        const std::string& name) {
            ops.push_back(op + " " + iid.ToString() + " " + name);
        };
    }
    void TearDown() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        fs::remove_all(fs::temp_directory_path() /
                       ("zumvo_lifecycle_" + std::string(info->name()) + "_" + std::to_string(getpid())));
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() != ".log")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::string line;
            while (std::getline(in, line))
                lines.push_back(line);
        }
        return lines;
    }
};

} // namespace

TEST_F(ModuleLifecycleTest, RegistersTwelveServicesInOrderAndWithdrawsThemInOrder) {
    TModuleLoader loader(module);
    loader.Init(*container);
    EXPECT_EQ(ops, kRegistrations);

    // The identity singleton was built during InitModule and is held by the container.
    pallux::IntfPtr<pallux::IInterface> identity;
    EXPECT_TRUE(container->GetInstance(pallux::TGUID::Parse("{C477BCB1-F216-4D90-8C9F-55FD6416FD37}"),
                                       identity.put()));
    identity.reset();

    ops.clear();
    loader.Final();
    EXPECT_EQ(ops, kWithdrawals);
    EXPECT_EQ(container->Registrations().size(), 6u) << "only the host's own services remain";

    ops.clear();
    loader.Final();
    EXPECT_TRUE(ops.empty()) << "a second FinalModule does nothing";
    loader.Unload();
    EXPECT_TRUE(ops.empty()) << "unloading after FinalModule withdraws nothing more";
}

TEST_F(ModuleLifecycleTest, AFailedWithdrawalDoesNotStopTheOthers) {
    {
        TModuleLoader loader(module);
        loader.Init(*container);
        ops.clear();
        // The host refuses two withdrawals (its hook raises after each was made).
        container->OnOperation = [this](const std::string& op, const pallux::TGUID& iid,
                                        const std::string& name) {
            ops.push_back(op + " " + iid.ToString() + " " + name);
            if (ops.back() == kWithdrawals[0] || ops.back() == kWithdrawals[10])
                throw std::runtime_error("refused " + op);
        };
        loader.Final();
        container->OnOperation = nullptr;
        EXPECT_EQ(ops, kWithdrawals) << "every withdrawal, in order";
        EXPECT_EQ(container->Registrations().size(), 6u) << "nothing of the module is left behind";
    }
    // The module is unloaded now; releasing the container touches nothing of it.
    container.reset();
    int errors = 0;
    for (const auto& l : LogLines())
        errors += l.find("[FinalModule] Error : refused ") != std::string::npos;
    EXPECT_EQ(errors, 2) << "each failure is logged";
}

TEST_F(ModuleLifecycleTest, UnloadWithoutFinalModuleWithdrawsEverything) {
    TModuleLoader loader(module);
    loader.Init(*container);
    ops.clear();
    loader.Unload();
    EXPECT_EQ(ops, kWithdrawals);
    EXPECT_EQ(container->Registrations().size(), 6u);
}

TEST_F(ModuleLifecycleTest, LoadedAndUnloadedTwiceInOneProcess) {
    // The second load starts from a fresh library: its log, its container reference and its
    // registrations are its own, and the first unload left nothing behind that breaks it.
    std::size_t registered = 0;
    for (int round = 1; round <= 2; ++round) {
        ops.clear();
        {
            TModuleLoader loader(module);
            loader.Init(*container);
            if (round == 1)
                registered = container->Registrations().size();
            ASSERT_GE(ops.size(), kRegistrations.size()) << "round " << round;
            EXPECT_EQ(container->Registrations().size(), registered) << "round " << round;
            EXPECT_EQ(
                std::vector<std::string>(ops.begin(), ops.begin() + static_cast<long>(kRegistrations.size())),
                kRegistrations)
                << "round " << round;
            loader.Final();
        }
        ASSERT_GE(ops.size(), kWithdrawals.size()) << "round " << round;
        EXPECT_EQ(std::vector<std::string>(ops.end() - static_cast<long>(kWithdrawals.size()), ops.end()),
                  kWithdrawals)
            << "round " << round;
        EXPECT_EQ(container->Registrations().size(), 6u) << "round " << round;
    }
    int starts = 0;
    for (const auto& l : LogLines())
        starts += l.find("Starting Zumvo Payment") != std::string::npos;
    EXPECT_EQ(starts, 2) << "one log start per load";
}

TEST_F(ModuleLifecycleTest, ProcessExitWithTheModuleLoadedWithdrawsNothing) {
    // A program loads the module and reports every container operation on its standard output:
    // one run ends the process with the module loaded, the other unloads it first (the control).
    // On Windows the exit-time call is DLL_PROCESS_DETACH with a reserved pointer (see
    // ZumvoPlatformWindows.cpp), on Linux the library's destructor at exit.
    const auto run = [&](const char* how) {
        const auto probe = zumvo::test::RunProgram(
            zumvo::test::BuiltProgram("zumvo_module_exit_probe"),
            {pallux::PathToUtf8(module), pallux::PathToUtf8(folder / "host.ini"), how});
        EXPECT_TRUE(probe.Status.Ok()) << probe.Status.Text() << "\n" << probe.Output;
        std::string out = probe.Output;
        std::erase(out, '\r');
        const auto exit = out.find("EXIT\n");
        EXPECT_NE(exit, std::string::npos) << out;
        return exit == std::string::npos ? out : out.substr(exit + 5);
    };
    EXPECT_EQ(run("exit"), "") << "no withdrawal at process exit";
    const std::string control = run("unload");
    EXPECT_NE(control.find("UnregisterFactory"), std::string::npos) << control;
}

TEST_F(ModuleLifecycleTest, LogLiesNextToTheModuleAndStartsWithTheStartLine) {
    {
        TModuleLoader loader(module);
        loader.Init(*container);
        loader.Final();
    }
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty()) << "no .log file in " << folder;
    EXPECT_NE(lines.front().find("Starting Zumvo Payment"), std::string::npos)
        << "the new log starts with it";
    std::vector<std::string> seen;
    for (const auto& l : lines)
        for (const char* text :
             {"Starting Zumvo Payment", "[TZumvoInfo.Create] Got StoreID : 12",
              "[TZumvoInfo.Create] Got TillID : 2", "[TZumvoInfo.Create] Got TvStoreID : 401"})
            if (l.find(text) != std::string::npos)
                seen.push_back(text);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Starting Zumvo Payment", "[TZumvoInfo.Create] Got StoreID : 12",
                        "[TZumvoInfo.Create] Got TillID : 2", "[TZumvoInfo.Create] Got TvStoreID : 401"}));
    for (const auto& l : lines)
        EXPECT_TRUE(!l.empty() && l.back() == '\r') << "CR LF line ends: " << l;
}

TEST_F(ModuleLifecycleTest, InvoicingListsTheRegistrationsHeadless) {
    const auto run =
        zumvo::test::RunProgram((fs::path(ZUMVO_BIN_DIR) / kInvoicing).string(),
                                {"--headless", "--config", pallux::PathToUtf8(folder / "host.ini"),
                                 "--module", pallux::PathToUtf8(module), "--list-services"});
    ASSERT_TRUE(run.Status.Ok()) << run.Status.Text() << "\n" << run.Output;
    const std::string& out = run.Output;
    std::vector<std::string> moduleLines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') // Windows' console line ends
            line.pop_back();
        moduleLines.push_back(line);
    }
    const std::vector<std::string> expectedTail = {
        "{3BCB6A09-0CFC-41A0-A842-93467EC0B6D3}\t-\tfactory",
        "{95A6DCCD-6735-44E9-8F05-1CBE25D4D754}\t-\tfactory",
        "{46A625EC-9BF5-42C0-AC4F-9E6719539020}\tZumvo\tnamed factory",
        "{C477BCB1-F216-4D90-8C9F-55FD6416FD37}\t-\tfactory",
        "{C477BCB1-F216-4D90-8C9F-55FD6416FD37}\t-\tinstance",
        "{1E155008-98DB-4678-9533-EA1AFBBAE1D3}\t-\tfactory",
        "{2F7BD419-078E-43BF-982C-66AA7EEDF203}\t-\tfactory",
        "{E54CCCBA-1827-4B9A-9958-688322F63ABA}\t-\tfactory",
        "{4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87}\t-\tfactory",
        "{4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87}\t-\tinstance",
        "{98B1C2E1-13C4-4EA2-BAB7-AE40ECD8443C}\tZumvo\tnamed factory",
        "{B99696A6-EA20-4DD7-8E91-13B5762D314D}\tZumvo\tnamed factory",
        "{F80579CD-19FC-4203-BD1B-42E3D4AC2598}\tZumvo\tnamed factory",
        "{C8753185-FCAC-4182-B497-F7E86F26F280}\tZumvoDiscount\tnamed factory",
    };
    ASSERT_GE(moduleLines.size(), expectedTail.size()) << out;
    EXPECT_EQ(std::vector<std::string>(moduleLines.end() - static_cast<long>(expectedTail.size()),
                                       moduleLines.end()),
              expectedTail);
}
