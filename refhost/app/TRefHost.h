// The reference host program: builds the container with the host's services, loads the
// module and runs what the command line asks for.
#pragma once

#include "TDIContainer.h"
#include "THostContext.h"
#include "TModuleLoader.h"

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

struct TCommandLine {
    bool Headless = false;
    std::filesystem::path Config;
    std::filesystem::path Module; // empty: the module next to the program
    bool ListServices = false;
    bool Help = false;

    // Parses the arguments after the program name; an unknown or incomplete option raises an
    // error naming it.
    static TCommandLine Parse(const std::vector<std::string>& args);
};

// "Invoicing" or "BackOffice", from the program's file name (a Windows ".exe" is dropped).
std::string RoleFromProgramPath(const std::filesystem::path& program);

class TRefHost {
public:
    TRefHost(std::string role, const TCommandLine& options, const std::filesystem::path& programFolder);
    ~TRefHost();

    // Loads the module and calls InitModule.
    void LoadModule();
    // Calls FinalModule and frees the module.
    void UnloadModule();

    // Writes the container's registrations, in registration order: GUID, name or "-", kind.
    void ListServices(std::ostream& out) const;

    TDIContainer& Container() { return *FContainer; }
    THostContext& Context() { return *FContext; }
    const std::string& Role() const { return FRole; }

private:
    std::string FRole;
    TCommandLine FOptions;
    std::filesystem::path FProgramFolder;
    std::shared_ptr<THostContext> FContext;
    pallux::IntfPtr<TDIContainer> FContainer;
    std::unique_ptr<TModuleLoader> FModule;
};

// The whole program: parses the arguments and runs; answers the exit code.
int RunRefHost(int argc, char** argv);

} // namespace refhost
