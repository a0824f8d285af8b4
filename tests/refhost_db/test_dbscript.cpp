// The database script service on real database files: every SQL text the module issues, the
// schema scripts on new and old databases, the result documents, the statement trace, and the
// ODBC path against the SQLite ODBC driver.
#include "HostSchema.h"
#include "TDBScript.h"
#include "TDatabase.h"
#include "TSqliteDatabase.h"
#include "clsZumvoReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#ifdef _WIN32
#include <process.h>
#endif

using namespace refhost;
using pallux::IntfPtr;
using pallux::QuotedStr;
using pallux::TSqlArgs;
using ::testing::HasSubstr;

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

fs::path MakeTempFolder() {
#ifdef _WIN32
    // No mkdtemp: a new folder named after a counter that no folder has yet.
    for (unsigned n = 0;; ++n) {
        const fs::path folder =
            fs::temp_directory_path() / ("refhost_db_" + std::to_string(_getpid()) + "_" + std::to_string(n));
        if (fs::create_directory(folder))
            return folder;
    }
#else
    std::string pattern = (fs::temp_directory_path() / "refhost_db_XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    return pattern;
#endif
}

// The module's schema scripts, in the order the schema provider delivers them.
const std::vector<std::string> CreateScripts = {"-- Zumvo Transaction Table\n"
                                                "IF OBJECT_ID('ZumvoPaymentTransactions', 'U') IS NULL\n"
                                                "CREATE TABLE [ZumvoPaymentTransactions] (\n"
                                                "  [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,\n"
                                                "  [Timestamp_Created] DATETIME NOT NULL,\n"
                                                "  [Timestamp_Payment] DATETIME NULL,\n"
                                                "  [Timestamp_Finalised] DATETIME NULL,\n"
                                                "  [InvoiceNum] INT NULL,\n"
                                                "  [tvTrxID] INT NULL,\n"
                                                "  [Response] VARCHAR(500) NULL,\n"
                                                "  [Amount] FLOAT NULL\n"
                                                ")",
                                                "-- Zumvo Payment Basket\n"
                                                "IF OBJECT_ID('ZumvoPaymentBasket', 'U') IS NULL\n"
                                                "CREATE TABLE [ZumvoPaymentBasket] (\n"
                                                "  [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,\n"
                                                "  [Timestamp_Created] DATETIME NULL,\n"
                                                "  [InvoiceNum] INT NULL,\n"
                                                "  [TotalAmount] FLOAT NULL\n"
                                                ")",
                                                "-- Zumvo Log Table\n"
                                                "IF OBJECT_ID('zumvoPaymentLog', 'U') IS NULL\n"
                                                "CREATE TABLE [zumvoPaymentLog] (\n"
                                                "  [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,\n"
                                                "  [Timestamp] DATETIME NOT NULL,\n"
                                                "  [Class] VARCHAR(10) NOT NULL,\n"
                                                "  [Message] VARCHAR(1000) NOT NULL\n"
                                                ")"};

const std::vector<std::string> UpgradeScripts = {
    "IF NOT EXISTS ( SELECT * FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' "
    "AND "
    "COLUMN_NAME = 'Status' )\n"
    "BEGIN\n"
    "  ALTER TABLE [ZumvoPaymentTransactions] ADD [Status] INT NOT NULL DEFAULT (0)\n"
    "  EXEC('UPDATE [ZumvoPaymentTransactions] SET [Status] = 2 WHERE [InvoiceNum] IS NOT NULL AND "
    "[Timestamp_Finalised] IS NOT NULL')\n"
    "END",
    "IF NOT EXISTS ( SELECT * FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' "
    "AND "
    "COLUMN_NAME = 'BasketID' )\n"
    "  EXEC('ALTER TABLE [ZumvoPaymentTransactions] ADD [BasketID] INT NULL')",
    "IF EXISTS ( SELECT * FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND "
    "COLUMN_NAME = 'Response' AND CHARACTER_MAXIMUM_LENGTH = 500 )\n"
    "  EXEC('ALTER TABLE [ZumvoPaymentTransactions] ALTER COLUMN [Response] VARCHAR(MAX)')",
    "IF NOT EXISTS ( SELECT * FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentBasket' AND "
    "COLUMN_NAME = 'TillID' )\n"
    "  EXEC('ALTER TABLE [ZumvoPaymentBasket] ADD [TillID] INT NOT NULL DEFAULT -1')"};

// The till brand tables.
const char* const BrandTables =
    "IF OBJECT_ID('Brands', 'U') IS NULL\n"
    "CREATE TABLE [Brands] ( [BrandID] INT NOT NULL PRIMARY KEY, [Code] VARCHAR(10) NOT "
    "NULL, [Description] VARCHAR(200) NOT NULL, [Timestamp_Inserted] DATETIME NOT NULL "
    "DEFAULT GETDATE() );\n"
    "IF OBJECT_ID('TillsBrand', 'U') IS NULL\n"
    "CREATE TABLE [TillsBrand] ( [TillID] INT NOT NULL PRIMARY KEY, [BrandID] INT NOT "
    "NULL, [Timestamp_Inserted] DATETIME NOT NULL DEFAULT GETDATE() )";

const char* const ColumnsQuery =
    "SELECT COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE FROM "
    "INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = '%s' ORDER BY ORDINAL_POSITION";

// text against a pattern in which 'd' stands for any digit
bool Matches(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    return true;
}

rapidjson::Document Parse(const std::string& json) {
    rapidjson::Document d;
    d.Parse(json.c_str());
    EXPECT_FALSE(d.HasParseError()) << json;
    EXPECT_TRUE(d.IsArray()) << json;
    return d;
}

class DBScriptTest : public ::testing::Test {
protected:
    fs::path Folder = MakeTempFolder();
    std::shared_ptr<TDatabase> Database;
    IntfPtr<pallux::IDBScript> Db;

    void SetUp() override { Open((Folder / "host.db").string()); }
    void TearDown() override {
        Db.reset();
        Database.reset();
        fs::remove_all(Folder);
    }

    void Open(const std::string& connection, const fs::path& trace = {}) {
        Db.reset();
        Database = OpenDatabase(connection);
        IntfPtr<pallux::IServiceFactory> factory = pallux::MakeIntf<TDBScriptFactory>(Database, trace);
        IntfPtr<pallux::IInterface> service;
        factory->CreateService(service);
        Db = service.as<pallux::IDBScript>();
        ASSERT_TRUE(Db);
    }
    TDBScript& Concrete() { return *static_cast<TDBScript*>(Db.get()); }

    std::string Value(const std::string& sql, const std::string& column) {
        std::string v;
        Db->GetValue(sql, column, v);
        return v;
    }
    std::string ValueFmt(const std::string& format, const TSqlArgs& args, const std::string& column) {
        std::string v;
        Db->GetValueFmt(format, args, column, v);
        return v;
    }
    rapidjson::Document Rows(const std::string& sql) {
        std::string json;
        Db->Query(sql, json);
        return Parse(json);
    }
    rapidjson::Document RowsFmt(const std::string& format, const TSqlArgs& args) {
        std::string json;
        Db->QueryFmt(format, args, json);
        return Parse(json);
    }
    std::string Columns(const std::string& table) {
        std::string json;
        Db->QueryFmt(ColumnsQuery, {table}, json);
        return json;
    }
    void RunScripts(const std::vector<std::string>& scripts) {
        for (const auto& s : scripts)
            Db->Execute(s);
    }
    void CreateModuleTables() {
        RunScripts(CreateScripts);
        RunScripts(UpgradeScripts);
    }
};

} // namespace

TEST_F(DBScriptTest, SchemaScriptsBuildTheTablesAndAreIdempotent) {
    CreateModuleTables();
    EXPECT_EQ(
        Columns("ZumvoPaymentTransactions"),
        R"([{"COLUMN_NAME":"ID","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"NO"},)"
        R"({"COLUMN_NAME":"Timestamp_Created","DATA_TYPE":"datetime","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"NO"},)"
        R"({"COLUMN_NAME":"Timestamp_Payment","DATA_TYPE":"datetime","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"Timestamp_Finalised","DATA_TYPE":"datetime","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"InvoiceNum","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"tvTrxID","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"Response","DATA_TYPE":"varchar","CHARACTER_MAXIMUM_LENGTH":-1,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"Amount","DATA_TYPE":"float","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"Status","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"NO"},)"
        R"({"COLUMN_NAME":"BasketID","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"}])");
    EXPECT_EQ(
        Columns("ZumvoPaymentBasket"),
        R"([{"COLUMN_NAME":"ID","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"NO"},)"
        R"({"COLUMN_NAME":"Timestamp_Created","DATA_TYPE":"datetime","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"InvoiceNum","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"TotalAmount","DATA_TYPE":"float","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"YES"},)"
        R"({"COLUMN_NAME":"TillID","DATA_TYPE":"int","CHARACTER_MAXIMUM_LENGTH":null,"IS_NULLABLE":"NO"}])");
    EXPECT_THAT(
        Columns("zumvoPaymentLog"),
        HasSubstr(R"("COLUMN_NAME":"Message","DATA_TYPE":"varchar","CHARACTER_MAXIMUM_LENGTH":1000)"));

    // a second pass finds everything in place and changes nothing
    Db->Execute("INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [TillID] ) VALUES ( GETDATE(), 3 )");
    const std::string before = Columns("ZumvoPaymentTransactions") + Columns("ZumvoPaymentBasket");
    CreateModuleTables();
    EXPECT_EQ(Columns("ZumvoPaymentTransactions") + Columns("ZumvoPaymentBasket"), before);
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [ZumvoPaymentBasket] WHERE [TillID] = 3", "N"), "1");
}

TEST_F(DBScriptTest, UpgradeOfAnOldDatabaseKeepsRowsAndSetsStatus) {
    RunScripts(CreateScripts);
    const std::string insert =
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [InvoiceNum], "
        "[Timestamp_Finalised], [Response] ) VALUES ( '2023-01-05 10:00:00', %s, %s, %s )";
    ASSERT_TRUE(Db->ExecuteFmt(insert, {"100", "'2023-01-05 10:05:00'", "'{\"a\":1}'"})); // settled
    ASSERT_TRUE(Db->ExecuteFmt(insert, {"101", "NULL", "NULL"}));                         // never finalised
    ASSERT_TRUE(Db->ExecuteFmt(insert, {"NULL", "'2023-01-05 10:05:00'", "NULL"}));       // no invoice
    ASSERT_TRUE(Db->ExecuteFmt(insert, {"NULL", "NULL", "NULL"}));
    ASSERT_TRUE(Db->ExecuteFmt(insert, {"102", "NULL", QuotedStr(std::string(500, 'x'))}));
    EXPECT_FALSE(Db->ExecuteFmt(insert, {"103", "NULL", QuotedStr(std::string(501, 'x'))}));
    EXPECT_THAT(Concrete().LastError(), HasSubstr("truncated"));
    Db->Execute("DELETE FROM [ZumvoPaymentTransactions] WHERE [ID] = 5"); // the highest identity is used up
    Db->Execute(
        "INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [TotalAmount] ) VALUES ( GETDATE(), 7.5 )");

    RunScripts(UpgradeScripts);

    auto rows = Rows("SELECT [ID], [Status], [BasketID] FROM [ZumvoPaymentTransactions] ORDER BY [ID]");
    ASSERT_EQ(rows.Size(), 4u);
    EXPECT_EQ(rows[0]["Status"].GetInt(), 2);
    for (rapidjson::SizeType i = 1; i < rows.Size(); ++i)
        EXPECT_EQ(rows[i]["Status"].GetInt(), 0) << "row " << i;
    for (const auto& r : rows.GetArray())
        EXPECT_TRUE(r["BasketID"].IsNull());
    EXPECT_EQ(Value("SELECT [Response] FROM [ZumvoPaymentTransactions] WHERE [ID] = 1", "Response"),
              "{\"a\":1}");
    EXPECT_EQ(Value("SELECT [TillID] FROM [ZumvoPaymentBasket]", "TillID"), "-1");
    EXPECT_EQ(Value("SELECT [TotalAmount] FROM [ZumvoPaymentBasket]", "TotalAmount"), "7.5");

    // the widened column takes long answers; the identity goes on after the deleted row
    const std::string big = std::string(5000, 'y') + "'";
    EXPECT_EQ(Value("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [Response] ) VALUES ( "
                    "GETDATE(), " +
                        QuotedStr(big) + " ); SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
                    "ID"),
              "6");
    EXPECT_EQ(Value("SELECT [Response] FROM [ZumvoPaymentTransactions] WHERE [ID] = 6", "Response"), big);

    // a column already widened stays as it is, rows included
    RunScripts(UpgradeScripts);
    EXPECT_THAT(Columns("ZumvoPaymentTransactions"),
                HasSubstr(R"("Response","DATA_TYPE":"varchar","CHARACTER_MAXIMUM_LENGTH":-1)"));
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [ZumvoPaymentTransactions]", "N"), "5");
    // the other limits survive the rebuild of the table
    EXPECT_FALSE(
        Db->ExecuteFmt("UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Payment] = 'not a date'", {}));
}

TEST_F(DBScriptTest, TransactionStoreTexts) {
    CreateModuleTables();
    CreateHostTables(*Database, true);
    const auto newID = [&](const std::string& format, const TSqlArgs& args) {
        return ValueFmt(format, args, "ID");
    };
    const std::string addToBasket =
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID] ) "
        "VALUES ( GETDATE(), %d ); SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]";
    EXPECT_EQ(
        newID("INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [TillID] ) VALUES ( GETDATE(), %d ); "
              "SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
              {std::int64_t{2}}),
        "1");
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(newID(addToBasket, {std::int64_t{1}}), std::to_string(i));
    EXPECT_EQ(
        Value("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) VALUES ( GETDATE() ); SELECT "
              "CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
              "ID"),
        "6");

    const std::string response = R"({"Zumvo":"ABC'123","message":"It's ok"})";
    const std::string savePayment =
        "UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Payment] = GETDATE(), [tvTrxID] "
        "= %d, [Response] = %s, [Status] = 1, [Amount] = %f WHERE [ID] = %d";
    for (std::int64_t id = 1; id <= 5; ++id)
        ASSERT_TRUE(Db->ExecuteFmt(savePayment, {9000 + id, QuotedStr(response), 10.25, id}));
    ASSERT_TRUE(Db->ExecuteFmt("UPDATE [ZumvoPaymentBasket] SET [TotalAmount] = %f WHERE [ID] = %d",
                               {51.25, std::int64_t{1}}));
    const std::string setStatus = "UPDATE [ZumvoPaymentTransactions] SET [Status] = %d WHERE [ID] = %d";
    ASSERT_TRUE(Db->ExecuteFmt(setStatus, {std::int64_t{0}, std::int64_t{2}}));
    ASSERT_TRUE(Db->ExecuteFmt(setStatus, {std::int64_t{-1}, std::int64_t{3}}));
    ASSERT_TRUE(Db->ExecuteFmt(setStatus, {std::int64_t{-2}, std::int64_t{4}}));
    ASSERT_TRUE(Db->ExecuteFmt(setStatus, {std::int64_t{-3}, std::int64_t{5}}));

    // finalising a basket settles its redeemed rows only
    ASSERT_TRUE(Db->ExecuteFmt(
        "UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Finalised] = GETDATE(), [Status] = 2 "
        "WHERE [BasketID] = %d AND [Status] = 1",
        {std::int64_t{1}}));
    auto rows = RowsFmt("SELECT * FROM [ZumvoPaymentTransactions] WHERE [BasketID] = %d", {std::int64_t{1}});
    ASSERT_EQ(rows.Size(), 5u);
    const int expected[] = {2, 0, -1, -2, -3};
    for (rapidjson::SizeType i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[i]["Status"].GetInt(), expected[i]);
        EXPECT_EQ(rows[i]["Timestamp_Finalised"].IsNull(), i != 0);
        EXPECT_EQ(rows[i]["Response"].GetString(), response); // quotes stored intact
        EXPECT_EQ(rows[i]["tvTrxID"].GetInt(), 9001 + static_cast<int>(i));
        EXPECT_DOUBLE_EQ(rows[i]["Amount"].GetDouble(), 10.25);
    }
    ASSERT_TRUE(Db->ExecuteFmt(
        "UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Finalised] = GETDATE(), [Status] = 2 "
        "WHERE [ID] = %d",
        {std::int64_t{4}}));
    EXPECT_EQ(ValueFmt("SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = %d", {std::int64_t{4}},
                       "Status"),
              "2");

    // invoice numbers: one transaction, the basket, every transaction of the basket
    ASSERT_TRUE(Db->ExecuteFmt("UPDATE [ZumvoPaymentTransactions] SET [InvoiceNum] = %d WHERE [ID] = %d",
                               {std::int64_t{700}, std::int64_t{6}}));
    EXPECT_EQ(ValueFmt("SELECT [ID] FROM [ZumvoPaymentTransactions] WHERE [InvoiceNum] = %d",
                       {std::int64_t{700}}, "ID"),
              "6");
    EXPECT_EQ(
        ValueFmt("SELECT [ID] FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {std::int64_t{500}}, "ID"),
        "");
    ASSERT_TRUE(Db->ExecuteFmt("UPDATE [ZumvoPaymentBasket] SET [InvoiceNum] = %d WHERE [ID] = %d",
                               {std::int64_t{500}, std::int64_t{1}}));
    ASSERT_TRUE(
        Db->ExecuteFmt("UPDATE [ZumvoPaymentTransactions] SET [InvoiceNum] = %d WHERE [BasketID] = %d",
                       {std::int64_t{500}, std::int64_t{1}}));
    EXPECT_EQ(
        ValueFmt("SELECT [ID] FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {std::int64_t{500}}, "ID"),
        "1");
    EXPECT_EQ(RowsFmt("SELECT * FROM [ZumvoPaymentTransactions] WHERE [InvoiceNum] = %d", {std::int64_t{500}})
                  .Size(),
              5u);
    ASSERT_TRUE(Db->ExecuteFmt("UPDATE [ZumvoPaymentTransactions] SET [Status] = %d WHERE [BasketID] = %d",
                               {std::int64_t{-1}, std::int64_t{1}}));
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [ZumvoPaymentTransactions] WHERE [Status] = -1", "N"), "5");

    // the basket row as the details document reads it
    auto baskets = RowsFmt("SELECT * FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {std::int64_t{500}});
    ASSERT_EQ(baskets.Size(), 1u);
    EXPECT_EQ(baskets[0]["ID"].GetInt(), 1);
    EXPECT_EQ(baskets[0]["TillID"].GetInt(), 2);
    EXPECT_DOUBLE_EQ(baskets[0]["TotalAmount"].GetDouble(), 51.25);
    EXPECT_TRUE(Matches(baskets[0]["Timestamp_Created"].GetString(), "dddd-dd-ddTdd:dd:dd"));
    EXPECT_EQ(RowsFmt("SELECT * FROM [ZumvoPaymentBasket] WHERE [ID] = %d", {std::int64_t{99}}).Size(), 0u);

    // the till of an invoice
    Db->Execute(
        "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM] ) VALUES ( "
        "500, 3, 1, 80.5, 12 )");
    EXPECT_EQ(ValueFmt("SELECT [InvoiceNum], [fkTillID] FROM [INVOICES] WHERE [InvoiceNum] = %d",
                       {std::int64_t{500}}, "fkTillID"),
              "3");
    EXPECT_EQ(ValueFmt("SELECT [InvoiceNum], [fkTillID] FROM [INVOICES] WHERE [InvoiceNum] = %d",
                       {std::int64_t{501}}, "fkTillID"),
              "");
}

TEST_F(DBScriptTest, LogLinesHoldTheColumnLimits) {
    CreateModuleTables();
    const std::string addLog =
        "INSERT INTO [zumvoPaymentLog] ( [Timestamp], [Class], [Message] ) VALUES ( GETDATE(), %s, %s )";
    EXPECT_TRUE(Db->ExecuteFmt(addLog, {QuotedStr("INFO"), QuotedStr("Saved Basket: 1 -> 25.500000")}));
    EXPECT_TRUE(Db->ExecuteFmt(addLog, {QuotedStr(std::string(10, 'C')), QuotedStr(std::string(1000, 'm'))}));
    EXPECT_TRUE(Db->ExecuteFmt(addLog, {QuotedStr("INFO"), QuotedStr("O'Brien's code")}));
    EXPECT_TRUE(Concrete().LastError().empty());
    EXPECT_FALSE(Db->ExecuteFmt(addLog, {QuotedStr(std::string(11, 'C')), QuotedStr("x")}));
    EXPECT_THAT(Concrete().LastError(),
                HasSubstr("String or binary data would be truncated in column Class"));
    EXPECT_FALSE(Db->ExecuteFmt(addLog, {QuotedStr("INFO"), QuotedStr(std::string(1001, 'm'))}));
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [zumvoPaymentLog]", "N"), "3");
    EXPECT_EQ(Value("SELECT [Message] FROM [zumvoPaymentLog] WHERE [ID] = 3", "Message"), "O'Brien's code");
}

TEST_F(DBScriptTest, QueryResultTypes) {
    Db->Execute("CREATE TABLE [Kinds] ( [I] INT, [F] FLOAT, [T] VARCHAR(20), [D] DATETIME, [N] VARCHAR(5) )");
    Db->Execute("INSERT INTO [Kinds] ( [I], [F], [T], [D], [N] ) VALUES ( 42, 10, 'text', "
                "'2024-05-01T10:20:30', NULL )");
    Db->Execute(
        "INSERT INTO [Kinds] ( [I], [F], [T], [D] ) VALUES ( -7, 2.75, '12', '2024-05-02T00:00:00' )");
    std::string json;
    Db->Query("SELECT [I], [F], [T], [D], [N], [I] * 2 AS [Twice] FROM [Kinds] ORDER BY [D]", json);
    EXPECT_EQ(json, R"([{"I":42,"F":10.0,"T":"text","D":"2024-05-01T10:20:30","N":null,"Twice":84},)"
                    R"({"I":-7,"F":2.75,"T":"12","D":"2024-05-02T00:00:00","N":null,"Twice":-14}])");
    // dates are stored in one form, so ranges on them hold (also at midnight written with a T)
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [Kinds] WHERE [D] BETWEEN '2024-05-01' AND DATEADD( DAY, 1, "
                    "'2024-05-01' )",
                    "N"),
              "2");
    EXPECT_EQ(Value("SELECT [D] FROM [Kinds] WHERE [I] = 42", "d"), "2024-05-01T10:20:30");
    EXPECT_THROW(Db->Execute("INSERT INTO [Kinds] ( [D] ) VALUES ( '31/12/2024' )"), std::runtime_error);
    // texts compare without regard to case, as on SQL Server
    EXPECT_EQ(Value("SELECT [I] FROM [Kinds] WHERE [T] = 'TEXT'", "I"), "42");
    // no rows: an empty array; a column the result lacks is an error
    Db->Query("SELECT * FROM [Kinds] WHERE 1 = 0", json);
    EXPECT_EQ(json, "[]");
    EXPECT_THROW(Value("SELECT [I] FROM [Kinds]", "Missing"), std::runtime_error);
}

TEST_F(DBScriptTest, IdentityRowCountAndAtomicBatches) {
    Db->Execute("CREATE TABLE [T] ( [ID] INT IDENTITY(1,1) PRIMARY KEY, [V] VARCHAR(3) NULL )");
    EXPECT_EQ(
        Value("INSERT INTO [T] ( [V] ) VALUES ( 'a' ); SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]", "ID"),
        "1");
    // a batch that inserts nothing has no identity of its own
    EXPECT_EQ(Value("SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]", "ID"), "");
    Db->Execute("INSERT INTO [T] ( [V] ) VALUES ( 'b' ); INSERT INTO [T] ( [V] ) VALUES ( 'b' )");
    EXPECT_EQ(Db->ExecuteRowCount("UPDATE [T] SET [V] = 'c' WHERE [V] = 'b'"), 2);
    EXPECT_EQ(Db->ExecuteRowCount("DELETE FROM [T] WHERE [V] = 'zzz'"), 0);

    // a failing statement undoes the whole batch, and the message names the statement
    try {
        Db->Execute("INSERT INTO [T] ( [V] ) VALUES ( 'd' )\nINSERT INTO [T] ( [V] ) VALUES ( 'toolong' )");
        FAIL() << "the over-long text was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("in statement: INSERT INTO [T] ( [V] ) VALUES ( 'toolong' )"));
    }
    // a form the translator does not know stops the batch before anything runs
    try {
        Db->Execute(
            "INSERT INTO [T] ( [V] ) VALUES ( 'e' ); SELECT DATEDIFF(day, GETDATE(), GETDATE()) AS D");
        FAIL() << "an unknown function ran";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("function DATEDIFF is not supported in statement: SELECT DATEDIFF"));
    }
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [T]", "N"), "3");
}

// A NUL byte must neither cut a statement short (SQLite stops reading at it, and would run what
// comes before it) nor make a stored text unstorable.
TEST_F(DBScriptTest, NulBytesNeitherShortenAStatementNorGetLost) {
    Db->Execute("CREATE TABLE [T] ( [ID] INT IDENTITY(1,1) PRIMARY KEY, [Status] INT NOT NULL DEFAULT 0, "
                "[Response] VARCHAR(MAX) NULL )");
    Db->Execute("INSERT INTO [T] ( [Response] ) VALUES ( 'first' ); INSERT INTO [T] ( [Response] ) VALUES ( "
                "'second' )");
    std::ifstream seed(fs::path(ZUMVO_SOURCE_DIR) / "tests/fuzz/corpus/sql/nul-cuts-where-clause.sql",
                       std::ios::binary);
    const std::string cut((std::istreambuf_iterator<char>(seed)), std::istreambuf_iterator<char>());
    ASSERT_NE(cut.find('\0'), std::string::npos) << "the seed file holds the NUL byte";
    const std::vector<std::string> refused{
        cut, "UPDATE [T] SET [Status] = 1\0, [Response] = 'never' WHERE [ID] = 999"s,
        "UPDATE [T] SET [St\0atus] = 1 WHERE [ID] = 999"s, // inside a name
    };
    for (const auto& batch : refused) {
        try {
            Db->Execute(batch);
            ADD_FAILURE() << "a batch holding a NUL byte ran";
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr("NUL byte"));
            EXPECT_THAT(e.what(), HasSubstr("in statement: UPDATE [T] SET"));
        }
    }
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [T] WHERE [Status] <> 0 OR [Response] = 'never'", "N"), "0");

    // a NUL inside a text value is stored and read back whole
    const std::string withNul = "ab\0c'd"s;
    ASSERT_TRUE(Db->ExecuteFmt("UPDATE [T] SET [Response] = %s WHERE [ID] = 2", {QuotedStr(withNul)}));
    EXPECT_EQ(Value("SELECT [Response] FROM [T] WHERE [ID] = 2", "Response"), withNul);
    EXPECT_EQ(Value("SELECT [Response] FROM [T] WHERE [ID] = 1", "Response"), "first");
    EXPECT_EQ(ValueFmt("SELECT COUNT(*) AS N FROM [T] WHERE [Response] = %s", {QuotedStr(withNul)}, "N"),
              "1");
}

TEST(SqliteConnection, RefusesTextAfterTheStatementThatWouldNotRun) {
    TSqliteDatabase db(":memory:");
    db.RunSqlite("CREATE TABLE t (a INT)");
    for (const std::string& sql : {"INSERT INTO t VALUES (1)\0 INSERT INTO t VALUES (2)"s,
                                   "INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)"s}) {
        try {
            db.RunSqlite(sql);
            ADD_FAILURE() << "a statement with unrun text after it ran: " << sql;
        } catch (const EDatabaseError& e) {
            EXPECT_THAT(e.what(), HasSubstr("not run")) << sql;
            EXPECT_THAT(e.what(), HasSubstr("INSERT INTO t VALUES (1)")) << sql;
        }
    }
    // blanks, semicolons and comments after a statement are fine
    db.RunSqlite("INSERT INTO t VALUES (3) ; -- done\n /* really */ ");
    const auto rs = db.RunSqlite("SELECT group_concat(a) FROM t");
    ASSERT_TRUE(rs && rs->Rows.size() == 1);
    EXPECT_EQ(rs->Rows[0][0].AsText(), "3");
}

TEST_F(DBScriptTest, Substitution) {
    EXPECT_EQ(Db->Format("%d|%s|%f|%%|%f", {std::int64_t{-12}, "'a''b'", 25.5, 1e-7}),
              "-12|'a''b'|25.500000|%|0.000000");
    EXPECT_EQ(FormatSql("IN ( %s )", {"1,2,3"}), "IN ( 1,2,3 )");
    EXPECT_THROW(FormatSql("%d", {"1"}), ESqlFormatError);
    EXPECT_THROW(FormatSql("%f", {std::int64_t{1}}), ESqlFormatError);
    EXPECT_THROW(FormatSql("%d %d", {std::int64_t{1}}), ESqlFormatError);
    EXPECT_THROW(FormatSql("%d", {std::int64_t{1}, std::int64_t{2}}), ESqlFormatError);
    EXPECT_THROW(FormatSql("%x", {}), ESqlFormatError);
    EXPECT_THROW(FormatSql("100%", {}), ESqlFormatError);
    EXPECT_THROW(FormatSql("%f", {std::nan("")}), ESqlFormatError);

    Db->Execute("CREATE TABLE [T] ( [A] FLOAT )");
    EXPECT_FALSE(Db->ExecuteFmt("INSERT INTO [T] ( [A] ) VALUES ( %f )", {"1.5"}));
    EXPECT_THAT(Concrete().LastError(), HasSubstr("is a text"));
    EXPECT_THROW(ValueFmt("SELECT [A] FROM [T] WHERE [A] = %d", {}, "A"), std::runtime_error);
    EXPECT_THROW(RowsFmt("SELECT [A] FROM [T] WHERE [A] = %d", {1.0}), std::runtime_error);
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [T]", "N"), "0");
}

TEST_F(DBScriptTest, BrandTexts) {
    CreateHostTables(*Database, true);
    Db->Execute(BrandTables);
    Db->Execute(BrandTables); // the tables exist: nothing happens
    const std::string upsert = "IF NOT EXISTS ( SELECT 1 FROM Brands WHERE BrandID = %d )\n"
                               "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( %d , %s , %s )\n"
                               "ELSE UPDATE [Brands] SET Code = %s, Description = %s WHERE BrandID = %d";
    const auto brand = [&](std::int64_t id, const std::string& code, const std::string& description) {
        return Db->ExecuteFmt(upsert, {id, id, QuotedStr(code), QuotedStr(description), QuotedStr(code),
                                       QuotedStr(description), id});
    };
    ASSERT_TRUE(brand(1, "ZUM", "Zumvo Foods"));
    ASSERT_TRUE(brand(2, "KID", "Kid's Corner"));
    ASSERT_TRUE(brand(1, "ZUM2", "Zumvo Foods & Co")); // changed at the service: updated in place
    EXPECT_FALSE(brand(3, "CODE-TOO-LONG", "x"));
    auto brands = Rows("SELECT * FROM [Brands]");
    ASSERT_EQ(brands.Size(), 2u);
    EXPECT_EQ(brands[0]["BrandID"].GetInt(), 1);
    EXPECT_STREQ(brands[0]["Code"].GetString(), "ZUM2");
    EXPECT_STREQ(brands[0]["Description"].GetString(), "Zumvo Foods & Co");
    EXPECT_STREQ(brands[1]["Description"].GetString(), "Kid's Corner");
    EXPECT_TRUE(brands[0]["Timestamp_Inserted"].IsString());

    const std::string link = "IF NOT EXISTS ( SELECT 1 FROM [TillsBrand] WHERE [TillID] = %d)\n"
                             "INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( %d, %d )\n"
                             "ELSE UPDATE [TillsBrand] SET [BrandID] = %d WHERE [TillID] = %d";
    const auto linkTill = [&](std::int64_t brandID, std::int64_t tillID) {
        return Db->ExecuteFmt(link, {tillID, tillID, brandID, brandID, tillID});
    };
    ASSERT_TRUE(linkTill(2, 1));
    ASSERT_TRUE(linkTill(2, 2));
    ASSERT_TRUE(linkTill(1, 2)); // a new link replaces the old
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [TillsBrand]", "N"), "2");

    auto tills =
        Rows("SELECT TILLS.TILLSID, TILLS.[Computer Name] AS TillName, TILLS.TILLID, Brands.* FROM TILLS "
             "LEFT JOIN TillsBrand ON TillsBrand.TillID = TILLS.TILLSID LEFT JOIN Brands ON Brands.BrandID = "
             "TillsBrand.BrandID ORDER BY TILLS.TILLID");
    ASSERT_EQ(tills.Size(), 3u);
    EXPECT_STREQ(tills[0]["TillName"].GetString(), "TILL-1");
    EXPECT_STREQ(tills[0]["Code"].GetString(), "KID");
    EXPECT_STREQ(tills[1]["Code"].GetString(), "ZUM2");
    EXPECT_EQ(tills[2]["TILLID"].GetInt(), 3);
    EXPECT_TRUE(tills[2]["Code"].IsNull());
    EXPECT_TRUE(tills[2]["BrandID"].IsNull());
}

TEST_F(DBScriptTest, ReportQueries) {
    CreateModuleTables();
    CreateHostTables(*Database, true);
    Db->Execute(BrandTables);
    Db->Execute(
        "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 1, 'ZUM', 'Zumvo Foods' );"
        "INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( 1, 1 );"
        "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM], [DATE] ) "
        "VALUES "
        "( 500, 1, 1, 80.5, 12, '2024-05-01 09:15:00' );"
        "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM], [DATE] ) "
        "VALUES "
        "( 501, 2, 2, 20, NULL, '2024-05-01 12:00:00' );"
        "INSERT INTO [TILLPOST] ( [SHIFTNUM], [POSTED], [TILLID] ) VALUES ( 12, 1, 1 );"
        "INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( 500, 'Zumvo', 15 );"
        "INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( 500, 'ZUMVO', 5 );"
        "INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( 500, 'Cash', 60.5 "
        ")");
    const std::string basket =
        "INSERT INTO [ZumvoPaymentBasket] ( [Timestamp_Created], [InvoiceNum], [TotalAmount], "
        "[TillID] ) VALUES ( %s, %s, %f, 1 )";
    ASSERT_TRUE(Db->ExecuteFmt(basket, {"'2024-04-30 23:59:59'", "NULL", 1.0})); // 1: before the period
    ASSERT_TRUE(Db->ExecuteFmt(basket, {"'2024-05-01 09:00:00'", "500", 25.0})); // 2
    ASSERT_TRUE(Db->ExecuteFmt(basket, {"'2024-05-01 11:00:00'", "501", 8.0}));  // 3: no Zumvo payment
    ASSERT_TRUE(
        Db->ExecuteFmt(basket, {"'2024-05-02 00:00:00'", "NULL", 3.0})); // 4: midnight after: included
    ASSERT_TRUE(Db->ExecuteFmt(basket, {"'2024-05-02 00:00:01'", "NULL", 4.0})); // 5: after the period
    Db->Execute(
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID], [tvTrxID], [Amount], "
        "[Status] ) VALUES ( GETDATE(), 2, 9001, 15, 2 );"
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID], [tvTrxID], [Amount], "
        "[Status] ) VALUES ( GETDATE(), 3, NULL, NULL, 0 );"
        "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID], [tvTrxID], [Amount], "
        "[Status] ) VALUES ( GETDATE(), 2, 9002, 10, -1 )");

    // The report's own queries, for the day 2024-05-01, as the report runs them.
    using namespace std::chrono;
    const zumvo::TZumvoReportData report = zumvo::QueryZumvoReport(*Db, 2024y / May / 1d, 2024y / May / 1d);
    auto rows = Parse(report.Baskets.ToJSON());
    ASSERT_EQ(rows.Size(), 4u); // basket 2 twice: one row per Zumvo payment row
    EXPECT_EQ(rows[0]["BasketID"].GetInt(), 2);
    EXPECT_EQ(rows[1]["BasketID"].GetInt(), 2);
    EXPECT_DOUBLE_EQ(rows[0]["PaymentAmount"].GetDouble() + rows[1]["PaymentAmount"].GetDouble(), 20.0);
    EXPECT_DOUBLE_EQ(rows[0]["DiscountAmount"].GetDouble(), 25.0 - rows[0]["PaymentAmount"].GetDouble());
    EXPECT_STREQ(rows[0]["InvoiceDate"].GetString(), "2024-05-01T09:15:00");
    EXPECT_STREQ(rows[0]["BrandDesc"].GetString(), "Zumvo Foods");
    EXPECT_EQ(rows[0]["InvoiceNum"].GetInt(), 500);
    EXPECT_EQ(rows[0]["TillPosted"].GetInt(), 1);
    EXPECT_EQ(rows[2]["BasketID"].GetInt(), 3);
    EXPECT_TRUE(rows[2]["PaymentAmount"].IsNumber());
    EXPECT_DOUBLE_EQ(rows[2]["PaymentAmount"].GetDouble(), 0.0);
    EXPECT_DOUBLE_EQ(rows[2]["DiscountAmount"].GetDouble(), 8.0);
    EXPECT_TRUE(rows[2]["InvoiceShift"].IsNull());
    EXPECT_STREQ(rows[2]["BrandDesc"].GetString(), "-");
    EXPECT_EQ(rows[3]["BasketID"].GetInt(), 4);
    EXPECT_TRUE(rows[3]["InvoiceNum"].IsNull());
    EXPECT_TRUE(rows[3]["InvoiceDate"].IsNull());

    // The transactions of the period's baskets (2, 3 and 4), basket by basket.
    auto transactions = Parse(report.Transactions.ToJSON());
    ASSERT_EQ(transactions.Size(), 3u);
    EXPECT_EQ(transactions[0]["tvTrxID"].GetInt(), 9001);
    EXPECT_EQ(transactions[1]["ID"].GetInt(), 3);
    EXPECT_EQ(transactions[2]["BasketID"].GetInt(), 3);
    ASSERT_TRUE(transactions[2]["tvTrxID"].IsInt()); // no provider number: 0, as SQL Server converts ''
    EXPECT_EQ(transactions[2]["tvTrxID"].GetInt(), 0);

    // the receipt's queries and the discount code lookup
    auto receiptBasket =
        RowsFmt("SELECT * FROM [ZumvoPaymentBasket] WHERE [InvoiceNum] = %d", {std::int64_t{500}});
    ASSERT_EQ(receiptBasket.Size(), 1u);
    auto receiptLines = RowsFmt("SELECT * FROM [ZumvoPaymentTransactions] WHERE [BasketID] = %d",
                                {std::int64_t{receiptBasket[0]["ID"].GetInt()}});
    ASSERT_EQ(receiptLines.Size(), 2u);
    EXPECT_EQ(receiptLines[0]["tvTrxID"].GetInt(), 9001);
    EXPECT_EQ(receiptLines[1]["Status"].GetInt(), -1);
    EXPECT_EQ(ValueFmt("SELECT [Code] FROM [Discount] WHERE [DiscRef] = %s ", {QuotedStr("ZUMVO")}, "Code"),
              "ZUMVO-DISC");
}

TEST_F(DBScriptTest, HostTablesAreCreatedOnceWithTheDemoTills) {
    CreateHostTables(*Database, true);
    Db->Execute("INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID] ) VALUES ( 1, 1 )");
    CreateHostTables(*Database, true);
    auto tills = Rows("SELECT [TILLSID], [Computer Name], [TILLID] FROM [TILLS] ORDER BY [TILLID]");
    ASSERT_EQ(tills.Size(), 3u);
    for (rapidjson::SizeType i = 0; i < 3; ++i) {
        EXPECT_EQ(tills[i]["TILLID"].GetInt(), static_cast<int>(i) + 1);
        EXPECT_EQ(tills[i]["Computer Name"].GetString(), "TILL-" + std::to_string(i + 1));
    }
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [INVOICES]", "N"), "1");
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [Discount]", "N"), "1");
    // the access-code tables take the registry's rows; a code is assigned to a group once
    Db->Execute(
        "INSERT INTO [ActCodes] ( [Code], [Description], [Level], [Enabled] ) VALUES ( 'AM011', 'x', 1, 1 )");
    Db->Execute("INSERT INTO [ActCodeGroups] ( [Code], [GroupName] ) VALUES ( 'AM011', 'FRCH' )");
    EXPECT_THROW(
        Db->Execute("INSERT INTO [ActCodeGroups] ( [Code], [GroupName] ) VALUES ( 'AM011', 'FRCH' )"),
        std::runtime_error);
}

TEST_F(DBScriptTest, TraceFileHoldsEveryBatchAfterSubstitution) {
    const fs::path trace = Folder / "sql.trace";
    Open((Folder / "traced.db").string(), trace);
    Db->Execute("CREATE TABLE [T] ( [A] INT )");
    ASSERT_TRUE(Db->ExecuteFmt("INSERT INTO [T] ( [A] ) VALUES ( %d )", {std::int64_t{5}}));
    EXPECT_FALSE(Db->ExecuteFmt("INSERT INTO [Nowhere] ( [A] ) VALUES ( %d )", {std::int64_t{6}}));
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    // entries: "-- yyyy-mm-dd hh:mm:ss", the batch, an empty line
    std::vector<std::string> batches;
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(text, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size() % 3, 0u);
    for (std::size_t i = 0; i + 2 < lines.size(); i += 3) {
        EXPECT_TRUE(Matches(lines[i], "-- dddd-dd-dd dd:dd:dd")) << lines[i];
        batches.push_back(lines[i + 1]);
        EXPECT_EQ(lines[i + 2], "");
    }
    EXPECT_EQ(batches, (std::vector<std::string>{"CREATE TABLE [T] ( [A] INT )",
                                                 "INSERT INTO [T] ( [A] ) VALUES ( 5 )",
                                                 "INSERT INTO [Nowhere] ( [A] ) VALUES ( 6 )"}));
}

// The ODBC path against the SQLite ODBC driver, registered in a private odbcinst.ini.
class OdbcTest : public DBScriptTest {
protected:
    static constexpr const char* Driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the SQLite ODBC driver of this test is the Linux one (unixODBC)";
#endif
        if (!fs::exists(Driver))
            GTEST_SKIP() << "the SQLite ODBC driver is not installed";
        std::ofstream(Folder / "odbcinst.ini")
            << "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=" << Driver << "\n";
#ifndef _WIN32
        setenv("ODBCSYSINI", Folder.c_str(), 1);
#endif
    }
    std::string Connection(bool translate) const {
        return "DRIVER=SQLite3;Database=" + (Folder / "odbc.db").string() +
               (translate ? ";translate=on" : "");
    }
};

TEST_F(OdbcTest, TranslatedBatchesRunThroughTheDriver) {
    Open(Connection(true));
    EXPECT_THAT(Database->Description(), HasSubstr("(translated)"));
    CreateModuleTables();
    EXPECT_EQ(
        ValueFmt(
            "INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created], [BasketID] ) VALUES ( GETDATE(), "
            "%d ); SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]",
            {std::int64_t{4}}, "ID"),
        "1");
    ASSERT_TRUE(Db->ExecuteFmt(
        "UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Payment] = GETDATE(), [tvTrxID] = %d, "
        "[Response] = %s, [Status] = 1, [Amount] = %f WHERE [ID] = %d",
        {std::int64_t{77}, QuotedStr("it's"), 12.5, std::int64_t{1}}));
    auto rows = Rows("SELECT * FROM [ZumvoPaymentTransactions]");
    ASSERT_EQ(rows.Size(), 1u);
    EXPECT_EQ(rows[0]["tvTrxID"].GetInt(), 77);
    EXPECT_DOUBLE_EQ(rows[0]["Amount"].GetDouble(), 12.5);
    EXPECT_STREQ(rows[0]["Response"].GetString(), "it's");
    EXPECT_TRUE(Matches(rows[0]["Timestamp_Payment"].GetString(), "dddd-dd-ddTdd:dd:dd"));
    EXPECT_TRUE(rows[0]["Timestamp_Finalised"].IsNull());
    EXPECT_FALSE(Db->ExecuteFmt("INSERT INTO [zumvoPaymentLog] ( [Timestamp], [Class], [Message] ) VALUES ( "
                                "GETDATE(), %s, %s )",
                                {QuotedStr("TOO-LONG-CLASS"), QuotedStr("x")}));
    EXPECT_THAT(Concrete().LastError(), HasSubstr("truncated"));
    // the schema scripts found their columns through the driver too
    RunScripts(UpgradeScripts);
    EXPECT_EQ(Value("SELECT COUNT(*) AS N FROM [ZumvoPaymentTransactions]", "N"), "1");
}

TEST_F(OdbcTest, UntranslatedBatchesArePassedThroughUntouched) {
    Open(Connection(false));
    EXPECT_THAT(Database->Description(), ::testing::Not(HasSubstr("translated")));
    Db->Execute("CREATE TABLE plain (a INTEGER, b TEXT)");
    Db->Execute("INSERT INTO plain VALUES (1, 'x')");
    EXPECT_EQ(Value("SELECT b FROM plain WHERE a = 1", "b"), "x");
    // T-SQL reaches the driver as written: SQLite has no GETDATE()
    EXPECT_THROW(Db->Execute("INSERT INTO plain VALUES (2, GETDATE())"), std::runtime_error);
    EXPECT_EQ(Value("SELECT COUNT(*) AS n FROM plain", "n"), "1");
}
