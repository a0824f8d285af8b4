// A busy indicator for a push button: a busy caption, the button disabled, a thin bar.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

class QAbstractButton;

namespace zumvo {

class IButtonProgress : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{8BCFF438-C0C4-4194-B7F9-30305B3D7A08}"};

    // The caption shown while busy ("Working..." unless set).
    virtual void SetCaption(const std::string& caption) = 0;
    // The bar's position, 0 to 100 (clamped).
    virtual void SetPosition(std::int32_t position) = 0;
    // Begins the busy display on the button (remembers its caption, disables it).
    virtual void Start(QAbstractButton* control) = 0;
    // Gives the button its caption back and enables it; the bar stays until destruction.
    virtual void Stop() = 0;
};

} // namespace zumvo
