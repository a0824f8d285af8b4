// The module's platform layer on Windows: the module file's own path from the loader (wide
// characters throughout: the module may live under C:\Program Files\Pallux\Zumvo Modul\ or in a
// folder with letters outside the ANSI code page), the user's log folder, and DllMain with the
// library's unload hook. The hooks are compiled into the DLL only (ZUMVO_LIBRARY_HOOKS); the unit
// tests link the path look-up alone.
#include "ZumvoPlatform.h"

#include <windows.h>

#include <string>

namespace zumvo {

namespace {

// The file of a loaded module (null: the process's executable). GetModuleFileNameW cuts a name
// that does not fit, and says so only by filling the buffer: grow until it fits, up to the
// longest path the system allows.
std::filesystem::path ModuleFile(HMODULE module) {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return {};
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name);
        }
        if (name.size() >= 32768)
            return {};
        name.resize(name.size() * 2);
    }
}

} // namespace

std::filesystem::path ModuleFilePath() {
    // The module that holds this function: the DLL itself, not the host program.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleFilePath), &self))
        return {};
    return ModuleFile(self);
}

std::filesystem::path HostProgramFile() {
    return ModuleFile(nullptr);
}

std::vector<TLogFolder> LogFallbackFolders() {
    // The user's local application data (logs stay on this machine, not in a roaming profile);
    // the user's temporary folder (itself private to the user) when that is not set.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        return {{std::filesystem::path(folder) / L"Zumvo", TLogFolderKind::Own}};
    std::error_code ec;
    return {{std::filesystem::temp_directory_path(ec) / L"Zumvo", TLogFolderKind::Own}};
}

} // namespace zumvo

#ifdef ZUMVO_LIBRARY_HOOKS

namespace {

// The library's unload hook, called with the loader's (reason, reserved) for every notification.
// On DLL_PROCESS_DETACH, reserved is null when the library is being freed (FreeLibrary) and not
// null when the process is ending: only the first withdraws the registrations (FinalModule, if
// the host did not call it); at the end of the process the host's container may be gone already.
void ModuleUnloadHook(DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH)
        zumvo::ModuleUnloading(reserved != nullptr);
}

} // namespace

// Runs under the loader lock: the load code only opens the log file (no thread, no library load).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // No thread notifications: the module starts no threads and needs none.
        DisableThreadLibraryCalls(instance);
        zumvo::ModuleLoaded();
        break;
    case DLL_PROCESS_DETACH:
        ModuleUnloadHook(reason, reserved);
        break;
    default:
        break;
    }
    return TRUE;
}

#endif
