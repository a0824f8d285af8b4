// zumvo_child_echo: the program the child-process suite starts.
//
//   zumvo_child_echo echo ARG...   prints each argument in brackets, one a line
//   zumvo_child_echo env NAME      prints the variable's value, or "(unset)"
//   zumvo_child_echo exit N        prints a line to standard output and one to standard error,
//                                  then exits with N
//   zumvo_child_echo wait          prints "ready", then waits five minutes
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// The arguments as the system hands them over, in UTF-8 (main's own are in the ANSI code page).
std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), n, nullptr, nullptr);
        text.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
        args.push_back(text);
    }
    LocalFree(wide);
    return args;
}
#else
std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}
#endif

int main(int argc, char** argv) {
    const std::vector<std::string> args = Arguments(argc, argv);
    const std::string mode = args.size() > 1 ? args[1] : "";
    if (mode == "echo") {
        for (std::size_t i = 2; i < args.size(); ++i)
            std::printf("[%s]\n", args[i].c_str());
        return 0;
    }
    if (mode == "env" && args.size() == 3) {
        const char* value = std::getenv(args[2].c_str());
        std::printf("%s\n", value ? value : "(unset)");
        return 0;
    }
    if (mode == "exit" && args.size() == 3) {
        std::printf("to standard output\n");
        std::fflush(stdout);
        std::fprintf(stderr, "to standard error\n");
        return std::atoi(args[2].c_str());
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
