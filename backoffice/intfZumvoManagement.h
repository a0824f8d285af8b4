// The menu integration; an interface without operations of its own.
#pragma once

#include "intfBase.h"

namespace zumvo {

class IZumvoManagement : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{4668AAA9-7DFA-49C0-A431-A8E8C1DA6F87}"};
};

} // namespace zumvo
