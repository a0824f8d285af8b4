// The host's main-menu manager.
#pragma once

#include "intfBase.h"

#include "intfEventManager.h"
#include <cstdint>

#include <string>

namespace pallux {

// A menu click handler bound to an object; a click after the object is gone does nothing.
using TNotifyProc = void (*)(void* self);
struct TNotifyHandler {
    TSubscriberFlagRef Owner;
    TNotifyProc Proc = nullptr;
    void* Self = nullptr;

    // Binds a click method void T::M() of an object whose token is given.
    template <auto Method, class T> static TNotifyHandler Bind(const TEventSubscriberToken& token, T* self) {
        return {token.Flag(), [](void* s) { (static_cast<T*>(s)->*Method)(); }, self};
    }
};

class IMainMenuManager : public IInterface {
public:
    static constexpr TGUID IID{"{18EFA31B-CB57-4086-9B08-DFB4F40E69CE}"};

    // Adds an entry to the named menu of the main form; caption "-" with no handler is a
    // separator; index -1 appends.
    virtual void PALLUX_CALL AddMenuItem(const std::string& menuName, const std::string& caption,
                                         const TNotifyHandler& onClick, std::int32_t index) = 0;
};

} // namespace pallux
