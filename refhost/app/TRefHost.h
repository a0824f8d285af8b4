// The reference host program: builds the container with the host's services, loads the
// module and runs what the command line asks for.
#pragma once

#include "TDIContainer.h"
#include "TDatabase.h"
#include "THostContext.h"
#include "TMainMenuManager.h"
#include "TModuleLoader.h"
#include "TRestClient.h"

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMainWindow;

namespace refhost {

struct TCommandLine {
    bool Headless = false;
    std::filesystem::path Config;
    std::filesystem::path Module; // empty: the module next to the program
    bool ListServices = false;
    bool UpgradeDb = false;
    bool RefreshBrands = false;
    std::vector<std::string> Report; // --report PERIOD or --report FROM TO
    std::string HeldFunds;           // --held-funds [list|retry]: the action, empty when not asked
    std::filesystem::path Scenario;  // Invoicing: run this till scenario (headless)
    bool Help = false;
    bool Version = false;

    // Parses the arguments after the program name; an unknown or incomplete option raises an
    // error naming it.
    static TCommandLine Parse(const std::vector<std::string>& args);
};

// The REST client's settings from the [Rest] section of the host configuration:
// ConnectTimeoutMs, RequestTimeoutMs and MaxAnswerKB (each above 0; a missing key keeps its
// default) and CAFile (UTF-8; relative to the configuration's folder, and on Windows a path
// without a drive is on the configuration's drive; empty: the system's CA store, which on Windows
// is Windows' own certificate store through Schannel, no file needed).
// A value that is not a whole number above 0 raises an error naming the key.
TRestSettings RestSettingsFromConfig(const TIniFile& config);

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
    // Raises "Pallux.<role>.MainForm.Create": the main form exists, menus may be extended.
    void MainFormCreated();

    // Writes the container's registrations, in registration order: GUID, name or "-", kind.
    void ListServices(std::ostream& out) const;
    // Asks every database-changes provider for its scripts and runs each as its own batch, in
    // list order. Reports each failure on err; answers the number of failed scripts.
    int UpgradeDatabase(std::ostream& out, std::ostream& err);
    // Runs the till brand service's Refresh and prints the brand and tills lists.
    void RefreshBrands(std::ostream& out);

    TDIContainer& Container() { return *FContainer; }
    THostContext& Context() { return *FContext; }
    const std::shared_ptr<THostContext>& SharedContext() const { return FContext; }
    TMainMenuManager& Menus() { return *FMenus; }
    const std::shared_ptr<TDatabase>& Database() const { return FDatabase; }
    const std::string& Role() const { return FRole; }

private:
    std::string FRole;
    TCommandLine FOptions;
    std::filesystem::path FProgramFolder;
    std::shared_ptr<THostContext> FContext;
    std::shared_ptr<TDatabase> FDatabase;
    pallux::IntfPtr<TDIContainer> FContainer;
    pallux::IntfPtr<TMainMenuManager> FMenus;
    std::unique_ptr<TModuleLoader> FModule;

    void OpenDatabase();
};

// Shows the host's main menus ("Lists", "Preferences", "Plugins") on the window and adds the
// entries the module asks for from then on.
void AttachMainMenus(QMainWindow& window, TMainMenuManager& menus);

// The whole program: parses the arguments and runs; answers the exit code.
int RunRefHost(int argc, char** argv);

} // namespace refhost
