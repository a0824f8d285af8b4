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
