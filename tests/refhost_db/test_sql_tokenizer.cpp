// The tokenizer: names, texts, numbers and comments of T-SQL text.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

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

// SQLite stops reading a statement at a NUL byte: one outside a text value is refused with the
// statement shown, one inside a text value is kept and reaches SQLite as char(0).
TEST(SqlTokenizer, NulBytes) {
    using namespace std::string_literals;
    const std::map<std::string, std::string> refused{
        {"UPDATE [T] SET [Status] = 1\0, [Response] = 'never' WHERE [ID] = 999"s,
         "a NUL byte outside a text value in statement: UPDATE [T] SET [Status] = 1\\0, [Response]"},
        {"SELECT 1\nSELECT [a\0b] FROM t"s, "a NUL byte in a name in statement: SELECT [a\\0b] FROM t"},
        {"SELECT 1 AS \"x\0\""s, "a NUL byte in a name in statement: SELECT 1 AS \"x\\0\""},
    };
    for (const auto& [sql, message] : refused) {
        try {
            TokenizeTSql(sql);
            ADD_FAILURE() << "accepted: " << sql;
        } catch (const ESqlTranslateError& e) {
            EXPECT_THAT(e.what(), HasSubstr(message));
        }
    }
    const auto t = TokenizeTSql("SELECT N'a\0b' -- \0 in a comment is dropped"s);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].Text, "a\0b"s);
    const std::string sql = One("SELECT 'a\0b''\0' + 'c'"s);
    EXPECT_EQ(sql, "SELECT ('a' || char(0) || 'b''' || char(0) || '') || 'c'");
    EXPECT_EQ(RunOnSqlite({"SELECT length(CAST(" + sql.substr(7) + " AS BLOB))"}), "6");
}

// Numbers, words and operators: where each token ends, and its kind.
TEST(SqlTokenizer, NumbersWordsAndOperators) {
    using K = TSqlToken::TKind;
    const auto t = TokenizeTSql("x<>1.5e-3 AND .5>=2e !<@v#1$ <-");
    const std::vector<std::pair<K, std::string>> expected{
        {K::Word, "x"},    {K::Symbol, "<>"},  {K::Number, "1.5e-3"}, {K::Word, "AND"},
        {K::Number, ".5"}, {K::Symbol, ">="},  {K::Number, "2"},      {K::Word, "e"},
        {K::Symbol, "!<"}, {K::Word, "@v#1$"}, {K::Symbol, "<"},      {K::Symbol, "-"},
    };
    ASSERT_EQ(t.size(), expected.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(t[i].Kind, expected[i].first) << i;
        EXPECT_EQ(t[i].Text, expected[i].second) << i;
    }
    EXPECT_EQ(t[2].Pos, 3u);
    EXPECT_EQ(t[2].End, 9u);
    EXPECT_TRUE(t[0].LineStart);
    EXPECT_FALSE(t[1].LineStart);
}
