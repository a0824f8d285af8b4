// The translation caches of the SQLite connection: parsed batches and translated statements
// reused, and forgotten whenever the tables they were worked out from change (by this
// connection, inside a batch, by another program, or in a batch that was rolled back).
#include "TDatabase.h"
#include "TLruCache.h"
#include "TSqliteDatabase.h"

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
    void OtherProgram(const std::string& sql) {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open((Folder / "host.db").string().c_str(), &h), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(h);
        ASSERT_EQ(rc, SQLITE_OK) << message;
    }
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
