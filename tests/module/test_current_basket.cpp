#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "TEventManager.h"
#include "implCurrentBasket.h"
#include "implZumvoInfo.h"

#include <gtest/gtest.h>

using namespace zumvo;

namespace {

class CurrentBasketTest : public ::testing::Test {
protected:
    test::TModuleTestHost host;
    test::TLogCapture log{host.Folder};
    pallux::IntfPtr<pallux::IEventManager> events;

    void SetUp() override {
        host.Container->RegisterFactory(IZumvoInfo::IID, pallux::MakeIntf<TZumvoInfoFactory>().get());
        host.Container->RegisterFactory(ICurrentBasket::IID, pallux::MakeIntf<TCurrentBasketFactory>().get());
        ASSERT_TRUE(host.Container->GetInstance(events));
    }
    pallux::IntfPtr<ICurrentBasket> Basket() {
        pallux::IntfPtr<ICurrentBasket> b;
        EXPECT_TRUE(host.Container->GetSingleton(b));
        return b;
    }
    void Raise(const std::string& name, const std::string& data = "") { events->RaiseEvent(name, data, 0); }
};

} // namespace

TEST_F(CurrentBasketTest, EveryCallerSharesOneBasket) {
    auto a = Basket();
    auto b = Basket();
    EXPECT_EQ(a->GetBasketID(), -1);
    a->SetBasketID(42);
    EXPECT_EQ(b->GetBasketID(), 42);
    b->ResetBasket();
    EXPECT_EQ(a->GetBasketID(), -1);
    EXPECT_TRUE(log.Has("[TCurrentBasket.Create] Initialising Current Basket"));
    EXPECT_TRUE(log.Has("[TCurrentBasket.Create] Subscribing to events"));
}

TEST_F(CurrentBasketTest, PaymentEventsFollowTheHost) {
    auto b = Basket();
    Raise("Pallux.Invoicing.Transaction.AfterPaymentSuccess");
    EXPECT_FALSE(b->InPayment());
    EXPECT_TRUE(b->PaymentSucceeded()) << "success without a before-payment event";
    Raise("Pallux.Invoicing.Transaction.BeforePayment");
    EXPECT_TRUE(b->InPayment());
    EXPECT_FALSE(b->PaymentSucceeded()) << "a new payment clears the success flag";
    Raise("Pallux.Invoicing.Transaction.AfterPaymentFailed");
    EXPECT_FALSE(b->InPayment());
    EXPECT_FALSE(b->PaymentSucceeded());
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_BeforePayment] Starting Payment "));
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_PaymentFailed] Payment Done"));
}

TEST_F(CurrentBasketTest, DriverCashupStages) {
    auto b = Basket();
    Raise("Pallux.Cashup.DriverCashup.Payment", "early");
    EXPECT_TRUE(b->DriverCashupPaying()) << "payment sets its flag whatever the order";
    Raise("Pallux.Cashup.DriverCashup.Start", "7");
    EXPECT_TRUE(b->DriverCashupStarted());
    EXPECT_FALSE(b->DriverCashupPaying()) << "start clears paying and inserting";
    Raise("Pallux.Cashup.DriverCashup.InsertCashup", "x");
    EXPECT_TRUE(b->DriverCashupInserting());
    EXPECT_FALSE(b->DriverCashupPaying());
    Raise("Pallux.Cashup.DriverCashup.Complete", "done");
    EXPECT_FALSE(b->DriverCashupStarted());
    EXPECT_FALSE(b->DriverCashupPaying());
    EXPECT_FALSE(b->DriverCashupInserting());
    EXPECT_EQ(b->GetBasketID(), -1) << "no handler touches the basket";
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_DriverCashupStart] Starting Driver Cashup : 7"));
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_DriverCashupPayment] Setting invoices as paid : early"));
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_DriverCashupInsertCashup] Inserting Cashup Entries : x"));
    EXPECT_TRUE(log.Has("[TCurrentBasket.Event_DriverCashupComplete] Driver Cashup Complete : done"));
}

TEST_F(CurrentBasketTest, WithoutIdentityItLogsTheAssertionAndSubscribesNothing) {
    host.Container->UnregisterFactory(IZumvoInfo::IID);
    auto b = pallux::MakeIntf<TCurrentBasket>();
    EXPECT_TRUE(log.Has("[TCurrentBasket.Create] Error : Could not create ZumvoInfo"));
    Raise("Pallux.Cashup.DriverCashup.Start", "1");
    EXPECT_FALSE(b->DriverCashupStarted());
}

TEST_F(CurrentBasketTest, ReleasedBasketsAreNeverCalledAndDoNotPileUp) {
    // Thousands of short-lived objects subscribe seven handlers each and are released; the
    // events still reach only live objects.
    auto& manager = dynamic_cast<refhost::TEventManager&>(*events);
    auto survivor = pallux::MakeIntf<TCurrentBasket>();
    for (int i = 0; i < 10000; ++i)
        pallux::MakeIntf<TCurrentBasket>();
    EXPECT_LE(manager.SubscriptionCount("Pallux.Cashup.DriverCashup.Start"), 2u);
    Raise("Pallux.Cashup.DriverCashup.Start", "x");
    Raise("Pallux.Invoicing.Transaction.BeforePayment");
    EXPECT_TRUE(survivor->DriverCashupStarted());
    EXPECT_TRUE(survivor->InPayment());
}
