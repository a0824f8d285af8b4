// Shared by the fuzz targets: a failed property stops the run with a message, like a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zumvo::fuzz {

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what.c_str());
    std::abort();
}

inline void Check(bool condition, const std::string& what) {
    if (!condition)
        Fail(what);
}

} // namespace zumvo::fuzz
