// TCurrentBasket: the till's shared record of the Zumvo basket being filled, the payment state
// and the driver cash-up stage, kept current by host events. A singleton.
#pragma once

#include "clsInterfacedObject.h"
#include "intfCurrentBasket.h"
#include "intfEventManager.h"
#include "intfServiceFactory.h"
#include "intfZumvoInfo.h"
#include "intfZumvoTransaction.h"

#include <string>

namespace zumvo {

class TCurrentBasket : public pallux::TInterfacedObject<ICurrentBasket> {
public:
    TCurrentBasket();

    void ResetBasket() override { FBasketID = -1; }
    std::int32_t NewBasket() override;
    std::int32_t GetBasketID() override { return FBasketID; }
    void SetBasketID(std::int32_t basketID) override { FBasketID = basketID; }
    bool InPayment() override { return FInPayment; }
    bool PaymentSucceeded() override { return FPaymentSucceeded; }
    bool DriverCashupStarted() override { return FDriverCashupStarted; }
    bool DriverCashupPaying() override { return FDriverCashupPaying; }
    bool DriverCashupInserting() override { return FDriverCashupInserting; }

    void Event_DriverCashupStart(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_DriverCashupPayment(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_DriverCashupInsertCashup(const std::string& eventName, const std::string& data,
                                        std::int64_t param);
    void Event_DriverCashupComplete(const std::string& eventName, const std::string& data,
                                    std::int64_t param);
    void Event_BeforePayment(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_PaymentFailed(const std::string& eventName, const std::string& data, std::int64_t param);
    void Event_PaymentSuccess(const std::string& eventName, const std::string& data, std::int64_t param);

private:
    std::int32_t FBasketID = -1;
    pallux::IntfPtr<IZumvoTransaction> FStore;
    pallux::IntfPtr<IZumvoInfo> FInfo;
    bool FInPayment = false;
    bool FPaymentSucceeded = false;
    bool FDriverCashupStarted = false;
    bool FDriverCashupPaying = false;
    bool FDriverCashupInserting = false;
    pallux::TEventSubscriberToken FEvents;
};

class TCurrentBasketFactory : public pallux::TServiceFactory<TCurrentBasket, ICurrentBasket> {};

} // namespace zumvo
