// zumvo_module_exit_probe MODULE HOST_INI exit|unload: loads the module as the host does and
// prints every operation on the host's container, one a line; after InitModule it prints EXIT,
// then ends the process with the module still loaded ("exit") or unloads it first ("unload").
// The lifecycle suite checks that an exit with the module loaded withdraws nothing.
#include "THostServices.h"
#include "TModuleLoader.h"
#include "TRefHost.h"
#include "clsSysUtils.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

// The arguments in UTF-8 (on Windows main's own are in the ANSI code page, which cannot hold
// every folder name).
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(pallux::PathToUtf8(std::filesystem::path(wide[i])));
    LocalFree(wide);
    return args;
#else
    return {argv, argv + argc};
#endif
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = Arguments(argc, argv);
    if (args.size() != 4 || (args[3] != "exit" && args[3] != "unload")) {
        std::fprintf(stderr, "usage: zumvo_module_exit_probe MODULE HOST_INI exit|unload\n");
        return 2;
    }
    using namespace refhost;
    const auto ctx = THostContext::Load(pallux::Utf8ToPath(args[2]), "Invoicing", true);
    auto container = pallux::MakeIntf<TDIContainer, TDIContainer>();
    RegisterCoreServices(*container, ctx);
    container->OnOperation = [](const std::string& op, const pallux::TGUID&, const std::string&) {
        std::printf("%s\n", op.c_str());
        std::fflush(stdout);
    };
    auto* loader = new TModuleLoader(pallux::Utf8ToPath(args[1])); // kept to the end of the process
    loader->Init(*container);
    std::printf("EXIT\n");
    std::fflush(stdout);
    if (args[3] == "unload")
        loader->Unload();
    std::exit(0);
}
