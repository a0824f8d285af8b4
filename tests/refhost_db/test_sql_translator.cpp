// The T-SQL to SQLite translation on its own: how batches split into steps, how the T-SQL forms
// come out, and that forms it does not know are refused with the statement named.
#include "TSqlTranslator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <strings.h>

using namespace refhost;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A catalogue held in memory.
class TFakeCatalog : public ISqlCatalog {
public:
    std::map<std::string, TSqlTableInfo> Tables;
    std::optional<TSqlTableInfo> FindTable(const std::string& name) const override {
        for (const auto& [key, info] : Tables)
            if (strcasecmp(key.c_str(), name.c_str()) == 0)
                return info;
        return std::nullopt;
    }
    void Add(const std::string& table, std::vector<TSqlColumnInfo> columns, bool autoIncrement = false) {
        Tables[table] = TSqlTableInfo{table, std::move(columns), autoIncrement};
    }
};

std::string One(const std::string& tsql, const ISqlCatalog& catalog = TFakeCatalog()) {
    const auto out = TSqlTranslator::TranslateBatch(tsql, catalog);
    EXPECT_EQ(out.size(), 1u) << tsql;
    return out.empty() ? std::string() : out.front();
}

// Runs translated statements on an in-memory SQLite database and answers the first column of
// the last statement's first row.
std::string RunOnSqlite(const std::vector<std::string>& statements) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
    std::string answer;
    for (const auto& sql : statements) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(raw) << " in " << sql;
            return {};
        }
        answer.clear();
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
            answer = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    return answer;
}

std::string Error(const std::string& tsql) {
    try {
        TSqlTranslator::TranslateBatch(tsql, TFakeCatalog());
    } catch (const ESqlTranslateError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(SqlTokenizer, NamesStringsAndComments) {
    const auto t =
        TokenizeTSql("SELECT [Computer Name], [a]]b], N'it''s' -- note\n/* outer /* inner */ still */ x");
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[1].Kind, TSqlToken::TKind::Ident);
    EXPECT_EQ(t[1].Text, "Computer Name");
    EXPECT_EQ(t[3].Text, "a]b");
    EXPECT_EQ(t[5].Kind, TSqlToken::TKind::String);
    EXPECT_EQ(t[5].Text, "it's");
    EXPECT_EQ(t[6].Text, "x");
    EXPECT_TRUE(t[6].LineStart); // first on its line after the comments

    EXPECT_THROW(TokenizeTSql("SELECT 'open"), ESqlTranslateError);
    EXPECT_THROW(TokenizeTSql("SELECT [open"), ESqlTranslateError);
    EXPECT_THROW(TokenizeTSql("SELECT 1 /* open"), ESqlTranslateError);
}

TEST(SqlParse, SplitsStatementsAtSemicolonsLineBreaksAndGo) {
    const auto steps = TSqlTranslator::Parse("INSERT INTO t (a) VALUES (1)\n"
                                             "UPDATE t SET a = 2 WHERE a = 1;\n"
                                             "GO\n"
                                             "DELETE FROM t\n"
                                             "SELECT a FROM t UNION ALL SELECT a FROM t");
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].Statement, TSqlStatementKind::Insert);
    EXPECT_EQ(steps[1].Source, "UPDATE t SET a = 2 WHERE a = 1");
    EXPECT_EQ(steps[2].Statement, TSqlStatementKind::Delete);
    EXPECT_EQ(steps[3].Source, "SELECT a FROM t UNION ALL SELECT a FROM t");
    // T-SQL's short forms without INTO and FROM
    EXPECT_EQ(One("INSERT t (a) VALUES (1)"), "INSERT INTO t (a) VALUES (1)");
    EXPECT_EQ(One("DELETE t WHERE a = 1"), "DELETE FROM t WHERE a = 1");

    // INSERT ... SELECT and CASE ... END stay within their statement
    const auto more =
        TSqlTranslator::Parse("INSERT INTO t (a) SELECT CASE WHEN b = 1 THEN 2 ELSE 3 END FROM u\n"
                              "SELECT 1");
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[0].Statement, TSqlStatementKind::Insert);
}

TEST(SqlParse, IfElseBlocksAndExec) {
    // the brand upsert, as the till brand service writes it
    const auto upsert = TSqlTranslator::Parse(
        "IF NOT EXISTS ( SELECT 1 FROM Brands WHERE BrandID = 7 )\n"
        "INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 7 , 'B7' , 'Brand' )\n"
        "ELSE UPDATE [Brands] SET Code = 'B7', Description = 'Brand' WHERE BrandID = 7");
    ASSERT_EQ(upsert.size(), 1u);
    EXPECT_EQ(upsert[0].Kind, TSqlStepKind::If);
    ASSERT_EQ(upsert[0].Then.size(), 1u);
    EXPECT_EQ(upsert[0].Then[0].Statement, TSqlStatementKind::Insert);
    ASSERT_EQ(upsert[0].Else.size(), 1u);
    EXPECT_EQ(upsert[0].Else[0].Statement, TSqlStatementKind::Update);
    EXPECT_EQ(TSqlTranslator::TranslateCondition(upsert[0], TFakeCatalog()),
              "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM Brands WHERE BrandID = 7) THEN 1 ELSE 0 END");

    const auto block = TSqlTranslator::Parse("IF OBJECT_ID('t', 'U') IS NOT NULL\n"
                                             "BEGIN\n"
                                             "  UPDATE t SET a = 1\n"
                                             "  EXEC('UPDATE t SET b = ''x''')\n"
                                             "END\n"
                                             "SELECT 1");
    ASSERT_EQ(block.size(), 2u);
    ASSERT_EQ(block[0].Then.size(), 1u);
    const TSqlStep& begin = block[0].Then[0];
    EXPECT_EQ(begin.Kind, TSqlStepKind::Block);
    ASSERT_EQ(begin.Then.size(), 2u);
    ASSERT_EQ(begin.Then[1].Kind, TSqlStepKind::Block); // the EXEC'd text, parsed
    ASSERT_EQ(begin.Then[1].Then.size(), 1u);
    EXPECT_EQ(begin.Then[1].Then[0].Source, "UPDATE t SET b = 'x'");
    EXPECT_EQ(
        TSqlTranslator::TranslateCondition(block[0], TFakeCatalog()),
        "SELECT CASE WHEN (SELECT rootpage FROM sqlite_master WHERE type IN ('table') AND name = 't' COLLATE "
        "NOCASE) IS NOT NULL THEN 1 ELSE 0 END");
}

TEST(SqlTranslate, ExpressionForms) {
    EXPECT_EQ(One("INSERT INTO [ZumvoPaymentTransactions] ( [Timestamp_Created] ) VALUES ( GETDATE() )"),
              "INSERT INTO \"ZumvoPaymentTransactions\" (\"Timestamp_Created\") VALUES "
              "(datetime('now','localtime'))");
    EXPECT_EQ(One("SELECT CAST( SCOPE_IDENTITY() AS INT ) AS [ID]"),
              "SELECT CAST(NULLIF(last_insert_rowid(), 0) AS INTEGER) AS \"ID\"");
    EXPECT_EQ(One("SELECT ISNULL( B.Description, '-' ) AS BrandDesc FROM dbo.Brands B"),
              "SELECT IFNULL(B.Description, '-') AS BrandDesc FROM Brands B");
    EXPECT_EQ(One("SELECT DATEADD( DAY, 1, '2024-05-01' )"), "SELECT datetime('2024-05-01', '+1 days')");
    EXPECT_EQ(One("SELECT TOP 1 [ID] FROM t ORDER BY [ID] DESC"),
              "SELECT \"ID\" FROM t ORDER BY \"ID\" DESC LIMIT 1");
    EXPECT_EQ(One("SELECT Total = a + b FROM t"), "SELECT a + b AS \"Total\" FROM t");
    EXPECT_EQ(One("CREATE NONCLUSTERED INDEX [IX_a] ON [dbo].[t] ( [a], b DESC )"),
              "CREATE INDEX \"IX_a\" ON \"t\" (\"a\", \"b\" DESC)");
    EXPECT_EQ(One("CREATE UNIQUE INDEX ix ON t (a)"), "CREATE UNIQUE INDEX \"ix\" ON \"t\" (\"a\")");
    EXPECT_THAT(One("SELECT 1 FROM sys.indexes WHERE name = 'ix' AND object_id = OBJECT_ID('t')"),
                ::testing::HasSubstr("FROM (SELECT i.name COLLATE NOCASE AS name, t.rootpage AS object_id"));
}

TEST(SqlTranslate, FormsBehaveAsOnSqlServer) {
    // date arithmetic gives text that compares correctly with stored date and time values
    EXPECT_EQ(RunOnSqlite({One("SELECT DATEADD( DAY, 1, '2024-02-28' )")}), "2024-02-29 00:00:00");
    EXPECT_EQ(RunOnSqlite({One("SELECT DATEADD( MONTH, -1, '2024-03-31 10:00:00' )")}),
              "2024-02-29 10:00:00");
    EXPECT_EQ(RunOnSqlite({One("SELECT DATEADD( YEAR, 1, '2024-02-29 08:30:00' )")}), "2025-02-28 08:30:00");
    EXPECT_EQ(RunOnSqlite({One("SELECT DATEADD( MONTH, 1, '2024-01-15' )")}), "2024-02-15 00:00:00");
    EXPECT_EQ(RunOnSqlite({One("SELECT DATEADD( WEEK, 1 + 1, '2024-01-01' )")}), "2024-01-15 00:00:00");
    EXPECT_EQ(
        RunOnSqlite({One("SELECT CASE WHEN '2024-05-02 00:00:00' BETWEEN '2024-05-01' AND DATEADD( DAY, 1, "
                         "'2024-05-01' ) THEN 'in' ELSE 'out' END")}),
        "in");
    // text joined with +, lengths without trailing blanks, conversions that truncate
    EXPECT_EQ(RunOnSqlite({One("SELECT 'Till ' + '12'")}), "Till 12");
    EXPECT_EQ(RunOnSqlite({One("SELECT '12' + 1")}), "13"); // a text meeting a number becomes a number
    EXPECT_EQ(RunOnSqlite({One("SELECT LEN('ab  ')")}), "2");
    EXPECT_EQ(RunOnSqlite({One("SELECT CAST(12.9 AS INT)")}), "12");
    EXPECT_EQ(RunOnSqlite({One("SELECT CAST('abcdef' AS VARCHAR(3))")}), "abc");
    // TOP inside a subquery limits the subquery only
    EXPECT_EQ(RunOnSqlite({"CREATE TABLE t (a INT)", "INSERT INTO t VALUES (1), (2), (3)",
                           One("SELECT COUNT(*) FROM (SELECT TOP 2 a FROM t ORDER BY a) x")}),
              "2");
}

TEST(SqlTranslate, IsNullAnswersTheTypeOfItsFirstArgument) {
    // a null integer replaced by '' comes back as 0, as SQL Server converts it
    TFakeCatalog catalog;
    catalog.Add("ZumvoPaymentTransactions", {{"ID", "INTEGER", true, {}, 1},
                                             {"tvTrxID", "INT", false, {}, 0},
                                             {"Response", "VARCHAR(-1)", false, {}, 0}});
    const std::string sql = One("SELECT ISNULL( tvTrxID, '' ) tvTrxID, ISNULL( Response, '' ) R FROM "
                                "ZumvoPaymentTransactions",
                                catalog);
    EXPECT_THAT(sql, HasSubstr("IFNULL(tvTrxID, CAST('' AS INTEGER)) tvTrxID"));
    EXPECT_THAT(sql, HasSubstr("IFNULL(Response, '') R"));
    // text columns join with +, numbers add
    EXPECT_THAT(One("SELECT t.Response + ' (' + Response + ')', ID + tvTrxID FROM ZumvoPaymentTransactions t",
                    catalog),
                HasSubstr("SELECT t.Response || ' (' || Response || ')', ID + tvTrxID FROM"));
    EXPECT_THROW(TSqlTranslator::TranslateBatch(
                     "SELECT ISNULL( tvTrxID, 'abc' ) FROM ZumvoPaymentTransactions", catalog),
                 ESqlTranslateError);
}

TEST(SqlTranslate, CreateTableKeepsSqlServerRules) {
    const auto out = TSqlTranslator::TranslateBatch(
        "CREATE TABLE [zumvoPaymentLog] ( [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY, [Timestamp] DATETIME "
        "NOT NULL, "
        "[Class] VARCHAR(10) NOT NULL, [Message] VARCHAR(1000) NOT NULL, [Body] VARCHAR(MAX) NULL )",
        TFakeCatalog());
    ASSERT_GE(out.size(), 1u);
    EXPECT_THAT(out[0], HasSubstr("\"ID\" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT"));
    EXPECT_THAT(out[0], HasSubstr("CHECK (length(\"Class\") <= 10)"));
    EXPECT_THAT(out[0], HasSubstr("CHECK (length(\"Message\") <= 1000)"));
    EXPECT_THAT(out[0], HasSubstr("\"Body\" VARCHAR(-1) COLLATE NOCASE"));
    EXPECT_THAT(out[0], Not(HasSubstr("length(\"Body\")")));

    // composite keys, defaults in SQL Server's parentheses, signed defaults
    const std::string groups = One(
        "CREATE TABLE g ( [Code] VARCHAR(10) NOT NULL, [N] INT NOT NULL DEFAULT ((0)), [M] INT DEFAULT -1, "
        "CONSTRAINT PK_g PRIMARY KEY CLUSTERED ( [Code], [N] ) )");
    EXPECT_THAT(groups, HasSubstr("\"N\" INT NOT NULL DEFAULT 0"));
    EXPECT_THAT(groups, HasSubstr("\"M\" INT DEFAULT -1"));
    EXPECT_THAT(groups, HasSubstr("PRIMARY KEY (\"Code\", \"N\")"));
}

TEST(SqlTranslate, AlterColumnRebuildsTheTableKeepingRows) {
    TFakeCatalog catalog;
    catalog.Add("T",
                {{"ID", "INTEGER", true, {}, 1},
                 {"Response", "VARCHAR(500)", false, {}, 0},
                 {"Status", "INT", true, "0", 0}},
                true);
    const auto out =
        TSqlTranslator::TranslateBatch("ALTER TABLE [T] ALTER COLUMN [Response] VARCHAR(MAX) NULL", catalog);
    ASSERT_GE(out.size(), 4u);
    EXPECT_THAT(out[0], HasSubstr("\"Response\" VARCHAR(-1)"));
    EXPECT_THAT(out[0], HasSubstr("\"Status\" INT NOT NULL DEFAULT 0"));
    EXPECT_THAT(out[0], HasSubstr("AUTOINCREMENT"));
    EXPECT_THAT(out[1], HasSubstr("SELECT \"ID\", \"Response\", \"Status\" FROM \"T\""));

    // a column SQLite can add in place is added in place
    const auto add =
        TSqlTranslator::TranslateBatch("ALTER TABLE [T] ADD [TillID] INT NOT NULL DEFAULT -1", catalog);
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0], "ALTER TABLE \"T\" ADD COLUMN \"TillID\" INT NOT NULL DEFAULT -1");
    // one with a computed default needs the rebuild
    EXPECT_GT(TSqlTranslator::TranslateBatch("ALTER TABLE [T] ADD [At] DATETIME NOT NULL DEFAULT GETDATE()",
                                             catalog)
                  .size(),
              1u);
}

TEST(SqlTranslate, UnknownFormsFailNamingTheStatement) {
    const std::map<std::string, std::string> cases{
        {"SELECT DATEDIFF(day, a, b) FROM t", "function DATEDIFF is not supported"},
        {"DECLARE @x INT", "statement DECLARE is not supported"},
        {"SELECT @x", "variables are not supported"},
        {"UPDATE t SET a = u.a FROM t JOIN u ON u.id = t.id", "UPDATE ... FROM is not supported"},
        {"SELECT a INTO t2 FROM t", "SELECT ... INTO is not supported"},
        {"CREATE VIEW v AS SELECT a FROM t", "statement CREATE is not supported"},
        {"CREATE INDEX ix ON t (a) INCLUDE (b)",
         "CREATE INDEX options after the column list are not supported"},
        {"CREATE INDEX ix ON t (a + 1)", "CREATE INDEX columns must be plain names"},
        {"SELECT name FROM sys.objects", "sys.objects is not supported"},
        {"CREATE TABLE t ( a INT, UNIQUE (a) )", "table constraint UNIQUE is not supported"},
        {"CREATE TABLE t ( a UNIQUEIDENTIFIER )", "data type UNIQUEIDENTIFIER is not supported"},
        {"SELECT TOP 1 a FROM t UNION SELECT b FROM u", "TOP in a compound SELECT is not supported"},
        {"EXEC sp_who", "EXEC of a stored procedure is not supported"},
        {"BEGIN TRAN", "BEGIN TRAN is not supported"},
        {"SELECT DATEADD(MILLISECOND, 1, a) FROM t", "date part MILLISECOND is not supported"},
        {"SELECT a FROM t WITH (INDEX(ix))", "table hint INDEX is not supported"},
        {"SELECT a FROM t WHERE a LIKE '[A-C]%'", "LIKE patterns with [ ] sets are not supported"},
    };
    for (const auto& [sql, reason] : cases) {
        const std::string message = Error(sql);
        EXPECT_THAT(message, HasSubstr(reason)) << sql;
        EXPECT_THAT(message, HasSubstr("in statement:")) << sql;
    }
    EXPECT_THAT(Error("SELECT DATEDIFF(day, a, b) FROM t"), HasSubstr("SELECT DATEDIFF(day, a, b) FROM t"));

    // the whole batch is checked before anything runs: a bad statement anywhere stops it,
    // also inside an IF branch or an EXEC text
    EXPECT_THROW(TSqlTranslator::Parse("INSERT INTO t (a) VALUES (1); SELECT DATEDIFF(day, a, b) FROM t"),
                 ESqlTranslateError);
    EXPECT_THROW(TSqlTranslator::Parse("IF 1 = 1 SELECT 1 ELSE SELECT NEWID()"), ESqlTranslateError);
    EXPECT_THAT(Error("IF 1 = 1 EXEC('SELECT NEWID()')"), HasSubstr("in statement: SELECT NEWID()"));
}

TEST(SqlTypes, DescribeDeclaredTypesAsSqlServer) {
    EXPECT_EQ(DescribeDeclType("VARCHAR(500)").DataType, "varchar");
    EXPECT_EQ(DescribeDeclType("VARCHAR(500)").CharacterMaximumLength, 500);
    EXPECT_EQ(DescribeDeclType("VARCHAR(-1)").CharacterMaximumLength, -1);
    EXPECT_EQ(DescribeDeclType("INTEGER").DataType, "int");
    EXPECT_FALSE(DescribeDeclType("FLOAT").CharacterMaximumLength.has_value());
}
