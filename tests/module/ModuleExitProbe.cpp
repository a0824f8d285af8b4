// zumvo_module_exit_probe MODULE HOST_INI exit|unload: loads the module as the host does and
// prints every operation on the host's container, one a line; after InitModule it prints EXIT,
// then ends the process with the module still loaded ("exit") or unloads it first ("unload").
// The lifecycle suite checks that an exit with the module loaded withdraws nothing.
#include "THostServices.h"
#include "TModuleLoader.h"
#include "TRefHost.h"
#include "clsProgramArgs.h"
#include "clsSysUtils.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args = zumvo::ProgramArguments(argc, argv);
    if (args.size() != 3 || (args[2] != "exit" && args[2] != "unload")) {
        std::fprintf(stderr, "usage: zumvo_module_exit_probe MODULE HOST_INI exit|unload\n");
        return 2;
    }
    using namespace refhost;
    const auto ctx = THostContext::Load(pallux::Utf8ToPath(args[1]), "Invoicing", true);
    auto container = pallux::MakeIntf<TDIContainer, TDIContainer>();
    RegisterCoreServices(*container, ctx);
    container->OnOperation = [](const std::string& op, const pallux::TGUID&, const std::string&) {
        std::printf("%s\n", op.c_str());
        std::fflush(stdout);
    };
    auto* loader = new TModuleLoader(pallux::Utf8ToPath(args[0])); // kept to the end of the process
    loader->Init(*container);
    std::printf("EXIT\n");
    std::fflush(stdout);
    if (args[2] == "unload")
        loader->Unload();
    std::exit(0);
}
