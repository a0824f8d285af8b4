// The host's message boxes.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace pallux {

// Message types.
inline constexpr std::int32_t mtWarning = 0;
inline constexpr std::int32_t mtError = 1;
inline constexpr std::int32_t mtInformation = 2;
inline constexpr std::int32_t mtConfirmation = 3;

// The buttons a message offers, as a bit set.
inline constexpr std::int32_t mbYes = 1;
inline constexpr std::int32_t mbNo = 2;
inline constexpr std::int32_t mbOK = 4;
inline constexpr std::int32_t mbCancel = 8;

// The answer of a message: which button was pressed.
inline constexpr std::int32_t mrOK = 1;
inline constexpr std::int32_t mrCancel = 2;
inline constexpr std::int32_t mrYes = 6;
inline constexpr std::int32_t mrNo = 7;

class IDisplayMessage : public IInterface {
public:
    static constexpr TGUID IID{"{089CDDEF-DB06-434D-BB52-478D7D3F2643}"};

    virtual std::int32_t PALLUX_CALL ShowMessage(const std::string& text, std::int32_t msgType,
                                                 std::int32_t buttons) = 0;
    virtual std::int32_t PALLUX_CALL ShowIdentifiedMessage(const std::string& text,
                                                           const std::string& identifier, std::int32_t number,
                                                           std::int32_t msgType, std::int32_t buttons) = 0;
    virtual std::int32_t PALLUX_CALL ShowKeyedMessage(const std::string& text, const std::string& identifier,
                                                      std::int32_t buttons, std::int32_t number) = 0;
};

} // namespace pallux
