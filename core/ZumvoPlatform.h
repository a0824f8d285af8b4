// The module's platform layer. Each system has one platform file that provides the module
// file's path and installs the library's load and unload hooks: ZumvoPlatformLinux.cpp here;
// a Windows build adds its own (GetModuleFileName, DllMain and the DLL notification hook).
#pragma once

#include "ZumvoLogFolder.h"

#include <filesystem>
#include <vector>

namespace zumvo {

// Provided by the platform file: the full path of the module file itself (not of the host
// program); empty when the system cannot tell.
std::filesystem::path ModuleFilePath();

// Provided by the platform file: the full path of the host program (the process's executable);
// empty when the system cannot tell.
std::filesystem::path HostProgramFile();

// Provided by the platform file: the folders for the module's log when the module's folder cannot
// hold it (an installed module's folder belongs to the system), in the order they are tried.
std::vector<TLogFolder> LogFallbackFolders();

// Provided by the library entry (ZumvoPayment.cpp), called by the platform's hooks.
// ModuleLoaded: once, when the library is loaded, before InitModule.
void ModuleLoaded();
// ModuleUnloading: once, when the library is freed; processEnding tells an unload at the end of
// the process (nothing is withdrawn then) from an explicit one (FinalModule runs if still due).
void ModuleUnloading(bool processEnding);

} // namespace zumvo
