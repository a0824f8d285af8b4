// The module's file and its settings file by the platform's names, as the host loads them.
#pragma once

namespace zumvo::test {

#ifdef _WIN32
inline constexpr const char* ModuleFile = "ZumvoPayment.dll";
inline constexpr const char* ModuleSettingsFile = "ZumvoPayment.ini";
#else
inline constexpr const char* ModuleFile = "libZumvoPayment.so";
inline constexpr const char* ModuleSettingsFile = "libZumvoPayment.ini";
#endif

} // namespace zumvo::test
