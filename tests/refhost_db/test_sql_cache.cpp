// The caches of the SQLite connection: parsed batches and translated statements reused, and
// forgotten whenever the tables they were worked out from change (by this connection, inside a
// batch, by another program, or in a batch that was rolled back); prepared statements shared by
// statements that differ only in their values, and never where a parameter would change them.
#include "SqliteFile.h"
#include "TDatabase.h"
#include "TLruCache.h"
#include "TSqliteDatabase.h"
#include "TSqliteParameters.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

using namespace refhost;
namespace fs = std::filesystem;

namespace {

class SqlCacheTest : public ::testing::Test {
protected:
    fs::path Folder;
    std::unique_ptr<TSqliteDatabase> Db;

    void SetUp() override {
        Folder = fs::temp_directory_path() /
                 ("refhost_sqlcache_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(Folder);
        fs::create_directories(Folder);
    }
    void TearDown() override {
        Db.reset();
        fs::remove_all(Folder);
    }
    void Open(TSqlCacheSettings settings = {}) {
        Db = std::make_unique<TSqliteDatabase>((Folder / "host.db").string(), std::move(settings));
    }
    std::string Value(const std::string& batch) {
        const auto r = Db->RunBatch(batch);
        return r.ResultSets.at(0).Rows.at(0).at(0).AsText();
    }
    // Runs SQLite's own SQL from a connection of its own, as another program would.
    void OtherProgram(const std::string& sql) { zumvo::test::RunSqlite((Folder / "host.db").string(), sql); }
};

// '+' joins texts in T-SQL and adds numbers: how it is translated depends on the column's type,
// so a translation kept from before a change of the table gives a wrong answer.
const char* const PlusQuery = "SELECT [A] + '5' AS X FROM [T]";

} // namespace

TEST(LruCache, ForgetsTheLeastRecentlyUsedEntryWhenFull) {
    TLruCache<int> cache(3);
    cache.Put("a", 1);
    cache.Put("b", 2);
    cache.Put("c", 3);
    ASSERT_NE(cache.Find("a"), nullptr); // "a" used: "b" is now the oldest
    cache.Put("d", 4);
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(cache.Find("b"), nullptr);
    EXPECT_EQ(*cache.Find("a"), 1);
    EXPECT_EQ(*cache.Find("c"), 3);
    EXPECT_EQ(*cache.Find("d"), 4);
    cache.Put("c", 30); // replaced, not added
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(*cache.Find("c"), 30);
    cache.Put("e", 5); // "a" is the oldest now
    EXPECT_EQ(cache.Find("a"), nullptr);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(cache.Find("e"), nullptr);
    EXPECT_THROW(TLruCache<int>(0), std::invalid_argument);
}

TEST_F(SqlCacheTest, ARepeatedStatementIsTranslatedOnceAndAnswersAlike) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [ID] INT IDENTITY(1,1) PRIMARY KEY, [A] INT, [F] FLOAT NULL )");
    Db->RunBatch("INSERT INTO [T] ( [A] ) VALUES ( 2 )");
    const TSqlCacheCounts before = Db->CacheCounts();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Value(PlusQuery), "7");
        EXPECT_EQ(Value("SELECT ISNULL([F], 1) AS V FROM [T] WHERE [A] = 2"), "1");
    }
    const TSqlCacheCounts after = Db->CacheCounts();
    EXPECT_EQ(after.StatementsTranslated - before.StatementsTranslated, 2);
    EXPECT_EQ(after.StatementsReused - before.StatementsReused, 8);
    EXPECT_EQ(after.BatchesParsed - before.BatchesParsed, 2);
    EXPECT_LE(after.TableLookups - before.TableLookups, 1)
        << "T read once from the catalogue at most, then kept";
}

TEST_F(SqlCacheTest, AChangeOfTheTableByThisConnectionIsSeenAtOnce) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    EXPECT_EQ(Value(PlusQuery), "7");
    // in one batch: the table rebuilt with a text column, then the same query
    const auto r = Db->RunBatch("DROP TABLE [T]\nCREATE TABLE [T] ( [A] VARCHAR(10) )\n"
                                "INSERT INTO [T] ( [A] ) VALUES ( '2' )\n" +
                                std::string(PlusQuery));
    EXPECT_EQ(r.ResultSets.at(0).Rows.at(0).at(0).AsText(), "25");
    EXPECT_EQ(Value(PlusQuery), "25");
}

TEST_F(SqlCacheTest, AChangeOfTheTableByAnotherProgramIsSeenAtTheNextBatch) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    EXPECT_EQ(Value(PlusQuery), "7");
    OtherProgram("DROP TABLE T; CREATE TABLE T (A VARCHAR(10)); INSERT INTO T VALUES ('2');");
    EXPECT_EQ(Value(PlusQuery), "25");
    OtherProgram("DROP TABLE T; CREATE TABLE T (A INT); INSERT INTO T VALUES (3);");
    EXPECT_EQ(Value(PlusQuery), "8");
}

TEST_F(SqlCacheTest, WhatABatchThatWasRolledBackLearntIsForgotten) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    // the table rebuilt with a text column and the query translated for it, then the batch fails
    EXPECT_THROW(Db->RunBatch("DROP TABLE [T]\nCREATE TABLE [T] ( [A] VARCHAR(10) )\n"
                              "INSERT INTO [T] ( [A] ) VALUES ( '2' )\n" +
                              std::string(PlusQuery) + "\nINSERT INTO [Nowhere] ( [A] ) VALUES ( 1 )"),
                 EDatabaseError);
    EXPECT_EQ(Value(PlusQuery), "7") << "the rollback restored the whole-number column";
}

TEST_F(SqlCacheTest, WithTheCacheOffEveryStatementIsTranslatedAfresh) {
    TSqlCacheSettings off;
    off.Enabled = false;
    Open(off);
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    const TSqlCacheCounts before = Db->CacheCounts();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Value(PlusQuery), "7");
    const TSqlCacheCounts after = Db->CacheCounts();
    EXPECT_EQ(after.StatementsTranslated - before.StatementsTranslated, 3);
    EXPECT_EQ(after.StatementsReused, 0);
    EXPECT_EQ(after.BatchesParsed - before.BatchesParsed, 3);
}

TEST_F(SqlCacheTest, ManyDistinctStatementsStayWithinTheBoundAndStillAnswerRight) {
    TSqlCacheSettings small;
    small.Batches = 4;
    small.Statements = 4;
    Open(small);
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    for (int round = 0; round < 3; ++round)
        for (int k = 0; k < 10; ++k)
            EXPECT_EQ(Value("SELECT [A] + " + std::to_string(k) + " AS X FROM [T]"), std::to_string(2 + k));
    // 10 texts through 4 places, in the same order each round: every one was forgotten in time
    EXPECT_EQ(Db->CacheCounts().StatementsReused, 0);
}

TEST_F(SqlCacheTest, TheCheckModeComparesEveryStatementWithAFreshTranslation) {
    TSqlCacheSettings check;
    check.CheckFile = Folder / "check.txt";
    Open(check);
    Db->RunBatch("CREATE TABLE [T] ( [A] INT )\nINSERT INTO [T] ( [A] ) VALUES ( 2 )");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Value("IF EXISTS ( SELECT * FROM [T] WHERE [A] = 2 ) " + std::string(PlusQuery)), "7");
    std::ifstream in(check.CheckFile);
    std::string line;
    int same = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line, "same");
        ++same;
    }
    EXPECT_EQ(same, 2 + 3 * 2)
        << "the two statements of the first batch, then a condition and a query each time";
}

// ---- prepared statements kept by their text with the literals as parameters ----

TEST(SqliteParameters, LiteralsBecomeParametersWhereTheyMayAndStayWhereTheyMayNot) {
    auto p = ParameterizeSqlite("INSERT INTO \"T\" (\"A\", [B]) VALUES (5, 'it''s', -2.5e1, 'x')");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Text, "INSERT INTO \"T\" (\"A\", [B]) VALUES (?, ?, -?, ?)");
    EXPECT_EQ(p->Values, (std::vector<TSqliteValue>{std::int64_t{5}, std::string("it's"),
                                                    TSqliteReal{"2.5e1"}, std::string("x")}));

    // result column numbers of ORDER BY and GROUP BY stay; LIMIT's count is a value
    p = ParameterizeSqlite("SELECT A, COUNT(*) FROM T1 WHERE B > 1.5 GROUP BY 1 ORDER BY 2 DESC, 1 LIMIT 10");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Text, "SELECT A, COUNT(*) FROM T1 WHERE B > ? GROUP BY 1 ORDER BY 2 DESC, 1 LIMIT ?");
    EXPECT_EQ(p->Values, (std::vector<TSqliteValue>{TSqliteReal{"1.5"}, std::int64_t{10}}));
    // ... and a subquery's ORDER BY ends with its parenthesis
    p = ParameterizeSqlite("SELECT (SELECT A FROM T ORDER BY 1 LIMIT 1) + 2 AS X");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Text, "SELECT (SELECT A FROM T ORDER BY 1 LIMIT ?) + ? AS X");

    // names, comments, blobs, hexadecimal and oversized numbers are left as written
    p = ParameterizeSqlite("SELECT \"it's 5\", `7`, x'00ff', 0x10, 99999999999999999999 -- 'c' 5\nFROM T");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Text, "SELECT \"it's 5\", `7`, x'00ff', 0x10, 99999999999999999999 -- 'c' 5\nFROM T");
    EXPECT_TRUE(p->Values.empty());

    // only the statements that read and write rows; a NUL byte in a text is left to SQLite's refusal
    EXPECT_FALSE(ParameterizeSqlite("CREATE TABLE T ( A VARCHAR(10) DEFAULT 'x' )"));
    EXPECT_FALSE(ParameterizeSqlite("PRAGMA schema_version"));
    EXPECT_FALSE(ParameterizeSqlite("BEGIN IMMEDIATE"));
    EXPECT_FALSE(ParameterizeSqlite(std::string("SELECT 'a\0b'", 13)));
    EXPECT_TRUE(ParameterizeSqlite("  /* x */ with q as (select 1) select * from q"));
}

TEST_F(SqlCacheTest, StatementsThatDifferOnlyInTheirValuesShareOnePreparedStatement) {
    Open();
    Db->RunBatch(
        "CREATE TABLE [T] ( [ID] INT IDENTITY(1,1) PRIMARY KEY, [A] INT, [F] FLOAT, [S] VARCHAR(20) )");
    const TSqlCacheCounts before = Db->CacheCounts();
    for (int i = 1; i <= 5; ++i)
        Db->RunBatch("INSERT INTO [T] ( [A], [F], [S] ) VALUES ( " + std::to_string(i) + ", " +
                     std::to_string(i) + ".05, 'it''s " + std::to_string(i) + "' )");
    const TSqlCacheCounts after = Db->CacheCounts();
    EXPECT_GE(after.PreparedReused - before.PreparedReused, 4 * 3) << "the insert, BEGIN and COMMIT reused";
    const auto r = Db->RunBatch("SELECT [A], [F], [S] FROM [T] WHERE [A] >= 4 ORDER BY [A]");
    const auto& rows = r.ResultSets.at(0).Rows;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].Kind, TDbValue::TKind::Integer);
    EXPECT_EQ(rows[0][0].Int, 4);
    EXPECT_EQ(rows[0][1].Kind, TDbValue::TKind::Float);
    EXPECT_DOUBLE_EQ(rows[1][1].Float, 5.05);
    EXPECT_EQ(rows[1][2].Text, "it's 5");
}

TEST_F(SqlCacheTest, WhatAParameterWouldChangeIsPreparedAsWritten) {
    Open();
    Db->RunBatch(
        "CREATE TABLE [T] ( [A] INT, [B] VARCHAR(10) )\n"
        "INSERT INTO [T] ( [A], [B] ) VALUES ( 1, 'b' )\nINSERT INTO [T] ( [A], [B] ) VALUES ( 2, 'a' )");
    for (int round = 0; round < 2; ++round) {
        // a literal names an unnamed result column
        const auto r = Db->RunSqlite("SELECT 5, 'x' || B FROM T WHERE A = 1");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Columns, (std::vector<std::string>{"5", "'x' || B"}));
        // a number after ORDER BY is a result column
        const auto sorted = Db->RunSqlite("SELECT A, B FROM T ORDER BY 2");
        ASSERT_TRUE(sorted);
        EXPECT_EQ(sorted->Rows.at(0).at(1).AsText(), "a");
        // a type's length cannot be a parameter
        const auto cast = Db->RunSqlite("SELECT CAST(A AS VARCHAR(10)) || 'z' AS C FROM T WHERE A = 2");
        ASSERT_TRUE(cast);
        EXPECT_EQ(cast->Rows.at(0).at(0).AsText(), "2z");
    }
}

TEST_F(SqlCacheTest, AKeptStatementFollowsAChangedTableAndFailsAsTheTextWould) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [A] INT NOT NULL )\nINSERT INTO [T] ( [A] ) VALUES ( 1 )");
    EXPECT_EQ(Db->RunSqlite("SELECT * FROM T WHERE A = 1")->Columns.size(), 1u);
    OtherProgram("ALTER TABLE T ADD COLUMN B INT DEFAULT 7;");
    const auto r = Db->RunSqlite("SELECT * FROM T WHERE A = 1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Columns, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(r->Rows.at(0).at(1).AsText(), "7");
    // the database's own messages, as for the text prepared as written
    for (int round = 0; round < 2; ++round) {
        try {
            Db->RunSqlite("INSERT INTO T ( A ) VALUES ( NULL )");
            ADD_FAILURE() << "a NULL went into a NOT NULL column";
        } catch (const EDatabaseError& e) {
            EXPECT_STREQ(e.what(), "NOT NULL constraint failed: T.A");
        }
        EXPECT_THROW(Db->RunSqlite("SELECT A FROM T WHERE A = 1 ; SELECT 2"), EDatabaseError);
    }
}

TEST_F(SqlCacheTest, AFloatingLiteralIsBoundAsTheVeryValueSqliteReadsFromTheText) {
    Open();
    Db->RunBatch("CREATE TABLE [T] ( [K] INT, [F] FLOAT )");
    const std::vector<std::string> literals = {
        "8.460000",      "0.100000", "19.990000",           "1.150000", "2.675",
        "123456.789012", "1e-7",     "0.30000000000000004", "5.05e2"};
    for (std::size_t k = 0; k < literals.size(); ++k) // one prepared insert for them all
        Db->RunSqlite("INSERT INTO T ( K, F ) VALUES ( " + std::to_string(k) + ", " + literals[k] + " )");
    EXPECT_GE(Db->CacheCounts().PreparedReused, static_cast<std::int64_t>(literals.size()) - 1);
    // compared, bit for bit, with the literal as another connection's SQLite parses it
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open((Folder / "host.db").string().c_str(), &h), SQLITE_OK);
    for (std::size_t k = 0; k < literals.size(); ++k) {
        const std::string sql =
            "SELECT COUNT(*) FROM T WHERE K = " + std::to_string(k) + " AND F = " + literals[k];
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(s, 0), 1) << literals[k];
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
}
