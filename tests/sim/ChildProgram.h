// Runs a simulator program as a child process and reads the port it announces on stdout.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Waits up to timeoutMs for the child to end, then kills it; answers its exit status as waitpid
// gives it, and whether it had to be killed.
inline int WaitOrKill(pid_t pid, int timeoutMs, bool& killed) {
    int status = 0;
    killed = false;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        if (waited >= timeoutMs) {
            killed = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(10'000);
    }
    return status;
}

class TChildProgram {
public:
    TChildProgram(const std::string& program, const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        FPid = fork();
        if (FPid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        FOut = out[0];
    }
    ~TChildProgram() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        if (FOut >= 0)
            close(FOut);
    }
    TChildProgram(const TChildProgram&) = delete;
    TChildProgram& operator=(const TChildProgram&) = delete;

    // One line of the child's stdout, without its end; empty when none came within timeoutMs or
    // the child closed its output.
    std::string ReadLine(int timeoutMs = 10000) {
        std::string line;
        char c = 0;
        while (true) {
            pollfd p{FOut, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0 || read(FOut, &c, 1) != 1)
                return {};
            if (c == '\n')
                return line;
            line += c;
        }
    }
    // Sends sig and answers the exit status as waitpid gives it.
    int Stop(int sig = SIGTERM) {
        kill(FPid, sig);
        return Wait();
    }
    // Waits for the child to end; after timeoutMs it is killed and the test fails.
    int Wait(int timeoutMs = 20000) {
        bool killed = false;
        const int status = WaitOrKill(FPid, timeoutMs, killed);
        if (killed)
            ADD_FAILURE() << "child did not end within " << timeoutMs << " ms";
        FPid = -1;
        return status;
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
};

// The port of a "listening on PORT" line, 0 when the line is not one.
inline int AnnouncedPort(const std::string& line) {
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) != 0)
        return 0;
    return std::stoi(line.substr(prefix.size()));
}
