// A program's own command line and file, as every program of the project reads them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zumvo {

// The arguments after the program's name, as UTF-8. On Windows main's argv is in the ANSI code
// page, which cannot hold every file name: there they come from the wide command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The running program's own file: argv[0] may be a bare name found on the PATH.
std::filesystem::path ProgramFile(const char* argv0);

} // namespace zumvo
