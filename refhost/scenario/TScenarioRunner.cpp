#include "TScenarioRunner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>

namespace refhost {

namespace {

// Types the text into the widget as key presses. Keys of the ASCII range go as their keys (as a
// cashier's keyboard sends them); any other character (É, €, a character beyond the BMP) as a key
// event that carries the character as its text alone, which is how an input method delivers it:
// Qt's test keys know only ASCII.
void TypeText(QWidget* widget, const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        if (c >= 0x20 && c < 0x7F) {
            QTest::keyClick(widget, static_cast<char>(c));
            continue;
        }
        const QString character = QString::fromUcs4(&c, 1);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &release);
    }
}

constexpr int TickMs = 20;

std::string Normalised(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

std::string TextOf(QWidget* w) {
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w))
        text = l->text();
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        text = b->text();
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        text = e->text();
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        text = p->toPlainText();
    else if (auto* t = qobject_cast<QTextEdit*>(w))
        text = t->toPlainText();
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        text = g->title();
    else
        text = w->windowTitle();
    return Normalised(text.toStdString());
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TScenarioRunner::TScenarioRunner(TScenario scenario, TTill& till, THostContext& ctx, QWidget* tillWindow,
                                 std::filesystem::path screenshotFolder)
    : FScenario(std::move(scenario)), FTill(till), FContext(ctx), FTillWindow(tillWindow),
      FScreenshots(std::move(screenshotFolder)) {}

void TScenarioRunner::Start() {
    FContext.Transcript.Write("SCENARIO",
                              (FScenario.Name.empty() ? std::string("(unnamed)") : FScenario.Name) + ", " +
                                  std::to_string(FScenario.Steps.size()) + " steps");
    if (!FScenario.Cashier.empty())
        FTill.SetCashier(FScenario.Cashier);
    FContext.MessageAnswers.clear();
    FWaiting.start();
    ScheduleTick();
}

void TScenarioRunner::ScheduleTick() {
    if (FTickPending || FFinished)
        return;
    FTickPending = true;
    QTimer::singleShot(TickMs, &FTimerOwner, [this] { Tick(); });
}

QWidget* TScenarioRunner::Surface() const {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return FTillWindow;
}

std::string TScenarioRunner::SurfaceName() const {
    QWidget* s = Surface();
    if (!s)
        return "(none)";
    return (s->windowTitle().isEmpty() ? s->objectName() : s->windowTitle()).toStdString();
}

bool TScenarioRunner::CloseOpenWindow() {
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        return true;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        FContext.Transcript.Write("SCENARIO", "closing the window \"" + SurfaceName() + "\"");
        modal->close();
        return true;
    }
    return false;
}

void TScenarioRunner::Tick() {
    FTickPending = false;
    if (FFinished)
        return;
    const auto& steps = FScenario.Steps;
    QWidget* modal = QApplication::activeModalWidget();
    if (FFailure) {
        if (CloseOpenWindow() || !FActive.empty()) {
            if (FWaiting.elapsed() > 2 * FScenario.TimeoutMs) {
                // A step that will not come back: nothing more can be saved.
                FContext.Transcript.Write("SCENARIO",
                                          "aborted: a step did not return after its window closed");
                std::fflush(nullptr);
                std::_Exit(1);
            }
            ScheduleTick();
            return;
        }
        Finish();
        return;
    }
    if (FNext >= steps.size()) {
        if (FActive.empty()) {
            Finish();
            return;
        }
        if (FWaiting.elapsed() > FScenario.TimeoutMs)
            Fail(steps[FActive.back()],
                 "the window \"" + SurfaceName() + "\" is still open after the last step");
        ScheduleTick();
        return;
    }
    const TScenarioStep& step = steps[FNext];
    // A step in progress without an open window is busy, not waiting for the cashier; a sale
    // step cannot run while a module window is open over the till.
    const bool canRun = FActive.empty() ? (step.OnScreen() || !modal) : (modal && step.OnScreen());
    if (!canRun) {
        if (FWaiting.elapsed() > FScenario.TimeoutMs)
            Fail(step, modal ? "the window \"" + SurfaceName() +
                                   "\" is open; the step cannot run until it is closed"
                             : "the previous step did not finish");
        ScheduleTick();
        return;
    }
    Run(FNext++);
}

void TScenarioRunner::Run(std::size_t index) {
    const TScenarioStep& step = FScenario.Steps[index];
    FActive.push_back(index);
    FContext.Transcript.Write("STEP", std::to_string(step.Number) + ". " + step.Describe());
    ScheduleTick(); // keeps the pump going inside a window this step opens
    try {
        if (step.Args.Exists("refused"))
            ExpectRefusal(step);
        else
            Execute(step);
    } catch (const std::exception& e) {
        Fail(step, e.what());
    }
    FActive.pop_back();
    if (!FFailure)
        SettleAnswers(step);
    FWaiting.restart();
    ScheduleTick();
}

void TScenarioRunner::SettleAnswers(const TScenarioStep& finished) {
    while (FQueuedBy.size() > FContext.MessageAnswers.size())
        FQueuedBy.pop_front();
    if (finished.Kind != TStepKind::Answer && !FQueuedBy.empty() && FQueuedBy.front() < finished.Number)
        Fail(FScenario.Steps[static_cast<std::size_t>(FQueuedBy.front() - 1)],
             "no message box came by the end of " + finished.Title());
}

std::int32_t TScenarioRunner::InvoiceArg(const TScenarioStep& step) const {
    if (step.Args.Exists("invoice") && step.Text("invoice") != "last")
        return step.Args["invoice"].AsInteger(0);
    if (FTill.LastCompleted() == 0)
        throw ETillError("no invoice was completed in this run; name one with \"invoice\"");
    return FTill.LastCompleted();
}

QWidget* TScenarioRunner::Control(const std::string& name, bool mustBeUsable) const {
    QWidget* surface = Surface();
    if (!surface)
        throw ETillError("no window is open");
    const QString qname = QString::fromStdString(name);
    QWidget* w = surface->objectName() == qname ? surface : surface->findChild<QWidget*>(qname);
    if (!w)
        throw ETillError("there is no control \"" + name + "\" in the window \"" + SurfaceName() + "\"");
    if (mustBeUsable && !w->isVisible())
        throw ETillError("the control \"" + name + "\" is hidden");
    if (mustBeUsable && !w->isEnabled())
        throw ETillError("the control \"" + name + "\" is disabled");
    return w;
}

void TScenarioRunner::ExpectRefusal(const TScenarioStep& step) {
    const std::string wanted = step.Text("refused");
    try {
        Execute(step);
    } catch (const ETillError& e) {
        const std::string said = e.what();
        if (said.find(wanted) == std::string::npos)
            throw ETillError("expected the refusal \"" + wanted + "\"; the till said \"" + said + "\"");
        FContext.Transcript.Write("REFUSED", said);
        return;
    }
    throw ETillError("expected the step to be refused (\"" + wanted + "\"); it was carried out");
}

void TScenarioRunner::Execute(const TScenarioStep& step) {
    switch (step.Kind) {
    case TStepKind::Add:
        FTill.AddLine({step.Text("code"), step.Text("description"), ToCents(step.Real("price", 0)),
                       step.Real("quantity", 1)});
        break;
    case TStepKind::Remove:
        FTill.RemoveLine(step.Text("code"));
        break;
    case TStepKind::Quantity:
        FTill.ChangeQuantity(step.Text("code"), step.Real("quantity", 0));
        break;
    case TStepKind::Voucher:
        FTill.Voucher();
        break;
    case TStepKind::Recalculate:
        FTill.Recalculate();
        break;
    case TStepKind::Discount:
        FTill.Discount(step.Text("name"));
        break;
    case TStepKind::Pay:
        FTill.Pay(step.Text("tender"), step.Args.Exists("amount")
                                           ? std::optional<TMoney>(ToCents(step.Real("amount", 0)))
                                           : std::nullopt);
        break;
    case TStepKind::Complete:
        FTill.Complete(step.Args["driver"].AsBoolean(false));
        break;
    case TStepKind::Cancel:
        FTill.CancelInvoice();
        break;
    case TStepKind::Recall:
        FTill.Recall(InvoiceArg(step));
        break;
    case TStepKind::Override:
        FTill.Override();
        break;
    case TStepKind::NewSale:
        FTill.NewSale();
        break;
    case TStepKind::Cashup:
        FTill.DriverCashup(InvoiceArg(step));
        break;
    case TStepKind::GiveBack:
        FTill.GiveBack();
        break;
    case TStepKind::Type: {
        QWidget* w = Control(step.Text("control"), true);
        w->setFocus();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            e->clear();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            p->clear();
        else if (auto* t = qobject_cast<QTextEdit*>(w))
            t->clear();
        else
            throw ETillError("the control \"" + step.Text("control") + "\" does not take typing");
        TypeText(w, QString::fromStdString(step.Text("text")));
        break;
    }
    case TStepKind::Click: {
        QWidget* w = Control(step.Text("control"), true);
        FContext.Transcript.Write("CLICK", step.Text("control") + " \"" + TextOf(w) + "\" in \"" +
                                               SurfaceName() + "\"");
        QTest::mouseClick(w, Qt::LeftButton);
        break;
    }
    case TStepKind::Answer:
        FContext.MessageAnswers.push_back(ButtonFromName(step.Text("button")));
        FQueuedBy.push_back(step.Number);
        break;
    case TStepKind::Expect:
        Expect(step);
        break;
    case TStepKind::Screenshot:
        Screenshot(step);
        break;
    }
}

void TScenarioRunner::Expect(const TScenarioStep& step) {
    const auto& a = step.Args;
    if (a.Exists("control")) {
        const std::string name = step.Text("control");
        QWidget* w = Control(name, false);
        const std::string text = TextOf(w);
        if (a.Exists("text") && text != Normalised(step.Text("text")))
            throw ETillError("expected \"" + name + "\" to read \"" + step.Text("text") + "\"; it reads \"" +
                             text + "\"");
        if (a.Exists("contains") && !Contains(text, Normalised(step.Text("contains"))))
            throw ETillError("expected \"" + name + "\" to contain \"" + step.Text("contains") +
                             "\"; it reads \"" + text + "\"");
        if (a.Exists("visible") && w->isVisible() != a["visible"].AsBoolean(false))
            throw ETillError("expected \"" + name + "\" to be " + (w->isVisible() ? "hidden" : "visible"));
        if (a.Exists("enabled") && w->isEnabled() != a["enabled"].AsBoolean(false))
            throw ETillError("expected \"" + name + "\" to be " + (w->isEnabled() ? "disabled" : "enabled"));
        return;
    }
    if (a.Exists("window") && SurfaceName() != step.Text("window"))
        throw ETillError("expected the window \"" + step.Text("window") + "\"; the window is \"" +
                         SurfaceName() + "\"");
    const auto transcriptHas = [&](const std::string& prefix, const std::string& part) {
        for (const auto& line : FContext.Transcript.Lines())
            if (line.starts_with(prefix) && Contains(line, part))
                return true;
        return false;
    };
    if (a.Exists("message") && !transcriptHas("MESSAGE: ", step.Text("message")))
        throw ETillError("no message box said \"" + step.Text("message") + "\"");
    if (a.Exists("transcript") && !transcriptHas("", step.Text("transcript")))
        throw ETillError("the transcript has no line with \"" + step.Text("transcript") + "\"");
    if (a.Exists("receipt")) {
        std::string receipt;
        for (const auto& line : FTill.LastReceipt())
            receipt += line + "\n";
        if (!Contains(receipt, step.Text("receipt")))
            throw ETillError("the last receipt has no \"" + step.Text("receipt") + "\"" +
                             (receipt.empty() ? " (no receipt was printed)" : ""));
    }
    const auto money = [&](const char* name, TMoney actual) {
        if (a.Exists(name) && ToCents(step.Real(name, 0)) != actual)
            throw ETillError(std::string("expected the ") + name + " " +
                             CentsText(ToCents(step.Real(name, 0))) + "; it is " + CentsText(actual));
    };
    money("total", FTill.Invoice().AfterDisc());
    money("outstanding", FTill.Invoice().Outstanding());
}

void TScenarioRunner::Screenshot(const TScenarioStep& step) {
    std::filesystem::path file = step.Text("file");
    if (file.is_relative())
        file = FScreenshots / file;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    QWidget* modal = QApplication::activeModalWidget();
    QPixmap shot;
    if (step.Args["window"].AsBoolean(false)) {
        if (!modal)
            throw ETillError("no module window is open to take a picture of");
        shot = modal->grab();
    } else {
        shot = FTillWindow->grab();
        if (modal) {
            // The module's window over the till, centred as it is shown to the cashier.
            const QPixmap top = modal->grab();
            QPainter painter(&shot);
            painter.fillRect(shot.rect(), QColor(0, 0, 0, 60));
            painter.drawPixmap((shot.width() - top.width()) / 2, (shot.height() - top.height()) / 2, top);
        }
    }
    if (shot.isNull() || !shot.save(QString::fromStdString(file.string()), "PNG"))
        throw ETillError("the picture could not be written to " + file.string());
    FContext.Transcript.Write("SCREENSHOT", file.string() + " (" + std::to_string(shot.width()) + "x" +
                                                std::to_string(shot.height()) + ")");
}

void TScenarioRunner::Fail(const TScenarioStep& step, const std::string& message) {
    if (FFailure)
        return;
    FFailure = message;
    FFailureText = "Scenario failed at " + step.Title() + ": " + message;
    FContext.Transcript.Write("SCENARIO", FFailureText);
    FContext.MessageAnswers.clear();
    FQueuedBy.clear();
    FWaiting.restart();
    ScheduleTick();
}

void TScenarioRunner::FailCurrent(const std::string& message) {
    if (!FActive.empty())
        Fail(FScenario.Steps[FActive.back()], message);
}

void TScenarioRunner::Finish() {
    if (!FFailure && !FQueuedBy.empty()) {
        Fail(FScenario.Steps[static_cast<std::size_t>(FQueuedBy.front() - 1)],
             "no message box came by the end of the scenario");
        return; // the next tick finishes
    }
    FFinished = true;
    if (!FFailure)
        FContext.Transcript.Write("SCENARIO",
                                  "passed (" + std::to_string(FScenario.Steps.size()) + " steps)");
    QCoreApplication::exit(ExitCode());
}

} // namespace refhost
