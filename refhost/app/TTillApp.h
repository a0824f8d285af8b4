// Invoicing's till: the till window for a person, or a scenario run headless on the offscreen
// platform.
#pragma once

#include <filesystem>

namespace refhost {

class TRefHost;

// Runs the till window until it is closed; with a scenario file, runs the scenario in it and
// answers its exit code (0 passed, 1 failed, 2 the scenario could not be read). The module must
// be loaded; everything the till holds of it is released before this returns.
int RunTill(TRefHost& host, int argc, char** argv, const std::filesystem::path& scenario);

} // namespace refhost
