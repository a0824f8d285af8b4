// Operations whose service is not available in this build log that fact and return their
// results as they stood.
#pragma once

#include "ZumvoLog.h"

#include <string_view>

namespace zumvo {

inline void NotAvailable(std::string_view classMethod) {
    LogError(classMethod, "not available");
}

} // namespace zumvo
