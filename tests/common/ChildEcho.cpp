// zumvo_child_echo: the program the child-process suite starts.
//
//   zumvo_child_echo echo ARG...   prints each argument in brackets, one a line
//   zumvo_child_echo env NAME      prints the variable's value, or "(unset)"
//   zumvo_child_echo exit N        prints a line to standard output and one to standard error,
//                                  then exits with N
//   zumvo_child_echo wait          prints "ready", then waits five minutes
#include "clsProgramArgs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args = zumvo::ProgramArguments(argc, argv);
    const std::string mode = args.empty() ? "" : args[0];
    if (mode == "echo") {
        for (std::size_t i = 1; i < args.size(); ++i)
            std::printf("[%s]\n", args[i].c_str());
        return 0;
    }
    if (mode == "env" && args.size() == 2) {
        const char* value = std::getenv(args[1].c_str());
        std::printf("%s\n", value ? value : "(unset)");
        return 0;
    }
    if (mode == "exit" && args.size() == 2) {
        std::printf("to standard output\n");
        std::fflush(stdout);
        std::fprintf(stderr, "to standard error\n");
        return std::atoi(args[1].c_str());
    }
    if (mode == "wait") {
        std::printf("ready\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::minutes(5));
        return 0;
    }
    std::fprintf(stderr, "usage: zumvo_child_echo echo ARG... | env NAME | exit N | wait\n");
    return 2;
}
