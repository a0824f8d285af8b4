#include "LogCapture.h"
#include "PersistenceTestHost.h"
#include "TSqliteDatabase.h"
#include "clsHeldFundsRule.h"
#include "clsOutcomeUnknown.h"
#include "implDataChangesZumvo.h"
#include "intfActCodes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zumvo;

namespace {

// An access-code registry that writes down every call.
class TRecordingRegistry : public pallux::TInterfacedObject<pallux::IActCodeRegistry> {
public:
    explicit TRecordingRegistry(std::vector<std::string>* calls) : FCalls(calls) {}
    void PALLUX_CALL RegisterCode(const std::string& code, const std::string& description, std::int32_t level,
                                  std::int32_t enabled) override {
        FCalls->push_back("Register " + code + " " + description + " " + std::to_string(level) + " " +
                          std::to_string(enabled));
    }
    void PALLUX_CALL UnregisterCode(const std::string& code) override {
        FCalls->push_back("Unregister " + code);
    }
    void PALLUX_CALL AssignCode(const std::string& code, const std::string& group) override {
        FCalls->push_back("Assign " + code + " " + group);
    }

private:
    std::vector<std::string>* FCalls;
};

class SchemaTest : public ::testing::Test {
protected:
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    std::vector<std::string> registryCalls;

    void RegisterRegistry() {
        refhost::RegisterHostFactory<pallux::IActCodeRegistry>(
            *host.Container, [this] { return pallux::MakeIntf<TRecordingRegistry>(&registryCalls); });
    }

    std::vector<std::string> Scripts() {
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        return scripts;
    }

    // Runs the scripts as the host does: each one a batch of its own, in order.
    void Upgrade() {
        for (const auto& script : Scripts())
            host.Run(script);
    }

    std::string Column(const std::string& table, const std::string& column, const std::string& what) {
        return host.Value("SELECT " + what + " FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = '" + table +
                          "' AND COLUMN_NAME = '" + column + "'");
    }

    // The transactions table as it was made before any upgrade.
    void CreateFirstTransactionsTable(const std::string& responseType) {
        host.Run(
            "CREATE TABLE [ZumvoPaymentTransactions] ( [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY, "
            "[Timestamp_Created] DATETIME NOT NULL, [Timestamp_Payment] DATETIME NULL, "
            "[Timestamp_Finalised] DATETIME NULL, [InvoiceNum] INT NULL, [tvTrxID] INT NULL, [Response] " +
            responseType + " NULL, [Amount] FLOAT NULL )");
    }
};

} // namespace

TEST_F(SchemaTest, EmptyDatabaseGetsEveryTableAndColumnAndASecondPassChangesNothing) {
    RegisterRegistry();
    const auto scripts = Scripts();
    ASSERT_EQ(scripts.size(), 13u);
    EXPECT_EQ(scripts[0].rfind("-- Zumvo Transaction Table\n", 0), 0u);
    EXPECT_EQ(scripts[1].rfind("-- Zumvo Payment Basket\n", 0), 0u);
    EXPECT_EQ(scripts[2].rfind("-- Zumvo Log Table\n", 0), 0u);
    EXPECT_EQ(registryCalls,
              (std::vector<std::string>{"Register AM011 To Change Zumvo Payment Settings 1 1",
                                        "Register AM012 To View Zumvo Payment Transactions 1 1",
                                        "Assign AM011 FRCH", "Assign AM012 FRCH"}));
    // The brand tables are made at once, not through the list.
    EXPECT_EQ(host.Value("SELECT COUNT(*) FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'Brands'"), "4");
    EXPECT_EQ(host.Value("SELECT COUNT(*) FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'TillsBrand'"),
              "3");

    for (const auto& script : scripts)
        host.Run(script);

    const auto columns = host.Rows("SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = "
                                   "'ZumvoPaymentTransactions' ORDER BY ORDINAL_POSITION");
    std::string names;
    for (int i = 0; i < columns._Count(); ++i)
        names += columns[i]["COLUMN_NAME"].AsString() + " ";
    EXPECT_EQ(names,
              "ID Timestamp_Created Timestamp_Payment Timestamp_Finalised InvoiceNum tvTrxID Response "
              "Amount Status BasketID AdviceAttempts AdviceLastAttempt AdviceLastError ProviderStoreID "
              "RefundOwed RequestNote ");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "RequestNote", "IS_NULLABLE"), "YES");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "RequestNote", "CHARACTER_MAXIMUM_LENGTH"), "-1");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "ProviderStoreID", "IS_NULLABLE"), "YES");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "RefundOwed", "IS_NULLABLE"), "NO");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "AdviceAttempts", "IS_NULLABLE"), "NO");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "AdviceLastError", "CHARACTER_MAXIMUM_LENGTH"), "500");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "Response", "CHARACTER_MAXIMUM_LENGTH"), "-1");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "Status", "IS_NULLABLE"), "NO");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "BasketID", "IS_NULLABLE"), "YES");
    EXPECT_EQ(Column("ZumvoPaymentBasket", "TillID", "IS_NULLABLE"), "NO");
    EXPECT_EQ(Column("ZumvoPaymentBasket", "SaleInvoiceNum", "IS_NULLABLE"), "YES");
    EXPECT_EQ(Column("zumvoPaymentLog", "Message", "CHARACTER_MAXIMUM_LENGTH"), "1000");
    EXPECT_EQ(Column("zumvoPaymentLog", "Class", "CHARACTER_MAXIMUM_LENGTH"), "10");

    // New rows take the column defaults.
    host.Run("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) VALUES ( GETDATE() )");
    host.Run("INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created] ) VALUES ( GETDATE() )");
    EXPECT_EQ(host.Value("SELECT [Status] FROM [ZumvoPaymentTransactions]"), "0");
    EXPECT_EQ(host.Value("SELECT [AdviceAttempts] FROM [ZumvoPaymentTransactions]"), "0");
    EXPECT_EQ(host.Value("SELECT [RefundOwed] FROM [ZumvoPaymentTransactions]"), "0");
    EXPECT_EQ(host.Value("SELECT [ProviderStoreID] FROM [ZumvoPaymentTransactions]"), "");
    EXPECT_EQ(host.Value("SELECT [TillID] FROM [ZumvoPaymentBasket]"), "-1");

    const std::string before = host.Snapshot();
    Upgrade();
    EXPECT_EQ(host.Snapshot(), before);
    EXPECT_FALSE(test::LogContains(log, "Error : ")) << "no step failed";
}

TEST_F(SchemaTest, DatabaseFromBeforeTheStatusColumnIsUpgradedWithItsRows) {
    CreateFirstTransactionsTable("VARCHAR(500)");
    host.Run("CREATE TABLE [ZumvoPaymentBasket] ( [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY, "
             "[Timestamp_Created] DATETIME NULL, [InvoiceNum] INT NULL, [TotalAmount] FLOAT NULL )");
    const std::string answer(480, 'x');
    host.Run(
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [InvoiceNum], [Timestamp_Finalised], "
        "[Response] ) VALUES ( GETDATE(), 101, GETDATE(), '" +
        answer +
        "' );"
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [InvoiceNum] ) VALUES ( GETDATE(), "
        "102 );"
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [Timestamp_Finalised] ) "
        "VALUES ( GETDATE(), GETDATE() );"
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) VALUES ( GETDATE() );"
        "INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [InvoiceNum] ) VALUES ( GETDATE(), 101 )");
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "Response", "CHARACTER_MAXIMUM_LENGTH"), "500");

    Upgrade();

    const auto rows =
        host.Rows("SELECT [ID], [Status], [BasketID], [Response] FROM [ZumvoPaymentTransactions] "
                  "ORDER BY [ID]");
    ASSERT_EQ(rows._Count(), 4);
    EXPECT_EQ(rows[0]["Status"].AsInteger(), 2) << "invoiced and finalised";
    EXPECT_EQ(rows[1]["Status"].AsInteger(), 0) << "invoiced, not finalised";
    EXPECT_EQ(rows[2]["Status"].AsInteger(), 0) << "finalised without invoice";
    EXPECT_EQ(rows[3]["Status"].AsInteger(), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(rows[i]["BasketID"].IsNull());
    EXPECT_EQ(rows[0]["Response"].AsString(), answer) << "widening keeps the stored answers";
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "Response", "CHARACTER_MAXIMUM_LENGTH"), "-1");
    EXPECT_EQ(host.Value("SELECT [TillID] FROM [ZumvoPaymentBasket]"), "-1");

    // Answers longer than the old column now fit.
    const std::string longAnswer(2000, 'y');
    host.Run("UPDATE [ZumvoPaymentTransactions] SET [Response] = '" + longAnswer + "' WHERE [ID] = 2");
    EXPECT_EQ(host.Value("SELECT [Response] FROM [ZumvoPaymentTransactions] WHERE [ID] = 2"), longAnswer);

    // A row finalised later is not touched by a second upgrade pass.
    const std::string before = host.Snapshot();
    Upgrade();
    EXPECT_EQ(host.Snapshot(), before);
}

// Response holds only the provider's answers: the notes kept there before (a request out, or of
// unknown outcome) move to RequestNote, whole; answers stay; a second pass changes nothing.
TEST_F(SchemaTest, NotesMoveOutOfResponseOnceAndAnswersStay) {
    CreateFirstTransactionsTable("VARCHAR(MAX)");
    const std::string note = OutcomeUnknownNote("no answer", "12-5", "12-1", "PAY-'1'", 1205, 401);
    const std::string answer = R"({"responseCode":"-1","responseDesc":"Outcome: Unknown","Zumvo":"PAY"})";
    host.Run(
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [Response] ) VALUES ( GETDATE(), " +
        pallux::QuotedStr(note) +
        " ); INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], "
        "[Response] ) VALUES ( GETDATE(), " +
        pallux::QuotedStr(answer) +
        " ); INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) "
        "VALUES ( GETDATE() )");

    Upgrade();

    const auto rows =
        host.Rows("SELECT [Response], [RequestNote] FROM [ZumvoPaymentTransactions] ORDER BY [ID]");
    ASSERT_EQ(rows._Count(), 3);
    EXPECT_TRUE(rows[0]["Response"].IsNull()) << "the note left Response";
    EXPECT_EQ(rows[0]["RequestNote"].AsString(), note) << "moved whole, quotes and all";
    EXPECT_EQ(rows[1]["Response"].AsString(), answer);
    EXPECT_TRUE(rows[1]["RequestNote"].IsNull());
    EXPECT_TRUE(rows[2]["Response"].IsNull());
    EXPECT_TRUE(rows[2]["RequestNote"].IsNull());

    const std::string before = host.Snapshot();
    Upgrade();
    EXPECT_EQ(host.Snapshot(), before);
    EXPECT_FALSE(test::LogContains(log, "Error : ")) << "no step failed";
}

TEST_F(SchemaTest, ResponseColumnAlreadyWidenedIsKept) {
    CreateFirstTransactionsTable("VARCHAR(MAX)");
    const std::string answer(3000, 'z');
    host.Run(
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [Response] ) VALUES ( GETDATE(), '" +
        answer + "' )");
    Upgrade();
    EXPECT_EQ(Column("ZumvoPaymentTransactions", "Response", "CHARACTER_MAXIMUM_LENGTH"), "-1");
    EXPECT_EQ(host.Value("SELECT [Response] FROM [ZumvoPaymentTransactions]"), answer);
}

TEST_F(SchemaTest, WithoutRegistryAllScriptsAreDeliveredAndAFailingBrandStepKeepsThem) {
    auto scripts = Scripts();
    EXPECT_EQ(scripts.size(), 13u) << "no access-code registry: the scripts all the same";
    EXPECT_FALSE(test::LogContains(log, "Error : ")) << "skipping the codes is silent";

    // Without the till brand settings the last step fails; the items already appended stay, and
    // items that were in the list before are neither removed nor moved.
    host.Container->UnregisterFactory(ITillBrandSettings::IID);
    std::vector<std::string> list{"-- the host's own script"};
    pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(list);
    ASSERT_EQ(list.size(), 14u);
    EXPECT_EQ(list[0], "-- the host's own script");
    EXPECT_EQ(std::vector<std::string>(list.begin() + 1, list.end()), scripts);
    EXPECT_TRUE(
        log.Has("[TDatabaseChangesZumvo.GetUpdateScripts] Error : TillBrandSettings is not available"));
}

TEST_F(SchemaTest, LookupIndexesAreCreatedOnceAndUsedByTheLookups) {
    const auto scripts = Scripts();
    ASSERT_EQ(scripts[7].rfind("-- Zumvo Look-up Indexes\n", 0), 0u);
    ASSERT_EQ(scripts[8].rfind("-- Zumvo Advice Retry\n", 0), 0u);
    ASSERT_EQ(scripts[9].rfind("-- Zumvo Provider Store\n", 0), 0u);
    ASSERT_EQ(scripts[10].rfind("-- Zumvo Sale Invoice\n", 0), 0u);
    ASSERT_EQ(scripts[11].rfind("-- Zumvo Held Funds Indexes\n", 0), 0u);
    ASSERT_EQ(scripts.back().rfind("-- Zumvo Request Note\n", 0), 0u);
    const std::string count = "SELECT COUNT(*) FROM sys.indexes WHERE name LIKE 'IX_Zumvo%'";
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& script : scripts)
            host.Run(script);
        EXPECT_EQ(host.Value(count), "6") << "pass " << pass;
    }
    // The query planner picks them for the receipt's and the report's look-ups.
    auto& sqlite = dynamic_cast<refhost::TSqliteDatabase&>(*host.Database);
    const auto plan = [&](const std::string& sql) { return sqlite.QueryPlan(sql); };
    const std::pair<std::string, std::string> lookups[] = {
        {"SELECT * FROM ZumvoPaymentTransactions WHERE BasketID = 5", "IX_ZumvoPaymentTransactions_BasketID"},
        {"SELECT * FROM ZumvoPaymentBasket WHERE InvoiceNum = 5", "IX_ZumvoPaymentBasket_InvoiceNum"},
        {"SELECT * FROM ZumvoPaymentBasket WHERE Timestamp_Created BETWEEN '2026-01-01' AND '2026-01-02'",
         "IX_ZumvoPaymentBasket_Timestamp_Created"},
        // The held-funds look-up after every sale: the refunds owed by their own index (not every
        // settled row), and each open row's latest code of its basket by one seek.
        {"SELECT T.ID FROM ZumvoPaymentTransactions T LEFT JOIN ZumvoPaymentBasket B ON B.ID = T.BasketID "
         "WHERE " +
             HeldFundsCondition(),
         "IX_ZumvoPaymentTransactions_Status_RefundOwed (Status=? AND RefundOwed=?)"},
        {"SELECT MAX( X.[Timestamp_Created] ) FROM [ZumvoPaymentTransactions] X WHERE X.[BasketID] = 5",
         "COVERING INDEX IX_ZumvoPaymentTransactions_BasketID_Created"}};
    for (const auto& [sql, index] : lookups)
        EXPECT_THAT(plan(sql), ::testing::HasSubstr(index)) << sql;
}
