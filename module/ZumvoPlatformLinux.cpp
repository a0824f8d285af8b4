// The module's platform layer on Linux: the module file's path from the dynamic loader, and the
// load and unload hooks as the library's constructor and destructor. The hooks are compiled into
// the shared library only (ZUMVO_LIBRARY_HOOKS); the unit tests link the path look-up alone.
#include "ZumvoPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace zumvo {

namespace {
// Made by the package, root:zumvo 2770.
constexpr const char* SharedLogFolder = "/var/log/zumvo";
} // namespace

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

std::vector<TLogFolder> LogFallbackFolders() {
    std::vector<TLogFolder> folders;
    // The XDG base directories: logs are state, kept across runs. A home that does not exist (a
    // system account's /nonexistent) is not made.
    std::error_code ec;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        folders.push_back({std::filesystem::path(state) / "zumvo", TLogFolderKind::Own});
    else if (const char* home = std::getenv("HOME");
             home && *home == '/' && std::filesystem::is_directory(home, ec))
        folders.push_back({std::filesystem::path(home) / ".local" / "state" / "zumvo", TLogFolderKind::Own});
    // The package's log folder, writable by the group zumvo: the place of an account without a
    // home (a till run as a service). Only when the package made it.
    if (std::filesystem::is_directory(SharedLogFolder, ec))
        folders.push_back({SharedLogFolder, TLogFolderKind::Shared});
    // Not std::to_string: its digit table is a unique symbol, which would keep this library from
    // ever being unloaded.
    char name[32];
    std::snprintf(name, sizeof name, "zumvo-%u", static_cast<unsigned>(getuid()));
    const auto temp = std::filesystem::temp_directory_path(ec);
    folders.push_back({(ec ? std::filesystem::path("/tmp") : temp) / name, TLogFolderKind::Temporary});
    return folders;
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
