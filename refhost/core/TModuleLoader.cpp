#include "TModuleLoader.h"

#include <dlfcn.h>
#include <stdexcept>

namespace refhost {

TModuleLoader::TModuleLoader(const std::filesystem::path& file) : FFile(std::filesystem::absolute(file)) {
    if (!std::filesystem::exists(FFile))
        throw std::runtime_error("Module not found: " + FFile.string());
    FHandle = dlopen(FFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle)
        throw std::runtime_error("Cannot load module " + FFile.string() + ": " + dlerror());
    FInit = reinterpret_cast<pallux::TInitModuleProc>(dlsym(FHandle, pallux::InitModuleName));
    FFinal = reinterpret_cast<pallux::TFinalModuleProc>(dlsym(FHandle, pallux::FinalModuleName));
    if (!FInit || !FFinal) {
        dlclose(FHandle);
        FHandle = nullptr;
        throw std::runtime_error("Module " + FFile.string() + " does not export InitModule and FinalModule");
    }
}

TModuleLoader::~TModuleLoader() {
    Unload();
}

void TModuleLoader::Unload() {
    if (FHandle) {
        dlclose(FHandle);
        FHandle = nullptr;
    }
}

} // namespace refhost
