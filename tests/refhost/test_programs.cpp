// The host programs run as a user runs them: BackOffice --headless with a configuration file, the
// module copied into its own folder, a real SQLite database and the brand service simulator.
#include "BrandSim.h"
#include "ChildProcess.h"
#include "HostFiles.h"
#include "TDatabase.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using zumvo::test::BuiltProgram;
using zumvo::test::ModuleFileName;
using zumvo::test::RunProgram;
using zumvo::test::TProgramRun;

class HostProgramTest : public ::testing::Test {
protected:
    fs::path folder;
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("zumvo_programs_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                  std::to_string(getpid()));
        zumvo::test::RemoveFolder(folder);
        fs::create_directories(folder);
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / ModuleFileName, folder / ModuleFileName);
        std::ofstream(folder / "host.ini") << "[Host]\nStoreID=12\nTillID=1\nModule=" << ModuleFileName
                                           << "\n[Database]\nFile=host.db\nDemoData=1\n";
    }
    void TearDown() override { zumvo::test::RemoveFolder(folder); }
    void WriteModuleSettings(const std::string& text) {
        std::ofstream(folder / zumvo::test::ModuleSettingsFileName) << text;
    }
    TProgramRun BackOffice(const std::string& option) {
        return RunProgram(BuiltProgram("BackOffice"),
                          {"--headless", "--config", (folder / "host.ini").string(), option});
    }
    std::string Schema() {
        auto db = refhost::OpenDatabase((folder / "host.db").string());
        const auto rs = db->RunBatch("SELECT [name], [sql] FROM [sqlite_master] ORDER BY [name]");
        std::string text;
        for (const auto& row : rs.ResultSets.at(0).Rows)
            text += row[0].AsText() + ": " + row[1].AsText() + "\n";
        return text;
    }
};

} // namespace

TEST_F(HostProgramTest, UpgradeRunsEveryScriptAndASecondPassChangesNothing) {
    WriteModuleSettings("[Settings]\nZumvoStoreID=401\n");
    const auto first = BackOffice("--upgrade-db");
    ASSERT_EQ(first.ExitCode(), 0) << first.Output;
    EXPECT_NE(first.Output.find("Database changes \"Zumvo\": 13 scripts"), std::string::npos) << first.Output;
    const std::string schema = Schema();
    for (const char* table :
         {"ZumvoPaymentTransactions", "ZumvoPaymentBasket", "zumvoPaymentLog", "Brands", "TillsBrand"})
        EXPECT_NE(schema.find(table), std::string::npos) << table << " missing in\n" << schema;

    const auto second = BackOffice("--upgrade-db");
    ASSERT_EQ(second.ExitCode(), 0) << second.Output;
    EXPECT_EQ(Schema(), schema);

    auto db = refhost::OpenDatabase((folder / "host.db").string());
    const auto codes =
        db->RunBatch("SELECT [Code] FROM [ActCodeGroups] WHERE [GroupName] = 'FRCH' ORDER BY [Code]");
    ASSERT_EQ(codes.ResultSets.at(0).Rows.size(), 2u) << "the access codes are assigned once";
    EXPECT_EQ(codes.ResultSets[0].Rows[0][0].AsText(), "AM011");
    EXPECT_EQ(codes.ResultSets[0].Rows[1][0].AsText(), "AM012");
}

TEST_F(HostProgramTest, RefreshBrandsDownloadsFromTheBrandServiceAndListsTheTills) {
    sim::TBrandSim brands(sim::BrandTableFromJson(
        R"({"12":[{"BrandID":1,"Code":"BR1","Description":"Brand One"},{"BrandID":2,"Code":"BR2","Description":"Brand Two"}]})"));
    const int port = brands.Start();
    WriteModuleSettings(
        "[Settings]\nZumvoStoreID=401\nBrandServiceURL=http://127.0.0.1:" + std::to_string(port) + "\n");
    ASSERT_EQ(BackOffice("--upgrade-db").ExitCode(), 0);

    const auto run = BackOffice("--refresh-brands");
    ASSERT_EQ(run.ExitCode(), 0) << run.Output;
    EXPECT_NE(run.Output.find(R"("Code":"BR1")"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(R"("Description":"Brand Two")"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(R"("TillName":"TILL-3")"), std::string::npos)
        << "three demo tills listed: " << run.Output;
}

TEST_F(HostProgramTest, BadCommandLinesAndMissingFilesAreClearErrors) {
    const auto unknown = BackOffice("--bogus");
    EXPECT_EQ(unknown.ExitCode(), 1);
    EXPECT_NE(unknown.Output.find("Unknown option --bogus"), std::string::npos) << unknown.Output;
    const auto noModule =
        RunProgram(BuiltProgram("Invoicing"),
                   {"--headless", "--module", (folder / "none.so").string(), "--list-services"});
    EXPECT_EQ(noModule.ExitCode(), 1);
    EXPECT_NE(noModule.Output.find("Module not found"), std::string::npos) << noModule.Output;
}
