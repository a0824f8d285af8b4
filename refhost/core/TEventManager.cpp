#include "TEventManager.h"

#include <algorithm>
#include <stdexcept>

namespace refhost {

void TEventManager::DropExpired(std::vector<pallux::TEventHandler>& handlers) {
    std::erase_if(handlers, [](const pallux::TEventHandler& h) { return !h.Owner.Alive(); });
}

void TEventManager::Subscribe(const std::string& eventName, const pallux::TEventHandler& handler) {
    if (!handler.Proc)
        throw std::invalid_argument("Subscribe: no handler for " + eventName);
    auto& handlers = FHandlers[eventName];
    DropExpired(handlers);
    handlers.push_back(handler);
}

void TEventManager::RaiseEvent(const std::string& eventName, const std::string& data, std::int64_t param) {
    auto it = FHandlers.find(eventName);
    if (it == FHandlers.end())
        return;
    DropExpired(it->second);
    // A handler may subscribe further handlers or release objects: call a snapshot, checking
    // each owner just before its call.
    const std::vector<pallux::TEventHandler> snapshot = it->second;
    for (const auto& handler : snapshot)
        if (handler.Owner.Alive())
            handler.Proc(handler.Self, eventName, data, param);
}

std::size_t TEventManager::SubscriptionCount(const std::string& eventName) const {
    auto it = FHandlers.find(eventName);
    return it == FHandlers.end() ? 0 : it->second.size();
}

} // namespace refhost
