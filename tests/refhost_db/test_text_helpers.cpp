// The case-insensitive text helpers that host and module code share: they treat ASCII letters
// only, and order texts as their upper-case forms order.
#include "clsSysUtils.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

TEST(TextHelpers, CompareSameAndUpperCase) {
    struct TCase {
        std::string A, B;
        int Sign; // of CompareText(A, B)
    };
    const std::vector<TCase> cases{
        {"abc", "ABD", -1},   {"Table", "tABLE", 0}, {"ab", "abc", -1},
        {"", "", 0},          {"_x", "a", 1}, // '_' sorts after the upper-case letters
        {"\xC3\xA4", "z", 1},                 // bytes above 0x7F compare unsigned, after ASCII
        {"[", "Z", 1},        {"a", "", 1},
    };
    for (const auto& c : cases) {
        const int r = pallux::CompareText(c.A, c.B);
        EXPECT_EQ((r > 0) - (r < 0), c.Sign) << c.A << " / " << c.B;
        EXPECT_EQ(pallux::CompareText(c.B, c.A) < 0, c.Sign > 0) << c.A << " / " << c.B;
        EXPECT_EQ(pallux::SameText(c.A, c.B), c.Sign == 0) << c.A << " / " << c.B;
        // the order is the one of the upper-case forms
        EXPECT_EQ(r < 0, pallux::UpperCase(c.A) < pallux::UpperCase(c.B)) << c.A << " / " << c.B;
    }
    EXPECT_EQ(pallux::UpperCase("aZ_9\xC3\xA4"), "AZ_9\xC3\xA4"); // non-ASCII bytes stay as they are
    EXPECT_FALSE(pallux::SameText("\xC3\xA4", "\xC3\x84"));

    std::map<std::string, int, pallux::TTextLess> names{{"b", 1}, {"_x", 2}, {"A", 3}};
    names["B"] = 4; // the same key as "b"
    std::vector<std::string> order;
    for (const auto& [name, value] : names)
        order.push_back(name);
    EXPECT_EQ(order, (std::vector<std::string>{"A", "b", "_x"}));
    EXPECT_EQ(names.find("B")->second, 4);
}
