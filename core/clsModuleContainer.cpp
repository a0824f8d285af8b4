#include "clsModuleContainer.h"

#include "ZumvoLog.h"
#include "clsSysUtils.h"

#include <fmt/format.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace zumvo {

pallux::IntfPtr<pallux::IDIContainer>& ModuleContainer() {
    static pallux::IntfPtr<pallux::IDIContainer> container;
    return container;
}

pallux::IDIContainer& Container() {
    auto& c = ModuleContainer();
    if (!c)
        throw std::runtime_error("The module holds no service container");
    return *c;
}

std::string ModuleSettingsFile() {
    return pallux::PathToUtf8(SettingsFileOf(ModuleFilePath()));
}

std::filesystem::path SettingsFileOf(const std::filesystem::path& moduleFile) {
    std::filesystem::path path = moduleFile;
    path.replace_extension(".ini");
    return path;
}

TLogSettings ModuleLogSettings(const std::filesystem::path& moduleFile) {
    TLogSettings settings;
    settings.DestinationPath = moduleFile.parent_path();
    settings.BaseName = pallux::PathToUtf8(moduleFile.stem());
    settings.DefaultExtension = ".log";
    settings.IncludeComputerNameInFileName = true;
    settings.RotateFileSizeKB = 2048;
    settings.RotateFileCount = 10;
    settings.ArchiveAfterDays = 2;
    settings.EndOfLineCRLF = true;
    settings.AppendWithHeader = true;
    return settings;
}

namespace {

// Set once the settings' fault is logged; cleared never (one line per loaded module).
constinit std::atomic<bool> gSettingsFaultLogged{false};

std::string CurrentUserText() {
#ifdef _WIN32
    return "this user";
#else
    const uid_t uid = ::geteuid();
    const passwd* pw = ::getpwuid(uid);
    return fmt::format("the user {} (uid {})", pw && pw->pw_name ? pw->pw_name : "?",
                       static_cast<unsigned>(uid));
#endif
}

} // namespace

std::string SettingsFileFault(const std::filesystem::path& file) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        return fmt::format("The settings file {} cannot be read by {}: {}", pallux::PathToUtf8(file),
                           CurrentUserText(), ec.message());
    if (!std::filesystem::exists(status))
        return {};
    if (std::filesystem::is_directory(status))
        return fmt::format("The settings file {} cannot be read: it is a folder", pallux::PathToUtf8(file));
#ifdef _WIN32
    std::FILE* f = _wfopen(file.c_str(), L"rb");
#else
    std::FILE* f = std::fopen(file.c_str(), "rbe");
#endif
    if (!f)
        return fmt::format("The settings file {} cannot be read by {}: {}", pallux::PathToUtf8(file),
                           CurrentUserText(), std::strerror(errno));
    std::fclose(f);
    return {};
}

std::string ModuleSettingsFault() {
    std::string fault = SettingsFileFault(pallux::Utf8ToPath(ModuleSettingsFile()));
    if (!fault.empty() && !gSettingsFaultLogged.exchange(true))
        LogError("ModuleSettings", fault + "; every setting is taken as missing");
    return fault;
}

} // namespace zumvo
