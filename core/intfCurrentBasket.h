// The till's shared current basket and payment / driver cash-up state.
#pragma once

#include "intfBase.h"

#include <cstdint>

namespace zumvo {

class ICurrentBasket : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{2F7BD419-078E-43BF-982C-66AA7EEDF203}"};

    // Forgets the current basket: GetBasketID answers -1 until a new one is set.
    virtual void ResetBasket() = 0;
    // Inserts a basket for the current till and makes it current; its ID, or -1 when the insert
    // failed. Errors are logged, never raised.
    virtual std::int32_t NewBasket() = 0;
    // The current basket's ID; -1 when there is none.
    virtual std::int32_t GetBasketID() = 0;
    // Makes the given basket current.
    virtual void SetBasketID(std::int32_t basketID) = 0;
    // True between the host's BeforePayment event and its AfterPayment event.
    virtual bool InPayment() = 0;
    // True after AfterPaymentSuccess, until the next BeforePayment or AfterPaymentFailed.
    virtual bool PaymentSucceeded() = 0;
    // True from the driver cash-up's Start event until its Complete event.
    virtual bool DriverCashupStarted() = 0;
    // True from the driver cash-up's Payment event until its Start or Complete event.
    virtual bool DriverCashupPaying() = 0;
    // True from the driver cash-up's InsertCashup event until its Start or Complete event.
    virtual bool DriverCashupInserting() = 0;
};

} // namespace zumvo
