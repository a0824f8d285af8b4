// T-SQL functions: what each becomes on SQLite, its argument counts, and the refusal of the
// functions and date parts the translator does not know.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SqlFunctions, IsNullAnswersTheTypeOfItsFirstArgument) {
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

TEST(SqlFunctions, UnknownFunctionsFailNamingTheStatement) {
    ExpectRefused({
        {"SELECT DATEDIFF(day, a, b) FROM t", "function DATEDIFF is not supported"},
        {"SELECT DATEADD(MILLISECOND, 1, a) FROM t", "date part MILLISECOND is not supported"},
    });
    EXPECT_THAT(Error("SELECT DATEDIFF(day, a, b) FROM t"), HasSubstr("SELECT DATEDIFF(day, a, b) FROM t"));
}

TEST(SqlFunctions, NamesInAnyCaseAndTheirArgumentCounts) {
    const std::map<std::string, std::string> forms{
        {"SELECT getdate()", "SELECT datetime('now','localtime')"},
        {"SELECT SysUtcDateTime()", "SELECT datetime('now')"},
        {"SELECT Len(a) FROM t", "SELECT length(rtrim(a)) FROM t"},
        {"SELECT coalesce(a, b, 0) FROM t", "SELECT COALESCE(a, b, 0) FROM t"},
        {"SELECT CharIndex('x', a) FROM t", "SELECT instr(a, 'x') FROM t"},
        {"SELECT substring(a, 2, 3) FROM t", "SELECT substr(a, 2, 3) FROM t"},
        {"SELECT CONVERT(int, a) FROM t", "SELECT CAST(a AS INTEGER) FROM t"},
        {"SELECT DATEADD(qq, 1, a) FROM t",
         "SELECT datetime(date(a, 'start of month', '+3 months', "
         "printf('+%d days', MIN(CAST(strftime('%d', a) AS INTEGER), "
         "CAST(strftime('%d', a, 'start of month', '+3 months', '+1 months', "
         "'-1 days') AS INTEGER)) - 1)) || ' ' || time(a)) FROM t"},
        {"SELECT DATEADD(n, -5, a) FROM t", "SELECT datetime(a, '-5 minutes') FROM t"},
        {"SELECT object_id('dbo.[T]', 'v')",
         "SELECT (SELECT rootpage FROM sqlite_master WHERE type IN ('view') AND name = 'T' COLLATE NOCASE)"},
    };
    for (const auto& [tsql, sqlite] : forms)
        EXPECT_EQ(One(tsql), sqlite) << tsql;

    ExpectRefused({
        {"SELECT GETDATE(1)", "wrong number of arguments for GETDATE"},
        {"SELECT isnull(a) FROM t", "wrong number of arguments for isnull"},
        {"SELECT COALESCE(a) FROM t", "wrong number of arguments for COALESCE"},
        {"SELECT ROUND(a) FROM t", "wrong number of arguments for ROUND"},
        {"SELECT DATEADD(DAY, 1) FROM t", "wrong number of arguments for DATEADD"},
        {"SELECT OBJECT_ID('a', 'U', 'x')", "wrong number of arguments for OBJECT_ID"},
        {"SELECT OBJECT_ID('a', 'P')", "OBJECT_ID type 'P' is not supported"},
        {"SELECT LEN(a, ) FROM t", "missing expression"},
    });
}
