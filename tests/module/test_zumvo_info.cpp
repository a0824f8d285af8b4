#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "implZumvoInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace zumvo;

namespace {

// The settings file lies next to the module; for the statically linked tests that is the test
// program's folder.
class ZumvoInfoTest : public ::testing::Test {
protected:
    test::TModuleTestHost host;
    test::TLogCapture log{host.Folder};
    std::filesystem::path settingsFile = ModuleSettingsFile();

    void WriteSettings(const std::string& text) { std::ofstream(settingsFile) << text; }
    void TearDown() override { std::filesystem::remove(settingsFile); }
};

} // namespace

TEST_F(ZumvoInfoTest, ReadsAndLogsTheIdentityOnce) {
    WriteSettings("[Settings]\nZumvoStoreID=77\n");
    auto info = pallux::MakeIntf<TZumvoInfo>();
    EXPECT_EQ(info->GetStoreID(), 12);
    EXPECT_EQ(info->GetTillID(), 3);
    EXPECT_EQ(info->GetProviderStoreID(), 77) << "no brand links: the ZumvoStoreID value";
    EXPECT_EQ(info->CalcZumvoStoreID(-1), info->CalcZumvoStoreID(3));

    pallux::IntfPtr<pallux::IINISettings> s1, s2;
    info->GetSettings(s1);
    info->GetSettings(s2);
    ASSERT_TRUE(s1);
    EXPECT_EQ(s1.get(), s2.get()) << "the same settings object every time";

    const auto lines = log.Lines();
    std::vector<std::string> identity;
    for (const auto& l : lines)
        if (auto p = l.find("[TZumvoInfo.Create]"); p != std::string::npos)
            identity.push_back(l.substr(p));
    EXPECT_EQ(identity, (std::vector<std::string>{"[TZumvoInfo.Create] Got StoreID : 12",
                                                  "[TZumvoInfo.Create] Got TillID : 3",
                                                  "[TZumvoInfo.Create] Got TvStoreID : 77"}));
}

TEST_F(ZumvoInfoTest, CalculationSeesTheSettingsFileAsItIsNow) {
    WriteSettings("[Settings]\nZumvoStoreID=77\n");
    auto info = pallux::MakeIntf<TZumvoInfo>();
    ASSERT_EQ(info->GetProviderStoreID(), 77);
    WriteSettings("[Settings]\nZumvoStoreID=88\n"); // same size, most likely the same time stamp
    EXPECT_EQ(info->CalcZumvoStoreID(3), 88);
    EXPECT_EQ(info->GetProviderStoreID(), 77) << "the value of start-up stays until the next load";
    WriteSettings("[Settings]\nZumvoStoreID=9\n");
    EXPECT_EQ(info->CalcZumvoStoreID(-1), 9);
}

TEST_F(ZumvoInfoTest, MissingStoreSettingGivesMinusOneAndLogsTheError) {
    WriteSettings("[Settings]\n");
    auto info = pallux::MakeIntf<TZumvoInfo>();
    EXPECT_EQ(info->GetProviderStoreID(), -1);
    EXPECT_TRUE(log.Has("[TZumvoInfo.CalcZumvoStoreID] Error : Setting ZumvoStoreID is missing in " +
                        settingsFile.string()));
}

TEST_F(ZumvoInfoTest, WithoutSettingsServiceTheObjectIsStillBuilt) {
    host.Container->UnregisterFactory(pallux::IINISettings::IID);
    auto info = pallux::MakeIntf<TZumvoInfo>();
    EXPECT_EQ(info->GetStoreID(), 0);
    EXPECT_EQ(info->GetTillID(), 0);
    pallux::IntfPtr<pallux::IINISettings> s;
    info->GetSettings(s);
    EXPECT_FALSE(s);
    EXPECT_TRUE(log.Has("[TZumvoInfo.Create] Error : Could not make INISettings"));
    EXPECT_EQ(info->CalcZumvoStoreID(5), -1) << "no crash on the empty settings reference";
}

// A settings file this user may not read is named as such, with the file and the user, and
// logged once while the module is loaded; a missing file is no fault (its settings are empty).
TEST_F(ZumvoInfoTest, UnreadableSettingsAreNamedWithTheirReason) {
    std::filesystem::remove(settingsFile);
    EXPECT_EQ(SettingsFileFault(settingsFile), "");
    WriteSettings("[Settings]\nZumvoStoreID=77\n");
    EXPECT_EQ(SettingsFileFault(settingsFile), "");

    std::filesystem::remove(settingsFile);
    std::filesystem::create_directory(settingsFile);
    const std::string folder = SettingsFileFault(settingsFile);
    EXPECT_EQ(folder, "The settings file " + settingsFile.string() + " cannot be read: it is a folder");
    EXPECT_EQ(ModuleSettingsFault(), folder);
    auto info = pallux::MakeIntf<TZumvoInfo>();
    EXPECT_EQ(ModuleSettingsFault(), folder);
    int logged = 0;
    for (const auto& line : log.Lines())
        logged += line.find(folder + "; every setting is taken as missing") != std::string::npos;
    EXPECT_EQ(logged, 1) << "once, however often it is asked";
    std::filesystem::remove(settingsFile);

#ifndef _WIN32
    // Permission denied, as for a till user outside the group zumvo. Root reads every file: the
    // check is made as the user nobody then.
    const auto file = host.Folder / "private.ini";
    std::ofstream(file) << "[Settings]\n";
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(host.Folder, std::filesystem::perms::all);
    if (::geteuid() == 0) {
        ASSERT_EQ(::seteuid(65534), 0);
        const std::string fault = SettingsFileFault(file);
        ASSERT_EQ(::seteuid(0), 0);
        EXPECT_EQ(fault, "The settings file " + file.string() +
                             " cannot be read by the user nobody (uid 65534): " + std::strerror(EACCES));
    } else {
        std::filesystem::permissions(file, std::filesystem::perms::none);
        EXPECT_NE(SettingsFileFault(file).find(std::strerror(EACCES)), std::string::npos);
    }
#endif
}
