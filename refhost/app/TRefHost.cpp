#include "TRefHost.h"

#include "THostServices.h"
#include "TRestClient.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <iostream>
#include <stdexcept>

namespace refhost {

TCommandLine TCommandLine::Parse(const std::vector<std::string>& args) {
    TCommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw std::invalid_argument("Option " + a + " needs a value");
            return args[++i];
        };
        if (a == "--headless")
            cl.Headless = true;
        else if (a == "--config")
            cl.Config = value();
        else if (a == "--module")
            cl.Module = value();
        else if (a == "--list-services")
            cl.ListServices = true;
        else if (a == "--help" || a == "-h")
            cl.Help = true;
        else
            throw std::invalid_argument("Unknown option " + a);
    }
    return cl;
}

std::string RoleFromProgramPath(const std::filesystem::path& program) {
    std::string name = program.filename().string();
    if (name.size() > 4 && name.ends_with(".exe"))
        name.resize(name.size() - 4);
    return name;
}

TRefHost::TRefHost(std::string role, const TCommandLine& options, const std::filesystem::path& programFolder)
    : FRole(std::move(role)), FOptions(options), FProgramFolder(programFolder) {
    FContext = THostContext::Load(options.Config, FRole, options.Headless);
    FContainer = pallux::MakeIntf<TDIContainer, TDIContainer>();
    RegisterCoreServices(*FContainer, FContext);

    TRestSettings rest;
    rest.ConnectTimeoutMs = FContext->Config.ReadInteger("Rest", "ConnectTimeoutMs", rest.ConnectTimeoutMs);
    rest.RequestTimeoutMs = FContext->Config.ReadInteger("Rest", "RequestTimeoutMs", rest.RequestTimeoutMs);
    RegisterHostFactory<pallux::IRestClient>(*FContainer,
                                             [rest] { return pallux::MakeIntf<TRestClient>(rest); });
}

TRefHost::~TRefHost() {
    if (FModule)
        UnloadModule();
}

void TRefHost::LoadModule() {
    std::filesystem::path file = FOptions.Module;
    if (file.empty())
        file = FContext->Config.ReadString("Host", "Module");
    if (file.empty())
        file = FProgramFolder / "libZumvoPayment.so";
    else if (file.is_relative() && !FContext->ConfigFile.empty() && FOptions.Module.empty())
        file = FContext->ConfigFile.parent_path() / file;
    FModule = std::make_unique<TModuleLoader>(file);
    FModule->Init(*FContainer);
}

void TRefHost::UnloadModule() {
    if (!FModule)
        return;
    FModule->Final();
    FModule->Unload();
    FModule.reset();
}

void TRefHost::ListServices(std::ostream& out) const {
    for (const auto& r : FContainer->Registrations())
        out << r.IID.ToString() << '\t' << (r.Name.empty() ? "-" : r.Name) << '\t' << KindText(r.Kind)
            << '\n';
}

namespace {

void PrintUsage(const std::string& role) {
    std::cout << "Usage: " << role << " [--headless] [--config FILE] [--module PATH] [--list-services]\n"
              << "  --headless        run without a display (messages answered from the scenario)\n"
              << "  --config FILE     the host configuration file (INI)\n"
              << "  --module PATH     load the module from PATH (its settings file and log live there)\n"
              << "  --list-services   load the module, list the container's registrations, unload\n";
}

int RunGui(TRefHost& host, int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromStdString(host.Role()));
    QMainWindow window;
    window.setWindowTitle(QString::fromStdString("[PALLUX] " + host.Role()));
    for (const char* menu : {"Lists", "Preferences", "Plugins"})
        window.menuBar()->addMenu(menu)->setObjectName(menu);
    window.resize(800, 600);
    window.show();
    return app.exec();
}

} // namespace

int RunRefHost(int argc, char** argv) {
    const std::string role = RoleFromProgramPath(argv[0]);
    try {
        const TCommandLine options = TCommandLine::Parse(std::vector<std::string>(argv + 1, argv + argc));
        if (options.Help) {
            PrintUsage(role);
            return 0;
        }
        const auto programFolder = std::filesystem::absolute(argv[0]).parent_path();
        TRefHost host(role, options, programFolder);
        host.LoadModule();
        if (options.ListServices) {
            host.ListServices(std::cout);
            host.UnloadModule();
            return 0;
        }
        if (options.Headless) {
            host.UnloadModule();
            return 0;
        }
        const int rc = RunGui(host, argc, argv);
        host.UnloadModule();
        return rc;
    } catch (const std::exception& e) {
        std::cerr << role << ": " << e.what() << '\n';
        return 1;
    }
}

} // namespace refhost
