// Child processes for the tests, on Linux and Windows alike: a program started with its
// arguments (no shell in between), its standard output read line by line with a time-out or
// written to a file, waited for with a time-out, killed, and how it ended.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zumvo::test {

// How a child process ended.
struct TExitStatus {
    bool Exited = false; // ended by itself (returned from main, exit), with Code
    int Code = -1;       // its exit code when Exited
    bool Killed = false; // killed by the test (Kill, or Wait's time-out ran out)
    int Signal = 0;      // Linux: the signal that ended it; 0 when it exited

    // Ended by itself with exit code 0.
    bool Ok() const { return Exited && Code == 0; }
    // How Stop ends a program that honours the request: Linux: it exits with 0 on SIGTERM;
    // Windows: killed (there is no stop request without a shared console).
    bool StoppedCleanly() const {
#ifdef _WIN32
        return Killed;
#else
        return Ok();
#endif
    }
    // "exit 2", "killed", "signal 15", for failure messages.
    std::string Text() const;
};

struct TChildOptions {
    // Empty: standard output goes to a pipe the test reads (ReadLine, ReadAll), standard error
    // to the test's own. Otherwise both are appended to this file.
    std::string OutputFile;
    // With the pipe: standard error goes into it as well.
    bool MergeErrors = false;
    // With the pipe: standard error is dropped (the null device).
    bool DropErrors = false;
    // Variables set for the child on top of the test's own environment.
    std::vector<std::pair<std::string, std::string>> Environment;
};

class TChildProcess {
public:
    // Starts program (a path; on Windows ".exe" is not added) with args. A program that cannot be
    // started ends at once with exit code 127.
    TChildProcess(const std::string& program, const std::vector<std::string>& args,
                  const TChildOptions& options = {});
    // Kills the child when it still runs.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // One line of the child's standard output, without its end (LF or CR LF); empty when none
    // came within timeoutMs or the child closed its output.
    std::string ReadLine(int timeoutMs = 10000);
    // Everything the child writes until it closes its output or timeoutMs passed.
    std::string ReadAll(int timeoutMs = 60000);

    // Waits for the child to end; after timeoutMs it is killed (Killed is then set).
    TExitStatus Wait(int timeoutMs = 60000);
    // Kills the child at once (Linux: SIGKILL; Windows: TerminateProcess). A child that had
    // already ended keeps its own status.
    TExitStatus Kill();
    // Asks the child to end (Linux: SIGTERM) and waits for it. Windows has no such request for a
    // program without a console of its own: there the child is killed.
    TExitStatus Stop(int timeoutMs = 20000);

    // The process id (Linux: for kill(2) checks; Windows: the process's id).
    long Pid() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// A program run to its end: its exit status and its standard output and error, together.
struct TProgramRun {
    TExitStatus Status;
    std::string Output;
    bool Has(const std::string& text) const { return Output.find(text) != std::string::npos; }
    // The exit code; -1 when the program did not exit by itself.
    int ExitCode() const { return Status.Exited ? Status.Code : -1; }
};
// Runs program with args to its end (killed after timeoutMs), with environment on top of the
// test's own.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       int timeoutMs = 120000,
                       const std::vector<std::pair<std::string, std::string>>& environment = {});

// A program of the build's bin folder by its name without extension ("Invoicing").
std::string BuiltProgram(const std::string& name);

// The port of a "listening on PORT" line, 0 when the line is not one.
int AnnouncedPort(const std::string& line);

// Removes a test's folder with everything in it, never throwing: on Windows a program just killed
// may hold one of its files a moment longer, so it tries again for up to two seconds.
void RemoveFolder(const std::filesystem::path& folder);

} // namespace zumvo::test
