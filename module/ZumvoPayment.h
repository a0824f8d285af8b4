// The module's exports: the host hands over its service container with InitModule and takes
// the module's services back with FinalModule.
#pragma once

#include "intfDI.h"

PALLUX_EXPORT void PALLUX_CALL InitModule(pallux::IDIContainer* container);
PALLUX_EXPORT void PALLUX_CALL FinalModule();
