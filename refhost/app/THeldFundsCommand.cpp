#include "THeldFundsCommand.h"

#include "TRefHost.h"
#include "TReportCommand.h"

#include <QApplication>
#include <QDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <stdexcept>

namespace refhost {

namespace {

// The grid as text: the header, then one line per row, cells separated by tabs.
std::string GridText(const QTableWidget& grid) {
    std::string text;
    for (int c = 0; c < grid.columnCount(); ++c)
        text += (c ? "\t" : "") + grid.horizontalHeaderItem(c)->text().toStdString();
    text += "\n";
    for (int r = 0; r < grid.rowCount(); ++r) {
        for (int c = 0; c < grid.columnCount(); ++c)
            text +=
                (c ? "\t" : "") + (grid.item(r, c) ? grid.item(r, c)->text().toStdString() : std::string());
        text += "\n";
    }
    return text;
}

volatile std::sig_atomic_t gStopAsked = 0;

void AskStop(int) {
    gStopAsked = 1;
}

// While "Retry All" runs: its count on err ("Advices sent: n of N", every advice up to a hundred,
// then every hundredth part and the last), and Ctrl+C pressing its Stop button (the advice on the
// way is finished and recorded, none further is sent).
class TRetryWatch {
public:
    TRetryWatch(QWidget& form, std::ostream& err) : FForm(form), FErr(err) {
        gStopAsked = 0;
        FPrevious = std::signal(SIGINT, AskStop);
        FTimer.setInterval(0);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Look(); });
        FTimer.start();
    }
    ~TRetryWatch() {
        FTimer.stop();
        std::signal(SIGINT, FPrevious);
    }
    TRetryWatch(const TRetryWatch&) = delete;
    TRetryWatch& operator=(const TRetryWatch&) = delete;

private:
    QWidget& FForm;
    std::ostream& FErr;
    QTimer FTimer;
    void (*FPrevious)(int) = SIG_DFL;
    int FShown = -1;
    bool FStopTold = false;

    void Look() {
        auto* progress = FForm.findChild<QProgressDialog*>("dlgRetryProgress");
        if (!progress)
            return;
        const int total = progress->maximum(), sent = progress->value();
        const int step = std::max(1, total / 100);
        if (sent >= 0 && sent != FShown && (sent % step == 0 || sent == total)) {
            FErr << "Advices sent: " << sent << " of " << total << std::endl;
            FShown = sent;
        }
        if (gStopAsked && !FStopTold) {
            FErr << "Stopping after the advice on the way" << std::endl;
            FStopTold = true;
            progress->cancel();
        }
    }
};

} // namespace

int RunHeldFundsCommand(TRefHost& host, const std::string& action, std::ostream& out, std::ostream& err) {
    if (action != "list" && action != "retry")
        throw std::invalid_argument("--held-funds: unknown action '" + action + "' (list or retry)");
    const auto app = HeadlessApplication();

    auto& ctx = host.Context();
    const std::size_t start = ctx.Transcript.Lines().size();
    host.MainFormCreated();
    bool formSeen = false;
    std::string table;
    QTimer::singleShot(0, [&] {
        QWidget* form = OpenWindow("frmZumvoHeldFunds");
        if (!form)
            return;
        formSeen = true;
        if (action == "retry")
            if (auto* button = form->findChild<QPushButton*>("btnRetryAll"); button && button->isEnabled()) {
                TRetryWatch watch(*form, err);
                button->click();
            }
        if (auto* grid = form->findChild<QTableWidget*>("grdHeldFunds"))
            table = GridText(*grid);
        // The page comes on request: asked for, so the listing can name it.
        if (auto* page = form->findChild<QPushButton*>("btnPage"))
            page->click();
        if (auto* dialog = qobject_cast<QDialog*>(form))
            dialog->reject();
        else
            form->close();
    });
    if (!host.Menus().Click("Lists", "Zumvo Held Funds")) {
        err << "The module offers no \"Zumvo Held Funds\" entry under \"Lists\"\n";
        return 1;
    }
    QApplication::processEvents();
    if (!formSeen) {
        const auto access = LinesOf(ctx, start, "ACCESS");
        err << "No list: " << (access.empty() ? "the held-funds form did not open" : access.back()) << '\n';
        return access.empty() ? 1 : 3;
    }
    for (const auto& message : LinesOf(ctx, start, "MESSAGE"))
        out << "Message: " << message << '\n';
    out << table;
    const auto pages = LinesOf(ctx, start, "HTML");
    if (!pages.empty())
        out << "Held funds page: " << pages.back() << '\n';
    return 0;
}

} // namespace refhost
