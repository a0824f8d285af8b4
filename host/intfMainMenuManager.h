// The host's main-menu manager.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pallux {

// A menu click handler bound to an object; a click after the object is gone does nothing.
struct TNotifyHandler {
    std::weak_ptr<const void> Owner;
    std::function<void()> Method;
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
