#include "clsProgramArgs.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>
#endif

namespace zumvo {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) {
            const std::u8string text = std::filesystem::path(wide[i]).u8string();
            args.emplace_back(text.begin(), text.end());
        }
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::filesystem::path ProgramFile(const char* argv0) {
#ifdef _WIN32
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length > 0 && length < name.size())
        return std::filesystem::path(name.substr(0, length));
#else
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return program;
#endif
    return std::filesystem::absolute(argv0);
}

} // namespace zumvo
