// The module's exports: the host hands over its service container with InitModule and takes
// the module's services back with FinalModule. Their declarations and contract are the host
// SDK's (intfModuleEntry.h); what follows is what this module does in them.
#pragma once

#include "intfModuleEntry.h"

// InitModule: keeps a reference to the container for the module's lifetime and registers the
// module's twelve services in their fixed order, building the identity singleton and the menu
// integration on the way. Catches nothing: a failing registration reaches the host.
//
// FinalModule: withdraws every registration in the fixed order, each even when one before it
// failed (failures are logged as "[FinalModule] Error : ..." and never raised), then releases the
// container. Does nothing when no container is held, so a second call is harmless.

// The definitions match the pointer types hosts look them up as.
static_assert(std::is_same_v<decltype(&InitModule), pallux::TInitModuleProc>);
static_assert(std::is_same_v<decltype(&FinalModule), pallux::TFinalModuleProc>);
