#include "TModuleLoader.h"

#include "clsSysUtils.h"

#include <stdexcept>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace refhost {

namespace {

#ifdef _WIN32
std::string LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string out = text ? pallux::PathToUtf8(std::filesystem::path(text)) : std::string();
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out + " (error " + std::to_string(code) + ")";
}

void* OpenLibrary(const std::filesystem::path& file) {
    return LoadLibraryW(file.c_str());
}
void* Symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
#else
std::string LastErrorText() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

void* OpenLibrary(const std::filesystem::path& file) {
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* Symbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
void CloseLibrary(void* handle) {
    dlclose(handle);
}
#endif

} // namespace

TModuleLoader::TModuleLoader(const std::filesystem::path& file) : FFile(std::filesystem::absolute(file)) {
    if (!std::filesystem::exists(FFile))
        throw std::runtime_error("Module not found: " + pallux::PathToUtf8(FFile));
    FHandle = OpenLibrary(FFile);
    if (!FHandle)
        throw std::runtime_error("Cannot load module " + pallux::PathToUtf8(FFile) + ": " + LastErrorText());
    FInit = reinterpret_cast<pallux::TInitModuleProc>(Symbol(FHandle, pallux::InitModuleName));
    FFinal = reinterpret_cast<pallux::TFinalModuleProc>(Symbol(FHandle, pallux::FinalModuleName));
    if (!FInit || !FFinal) {
        CloseLibrary(FHandle);
        FHandle = nullptr;
        throw std::runtime_error("Module " + pallux::PathToUtf8(FFile) +
                                 " does not export InitModule and FinalModule");
    }
}

TModuleLoader::~TModuleLoader() {
    Unload();
}

void TModuleLoader::Unload() {
    if (FHandle) {
        CloseLibrary(FHandle);
        FHandle = nullptr;
    }
}

} // namespace refhost
