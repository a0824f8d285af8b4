// Expressions and SELECT: how the T-SQL forms come out, and that they behave on SQLite as on
// SQL Server.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SqlExpressions, ExpressionForms) {
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
}

TEST(SqlExpressions, FormsBehaveAsOnSqlServer) {
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

TEST(SqlExpressions, UnknownFormsFailNamingTheStatement) {
    ExpectRefused({
        {"SELECT @x", "variables are not supported"},
        {"UPDATE t SET a = u.a FROM t JOIN u ON u.id = t.id", "UPDATE ... FROM is not supported"},
        {"SELECT a INTO t2 FROM t", "SELECT ... INTO is not supported"},
        {"SELECT TOP 1 a FROM t UNION SELECT b FROM u", "TOP in a compound SELECT is not supported"},
        {"SELECT a FROM t WITH (INDEX(ix))", "table hint INDEX is not supported"},
        {"SELECT a FROM t WHERE a LIKE '[A-C]%'", "LIKE patterns with [ ] sets are not supported"},
    });
}

// The names, variables and keywords the translator rewrites, drops or refuses one by one.
TEST(SqlExpressions, NamesVariablesAndKeywords) {
    const std::map<std::string, std::string> forms{
        {"SELECT @@IDENTITY", "SELECT NULLIF(last_insert_rowid(), 0)"},
        {"SELECT @@ROWCOUNT", "SELECT changes()"},
        {"SELECT CURRENT_TIMESTAMP", "SELECT datetime('now','localtime')"},
        {"SELECT [ID] FROM dbo.[t] WITH (NOLOCK, ROWLOCK) WHERE [ID] !< 1 AND [ID] !> 2",
         "SELECT \"ID\" FROM \"t\" WHERE \"ID\" >= 1 AND \"ID\" <= 2"},
    };
    for (const auto& [tsql, sqlite] : forms)
        EXPECT_EQ(One(tsql), sqlite) << tsql;
    ExpectRefused({
        {"SELECT @@VERSION", "@@VERSION is not supported"},
        {"SELECT a FROM #t", "temporary tables are not supported"},
        {"SELECT * FROM INFORMATION_SCHEMA.VIEWS", "INFORMATION_SCHEMA.VIEWS is not supported"},
        {"SELECT a FROM t WHERE TOP = 1", "TOP is only supported right after SELECT"},
        {"SELECT a FROM t ORDER BY a OFFSET 1 ROWS", "OFFSET is not supported"},
        {"SELECT x.f(1) FROM t x", "function f is not supported"},
        {"SELECT 1)", "unbalanced parentheses"},
    });
}
