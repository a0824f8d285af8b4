// The module's platform layer on Linux: the module file's path from the dynamic loader, and the
// load and unload hooks as the library's constructor and destructor. The hooks are compiled into
// the shared library only (ZUMVO_LIBRARY_HOOKS); the unit tests link the path look-up alone.
#include "ZumvoPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace zumvo {

std::filesystem::path ModuleFilePath() {
    // The loader's name for the object that holds this function: the module itself.
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ModuleFilePath), &info) != 0 && info.dli_fname)
        return std::filesystem::absolute(info.dli_fname);
    return {};
}

std::filesystem::path HostProgramFile() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}

std::filesystem::path UserLogFolder() {
    // The XDG base directories: logs are state, kept across runs.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::filesystem::path(state) / "zumvo";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::filesystem::path(home) / ".local" / "state" / "zumvo";
    // Not std::to_string: its digit table is a unique symbol, which would keep this library from
    // ever being unloaded.
    char name[32];
    std::snprintf(name, sizeof name, "zumvo-%u", static_cast<unsigned>(getuid()));
    return std::filesystem::temp_directory_path() / name;
}

} // namespace zumvo

#ifdef ZUMVO_LIBRARY_HOOKS

namespace {

// Set by a process exit handler. Exit handlers run before the loader finalises the libraries
// that are still loaded; on an explicit unload this library's finaliser runs before its own
// exit handlers. So the finaliser sees the flag set only when the process is ending.
bool gProcessExiting = false;

void MarkProcessExiting() {
    gProcessExiting = true;
}

__attribute__((constructor)) void ZumvoLibraryLoad() {
    zumvo::ModuleLoaded();
    std::atexit(MarkProcessExiting);
}

__attribute__((destructor)) void ZumvoLibraryUnload() {
    zumvo::ModuleUnloading(gProcessExiting);
}

} // namespace

#endif
