// The host's event manager.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pallux {

// Handler signature: event name, the event's data text, one further value.
using TEventProc = std::function<void(const std::string& eventName, const std::string& data, std::int64_t param)>;

// A handler bound to an object. Owner is a weak token of that object: once the object is gone
// the token has expired and the event manager neither calls the handler nor keeps it.
struct TEventHandler {
    std::weak_ptr<const void> Owner;
    TEventProc Method;
};

// Held by every object that subscribes handlers; its destruction (with the object) expires
// the weak token of each of them.
class TEventSubscriberToken {
public:
    TEventSubscriberToken() : FAlive(std::make_shared<char>(0)) {}
    TEventSubscriberToken(const TEventSubscriberToken&) = delete;
    TEventSubscriberToken& operator=(const TEventSubscriberToken&) = delete;

    TEventHandler Bind(TEventProc method) const { return {std::weak_ptr<const void>(FAlive), std::move(method)}; }

private:
    std::shared_ptr<char> FAlive;
};

class IEventManager : public IInterface {
public:
    static constexpr TGUID IID{"{809967B8-EF11-4305-903C-F7C01676EA2D}"};

    virtual void PALLUX_CALL Subscribe(const std::string& eventName, const TEventHandler& handler) = 0;
    // Host side: calls each live handler of the event once, in subscription order.
    virtual void PALLUX_CALL RaiseEvent(const std::string& eventName, const std::string& data,
                                        std::int64_t param) = 0;
};

} // namespace pallux
