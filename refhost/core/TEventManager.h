// The reference host's event manager.
#pragma once

#include "clsInterfacedObject.h"
#include "intfEventManager.h"

#include <map>
#include <string>
#include <vector>

namespace refhost {

// Delivers each raised event to its live handlers, once each, in subscription order. A handler
// whose object is gone (dead flag) is never called; such subscriptions are dropped when
// the event is raised and whenever the event gets a new subscriber, so they do not pile up.
class TEventManager : public pallux::TInterfacedObject<pallux::IEventManager> {
public:

    void PALLUX_CALL Subscribe(const std::string& eventName, const pallux::TEventHandler& handler) override;
    void PALLUX_CALL RaiseEvent(const std::string& eventName, const std::string& data,
                                std::int64_t param) override;

    // Subscriptions currently held for the event (live or not yet dropped).
    std::size_t SubscriptionCount(const std::string& eventName) const;

private:
    std::map<std::string, std::vector<pallux::TEventHandler>> FHandlers;
    static void DropExpired(std::vector<pallux::TEventHandler>& handlers);
};

} // namespace refhost
