// Runs a command line through the shell and keeps its exit code and its output.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace zumvo::test {

struct TRun {
    int Status;
    std::string Output; // standard output and error
    bool Has(const std::string& text) const { return Output.find(text) != std::string::npos; }
};

inline TRun RunProgram(const std::string& commandLine) {
    FILE* p = popen((commandLine + " 2>&1").c_str(), "r");
    if (!p)
        return {-1, "popen failed"};
    std::string out;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

} // namespace zumvo::test
