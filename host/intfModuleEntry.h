// The two functions every module library exports, and the pointer types a host looks them up
// as (dlsym on Linux, GetProcAddress on Windows). A module defines them; a host calls them.
//
// The contract:
// - InitModule(container) is called once, right after the library is loaded, with the host's
//   service container. The module keeps its own reference to the container (AddRef) and
//   registers its services. An exception it raises reaches the host: the host reports it and
//   does not use the module further (it still calls FinalModule before unloading).
// - FinalModule() is called once before the host unloads the library. The module withdraws every
//   registration it made, raises nothing, and releases the container. A second call, or a call
//   without InitModule, does nothing.
// - Both are called on the host's main (GUI) thread, and never at the same time.
// - Both are exported unmangled (extern "C") with the calling convention PALLUX_CALL (__stdcall
//   on Windows, the platform's default elsewhere).
#pragma once

#include "intfDI.h"

namespace pallux {

// InitModule as a host looks it up.
using TInitModuleProc = void(PALLUX_CALL*)(IDIContainer* container);
// FinalModule as a host looks it up.
using TFinalModuleProc = void(PALLUX_CALL*)();

// The exported names.
inline constexpr const char* InitModuleName = "InitModule";
inline constexpr const char* FinalModuleName = "FinalModule";

} // namespace pallux

// The exports, as a module defines them (declared here so that a module's definitions are checked
// against the pointer types above).
PALLUX_EXPORT void PALLUX_CALL InitModule(pallux::IDIContainer* container);
PALLUX_EXPORT void PALLUX_CALL FinalModule();
