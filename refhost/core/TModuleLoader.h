// Loads a module library, hands it the container (InitModule) and takes it back (FinalModule).
#pragma once

#include "intfModuleEntry.h"

#include <filesystem>
#include <string>

namespace refhost {

class TModuleLoader {
public:
    // Loads the library; an error names the file and the loader's reason.
    explicit TModuleLoader(const std::filesystem::path& file);
    ~TModuleLoader(); // unloads, without calling FinalModule
    TModuleLoader(const TModuleLoader&) = delete;
    TModuleLoader& operator=(const TModuleLoader&) = delete;

    void Init(pallux::IDIContainer& container) { FInit(&container); }
    void Final() { FFinal(); }
    // Frees the library (dlclose, FreeLibrary); the handle is gone afterwards.
    void Unload();
    bool Loaded() const { return FHandle != nullptr; }
    const std::filesystem::path& File() const { return FFile; }

private:
    std::filesystem::path FFile;
    void* FHandle = nullptr;
    pallux::TInitModuleProc FInit = nullptr;
    pallux::TFinalModuleProc FFinal = nullptr;
};

} // namespace refhost
