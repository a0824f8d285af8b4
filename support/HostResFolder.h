// The host's Res folder (its style sheets), which report pages name as their base.
#pragma once

#include <filesystem>

namespace zumvo {

// The Res folder of the host program in programFolder: "Res" beside the program when that folder
// is there (the suite's layout, and the build tree), else the installed host's data folder
// relative to the program's folder (from /usr/bin: /usr/share/zumvo/refhost/Res) when that is
// there, else "Res" beside the program.
std::filesystem::path HostResFolder(const std::filesystem::path& programFolder);

} // namespace zumvo
