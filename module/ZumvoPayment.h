// The module's exports: the host hands over its service container with InitModule and takes
// the module's services back with FinalModule.
#pragma once

#include "intfDI.h"

// Called by the host once after loading the library. Keeps a reference to the container for the
// module's lifetime and registers the module's twelve services in their fixed order, building the
// identity singleton and the menu integration on the way. Catches nothing: a failing registration
// reaches the host.
PALLUX_EXPORT void PALLUX_CALL InitModule(pallux::IDIContainer* container);

// Called by the host before it frees the library (and by the unload hook when it did not).
// Withdraws every registration in the fixed order, each even when one before it failed (failures
// are logged as "[FinalModule] Error : ..." and never raised), then releases the container. Does
// nothing when no container is held, so a second call is harmless.
PALLUX_EXPORT void PALLUX_CALL FinalModule();
