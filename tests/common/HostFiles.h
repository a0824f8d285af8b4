// The module's file and its settings file by the platform's names, as the host loads them.
#pragma once

namespace zumvo::test {

#ifdef _WIN32
inline constexpr const char* ModuleFileName = "ZumvoPayment.dll";
inline constexpr const char* ModuleSettingsFileName = "ZumvoPayment.ini";
#else
inline constexpr const char* ModuleFileName = "libZumvoPayment.so";
inline constexpr const char* ModuleSettingsFileName = "libZumvoPayment.ini";
#endif

} // namespace zumvo::test
