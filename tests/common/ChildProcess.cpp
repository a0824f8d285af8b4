#include "ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <cwctype>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace zumvo::test {

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Takes one line (without LF or CR LF) off the front of buffer; false when it holds no whole line.
bool TakeLine(std::string& buffer, std::string& line) {
    const std::size_t end = buffer.find('\n');
    if (end == std::string::npos)
        return false;
    line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

} // namespace

std::string TExitStatus::Text() const {
    if (Killed)
        return "killed";
    if (Exited)
        return "exit " + std::to_string(Code);
    if (Signal)
        return "signal " + std::to_string(Signal);
    return "not ended";
}

#ifdef _WIN32

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// One argument as the C runtime's command-line parser splits it back (CommandLineToArgvW's
// rules): quoted when it is empty or holds blanks or quotes; backslashes doubled only before a
// quote.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != arg.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == arg.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted.push_back(*it);
    }
    quoted.push_back(L'"');
    return quoted;
}

std::wstring UpperName(const std::wstring& entry) {
    std::wstring name = entry.substr(0, entry.find(L'=', 1));
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towupper(c); });
    return name;
}

// The test's environment with the additions, as CreateProcessW takes it (sorted by name).
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& additions) {
    std::vector<std::wstring> entries;
    if (wchar_t* own = GetEnvironmentStringsW()) {
        for (const wchar_t* p = own; *p; p += wcslen(p) + 1)
            entries.emplace_back(p);
        FreeEnvironmentStringsW(own);
    }
    for (const auto& [name, value] : additions) {
        const std::wstring entry = Widen(name) + L"=" + Widen(value);
        const std::wstring upper = UpperName(entry);
        std::erase_if(entries, [&](const std::wstring& e) { return UpperName(e) == upper; });
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::wstring& a, const std::wstring& b) { return UpperName(a) < UpperName(b); });
    std::wstring block;
    for (const auto& e : entries)
        block += e + L'\0';
    block += L'\0';
    return block;
}

// A handle the child inherits: the only inheritable ones are made here, and each is named in
// the child's handle list, so that no other child started meanwhile inherits it.
HANDLE InheritableCopy(HANDLE h) {
    HANDLE copy = nullptr;
    if (!h || h == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

HANDLE OpenNul(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                       nullptr);
}

std::atomic<unsigned> PipeCounter{0};

} // namespace

struct TChildProcess::TImpl {
    HANDLE Process = nullptr;
    HANDLE Read = nullptr; // the pipe's reading end (overlapped); null when output goes to a file
    HANDLE ReadDone = nullptr;
    OVERLAPPED Pending{};
    bool Reading = false; // a read is under way into Chunk
    char Chunk[4096]{};
    std::string Buffer;
    bool Eof = false;
    bool Ended = false;
    TExitStatus Status;

    // Reads what arrives before the deadline into Buffer; false at the end of the output or when
    // nothing came in time.
    bool ReadSome(TClock::time_point deadline) {
        if (!Read || Eof)
            return false;
        if (!Reading) {
            ResetEvent(ReadDone);
            Pending = OVERLAPPED{};
            Pending.hEvent = ReadDone;
            if (!ReadFile(Read, Chunk, sizeof Chunk, nullptr, &Pending) &&
                GetLastError() != ERROR_IO_PENDING) {
                Eof = true; // ERROR_BROKEN_PIPE: every writer has closed its end
                return false;
            }
            Reading = true;
        }
        if (WaitForSingleObject(ReadDone, static_cast<DWORD>(MsLeft(deadline))) != WAIT_OBJECT_0)
            return false; // the read stays under way for the next call
        Reading = false;
        DWORD n = 0;
        if (!GetOverlappedResult(Read, &Pending, &n, FALSE)) {
            Eof = true;
            return false;
        }
        Buffer.append(Chunk, n);
        return true;
    }

    TExitStatus Finish(bool killed) {
        DWORD code = 0;
        GetExitCodeProcess(Process, &code);
        Ended = true;
        Status = {};
        Status.Killed = killed;
        Status.Exited = !killed;
        Status.Code = static_cast<int>(code);
        return Status;
    }
};

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const TChildOptions& options)
    : FImpl(std::make_unique<TImpl>()) {
    TImpl& d = *FImpl;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = nullptr;
    HANDLE err = nullptr;
    HANDLE in = OpenNul(GENERIC_READ);
    if (!options.OutputFile.empty()) {
        out = CreateFileW(std::filesystem::path(Widen(options.OutputFile)).wstring().c_str(),
                          FILE_APPEND_DATA | SYNCHRONIZE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot open " + options.OutputFile);
        err = InheritableCopy(out);
    } else {
        const std::wstring name = L"\\\\.\\pipe\\zumvo-test-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(PipeCounter++);
        d.Read = CreateNamedPipeW(name.c_str(),
                                  PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        if (d.Read == INVALID_HANDLE_VALUE)
            throw std::runtime_error("CreateNamedPipe failed");
        out = CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
        if (out == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot open the pipe's writing end");
        d.ReadDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        err = options.MergeErrors  ? InheritableCopy(out)
              : options.DropErrors ? nullptr
                                   : InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));
        if (!err)
            err = OpenNul(GENERIC_WRITE);
    }

    std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(Widen(program)));
    path.make_preferred();
    std::wstring commandLine = L"\"" + path.wstring() + L"\"";
    for (const auto& a : args)
        commandLine += L" " + QuoteArgument(Widen(a));
    std::wstring environment;
    if (!options.Environment.empty())
        environment = EnvironmentBlock(options.Environment);

    // Only these handles are inherited.
    std::vector<HANDLE> handles{in, out};
    if (err != out)
        handles.push_back(err);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributeMemory(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeMemory.data());
    InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                              handles.size() * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = in;
    start.StartupInfo.hStdOutput = out;
    start.StartupInfo.hStdError = err;
    start.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(path.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                   EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                                   environment.empty() ? nullptr : environment.data(), nullptr,
                                   &start.StartupInfo, &started);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    for (HANDLE h : handles)
        CloseHandle(h);
    if (!ok) {
        std::cerr << "cannot start " << program << ": error " << error << std::endl;
        d.Ended = true;
        d.Eof = true;
        d.Status.Exited = true;
        d.Status.Code = 127;
        return;
    }
    CloseHandle(started.hThread);
    d.Process = started.hProcess;
}

// How long a terminated process is waited for. Termination is asynchronous, and Wine now and then
// does not end a process at all: the test goes on rather than wait for ever.
constexpr DWORD TerminationWaitMs = 30000;

TChildProcess::~TChildProcess() {
    TImpl& d = *FImpl;
    if (d.Process && !d.Ended) {
        TerminateProcess(d.Process, 137);
        WaitForSingleObject(d.Process, TerminationWaitMs);
    }
    if (d.Reading) {
        DWORD n = 0;
        CancelIoEx(d.Read, &d.Pending);
        GetOverlappedResult(d.Read, &d.Pending, &n, TRUE);
    }
    for (HANDLE h : {d.Process, d.Read, d.ReadDone})
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
}

TExitStatus TChildProcess::Wait(int timeoutMs) {
    TImpl& d = *FImpl;
    if (d.Ended)
        return d.Status;
    if (WaitForSingleObject(d.Process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
        return d.Finish(false);
    TerminateProcess(d.Process, 137);
    WaitForSingleObject(d.Process, TerminationWaitMs);
    return d.Finish(true);
}

TExitStatus TChildProcess::Kill() {
    TImpl& d = *FImpl;
    if (d.Ended)
        return d.Status;
    if (WaitForSingleObject(d.Process, 0) == WAIT_OBJECT_0)
        return d.Finish(false);
    // A program that ends on its own just then keeps its own status: termination then fails.
    const bool killed = TerminateProcess(d.Process, 137);
    WaitForSingleObject(d.Process, TerminationWaitMs);
    return d.Finish(killed);
}

TExitStatus TChildProcess::Stop(int) {
    return Kill();
}

long TChildProcess::Pid() const {
    return FImpl->Process ? static_cast<long>(GetProcessId(FImpl->Process)) : -1;
}

#else // POSIX

struct TChildProcess::TImpl {
    pid_t Pid = -1;
    int Read = -1; // the pipe's reading end; -1 when output goes to a file
    std::string Buffer;
    bool Eof = false;
    bool Ended = false;
    TExitStatus Status;

    bool ReadSome(TClock::time_point deadline) {
        if (Read < 0 || Eof)
            return false;
        pollfd p{Read, POLLIN, 0};
        int ready;
        while ((ready = poll(&p, 1, MsLeft(deadline))) < 0 && errno == EINTR) {
        }
        if (ready <= 0)
            return false;
        char chunk[4096];
        ssize_t n;
        while ((n = read(Read, chunk, sizeof chunk)) < 0 && errno == EINTR) {
        }
        if (n <= 0) {
            Eof = true;
            return false;
        }
        Buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    TExitStatus Finish(int status) {
        Ended = true;
        Status = {};
        if (WIFEXITED(status)) {
            Status.Exited = true;
            Status.Code = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            Status.Signal = WTERMSIG(status);
        }
        return Status;
    }
};

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const TChildOptions& options)
    : FImpl(std::make_unique<TImpl>()) {
    TImpl& d = *FImpl;
    // Everything the child needs is made before fork: between fork and exec only calls that are
    // safe in a copy of a process with threads.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::none_of(options.Environment.begin(), options.Environment.end(),
                         [&](const auto& a) { return a.first == name; }))
            env.push_back(entry);
    }
    for (const auto& [name, value] : options.Environment)
        env.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out = -1;
    int fds[2] = {-1, -1};
    if (!options.OutputFile.empty()) {
        out = open(options.OutputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (out < 0)
            throw std::runtime_error("cannot open " + options.OutputFile + ": " + std::strerror(errno));
    } else {
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
        out = fds[1];
        d.Read = fds[0];
    }
    const bool errorsToo = !options.OutputFile.empty() || options.MergeErrors;
    const int nul = options.DropErrors && !errorsToo ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    d.Pid = fork();
    if (d.Pid == 0) {
        dup2(out, STDOUT_FILENO);
        if (errorsToo)
            dup2(out, STDERR_FILENO);
        else if (nul >= 0)
            dup2(nul, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    if (nul >= 0)
        close(nul);
    if (d.Pid < 0) {
        d.Ended = true;
        d.Eof = true;
        d.Status.Exited = true;
        d.Status.Code = 127;
    }
}

TChildProcess::~TChildProcess() {
    TImpl& d = *FImpl;
    if (d.Pid > 0 && !d.Ended) {
        kill(d.Pid, SIGKILL);
        waitpid(d.Pid, nullptr, 0);
    }
    if (d.Read >= 0)
        close(d.Read);
}

TExitStatus TChildProcess::Wait(int timeoutMs) {
    TImpl& d = *FImpl;
    if (d.Ended)
        return d.Status;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(d.Pid, &status, WNOHANG) == 0) {
        if (TClock::now() >= deadline) {
            kill(d.Pid, SIGKILL);
            waitpid(d.Pid, &status, 0);
            d.Finish(status);
            d.Status.Killed = true;
            return d.Status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return d.Finish(status);
}

TExitStatus TChildProcess::Kill() {
    TImpl& d = *FImpl;
    if (d.Ended)
        return d.Status;
    kill(d.Pid, SIGKILL);
    int status = 0;
    waitpid(d.Pid, &status, 0);
    d.Finish(status);
    // Killed only by this SIGKILL; a program that had ended already keeps its own status.
    d.Status.Killed = d.Status.Signal == SIGKILL;
    return d.Status;
}

TExitStatus TChildProcess::Stop(int timeoutMs) {
    TImpl& d = *FImpl;
    if (!d.Ended)
        kill(d.Pid, SIGTERM);
    return Wait(timeoutMs);
}

long TChildProcess::Pid() const {
    return FImpl->Pid;
}

#endif

std::string TChildProcess::ReadLine(int timeoutMs) {
    TImpl& d = *FImpl;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (!TakeLine(d.Buffer, line)) {
        if (!d.ReadSome(deadline)) {
            if (!d.Eof)
                return {};
            line.swap(d.Buffer); // the last line, without its end
            return line;
        }
    }
    return line;
}

std::string TChildProcess::ReadAll(int timeoutMs) {
    TImpl& d = *FImpl;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (d.ReadSome(deadline)) {
    }
    std::string all;
    all.swap(d.Buffer);
    return all;
}

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    TChildOptions options;
    options.MergeErrors = true;
    options.Environment = environment;
    TChildProcess child(program, args, options);
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    TProgramRun run;
    run.Output = child.ReadAll(timeoutMs);
    run.Status = child.Wait(MsLeft(deadline));
    return run;
}

std::string BuiltProgram(const std::string& name) {
#ifdef _WIN32
    return std::string(ZUMVO_BIN_DIR) + "/" + name + ".exe";
#else
    return std::string(ZUMVO_BIN_DIR) + "/" + name;
#endif
}

int AnnouncedPort(const std::string& line) {
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) != 0)
        return 0;
    try {
        return std::stoi(line.substr(prefix.size()));
    } catch (const std::exception&) {
        return 0;
    }
}

void RemoveFolder(const std::filesystem::path& folder) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        if (!ec)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace zumvo::test
