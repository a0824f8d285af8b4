// Schema statements: tables keep SQL Server's rules on SQLite, and a table SQLite cannot alter
// in place is rebuilt keeping its rows.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SqlSchema, CreateTableKeepsSqlServerRules) {
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

TEST(SqlSchema, AlterColumnRebuildsTheTableKeepingRows) {
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

TEST(SqlSchema, UnknownFormsFailNamingTheStatement) {
    ExpectRefused({{"CREATE TABLE t ( a INT, UNIQUE (a) )", "table constraint UNIQUE is not supported"},
                   {"CREATE INDEX ix ON t (a) INCLUDE (b)",
                    "CREATE INDEX options after the column list are not supported"},
                   {"CREATE INDEX ix ON t (a + 1)", "CREATE INDEX columns must be plain names"},
                   {"SELECT name FROM sys.objects", "sys.objects is not supported"}});
}

TEST(SqlSchema, IndexesAndTheirCatalogue) {
    EXPECT_EQ(One("CREATE NONCLUSTERED INDEX [IX_a] ON [dbo].[t] ( [a], b DESC )"),
              "CREATE INDEX \"IX_a\" ON \"t\" (\"a\", \"b\" DESC)");
    EXPECT_EQ(One("CREATE UNIQUE INDEX ix ON t (a)"), "CREATE UNIQUE INDEX \"ix\" ON \"t\" (\"a\")");
    EXPECT_THAT(One("SELECT 1 FROM sys.indexes WHERE name = 'ix' AND object_id = OBJECT_ID('t')"),
                HasSubstr("FROM (SELECT i.name COLLATE NOCASE AS name, t.rootpage AS object_id"));
}

TEST(SqlSchema, AlterTableFormsAgainstTheCatalogue) {
    TFakeCatalog catalog;
    catalog.Add("T",
                {{"ID", "INTEGER", true, {}, 1},
                 {"Code", "VARCHAR(10)", false, {}, 0},
                 {"Day", "DATE", false, {}, 0},
                 {"Note", "VARCHAR(50)", false, {}, 0},
                 {"Qty", "INT", false, {}, 0}},
                true);
    // DROP COLUMN rebuilds the table; the rows keep their other columns
    std::vector<std::string> run{
        "CREATE TABLE \"T\" (\"ID\" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, \"Code\" VARCHAR(10), "
        "\"Day\" DATE, \"Note\" VARCHAR(50), \"Qty\" INT)",
        "INSERT INTO \"T\" (\"Code\", \"Day\", \"Note\") VALUES ('A', '2024-05-01', 'x'), ('B', NULL, 'y')"};
    for (auto& s : TSqlTranslator::TranslateBatch("ALTER TABLE [T] DROP COLUMN [Note], [Day]", catalog))
        run.push_back(std::move(s));
    run.push_back("SELECT group_concat(\"ID\" || \"Code\", ',') || ' ' || "
                  "(SELECT group_concat(name) FROM pragma_table_info('T')) FROM \"T\"");
    EXPECT_EQ(RunOnSqlite(run), "1A,2B ID,Code,Qty");
    // ADD COLUMN is read as ADD
    EXPECT_EQ(TSqlTranslator::TranslateBatch("ALTER TABLE [T] ADD COLUMN [N] INT NULL", catalog),
              std::vector<std::string>{"ALTER TABLE \"T\" ADD COLUMN \"N\" INT"});

    const std::map<std::string, std::string> refused{
        {"ALTER TABLE [U] ADD [N] INT", "table U does not exist"},
        {"ALTER TABLE [T] ADD [Code] INT", "column names in each table must be unique: Code is already in T"},
        {"ALTER TABLE [T] ADD CONSTRAINT PK_T PRIMARY KEY ([ID])", "adding constraints is not supported"},
        {"ALTER TABLE [T] ADD [K] INT IDENTITY(1,1)", "adding an IDENTITY or PRIMARY KEY column"},
        {"ALTER TABLE [T] ALTER COLUMN [Code] INT", "changing column Code from VARCHAR to INT"},
        {"ALTER TABLE [T] ALTER COLUMN [ID] BIGINT NOT NULL", "an IDENTITY column cannot be altered"},
        {"ALTER TABLE [T] ALTER COLUMN [Gone] INT", "column Gone does not exist in T"},
        {"ALTER TABLE [T] ALTER COLUMN [Code] VARCHAR(20) DEFAULT 'x'", "unexpected DEFAULT in ALTER COLUMN"},
        {"ALTER TABLE [T] DROP COLUMN [ID]", "a primary key column cannot be dropped"},
        {"ALTER TABLE [T] DROP COLUMN [Code] [Day]", "bad column name in DROP COLUMN"},
        {"ALTER TABLE [T] DROP CONSTRAINT PK_T", "this ALTER TABLE form is not supported"},
    };
    for (const auto& [sql, reason] : refused) {
        try {
            TSqlTranslator::TranslateBatch(sql, catalog);
            ADD_FAILURE() << "accepted: " << sql;
        } catch (const ESqlTranslateError& e) {
            EXPECT_THAT(e.what(), HasSubstr(reason)) << sql;
        }
    }
    // a date column may become a date and time, a number text
    EXPECT_NO_THROW(TSqlTranslator::TranslateBatch("ALTER TABLE [T] ALTER COLUMN [Day] DATETIME", catalog));
    EXPECT_NO_THROW(
        TSqlTranslator::TranslateBatch("ALTER TABLE [T] ALTER COLUMN [Qty] VARCHAR(12)", catalog));
}

TEST(SqlSchema, CreateTableKeysAndIdentity) {
    // the key given as a table constraint; an IDENTITY seed other than 1 numbers the first row
    std::vector<std::string> run = TSqlTranslator::TranslateBatch(
        "CREATE TABLE [t] ( [ID] INT IDENTITY(100,1) NOT NULL, [a] INT, CONSTRAINT [PK_t] PRIMARY KEY "
        "NONCLUSTERED ( [ID] ASC ) ) ON [PRIMARY]",
        TFakeCatalog());
    run.push_back("INSERT INTO \"t\" (\"a\") VALUES (1)");
    run.push_back("SELECT \"ID\" FROM \"t\"");
    EXPECT_EQ(RunOnSqlite(run), "100");

    ExpectRefused({
        {"CREATE TABLE t ( a INT, PRIMARY KEY a )", "PRIMARY KEY needs a column list"},
        {"CREATE TABLE t ( a INT, PRIMARY KEY (a + 1) )", "bad PRIMARY KEY column"},
        {"CREATE TABLE t ( a INT, PRIMARY KEY (a) WITH (FILLFACTOR = 80) )",
         "unexpected WITH after PRIMARY KEY"},
        {"CREATE TABLE t ( a INT, b INT, PRIMARY KEY (a), PRIMARY KEY (b) )", "only one primary key"},
        {"CREATE TABLE t ( a INT, PRIMARY KEY (b) )", "primary key column b does not exist"},
        {"CREATE TABLE t ( a INT IDENTITY, b INT IDENTITY )", "only one IDENTITY column"},
        {"CREATE TABLE t ( a INT IDENTITY, b INT, PRIMARY KEY (b) )",
         "an IDENTITY column that is not the primary key is not supported"},
        {"CREATE TABLE t ( a INT, A INT )", "column A is given twice"},
    });
}
