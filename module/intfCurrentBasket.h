// The till's shared current basket and payment / driver cash-up state.
#pragma once

#include "intfBase.h"

#include <cstdint>

namespace zumvo {

class ICurrentBasket : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{2F7BD419-078E-43BF-982C-66AA7EEDF203}"};

    virtual void ResetBasket() = 0;
    virtual std::int32_t NewBasket() = 0;
    virtual std::int32_t GetBasketID() = 0;
    virtual void SetBasketID(std::int32_t basketID) = 0;
    virtual bool InPayment() = 0;
    virtual bool PaymentSucceeded() = 0;
    virtual bool DriverCashupStarted() = 0;
    virtual bool DriverCashupPaying() = 0;
    virtual bool DriverCashupInserting() = 0;
};

} // namespace zumvo
