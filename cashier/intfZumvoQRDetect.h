// Reading a Zumvo from a QR code through the external QR reader program.
#pragma once

#include "intfBase.h"

#include <string>

namespace zumvo {

class IZumvoQRDetect : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{2FABF5A0-DC5D-407A-91B3-DF13440E0992}"};

    // Runs the reader and answers true with the code type ("QR" for a QR code) and the code
    // when it wrote "READY" and a second line; false (outputs untouched) otherwise, also when
    // the reader is missing or was stopped. Never raises; nothing is shown to the cashier.
    virtual bool GetQRCode(std::string& codeType, std::string& code) = 0;
};

} // namespace zumvo
