// One fixture for the voucher engine's suites: a real SQLite database through the reference
// host's services, the module's services as the module registers them, the voucher simulator
// as a child process on a free port, and the real payment screen driven by QTest. Every test
// ends with the ledger check.
#pragma once

#include "ChildProcess.h"
#include "FZumvoPayment.h"
#include "LedgerAudit.h"
#include "PersistenceTestHost.h"
#include "TEventManager.h"
#include "TRestClient.h"
#include "implCurrentBasket.h"
#include "implDataChangesZumvo.h"
#include "implVoucherZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace zumvo::test {

// One action of the cashier on the payment screen.
struct TScreenStep {
    enum TKind { Type, Click } Kind;
    std::string Target; // object name
    std::string Text;   // Type only
};

class VoucherEngineTest : public ::testing::Test {
protected:
    static constexpr std::int32_t StoreID = 12; // the host's store number (references "12-<n>")
    static constexpr std::int32_t InvoiceNum = 5001;

    TPersistenceTestHost host;
    TLogCapture log{host.Folder};
    std::unique_ptr<TChildProcess> simulator;
    int port = 0;
    pallux::IntfPtr<IZumvoTransaction> store;

    void SetUp() override;
    void TearDown() override;

    // The module's settings file: the provider store, the simulator's address and credentials,
    // then extra lines.
    void WriteModuleSettings(const std::string& extra, int providerStore = 17);

    // A new engine object, as the host gets one from the container.
    pallux::IntfPtr<TVoucherZumvo> NewEngine();

    // Invoice data as the host passes it: total after discounts, so many lines, cashier "9".
    static std::string Invoice(double afterDisc, int lines = 1, std::int32_t invoiceNum = InvoiceNum);

    // The next payment screen that opens runs these steps; later screens are closed unasked.
    void OnNextScreen(std::vector<TScreenStep> steps) { FScript = std::move(steps), FScriptArmed = true; }
    // Steps that redeem and add each code, then press Done.
    static std::vector<TScreenStep> RedeemAndDone(const std::vector<std::string>& codes);
    // Answers for the next message boxes (pallux::mbYes, mbNo, mbOK...).
    void AnswerMessages(std::initializer_list<std::int32_t> answers);

    // First application of the codes on a new basket through the screen; answers the document.
    TJSONDocument ApplyCodes(TVoucherZumvo& engine, const std::vector<std::string>& codes, double afterDisc,
                             int lines = 1);

    // A basket of this till with one transaction per code, each sent to the provider for the
    // outstanding amount and saved as the payment screen saves accepted codes, tied to the
    // invoice; then made current in the engine with PopulateForInvoice. Answers the basket.
    std::int32_t SeedInvoice(TVoucherZumvo& engine, const std::vector<std::string>& codes, double afterDisc,
                             std::int32_t invoiceNum = InvoiceNum);

    // Raises one of the host's events through its event manager.
    void Raise(const std::string& eventName);

    // Simulator control.
    TJSONDocument Ledger() { return ReadLedger(port); }
    TJSONDocument Advices();
    void AddFault(const std::string& ruleJson);
    void ClearFaults();
    // A REVERSE or FINALISE advice sent straight to the simulator for a module row, as another
    // till or a cash-up would.
    void SendAdvice(std::int32_t row, const std::string& action);

    // Database views.
    TJSONDocument Rows() { return host.Rows("SELECT * FROM [ZumvoPaymentTransactions] ORDER BY [ID]"); }
    int StatusOf(std::int32_t row);
    std::vector<int> Statuses();
    std::vector<std::string> StoreLog();
    std::vector<std::string> Messages();

    std::string LedgerCheck() { return LedgerMismatches(Rows(), Ledger(), StoreID); }

    int ScreensShown = 0;
    int UnexpectedScreens = 0;

private:
    std::vector<TScreenStep> FScript;
    bool FScriptArmed = false;
    std::unique_ptr<QTimer> FScreenWatch;
    std::filesystem::path FCatalogue;
    void WatchScreens();
    void RunScript(TfrmZumvoPayment& screen);
};

} // namespace zumvo::test
