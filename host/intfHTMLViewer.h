// The host's HTML viewer.
#pragma once

#include "intfBase.h"

#include <string>

namespace pallux {

class IHTMLViewer : public IInterface {
public:
    static constexpr TGUID IID{"{81D81A77-941E-4514-8CA5-05169CDC91BB}"};

    virtual void PALLUX_CALL SetCaption(const std::string& caption) = 0;
    virtual void PALLUX_CALL ShowURL(const std::string& url) = 0;
    virtual void PALLUX_CALL Clear() = 0;
    virtual void PALLUX_CALL ShowHTML(const std::string& html) = 0;
};

} // namespace pallux
