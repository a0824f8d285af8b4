// Runs a till scenario in the host's event loop. A step pump driven by one-shot timers carries
// the steps out in order; a step that opens a module window (the Voucher button opens the
// payment screen) stays in progress while the pump, running inside that window's modal loop,
// drives the window's real controls with QTest: typing, clicking, answering its message boxes
// and checking captions. A step that cannot be carried out or an expectation that fails ends
// the run with a message naming the step; windows left open are closed, so the run never hangs.
#pragma once

#include "TScenario.h"
#include "TTill.h"

#include <QElapsedTimer>
#include <QObject>
#include <deque>
#include <filesystem>
#include <optional>

class QWidget;

namespace refhost {

class TScenarioRunner {
public:
    // screenshotFolder: where relative screenshot files go.
    TScenarioRunner(TScenario scenario, TTill& till, THostContext& ctx, QWidget* tillWindow,
                    std::filesystem::path screenshotFolder);

    // Starts the pump; the application's event loop then runs the steps and exits with
    // ExitCode() when they are done or one failed.
    void Start();
    int ExitCode() const { return FFailure ? 1 : 0; }
    // The failure as reported ("Scenario failed at step 3 (click btnOK): ..."), empty when none.
    const std::string& Failure() const { return FFailureText; }
    // Marks the step in progress as failed (the till window reports refused actions here).
    void FailCurrent(const std::string& message);

private:
    TScenario FScenario;
    TTill& FTill;
    THostContext& FContext;
    QWidget* FTillWindow;
    std::filesystem::path FScreenshots;
    QObject FTimerOwner;
    std::size_t FNext = 0;
    std::vector<std::size_t> FActive; // steps in progress, innermost last
    std::deque<int> FQueuedBy;        // the step that queued each pending message answer
    bool FTickPending = false;
    bool FFinished = false;
    std::optional<std::string> FFailure;
    std::string FFailureText;
    QElapsedTimer FWaiting; // since the pump last made progress

    void ScheduleTick();
    void Tick();
    void Run(std::size_t index);
    void Execute(const TScenarioStep& step);
    // Runs a sale step that must be refused with a reason containing its "refused" text.
    void ExpectRefusal(const TScenarioStep& step);
    void Expect(const TScenarioStep& step);
    void Screenshot(const TScenarioStep& step);
    void Fail(const TScenarioStep& step, const std::string& message);
    void Finish();
    void SettleAnswers(const TScenarioStep& finished);
    bool CloseOpenWindow();
    // The control with the object name in the open module window, else in the till window.
    QWidget* Control(const std::string& name, bool mustBeUsable) const;
    QWidget* Surface() const;
    std::string SurfaceName() const;
    std::int32_t InvoiceArg(const TScenarioStep& step) const;
};

} // namespace refhost
