#include "TReportCommand.h"

#include "TRefHost.h"

#include <QApplication>
#include <QDate>
#include <QDateEdit>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <ostream>
#include <stdexcept>

namespace refhost {

namespace {

QDate ParseDate(const std::string& text) {
    const QDate date = QDate::fromString(QString::fromStdString(text), "yyyy-MM-dd");
    if (!LooksLikeDate(text) || !date.isValid())
        throw std::invalid_argument("--report: '" + text + "' is not a date (yyyy-mm-dd)");
    return date;
}

} // namespace

std::unique_ptr<QApplication> HeadlessApplication() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // QApplication keeps references to these for its lifetime.
    static int argc = 1;
    static char name[] = "refhost";
    static char* argv[] = {name, nullptr};
    return qApp ? nullptr : std::make_unique<QApplication>(argc, argv);
}

QWidget* OpenWindow(const char* objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible())
            return w;
    return nullptr;
}

std::vector<std::string> LinesOf(const THostContext& ctx, std::size_t from, const std::string& kind) {
    std::vector<std::string> found;
    const auto lines = ctx.Transcript.Lines();
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].rfind(kind + ": ", 0) == 0)
            found.push_back(lines[i].substr(kind.size() + 2));
    return found;
}

namespace {} // namespace

bool LooksLikeDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

TReportRequest TReportRequest::Parse(const std::vector<std::string>& values) {
    static const std::map<std::string, std::string> periods{{"today", "btnToday"},
                                                            {"this-week", "btnThisWeek"},
                                                            {"last-week", "btnLastWeek"},
                                                            {"this-month", "btnThisMonth"},
                                                            {"last-month", "btnLastMonth"}};
    TReportRequest r;
    if (values.size() == 1) {
        const auto it = periods.find(values[0]);
        if (it == periods.end())
            throw std::invalid_argument(
                "--report: unknown period '" + values[0] +
                "' (today, this-week, last-week, this-month, last-month, or FROM TO)");
        r.Button = it->second;
        return r;
    }
    if (values.size() != 2)
        throw std::invalid_argument("--report needs a period or two dates");
    if (ParseDate(values[0]) > ParseDate(values[1]))
        throw std::invalid_argument("--report: " + values[0] + " is after " + values[1]);
    r.Button = "btnCustomRange";
    r.From = values[0];
    r.To = values[1];
    return r;
}

int RunReportCommand(TRefHost& host, const TReportRequest& request, std::ostream& out, std::ostream& err) {
    // The report form is a real window; without a display it runs on Qt's offscreen platform.
    const auto app = HeadlessApplication();

    auto& ctx = host.Context();
    const std::size_t start = ctx.Transcript.Lines().size();
    host.MainFormCreated();

    // Pressed once the form is up (inside its modal loop); the form is closed afterwards.
    bool formSeen = false;
    std::string problem;
    QTimer::singleShot(0, [&] {
        QWidget* form = OpenWindow("frmZumvoReports");
        if (!form)
            return;
        formSeen = true;
        if (!request.From.empty()) {
            auto* from = form->findChild<QDateEdit*>("dtpFrom");
            auto* to = form->findChild<QDateEdit*>("dtpTo");
            if (!from || !to) {
                problem = "the report form has no date pickers";
            } else {
                from->setDate(QDate::fromString(QString::fromStdString(request.From), "yyyy-MM-dd"));
                to->setDate(QDate::fromString(QString::fromStdString(request.To), "yyyy-MM-dd"));
            }
        }
        auto* button = form->findChild<QPushButton*>(QString::fromStdString(request.Button));
        if (!button)
            problem = "the report form has no button " + request.Button;
        else if (problem.empty())
            button->click();
        if (auto* dialog = qobject_cast<QDialog*>(form))
            dialog->reject();
        else
            form->close();
    });
    if (!host.Menus().Click("Lists", "Zumvo Reports")) {
        err << "The module offers no \"Zumvo Reports\" entry under \"Lists\"\n";
        return 1;
    }
    QApplication::processEvents(); // the timer, when no form came up

    const auto pages = LinesOf(ctx, start, "HTML");
    if (!pages.empty()) {
        for (const auto& page : pages)
            out << "Report page: " << page << '\n';
        return 0;
    }
    if (!formSeen) {
        const auto access = LinesOf(ctx, start, "ACCESS");
        err << "No report: " << (access.empty() ? "the report form did not open" : access.back()) << '\n';
        for (const auto& message : LinesOf(ctx, start, "MESSAGE"))
            err << message << '\n';
        return access.empty() ? 1 : 3;
    }
    err << "No report page was shown" << (problem.empty() ? "" : ": " + problem) << '\n';
    for (const auto& message : LinesOf(ctx, start, "MESSAGE"))
        err << message << '\n';
    return 1;
}

} // namespace refhost
