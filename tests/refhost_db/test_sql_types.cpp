// Column types: declarations as SQL Server reports them, and types the translator does not take.
#include "SqlTranslatorTesting.h"

using namespace sqltest;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SqlTypes, DescribeDeclaredTypesAsSqlServer) {
    EXPECT_EQ(DescribeDeclType("VARCHAR(500)").DataType, "varchar");
    EXPECT_EQ(DescribeDeclType("VARCHAR(500)").CharacterMaximumLength, 500);
    EXPECT_EQ(DescribeDeclType("VARCHAR(-1)").CharacterMaximumLength, -1);
    EXPECT_EQ(DescribeDeclType("INTEGER").DataType, "int");
    EXPECT_FALSE(DescribeDeclType("FLOAT").CharacterMaximumLength.has_value());
}

TEST(SqlTypes, UnknownTypesFailNamingTheStatement) {
    ExpectRefused({{"CREATE TABLE t ( a UNIQUEIDENTIFIER )", "data type UNIQUEIDENTIFIER is not supported"}});
}
