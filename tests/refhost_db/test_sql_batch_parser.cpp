// The batch parser: how batches split into steps, and that a statement the translator does not
// know stops the whole batch before anything runs, naming the statement.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SqlBatchParser, SplitsStatementsAtSemicolonsLineBreaksAndGo) {
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

    // statement words that belong to the statement before them
    for (const std::string statement : {"WITH x AS (SELECT 1 AS a) SELECT a FROM x",
                                        "WITH x AS (SELECT 1 AS a) INSERT INTO t (a) SELECT a FROM x",
                                        "DROP TABLE IF EXISTS t", "ALTER TABLE t DROP COLUMN a"}) {
        const auto split = TSqlTranslator::Parse(statement + "\nSELECT 2");
        ASSERT_EQ(split.size(), 2u) << statement;
        EXPECT_EQ(split[0].Source, statement);
    }
    EXPECT_THAT(
        Error("CREATE TABLE t (a INT REFERENCES u (a) ON DELETE CASCADE ON UPDATE NO ACTION)\nSELECT 1"),
        HasSubstr("in statement: CREATE TABLE t (a INT REFERENCES u (a) ON DELETE CASCADE ON UPDATE NO "
                  "ACTION)"));
}

TEST(SqlBatchParser, IfElseBlocksAndExec) {
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

TEST(SqlBatchParser, UnknownStatementsFailNamingTheStatement) {
    ExpectRefused({
        {"DECLARE @x INT", "statement DECLARE is not supported"},
        {"CREATE VIEW v AS SELECT a FROM t", "statement CREATE is not supported"},
        {"EXEC sp_who", "EXEC of a stored procedure is not supported"},
        {"BEGIN TRAN", "BEGIN TRAN is not supported"},
    });

    // the whole batch is checked before anything runs: a bad statement anywhere stops it,
    // also inside an IF branch or an EXEC text
    EXPECT_THROW(TSqlTranslator::Parse("INSERT INTO t (a) VALUES (1); SELECT DATEDIFF(day, a, b) FROM t"),
                 ESqlTranslateError);
    EXPECT_THROW(TSqlTranslator::Parse("IF 1 = 1 SELECT 1 ELSE SELECT NEWID()"), ESqlTranslateError);
    EXPECT_THAT(Error("IF 1 = 1 EXEC('SELECT NEWID()')"), HasSubstr("in statement: SELECT NEWID()"));
}

// The forms of IF, BEGIN and EXEC: texts joined for EXEC, and each form's missing parts named.
TEST(SqlBatchParser, ControlFormsAndTheirMissingParts) {
    const auto joined = TSqlTranslator::Parse("EXEC ('UPDATE t ' + 'SET b = 1' + ';SELECT 2')");
    ASSERT_EQ(joined.size(), 1u);
    ASSERT_EQ(joined[0].Then.size(), 2u);
    EXPECT_EQ(joined[0].Then[0].Source, "UPDATE t SET b = 1");
    const auto dynamic = TSqlTranslator::Parse("EXECUTE sp_executesql N'DELETE FROM t'");
    ASSERT_EQ(dynamic.size(), 1u);
    ASSERT_EQ(dynamic[0].Then.size(), 1u);
    EXPECT_EQ(dynamic[0].Then[0].Statement, TSqlStatementKind::Delete);

    ExpectRefused({
        {"IF SELECT 1", "IF without a condition"},
        {"IF 1 = 1", "IF without a statement"},
        {"IF (1 = 1); SELECT 1", "IF without a statement"},
        {"IF 1 = 1 SELECT 1 ELSE", "ELSE without a statement"},
        {"SELECT 1 END", "END without IF or BEGIN"},
        {"EXEC ('SELECT 1' 'SELECT 2')", "EXEC needs literal texts"},
        {"EXEC ('SELECT 1' +)", "bad EXEC text"},
        {"EXEC sp_executesql N'SELECT @a', N'@a INT', 1", "sp_executesql with parameters is not supported"},
    });
    EXPECT_THAT(Error("BEGIN SELECT 1"), HasSubstr("BEGIN without END"));
}
