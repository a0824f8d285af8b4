#include "TRefHost.h"

#include "HostResFolder.h"
#include "HostSchema.h"
#include "TActCodes.h"
#include "TCashPaymentMethod.h"
#include "TDBScript.h"
#include "THTMLViewer.h"
#include "THeldFundsCommand.h"
#include "THostServices.h"
#include "TReportCommand.h"
#include "TRestClient.h"
#include "TTillApp.h"
#include "ZumvoVersion.h"
#include "clsProgramArgs.h"
#include "clsSysUtils.h"
#include "intfDatabaseChanges.h"
#include "intfEventManager.h"
#include "intfTillBrandSettings.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QtGlobal>
#include <iostream>
#include <stdexcept>

namespace refhost {

namespace {

// Whether a path from a setting stands on its own rather than beside the configuration. On
// Windows a UNC path (\\server\share\...) does too, which the C++ library does not take for
// absolute and would put on the configuration's drive.
bool IsAbsoluteSetting(const std::filesystem::path& path) {
#ifdef _WIN32
    const auto& text = path.native();
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (text.size() >= 2 && separator(text[0]) && separator(text[1]))
        return true;
#endif
    return path.is_absolute();
}

} // namespace

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
            cl.Config = pallux::Utf8ToPath(value());
        else if (a == "--module")
            cl.Module = pallux::Utf8ToPath(value());
        else if (a == "--list-services")
            cl.ListServices = true;
        else if (a == "--upgrade-db")
            cl.UpgradeDb = true;
        else if (a == "--refresh-brands")
            cl.RefreshBrands = true;
        else if (a == "--report") {
            cl.Report.push_back(value());
            if (LooksLikeDate(cl.Report.front()))
                cl.Report.push_back(value());
        } else if (a == "--held-funds") {
            // An optional action follows; anything that looks like an option is the next option.
            cl.HeldFunds = (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) ? args[++i] : "list";
        } else if (a == "--scenario")
            cl.Scenario = pallux::Utf8ToPath(value());
        else if (a == "--help" || a == "-h")
            cl.Help = true;
        else if (a == "--version")
            cl.Version = true;
        else
            throw std::invalid_argument("Unknown option " + a);
    }
    if (!cl.Scenario.empty())
        cl.Headless = true; // a scenario answers its own message boxes
    return cl;
}

TRestSettings RestSettingsFromConfig(const TIniFile& config) {
    const auto positive = [&](const char* key, int fallback) {
        const int value = config.ReadInteger("Rest", key, fallback);
        if (value <= 0)
            throw std::invalid_argument(std::string("[Rest] ") + key + " must be above 0, not " +
                                        std::to_string(value));
        return value;
    };
    TRestSettings rest;
    rest.ConnectTimeoutMs = positive("ConnectTimeoutMs", rest.ConnectTimeoutMs);
    rest.RequestTimeoutMs = positive("RequestTimeoutMs", rest.RequestTimeoutMs);
    rest.MaxAnswerBytes =
        static_cast<std::size_t>(positive("MaxAnswerKB", static_cast<int>(rest.MaxAnswerBytes / 1024))) *
        1024;
    const std::string caFile = config.ReadString("Rest", "CAFile", "");
    if (!caFile.empty()) {
        std::filesystem::path path = pallux::Utf8ToPath(caFile);
        if (!IsAbsoluteSetting(path))
            path = config.FileName().parent_path() / path;
        rest.CAFile = pallux::PathToUtf8(path);
    }
    return rest;
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

    const TRestSettings rest = RestSettingsFromConfig(FContext->Config);
    RegisterHostFactory<pallux::IRestClient>(*FContainer,
                                             [rest] { return pallux::MakeIntf<TRestClient>(rest); });

    const auto resFolder = zumvo::HostResFolder(programFolder);
    RegisterHostFactory<pallux::IHTMLViewer>(
        *FContainer, [ctx = FContext, resFolder] { return pallux::MakeIntf<THTMLViewer>(ctx, resFolder); });

    // The host's own tender, offered beside the tenders of modules.
    RegisterCashTender(*FContainer);

    FMenus = pallux::MakeIntf<TMainMenuManager, TMainMenuManager>(FContext);
    FContainer->RegisterInstance(pallux::IMainMenuManager::IID, FMenus.get());

    OpenDatabase();
}

TRefHost::~TRefHost() {
    if (FModule)
        UnloadModule();
}

void TRefHost::OpenDatabase() {
    // [Database] ConnectionString (ODBC) or File (SQLite, relative to the configuration file).
    std::string connection = FContext->Config.ReadString("Database", "ConnectionString");
    if (connection.empty()) {
        std::filesystem::path file = FContext->Config.ReadString("Database", "File");
        if (file.empty())
            return;
        if (file.is_relative() && !FContext->ConfigFile.empty())
            file = FContext->ConfigFile.parent_path() / file;
        connection = file.string();
    }
    FDatabase = refhost::OpenDatabase(connection);
    CreateHostTables(*FDatabase, FContext->Config.ReadInteger("Database", "DemoData", 0) != 0);

    std::filesystem::path trace = FContext->Config.ReadString("Database", "Trace");
    if (!trace.empty() && trace.is_relative() && !FContext->ConfigFile.empty())
        trace = FContext->ConfigFile.parent_path() / trace;
    // [FaultPoints] (or ZUMVO_FAULT_* in the environment): statements refused, the process killed
    const refhost::TFaultPointSettings faultSettings = refhost::ReadFaultPointSettings(
        [this](const std::string& key) { return FContext->Config.ReadString("FaultPoints", key); },
        FContext->ConfigFile.empty() ? std::filesystem::path() : FContext->ConfigFile.parent_path());
    std::shared_ptr<refhost::TFaultPoints> faults;
    if (faultSettings.Active())
        faults = std::make_shared<refhost::TFaultPoints>(faultSettings);
    FContainer->RegisterFactory(pallux::IDBScript::IID,
                                pallux::MakeIntf<TDBScriptFactory>(FDatabase, trace, faults).get());
    auto db = FDatabase;
    auto ctx = FContext;
    RegisterHostFactory<pallux::IActCodeRegistry>(*FContainer,
                                                  [db] { return pallux::MakeIntf<TActCodeRegistry>(db); });
    RegisterHostFactory<pallux::IActCodeCheck>(
        *FContainer, [ctx, db] { return pallux::MakeIntf<TActCodeCheck>(ctx, db); });
}

void TRefHost::LoadModule() {
    std::filesystem::path file = FOptions.Module;
    if (file.empty()) {
        file = FContext->Config.ReadString("Host", "Module");
        if (file.empty()) {
            file = FProgramFolder / "libZumvoPayment.so";
#ifdef ZUMVO_MODULE_FROM_PROGRAM
            // installed: the module's folder, given relative to the programs' folder
            if (!std::filesystem::exists(file))
                file = (FProgramFolder / ZUMVO_MODULE_FROM_PROGRAM / "libZumvoPayment.so").lexically_normal();
#endif
        } else if (file.is_relative() && !FContext->ConfigFile.empty()) {
            file = FContext->ConfigFile.parent_path() / file;
        }
    }
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

void TRefHost::MainFormCreated() {
    pallux::IntfPtr<pallux::IEventManager> events;
    if (FContainer->GetInstance(events))
        events->RaiseEvent(pallux::HostEvent::MainFormCreate(FRole), "", 0);
}

void TRefHost::ListServices(std::ostream& out) const {
    for (const auto& r : FContainer->Registrations())
        out << r.IID.ToString() << '\t' << (r.Name.empty() ? "-" : r.Name) << '\t' << KindText(r.Kind)
            << '\n';
}

int TRefHost::UpgradeDatabase(std::ostream& out, std::ostream& err) {
    if (!FDatabase)
        throw std::runtime_error("No database configured ([Database] File or ConnectionString)");
    std::vector<std::string> providers;
    FContainer->GetFactoryNames(pallux::IDatabaseChanges::IID, providers);
    int failed = 0;
    for (const auto& name : providers) {
        pallux::IntfPtr<pallux::IDatabaseChanges> changes;
        if (!FContainer->CreateNamedInstance(name, changes)) {
            err << "Database changes \"" << name << "\": the provider could not be created\n";
            ++failed;
            continue;
        }
        std::vector<std::string> scripts;
        changes->GetUpdateScripts(scripts);
        out << "Database changes \"" << name << "\": " << scripts.size() << " scripts\n";
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            try {
                FDatabase->RunBatch(scripts[i]);
                out << "  script " << i + 1 << ": done\n";
            } catch (const std::exception& e) {
                ++failed;
                const auto firstLine = scripts[i].substr(0, scripts[i].find('\n'));
                err << "  script " << i + 1 << " of \"" << name << "\" failed (" << firstLine
                    << "): " << e.what() << '\n';
            }
        }
    }
    return failed;
}

void TRefHost::RefreshBrands(std::ostream& out) {
    pallux::IntfPtr<zumvo::ITillBrandSettings> brands;
    if (!FContainer->CreateInstance(brands))
        throw std::runtime_error("The module offers no till brand service");
    brands->Refresh();
    std::string brandList, tillsList;
    brands->BrandListJSON(brandList);
    brands->TillsListJSON(tillsList);
    out << "Brands: " << brandList << "\nTills: " << tillsList << '\n';
}

void AttachMainMenus(QMainWindow& window, TMainMenuManager& menus) {
    for (const char* menu : {"Lists", "Preferences", "Plugins"})
        window.menuBar()->addMenu(menu)->setObjectName(menu);
    menus.OnAdded = [&window](const TMenuEntry& entry) {
        QMenu* menu = window.menuBar()->findChild<QMenu*>(QString::fromStdString(entry.Menu));
        if (!menu)
            menu = window.menuBar()->addMenu(QString::fromStdString(entry.Menu));
        if (entry.Caption == "-") {
            menu->addSeparator();
            return;
        }
        QObject::connect(menu->addAction(QString::fromStdString(entry.Caption)), &QAction::triggered,
                         [entry] { ClickEntry(entry); });
    };
}

namespace {

// Qt's offscreen and minimal platforms have no window manager to hand a window's size limits to,
// and say so each time a fixed-size window is shown. That one note is dropped; every other
// message goes on to the handler installed before.
QtMessageHandler PreviousQtMessageHandler = nullptr;

void FilterQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (PreviousQtMessageHandler)
        PreviousQtMessageHandler(type, context, message);
}

void PrintUsage(const std::string& role) {
    std::cout << "Usage: " << role << " [--headless] [--config FILE] [--module PATH] [--list-services]"
              << " [--upgrade-db] [--refresh-brands] [--scenario FILE]\n"
              << "       [--report PERIOD | --report FROM TO] [--held-funds [retry]] [--help] [--version]\n"
              << "The reference point-of-sale host's " << (role == "BackOffice" ? "back office" : "till")
              << ": loads the Zumvo payment module (libZumvoPayment.so beside the program, else in\n"
              << "../lib/zumvo from the program's folder) and runs what the options ask for; without\n"
              << "options, its window.\n"
              << "  --headless        run without a display (messages answered from the scenario)\n"
              << "  --config FILE     the host configuration file (INI)\n"
              << "  --module PATH     load the module from PATH (its settings file and log live there)\n"
              << "  --list-services   load the module, list the container's registrations, unload\n"
              << "  --upgrade-db      run every database-changes provider's scripts\n"
              << "  --refresh-brands  refresh the till brand lists and print them\n"
              << "  --scenario FILE   Invoicing: run the till scenario FILE (JSON) headless; exit code 1\n"
              << "                    names the step that failed\n"
              << "  --held-funds [retry] BackOffice: list the transactions that may hold funds (retry:\n"
              << "                    send their advices again first, counted on stderr as \"Advices\n"
              << "                    sent: n of N\"; Ctrl+C stops after the advice on the way)\n"
              << "  --report ...      the Zumvo report: today, this-week, last-week, this-month,\n"
              << "                    last-month, or FROM TO (yyyy-mm-dd); prints the page's file\n"
              << "  --help            print this help and stop\n"
              << "  --version         print the version and stop\n";
}

int RunGui(TRefHost& host, int argc, char** argv) {
    if (host.Role() == "Invoicing")
        return RunTill(host, argc, argv, {});
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromStdString(host.Role()));
    QMainWindow window;
    window.setWindowTitle(QString::fromStdString("[PALLUX] " + host.Role()));
    AttachMainMenus(window, host.Menus());
    host.MainFormCreated();
    window.resize(800, 600);
    window.show();
    const int rc = app.exec();
    host.Menus().OnAdded = nullptr;
    return rc;
}

} // namespace

int RunRefHost(int argc, char** argv) {
    const std::string role = RoleFromProgramPath(argv[0]);
    PreviousQtMessageHandler = qInstallMessageHandler(FilterQtMessage);
    try {
        const TCommandLine options = TCommandLine::Parse(zumvo::ProgramArguments(argc, argv));
        if (options.Help) {
            PrintUsage(role);
            return 0;
        }
        if (options.Version) {
            std::cout << role << " " << ZUMVO_VERSION << '\n';
            return 0;
        }
        const auto programFolder = zumvo::ProgramFile(argv[0]).parent_path();
        const auto report =
            options.Report.empty() ? std::optional<TReportRequest>() : TReportRequest::Parse(options.Report);
        TRefHost host(role, options, programFolder);
        host.LoadModule();
        int rc = 0;
        if (options.ListServices)
            host.ListServices(std::cout);
        if (options.UpgradeDb && host.UpgradeDatabase(std::cout, std::cerr) > 0)
            rc = 1;
        if (options.RefreshBrands)
            host.RefreshBrands(std::cout);
        if (!options.Scenario.empty()) {
            if (role != "Invoicing")
                throw std::invalid_argument("--scenario runs the till: use Invoicing");
            rc = RunTill(host, argc, argv, options.Scenario);
        } else if (!options.Headless && !options.ListServices && !options.UpgradeDb &&
                   !options.RefreshBrands && !report && options.HeldFunds.empty())
            rc = RunGui(host, argc, argv);
        if (report && rc == 0)
            rc = RunReportCommand(host, *report, std::cout, std::cerr);
        if (!options.HeldFunds.empty() && rc == 0)
            rc = RunHeldFundsCommand(host, options.HeldFunds, std::cout, std::cerr);
        host.UnloadModule();
        return rc;
    } catch (const std::exception& e) {
        std::cerr << role << ": " << e.what() << '\n';
        return 1;
    }
}

} // namespace refhost
