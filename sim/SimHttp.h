// cpp-httplib, for the simulators and the suites that talk to them. On Windows it brings in
// windows.h, whose macros would rename names of the host SDK (CreateService, S_OK, ...) in any
// unit that includes both: they are undone here.
#pragma once

#include <httplib.h>

#ifdef _WIN32
#undef CreateService
#undef E_NOINTERFACE
#undef S_OK
#endif
