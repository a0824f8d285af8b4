#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "implZumvoInfo.h"

#include <gtest/gtest.h>

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
