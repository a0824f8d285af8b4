#include "TTillApp.h"

#include "TRefHost.h"
#include "TScenarioRunner.h"
#include "TTillWindow.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>

namespace refhost {

int RunTill(TRefHost& host, int argc, char** argv, const std::filesystem::path& scenarioFile) {
    std::optional<TScenario> scenario;
    if (!scenarioFile.empty()) {
        try {
            scenario = TScenario::Load(scenarioFile);
        } catch (const EScenarioError& e) {
            std::cerr << host.Role() << ": " << e.what() << '\n';
            return 2;
        }
        // Headless: no display is needed, windows are drawn off screen.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromStdString(host.Role()));
    int rc = 0;
    {
        TTill till(host.Container(), host.SharedContext(), host.Database());
        TTillWindow window(till);
        AttachMainMenus(window, host.Menus());
        host.MainFormCreated();
        window.show();
        if (!scenario) {
            rc = app.exec();
        } else {
            std::filesystem::path folder = host.Context().ConfigFile.empty()
                                               ? std::filesystem::current_path()
                                               : host.Context().ConfigFile.parent_path();
            TScenarioRunner runner(std::move(*scenario), till, host.Context(), &window, folder);
            window.OnError = [&runner](const std::string& action, const std::string& message) {
                runner.FailCurrent(action + ": " + message);
            };
            auto& transcript = host.Context().Transcript;
            transcript.OnLine = [](const std::string& line) { std::cout << line << std::endl; };
            host.Context().TranscribeAnswers = true;
            runner.Start();
            app.exec();
            transcript.OnLine = nullptr;
            rc = runner.ExitCode();
            if (rc != 0)
                std::cerr << runner.Failure() << '\n';
        }
        host.Menus().OnAdded = nullptr;
    }
    return rc;
}

} // namespace refhost
