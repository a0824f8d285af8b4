// The module-wide reference to the host's service container, and the module file's own path.
#pragma once

#include "ZumvoLog.h"
#include "ZumvoPlatform.h"
#include "intfDI.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace zumvo {

// The one container reference every unit looks services up through. Empty before InitModule
// and after FinalModule.
pallux::IntfPtr<pallux::IDIContainer>& ModuleContainer();

// The container, or an error when the module holds none.
pallux::IDIContainer& Container();

// The module's settings file: its own path with the extension ".ini".
std::string ModuleSettingsFile();
// The settings file of a module file: the same folder and name, the extension ".ini" (a folder
// of any kind: a drive's, a share's \\server\share\..., with blanks and letters outside ASCII).
std::filesystem::path SettingsFileOf(const std::filesystem::path& moduleFile);
// The module's log settings for a module file: the log in the module's folder, named after the
// module file (<name>_<computer>.log), with the module's rotation and archive policy. The caller
// adds the fallback folders and the version.
TLogSettings ModuleLogSettings(const std::filesystem::path& moduleFile);

// Why the settings file cannot be read, naming the file and the user ("... cannot be read by the
// user till (uid 1001): Permission denied"); empty when it can be read or does not exist (a
// missing file is read as empty settings, as before).
std::string SettingsFileFault(const std::filesystem::path& file);
// SettingsFileFault of the module's settings file. The first reason found is logged, once while
// the module is loaded: a till user outside the settings' group is told why, not only that
// settings are missing.
std::string ModuleSettingsFault();

// Typed look-ups through the module's container. Each answers whether the container supplied
// the service.
template <class T> bool CreateService(pallux::IntfPtr<T>& out) {
    out.reset();
    auto& c = ModuleContainer();
    return c && c->CreateInstance(out);
}
template <class T> bool GetSingletonService(pallux::IntfPtr<T>& out) {
    out.reset();
    auto& c = ModuleContainer();
    return c && c->GetSingleton(out);
}
template <class T> bool GetInstanceService(pallux::IntfPtr<T>& out) {
    out.reset();
    auto& c = ModuleContainer();
    return c && c->GetInstance(out);
}

// A service reference used without a prior test: an empty one raises an error naming the
// service (which the operation's handler logs) instead of being dereferenced.
template <class T> T& Use(const pallux::IntfPtr<T>& service, const char* name) {
    if (!service)
        throw std::runtime_error(std::string(name) + " is not available");
    return *service;
}

} // namespace zumvo
