// The host's event manager.
#pragma once

#include "intfBase.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace pallux {

// An alive flag shared by a subscribing object and the host. It is plain data without virtual
// functions, so whichever side drops the last reference frees it, even after the module that
// made it has been unloaded.
class TSubscriberFlag {
public:
    TSubscriberFlag() = default;
    TSubscriberFlag(const TSubscriberFlag&) = delete;
    TSubscriberFlag& operator=(const TSubscriberFlag&) = delete;

    void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (FRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    bool Alive() const { return FAlive.load(std::memory_order_acquire); }
    void Kill() { FAlive.store(false, std::memory_order_release); }

private:
    std::atomic<int> FRefs{1};
    std::atomic<bool> FAlive{true};
};

// One counted reference to a TSubscriberFlag.
class TSubscriberFlagRef {
public:
    TSubscriberFlagRef() = default;
    static TSubscriberFlagRef New() {
        TSubscriberFlagRef r;
        r.FFlag = new TSubscriberFlag();
        return r;
    }
    TSubscriberFlagRef(const TSubscriberFlagRef& o) : FFlag(o.FFlag) {
        if (FFlag)
            FFlag->AddRef();
    }
    TSubscriberFlagRef(TSubscriberFlagRef&& o) noexcept : FFlag(std::exchange(o.FFlag, nullptr)) {}
    TSubscriberFlagRef& operator=(TSubscriberFlagRef o) noexcept {
        std::swap(FFlag, o.FFlag);
        return *this;
    }
    ~TSubscriberFlagRef() {
        if (FFlag)
            FFlag->Release();
    }
    bool Alive() const { return FFlag && FFlag->Alive(); }
    void Kill() {
        if (FFlag)
            FFlag->Kill();
    }

private:
    TSubscriberFlag* FFlag = nullptr;
};

// Handler signature: the object, the event name, the event's data text, one further value.
using TEventProc = void (*)(void* self, const std::string& eventName, const std::string& data,
                            std::int64_t param);

// A handler bound to an object. The host calls Proc only while Owner is alive, and drops the
// handler once it is not. Nothing in it needs the module's code to be destroyed.
struct TEventHandler {
    TSubscriberFlagRef Owner;
    TEventProc Proc = nullptr;
    void* Self = nullptr;
};

// Held by every object that subscribes handlers; its destruction (with the object) marks
// each of them dead.
class TEventSubscriberToken {
public:
    TEventSubscriberToken() : FFlag(TSubscriberFlagRef::New()) {}
    TEventSubscriberToken(const TEventSubscriberToken&) = delete;
    TEventSubscriberToken& operator=(const TEventSubscriberToken&) = delete;
    ~TEventSubscriberToken() { FFlag.Kill(); }

    const TSubscriberFlagRef& Flag() const { return FFlag; }

    // Binds a handler method void T::M(eventName, data, param) of self.
    template <auto Method, class T> TEventHandler Bind(T* self) const {
        return {FFlag,
                [](void* s, const std::string& eventName, const std::string& data, std::int64_t param) {
                    (static_cast<T*>(s)->*Method)(eventName, data, param);
                },
                self};
    }

private:
    TSubscriberFlagRef FFlag;
};

class IEventManager : public IInterface {
public:
    static constexpr TGUID IID{"{809967B8-EF11-4305-903C-F7C01676EA2D}"};

    virtual void PALLUX_CALL Subscribe(const std::string& eventName, const TEventHandler& handler) = 0;
    // Host side: calls each live handler of the event once, in subscription order.
    virtual void PALLUX_CALL RaiseEvent(const std::string& eventName, const std::string& data,
                                        std::int64_t param) = 0;
};

// The names of the events the host raises.
namespace HostEvent {

// The program's main form exists; menus may be extended. No data.
inline constexpr const char* InvoicingMainFormCreate = "Pallux.Invoicing.MainForm.Create";
inline constexpr const char* BackOfficeMainFormCreate = "Pallux.BackOffice.MainForm.Create";
// The same event of any program, by its name without ".exe": "Pallux.<program>.MainForm.Create".
inline std::string MainFormCreate(const std::string& program) {
    return "Pallux." + program + ".MainForm.Create";
}

// The till takes payment for an invoice; the data is the invoice's document.
inline constexpr const char* BeforePayment = "Pallux.Invoicing.Transaction.BeforePayment";
inline constexpr const char* AfterPaymentFailed = "Pallux.Invoicing.Transaction.AfterPaymentFailed";
inline constexpr const char* AfterPaymentSuccess = "Pallux.Invoicing.Transaction.AfterPaymentSuccess";

// A driver's cash-up, in this order.
inline constexpr const char* DriverCashupStart = "Pallux.Cashup.DriverCashup.Start";
inline constexpr const char* DriverCashupPayment = "Pallux.Cashup.DriverCashup.Payment";
inline constexpr const char* DriverCashupInsertCashup = "Pallux.Cashup.DriverCashup.InsertCashup";
inline constexpr const char* DriverCashupComplete = "Pallux.Cashup.DriverCashup.Complete";

} // namespace HostEvent

} // namespace pallux
