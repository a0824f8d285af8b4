// The ledger check itself: every status against every ledger state, orphans, and advices that
// took effect twice.
#include "LedgerAudit.h"

#include <gtest/gtest.h>

#include <optional>

using zumvo::TJSONDocument;
using zumvo::test::LedgerMismatches;

namespace {

std::string Row(int id, int status, const std::string& tv = "1000") {
    return R"({"ID":)" + std::to_string(id) + R"(,"Status":)" + std::to_string(status) + R"(,"tvTrxID":)" +
           tv + "}";
}

std::string Entry(const std::string& trxId, const std::string& state, const std::string& advices = "",
                  int tv = 1000) {
    return R"({"tvTrxId":)" + std::to_string(tv) + R"(,"code":"PAY","trxId":")" + trxId + R"(","state":")" +
           state + R"(","adviceLog":[)" + advices + "]}";
}

// moved: written when given, as the simulator writes it; absent in older ledgers.
std::string Advice(const std::string& action, const std::string& code = "-1",
                   std::optional<bool> moved = {}) {
    return R"({"action":")" + action + R"(","responseCode":")" + code + R"(")" +
           (moved ? std::string(R"(,"moved":)") + (*moved ? "true" : "false") : std::string()) + "}";
}

} // namespace

TEST(LedgerAudit, StatusesAgainstLedgerStates) {
    struct TCase {
        int Status;
        std::string State; // "" : no ledger entry
        bool Agrees;
    };
    const TCase cases[] = {
        {1, "held", true},      {1, "settled", false},   {1, "released", false},  {1, "", false},
        {2, "settled", true},   {2, "held", false},      {2, "released", false},  {2, "", false},
        {-1, "released", true}, {-1, "", true},          {-1, "held", false},     {-1, "settled", false},
        {0, "", true},          {0, "released", true},   {0, "held", false},      {0, "settled", false},
        {-2, "held", true},     {-2, "settled", true},   {-2, "released", false}, {-3, "held", true},
        {-3, "settled", true},  {-3, "released", false}, {-3, "", false},         {7, "held", false},
    };
    for (const TCase& c : cases) {
        const auto rows = TJSONDocument::Parse("[" + Row(5, c.Status) + "]");
        const auto ledger = TJSONDocument::Parse("[" + (c.State.empty() ? "" : Entry("12-5", c.State)) + "]");
        const std::string found = LedgerMismatches(rows, ledger, 12);
        EXPECT_EQ(found.empty(), c.Agrees) << "status " << c.Status << " / " << c.State << ": " << found;
    }
}

TEST(LedgerAudit, OrphansNumbersAndDoubleAdvices) {
    struct TCase {
        std::string Rows, Ledger, Expected;
    };
    const TCase cases[] = {
        {"[]", "[" + Entry("12-9", "held") + "]", "is held but no module row knows it"},
        {"[]", "[" + Entry("12-9", "released") + "]", ""},
        {"[" + Row(9, 1) + "]", "[" + Entry("13-9", "held") + "]", "another store's reference is no match"},
        {"[" + Row(9, 1, "1001") + "]", "[" + Entry("12-9", "held") + "]",
         "tvTrxID 1001 but the ledger's is 1000"},
        {"[" + Row(9, 1) + "]", "[" + Entry("12-9", "held") + "," + Entry("12-9", "held", "", 1001) + "]",
         "2 provider transactions carry its reference"},
        {"[" + Row(9, 2) + "]",
         "[" + Entry("12-9", "settled", Advice("FINALISE") + "," + Advice("FINALISE")) + "]",
         "settled 2 times"},
        {"[" + Row(9, -1) + "]",
         "[" + Entry("12-9", "released", Advice("REVERSE") + "," + Advice("REVERSE")) + "]",
         "released 2 times"},
        {"[" + Row(9, -1) + "]",
         "[" + Entry("12-9", "released", Advice("FINALISE", "1") + "," + Advice("REVERSE")) + "]", ""},
        // A repeated advice answered -1 without moving anything is no second settlement.
        {"[" + Row(9, 2) + "]",
         "[" +
             Entry("12-9", "settled",
                   Advice("FINALISE", "-1", true) + "," + Advice("FINALISE", "-1", false)) +
             "]",
         ""},
        {"[" + Row(9, -1) + "]",
         "[" +
             Entry("12-9", "released", Advice("REVERSE", "-1", true) + "," + Advice("REVERSE", "-1", true)) +
             "]",
         "released 2 times"},
    };
    for (const TCase& c : cases) {
        const std::string found =
            LedgerMismatches(TJSONDocument::Parse(c.Rows), TJSONDocument::Parse(c.Ledger), 12);
        if (c.Expected.empty())
            EXPECT_EQ(found, "") << c.Ledger;
        else if (c.Expected == "another store's reference is no match")
            EXPECT_NE(found.find("the provider has no transaction for it"), std::string::npos) << found;
        else
            EXPECT_NE(found.find(c.Expected), std::string::npos) << c.Expected << " in: " << found;
    }
}
