// The host programs run as a user runs them: BackOffice --headless with a configuration file, the
// module copied into its own folder, a real SQLite database and the brand service simulator.
#include "BrandSim.h"
#include "RunProgram.h"
#include "TDatabase.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using zumvo::test::RunProgram;
using zumvo::test::TRun;

class HostProgramTest : public ::testing::Test {
protected:
    fs::path folder;
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("zumvo_programs_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                  std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(fs::path(ZUMVO_BIN_DIR) / "libZumvoPayment.so", folder / "libZumvoPayment.so");
        std::ofstream(folder / "host.ini") << "[Host]\nStoreID=12\nTillID=1\nModule=libZumvoPayment.so\n"
                                              "[Database]\nFile=host.db\nDemoData=1\n";
    }
    void TearDown() override { fs::remove_all(folder); }
    void WriteModuleSettings(const std::string& text) {
        std::ofstream(folder / "libZumvoPayment.ini") << text;
    }
    TRun BackOffice(const std::string& args) {
        return RunProgram(std::string(ZUMVO_BIN_DIR) + "/BackOffice --headless --config " +
                          (folder / "host.ini").string() + " " + args);
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
    ASSERT_EQ(first.Status, 0) << first.Output;
    EXPECT_NE(first.Output.find("Database changes \"Zumvo\": 12 scripts"), std::string::npos) << first.Output;
    const std::string schema = Schema();
    for (const char* table :
         {"ZumvoPaymentTransactions", "ZumvoPaymentBasket", "zumvoPaymentLog", "Brands", "TillsBrand"})
        EXPECT_NE(schema.find(table), std::string::npos) << table << " missing in\n" << schema;

    const auto second = BackOffice("--upgrade-db");
    ASSERT_EQ(second.Status, 0) << second.Output;
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
    ASSERT_EQ(BackOffice("--upgrade-db").Status, 0);

    const auto run = BackOffice("--refresh-brands");
    ASSERT_EQ(run.Status, 0) << run.Output;
    EXPECT_NE(run.Output.find(R"("Code":"BR1")"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(R"("Description":"Brand Two")"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(R"("TillName":"TILL-3")"), std::string::npos)
        << "three demo tills listed: " << run.Output;
}

TEST_F(HostProgramTest, BadCommandLinesAndMissingFilesAreClearErrors) {
    const auto unknown = BackOffice("--bogus");
    EXPECT_EQ(unknown.Status, 1);
    EXPECT_NE(unknown.Output.find("Unknown option --bogus"), std::string::npos) << unknown.Output;
    const auto noModule = RunProgram(std::string(ZUMVO_BIN_DIR) + "/Invoicing --headless --module " +
                                     (folder / "none.so").string() + " --list-services");
    EXPECT_EQ(noModule.Status, 1);
    EXPECT_NE(noModule.Output.find("Module not found"), std::string::npos) << noModule.Output;
}
