#include "implCurrentBasket.h"

#include "ZumvoLog.h"
#include "clsAdviceRetry.h"
#include "clsModuleContainer.h"

namespace zumvo {

TCurrentBasket::TCurrentBasket() {
    Guarded("TCurrentBasket.Create", [&] {
        LogInfo("[TCurrentBasket.Create] Initialising Current Basket");
        CreateService(FStore);
        Require(GetSingletonService(FInfo), "Could not create ZumvoInfo");
        ResetBasket();
        pallux::IntfPtr<pallux::IEventManager> events;
        GetInstanceService(events);
        LogInfo("[TCurrentBasket.Create] Subscribing to events");
        auto& manager = Use(events, "EventManager");
        manager.Subscribe(pallux::HostEvent::DriverCashupStart,
                          FEvents.Bind<&TCurrentBasket::Event_DriverCashupStart>(this));
        manager.Subscribe(pallux::HostEvent::DriverCashupPayment,
                          FEvents.Bind<&TCurrentBasket::Event_DriverCashupPayment>(this));
        manager.Subscribe(pallux::HostEvent::DriverCashupInsertCashup,
                          FEvents.Bind<&TCurrentBasket::Event_DriverCashupInsertCashup>(this));
        manager.Subscribe(pallux::HostEvent::DriverCashupComplete,
                          FEvents.Bind<&TCurrentBasket::Event_DriverCashupComplete>(this));
        manager.Subscribe(pallux::HostEvent::BeforePayment,
                          FEvents.Bind<&TCurrentBasket::Event_BeforePayment>(this));
        manager.Subscribe(pallux::HostEvent::AfterPaymentFailed,
                          FEvents.Bind<&TCurrentBasket::Event_PaymentFailed>(this));
        manager.Subscribe(pallux::HostEvent::AfterPaymentSuccess,
                          FEvents.Bind<&TCurrentBasket::Event_PaymentSuccess>(this));
        FInPayment = FPaymentSucceeded = false;
        FDriverCashupStarted = FDriverCashupPaying = FDriverCashupInserting = false;
    });
}

std::int32_t TCurrentBasket::NewBasket() {
    Guarded("TCurrentBasket.NewBasket", [&] {
        FBasketID = Use(FStore, "ZumvoTransaction").AddBasket(Use(FInfo, "ZumvoInfo").GetTillID());
    });
    return FBasketID;
}

void TCurrentBasket::Event_DriverCashupStart(const std::string&, const std::string& data, std::int64_t) {
    LogInfo("[TCurrentBasket.Event_DriverCashupStart] Starting Driver Cashup : %", data);
    FDriverCashupStarted = true;
    FDriverCashupPaying = false;
    FDriverCashupInserting = false;
}

void TCurrentBasket::Event_DriverCashupPayment(const std::string&, const std::string& data, std::int64_t) {
    LogInfo("[TCurrentBasket.Event_DriverCashupPayment] Setting invoices as paid : %", data);
    FDriverCashupPaying = true;
}

void TCurrentBasket::Event_DriverCashupInsertCashup(const std::string&, const std::string& data,
                                                    std::int64_t) {
    LogInfo("[TCurrentBasket.Event_DriverCashupInsertCashup] Inserting Cashup Entries : %", data);
    FDriverCashupInserting = true;
}

void TCurrentBasket::Event_DriverCashupComplete(const std::string&, const std::string& data, std::int64_t) {
    LogInfo("[TCurrentBasket.Event_DriverCashupComplete] Driver Cashup Complete : %", data);
    FDriverCashupStarted = FDriverCashupPaying = FDriverCashupInserting = false;
    // The cash-up's own work is done: a moment that costs nobody anything to send the advices
    // that are due, and to give back the codes of this till's sales that never reached an invoice.
    Guarded("TCurrentBasket.Event_DriverCashupComplete", [&] {
        TRetryRequest request;
        request.Trigger = TRetryTrigger::Cashup;
        request.CashupTill = Use(FInfo, "ZumvoInfo").GetTillID();
        RetryAdvices(request);
    });
}

void TCurrentBasket::Event_BeforePayment(const std::string&, const std::string&, std::int64_t) {
    LogInfo("[TCurrentBasket.Event_BeforePayment] Starting Payment ");
    FInPayment = true;
    FPaymentSucceeded = false;
}

void TCurrentBasket::Event_PaymentFailed(const std::string&, const std::string&, std::int64_t) {
    LogInfo("[TCurrentBasket.Event_PaymentFailed] Payment Done");
    FInPayment = false;
    FPaymentSucceeded = false;
}

void TCurrentBasket::Event_PaymentSuccess(const std::string&, const std::string&, std::int64_t) {
    FInPayment = false;
    FPaymentSucceeded = true;
}

} // namespace zumvo
