#include "ModuleTestHost.h"
#include "implDiscountZumvo.h"
#include "intfDBScript.h"
#include "intfRestClient.h"

#include <gtest/gtest.h>

using namespace zumvo;

namespace {

// Stand-ins that only count how often the hook asks for them.
class TNoDatabase : public pallux::TInterfacedObject<pallux::IDBScript> {
public:
    void PALLUX_CALL Execute(const std::string&) override {}
    std::int32_t PALLUX_CALL ExecuteRowCount(const std::string&) override { return 0; }
    bool PALLUX_CALL ExecuteFmt(const std::string&, const pallux::TSqlArgs&) override { return false; }
    std::string PALLUX_CALL Format(const std::string&, const pallux::TSqlArgs&) override { return {}; }
    void PALLUX_CALL GetValue(const std::string&, const std::string&, std::string&) override {}
    void PALLUX_CALL GetValueFmt(const std::string&, const pallux::TSqlArgs&, const std::string&,
                                 std::string&) override {}
    void PALLUX_CALL Query(const std::string&, std::string&) override {}
    void PALLUX_CALL QueryFmt(const std::string&, const pallux::TSqlArgs&, std::string&) override {}
};

class TNoRest : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    void PALLUX_CALL SetBaseURL(const std::string&) override {}
    void PALLUX_CALL SetBasicAuth(const std::string&, const std::string&) override {}
    bool PALLUX_CALL Get(const std::string&, const pallux::TStringList&, std::string&) override {
        return false;
    }
    std::string PALLUX_CALL Post(const std::string&, const std::string&, const pallux::TStringList&,
                                 std::int32_t) override {
        return {};
    }
    void PALLUX_CALL SetTimeouts(std::int32_t, std::int32_t) override {}
    std::int32_t PALLUX_CALL GetLastStatus() override { return 0; }
};

} // namespace

TEST(DiscountHookTest, PointsTheCashierToTheVoucherFeatureAndGrantsNothing) {
    test::TModuleTestHost host;
    int databaseUses = 0, restUses = 0;
    host.Container->RegisterFactory(
        pallux::IDBScript::IID,
        pallux::MakeIntf<test::TCountingFactory<TNoDatabase, pallux::IDBScript>>(&databaseUses).get());
    host.Container->RegisterFactory(
        pallux::IRestClient::IID,
        pallux::MakeIntf<test::TCountingFactory<TNoRest, pallux::IRestClient>>(&restUses).get());

    auto discount = pallux::MakeIntf<TZumvoDynamicDiscount>();
    std::string id, name;
    discount->GetDiscountID(id);
    discount->GetDiscountName(name);
    EXPECT_EQ(id, "ZUMVO");
    EXPECT_EQ(name, "Zumvo Voucher Discount");

    for (int i = 0; i < 2; ++i) {
        std::string result = "unchanged";
        discount->ApplyDiscount(R"({"InvoiceNum":5,"Total":12.5})", result);
        EXPECT_EQ(result, R"({"Result":false})");
    }
    const std::vector<std::string> expected(2,
                                            "MESSAGE: information: Please use the voucher feature instead!");
    EXPECT_EQ(host.Context->Transcript.Lines(), expected) << "one message per application";
    EXPECT_EQ(databaseUses, 0);
    EXPECT_EQ(restUses, 0);
}

TEST(DiscountHookTest, WithoutAMessageServiceTheErrorReachesTheHost) {
    test::TModuleTestHost host;
    host.Container->UnregisterFactory(pallux::IDisplayMessage::IID);
    auto discount = pallux::MakeIntf<TZumvoDynamicDiscount>();
    std::string result;
    EXPECT_THROW(discount->ApplyDiscount("{}", result), std::runtime_error);
    EXPECT_EQ(result, "");
}
