#include "HostResFolder.h"

#ifndef ZUMVO_RES_FROM_PROGRAM
#define ZUMVO_RES_FROM_PROGRAM "../share/zumvo/refhost/Res"
#endif

namespace zumvo {

std::filesystem::path HostResFolder(const std::filesystem::path& programFolder) {
    std::error_code ec;
    const auto beside = programFolder / "Res";
    if (std::filesystem::is_directory(beside, ec))
        return beside;
    const auto installed = (programFolder / ZUMVO_RES_FROM_PROGRAM).lexically_normal();
    if (std::filesystem::is_directory(installed, ec))
        return installed;
    return beside;
}

} // namespace zumvo
