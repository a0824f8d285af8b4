// The payment screen on a real SQLite database against the voucher service simulator, driven
// through its controls as a cashier (or the host's scenario runner) drives it. Each test that
// moves money ends with the ledger check.
#include "CashierTestHost.h"
#include "SqliteFile.h"
#include "ZumvoQRDetect.h"
#include "clsAdviceRetry.h"
#include "clsMoney.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTextDocumentFragment>
#include <QTimer>

#include <sqlite3.h>

using namespace zumvo;
using namespace zumvo::test;
using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

// A label's text fits its box as the label lays it out, and its tool tip holds it too.
void ExpectWhole(const QLabel& label) {
    const QRect box = label.contentsRect();
    const int flags = static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
    EXPECT_TRUE(box.contains(label.fontMetrics().boundingRect(box, flags, label.text())))
        << label.objectName().toStdString() << " at " << label.font().pixelSize()
        << " px: " << label.text().toStdString();
    EXPECT_EQ(QTextDocumentFragment::fromHtml(label.toolTip()).toPlainText(), label.text())
        << label.objectName().toStdString();
}

class PaymentScreenTest : public ::testing::Test {
protected:
    TCashierTestHost host;
    TLogCapture log{host.Folder};
    std::unique_ptr<TfrmZumvoPayment> form;

    void SetUp() override { Open(2550); }
    void TearDown() override {
        form.reset();
        EXPECT_EQ(host.LedgerMismatches(), "");
    }

    void Open(std::int64_t cents) {
        form = std::make_unique<TfrmZumvoPayment>();
        form->Prepare(host.InvoiceData(cents), host.Settings());
        form->show();
    }
    void Type(const QString& code) {
        auto* box = Control<QLineEdit>(*form, "txtVoucherCode");
        box->clear();
        QTest::keyClicks(box, code);
    }
    void Click(const char* name) { QTest::mouseClick(Control<QPushButton>(*form, name), Qt::LeftButton); }
    void Redeem(const QString& code) {
        Type(code);
        Click("btnCheck");
    }
    bool Shown(const char* name) { return !Control<QWidget>(*form, name)->isHidden(); }
    std::string Caption(const char* name) { return Control<QPushButton>(*form, name)->text().toStdString(); }
    void Answer(std::int32_t button) { host.Context->MessageAnswers.push_back(button); }
    // What the engine does with the screen's list after an OK close.
    void SaveRedeemed() {
        const TJSONDocument& list = form->RedeemedList();
        for (int i = 0; i < list._Count(); ++i)
            host.Store->SavePayment(list[i]["TransactionID"].AsInteger(), list[i]["tvTrxID"].AsInteger(),
                                    list[i]["Amount"].AsFloat(), list[i]["Data"].ToJSON());
    }
    int Status(int row) { return host.TransactionRows()[row]["Status"].AsInteger(); }
};

TEST_F(PaymentScreenTest, CodesAreSentForWhatIsStillOutstanding) {
    EXPECT_EQ(Text(*form, "lblOutstanding"), "25.50");
    EXPECT_EQ(Text(*form, "lblInvoiceTotal"), "25.50");
    EXPECT_EQ(Caption("btnDone"), "Done");

    Redeem("PA Y1 0"); // typed with blanks: sent, and shown, without them
    EXPECT_EQ(Control<QLineEdit>(*form, "txtVoucherCode")->text(), "PAY10");
    EXPECT_TRUE(Shown("pnlVoucher"));
    EXPECT_FALSE(Control<QPushButton>(*form, "btnCheck")->isEnabled());
    EXPECT_EQ(Caption("btnCheck"), "Redeem");
    EXPECT_EQ(Caption("btnOK"), "Add");
    Click("btnOK");
    EXPECT_FALSE(Shown("pnlVoucher"));
    EXPECT_EQ(Text(*form, "lblOutstanding"), "15.50");
    EXPECT_EQ(Text(*form, "lblBasketTotal"), "10.00");
    EXPECT_EQ(Text(*form, "lblTransactions"), "Transactions (1)");

    Redeem("PAY10");
    Click("btnOK");
    EXPECT_EQ(Text(*form, "lblOutstanding"), "5.50");
    EXPECT_EQ(Text(*form, "lblTransactionList"), "-\r\nPAY10 :: 10.00\r\nPAY10 :: 10.00");

    const TJSONDocument ledger = host.Ledger();
    ASSERT_EQ(ledger._Count(), 2);
    EXPECT_EQ(ledger[0]["code"].AsString(), "PAY10");
    EXPECT_EQ(ledger[0]["requested"].AsInteger(), 2550);
    EXPECT_EQ(ledger[1]["requested"].AsInteger(), 1550);
    EXPECT_EQ(ledger[0]["basketId"].AsString(), "12-" + std::to_string(host.BasketID));

    Click("btnDone");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(form->ProcessedTotal(), 20.0);
    const TJSONDocument& list = form->RedeemedList();
    ASSERT_EQ(list._Count(), 2);
    EXPECT_EQ(list[0]["tvTrxID"].AsInteger(), ledger[0]["tvTrxId"].AsInteger());
    EXPECT_EQ(list[0]["Status"].AsInteger(), 1);
    // Each accepted code's row already holds the provider's number and answer, status still 0.
    const TJSONDocument rows = host.TransactionRows();
    ASSERT_EQ(rows._Count(), 2);
    EXPECT_EQ(rows[0]["Status"].AsInteger(), 0);
    EXPECT_EQ(rows[0]["tvTrxID"].AsInteger(), ledger[0]["tvTrxId"].AsInteger());
    const TJSONDocument stored = TJSONDocument::Parse(rows[0]["Response"].AsString());
    EXPECT_EQ(stored["Zumvo"].AsString(), "PAY10");
    EXPECT_EQ(stored["PaymentAmount"].AsString(), "10");
    SaveRedeemed();
}

// After an answer the focus is on its button (Add, or Retry); after it, in the code box, where a
// scanner that types puts the next code. It never passes to Done on its way.
TEST_F(PaymentScreenTest, TheFocusFollowsTheCashiersNextStep) {
    QApplication::setActiveWindow(form.get());
    auto* box = Control<QLineEdit>(*form, "txtVoucherCode");
    auto* next = Control<QPushButton>(*form, "btnOK");
    // Pressing Redeem leaves the focus in the code box: it does not pass to the button and back.
    box->setFocus();
    QTest::mousePress(Control<QPushButton>(*form, "btnCheck"), Qt::LeftButton);
    EXPECT_EQ(form->focusWidget(), box) << "focus on " << form->focusWidget()->objectName().toStdString();
    QTest::mouseRelease(Control<QPushButton>(*form, "btnCheck"), Qt::LeftButton);
    for (const char* code : {"PAY10", "BLOCKED"}) {
        SCOPED_TRACE(code);
        Redeem(code);
        EXPECT_EQ(form->focusWidget(), next)
            << "focus on " << form->focusWidget()->objectName().toStdString();
        Click("btnOK");
        EXPECT_EQ(form->focusWidget(), box) << "focus on " << form->focusWidget()->objectName().toStdString();
    }
    QTest::keyClicks(form->focusWidget(), "PAY10");
    EXPECT_EQ(box->text(), "PAY10");
    Click("btnDone");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    SaveRedeemed();
}

TEST_F(PaymentScreenTest, BlankCodesSendNothing) {
    for (const QString code : {"", "   "}) {
        Redeem(code);
        EXPECT_FALSE(Shown("pnlVoucher"));
        EXPECT_TRUE(Control<QPushButton>(*form, "btnCheck")->isEnabled());
    }
    EXPECT_EQ(host.TransactionRows()._Count(), 0);
    EXPECT_EQ(host.Ledger()._Count(), 0);
}

TEST_F(PaymentScreenTest, EachKindOfAnswerIsShown) {
    struct TCase {
        const char* Code;
        bool Valid;
        std::string Response, Amount, Payment, Discount, VSPDesc, VSPResponse, Details;
    };
    const TCase cases[] = {
        {"PAY10", true, "Approved", "10.00", "10.00", "0.00", "", "", ""},
        {"SPLIT10", true, "Approved", "10.00", "6.00", "4.00", "", "", ""},
        {"VSP10", true, "Approved", "10.00", "10.00", "0.00", "Acme RewardsResponse:", "Partner approved",
         ""},
        {"VSPLONG", true, "Approved", "10.00", "10.00", "0.00",
         "Northwind Fuel and Grocery Loyalty Partners Response:",
         "Partner approved the whole amount at this store", ""},
        {"EXPIRED", false, "14 : Voucher expired on 30 November and cannot be redeemed", "", "", "", "", "",
         ""},
        {"LOYAL", true, "Approved", "0.00", "0.00", "0.00", "", "", "Coffee Club earned: 1 stamp"},
        {"BLOCKED", false, "12 : Voucher blocked", "", "", "", "", "", ""},
        // Too long for two lines in the smallest font: folded on more lines in a smaller one.
        {"WORDY", false, "16 : This voucher cannot be redeemed at this store today", "", "", "", "", "", ""},
        {"NOSUCH", false, "2 : ", "", "", "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        Open(2550);
        Redeem(c.Code);
        ASSERT_TRUE(Shown("pnlVoucher"));
        EXPECT_THAT(Text(*form, "lblResponse"), HasSubstr(c.Response));
        EXPECT_EQ(Caption("btnOK"), c.Valid ? "Add" : "Retry");
        const QColor colour = Control<QLabel>(*form, "lblResponse")->palette().color(QPalette::WindowText);
        EXPECT_EQ(colour == QColor(Qt::red), !c.Valid);
        for (const char* name :
             {"lblAmount", "lblPaymentAmount", "lblDiscountAmount", "lblDetails", "lblAmountCaption"})
            EXPECT_EQ(Shown(name), c.Valid) << name;
        EXPECT_EQ(Shown("lblVSPDesc"), !c.VSPDesc.empty());
        // The provider's texts show whole in their boxes, however long.
        for (const char* name : {"lblResponse", "lblVSPDesc", "lblVSPResponse", "lblDetails"})
            if (Shown(name))
                ExpectWhole(*Control<QLabel>(*form, name));
        if (!c.Valid) {
            EXPECT_EQ(Text(*form, "lblAmount"), "");
            continue;
        }
        EXPECT_EQ(Text(*form, "lblAmount"), c.Amount);
        EXPECT_EQ(Text(*form, "lblPaymentAmount"), c.Payment);
        EXPECT_EQ(Text(*form, "lblDiscountAmount"), c.Discount);
        EXPECT_EQ(Text(*form, "lblDetails"), c.Details);
        if (!c.VSPDesc.empty()) {
            EXPECT_EQ(Text(*form, "lblVSPDesc"), c.VSPDesc);
            EXPECT_EQ(Text(*form, "lblVSPResponse"), c.VSPResponse);
        }
        Click("btnOK");
        Click("btnDone");
        const TJSONValue item = form->RedeemedList()[0];
        if (std::string(c.Code) == "SPLIT10") {
            EXPECT_EQ(item["Data"]["PaymentAmount"].AsString(), "6");
            EXPECT_EQ(item["Data"]["DiscountAmount"].AsString(), "4");
            EXPECT_DOUBLE_EQ(item["DiscountAmount"].AsFloat(), 4.0);
        }
        SaveRedeemed();
    }
}

// Each answer shows only its own details: nothing of a code added before stays on the screen.
TEST_F(PaymentScreenTest, NextCodeShowsNoDetailOfTheOneBefore) {
    Redeem("LOYAL");
    EXPECT_EQ(Text(*form, "lblDetails"), "Coffee Club earned: 1 stamp");
    Click("btnOK");
    Redeem("VSP10");
    EXPECT_EQ(Text(*form, "lblDetails"), "");
    EXPECT_TRUE(Control<QLabel>(*form, "lblDetails")->toolTip().isEmpty());
    Click("btnOK");
    Redeem("PAY10");
    EXPECT_FALSE(Shown("lblVSPDesc"));
    EXPECT_FALSE(Shown("lblVSPResponse"));
    Click("btnOK");
    Click("btnDone");
    SaveRedeemed();
}

TEST_F(PaymentScreenTest, RefusedCodeKeepsItsRowForTheNextTry) {
    Redeem("BLOCKED");
    Click("btnOK"); // Retry
    Redeem("BLOCKED");
    Click("btnOK");
    Redeem("PAY10");
    Click("btnOK");
    const TJSONDocument rows = host.TransactionRows();
    ASSERT_EQ(rows._Count(), 1);
    const TJSONDocument ledger = host.Ledger();
    ASSERT_EQ(ledger._Count(), 1);
    EXPECT_EQ(ledger[0]["trxId"].AsString(), "12-" + rows[0]["ID"].AsString());
    Click("btnDone");
    SaveRedeemed();
}

// After an accepted code, a request that gets no answer must not look accepted: no "Approved", no
// amounts, no "Add"; an amount too large for the request, or a code it cannot carry, is refused
// before anything is sent.
TEST_F(PaymentScreenTest, NoAnswerAndUnsendableRequestsAreShownAsSuch) {
    Redeem("PAY10");
    Click("btnOK");
    host.AddFault(R"({"fault": "drop", "request": "transaction", "count": 1})");
    Redeem("PAY10");
    EXPECT_EQ(Text(*form, "lblResponse"), "No answer from the Zumvo server");
    EXPECT_EQ(Control<QLabel>(*form, "lblResponse")->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_FALSE(Shown("lblAmount"));
    EXPECT_EQ(Caption("btnOK"), "Retry");
    Click("btnOK");
    EXPECT_EQ(Text(*form, "lblTransactions"), "Transactions (1)");
    Click("btnDone");
    SaveRedeemed();

    // 30,000,000.00 is more cents than the request's 32-bit amount holds.
    Open(3'000'000'000);
    const int rows = host.TransactionRows()._Count(), sent = host.Ledger()._Count();
    Redeem("PAY10");
    EXPECT_FALSE(Shown("pnlVoucher"));
    EXPECT_EQ(host.TransactionRows()._Count(), rows);
    EXPECT_EQ(host.Ledger()._Count(), sent);
    EXPECT_THAT(host.Context->Transcript.Lines(),
                ::testing::Contains("MESSAGE: error: The amount 30000000.00 is too large to send to Zumvo."));

    // A scanned code with a character the request cannot carry is refused the same way.
    Open(2550);
    Control<QLineEdit>(*form, "txtVoucherCode")->setText(QString("PAY") + QChar(1) + "10");
    Click("btnCheck");
    EXPECT_FALSE(Shown("pnlVoucher"));
    EXPECT_EQ(host.TransactionRows()._Count(), rows);
    EXPECT_EQ(host.Ledger()._Count(), sent);
    EXPECT_THAT(
        host.Context->Transcript.Lines(),
        ::testing::Contains("MESSAGE: error: The code cannot be sent to Zumvo: control character 0x01 "
                            "is not allowed in XML"));
}

// Settings the till's user may not read (forgotten in the group zumvo) leave the module without
// a server: the cashier is told the settings could not be read, not that the server is silent.
TEST_F(PaymentScreenTest, UnreadableSettingsAreNamedToTheCashier) {
    std::filesystem::remove(ModuleSettingsFile());
    std::filesystem::create_directory(ModuleSettingsFile());
    Open(2550);
    Redeem("PAY10");
    const std::string told = "The Zumvo settings could not be read: ask the administrator";
    const bool onScreen = Shown("pnlVoucher") && Text(*form, "lblResponse") == told;
    bool inMessage = false;
    for (const auto& line : host.Context->Transcript.Lines())
        inMessage = inMessage || line.find(told) != std::string::npos;
    EXPECT_TRUE(onScreen || inMessage) << Text(*form, "lblResponse");
    EXPECT_EQ(Text(*form, "lblResponse").find("No answer"), std::string::npos);
    EXPECT_EQ(host.Ledger()._Count(), 0);
    std::filesystem::remove(ModuleSettingsFile());
}

// A request without a readable answer may still have been carried out: its row keeps a note
// with the references the provider knows it by, and the next try gets a new row.
TEST_F(PaymentScreenTest, UnansweredRequestLeavesItsRowMarkedAndTheNextTryGetsANewOne) {
    struct TCase {
        const char* Fault;
        bool
            AnswerShown; // the cashier is told and offered Retry, whether no answer came or an unreadable one
        const char* Shown; // what the answer panel says
    };
    const char* none = "No answer from the Zumvo server";
    for (const TCase& c :
         {TCase{R"({"fault": "drop", "request": "transaction", "count": 1, "process": true})", true, none},
          TCase{R"({"fault": "truncated", "request": "transaction", "count": 1, "process": true})", true,
                "The Zumvo server's answer could not be read"},
          TCase{R"({"fault": "http500", "request": "transaction", "count": 1})", true,
                "The Zumvo server answered HTTP 500 for /pos/services/PosService"}}) {
        SCOPED_TRACE(c.Fault);
        Open(2550);
        const int before = host.TransactionRows()._Count();
        Redeem("BLOCKED"); // a refusal first: its row is the one the faulted request uses
        Click("btnOK");
        host.AddFault(c.Fault);
        Redeem("PAY10");
        EXPECT_EQ(Shown("pnlVoucher"), c.AnswerShown);
        if (c.AnswerShown) {
            // Nothing of the answer before stays: the cashier is told what happened.
            EXPECT_EQ(Text(*form, "lblResponse"), c.Shown);
            EXPECT_FALSE(Shown("lblAmount"));
            EXPECT_EQ(Caption("btnOK"), "Retry");
            Click("btnOK");
        }
        EXPECT_TRUE(Control<QPushButton>(*form, "btnCheck")->isEnabled());
        const TJSONDocument rows = host.TransactionRows();
        ASSERT_EQ(rows._Count(), before + 1);
        const TJSONDocument note = TJSONDocument::Parse(rows[before]["RequestNote"].AsString());
        EXPECT_TRUE(rows[before]["Response"].IsNull()) << "Response holds only answers";
        EXPECT_EQ(note["Outcome"].AsString(), "Unknown");
        EXPECT_EQ(note["TrxID"].AsString(), "12-" + rows[before]["ID"].AsString());
        EXPECT_EQ(note["Zumvo"].AsString(), "PAY10");
        EXPECT_EQ(note["TotalAmount"].AsInteger(), 2550);

        Redeem("PAY10");
        ASSERT_EQ(Caption("btnOK"), "Add");
        const TJSONDocument after = host.TransactionRows();
        ASSERT_EQ(after._Count(), before + 2);
        EXPECT_EQ(form->findChild<QLabel*>("lblAmount")->text(), "10.00");
        Click("btnCancel"); // the code in progress is given back
    }
    EXPECT_TRUE(log.Has("[TfrmZumvoPayment.btnCheckClick] Outcome unknown for transaction " +
                        host.TransactionRows()[0]["ID"].AsString() + " : no answer"));
}

TEST_F(PaymentScreenTest, DoneWithACodeNotAdded) {
    struct TCase {
        bool AddFirst;
        std::int32_t Answer;
        bool StaysOpen;
        QDialog::DialogCode Result;
    };
    for (const TCase& c : {TCase{false, pallux::mbNo, true, QDialog::Rejected},
                           TCase{false, pallux::mbYes, false, QDialog::Rejected},
                           TCase{true, pallux::mbYes, false, QDialog::Accepted}}) {
        SCOPED_TRACE(std::to_string(c.AddFirst) + "/" + std::to_string(c.Answer));
        Open(2550);
        if (c.AddFirst) {
            Redeem("PAY10");
            Click("btnOK");
        }
        Redeem("SPLIT10"); // accepted, not added
        const int advices = host.Advices()._Count();
        Answer(c.Answer);
        Click("btnDone");
        EXPECT_EQ(form->isVisible(), c.StaysOpen);
        if (c.StaysOpen) {
            EXPECT_EQ(host.Advices()._Count(), advices);
            EXPECT_TRUE(Shown("pnlVoucher"));
            Answer(pallux::mbYes);
            Click("btnCancel"); // leaves the way the next case expects: everything given back
            continue;
        }
        EXPECT_EQ(form->result(), c.Result);
        const TJSONDocument sent = host.Advices();
        ASSERT_EQ(sent._Count(), advices + 1);
        EXPECT_EQ(sent[advices]["action"].AsString(), "REVERSE");
        EXPECT_EQ(form->RedeemedList()._Count(), c.AddFirst ? 1 : 0);
        SaveRedeemed();
    }
    EXPECT_TRUE(log.Has("[TfrmZumvoPayment.CancelCurrent] Cancelling the current transaction : " +
                        host.TransactionRows()[1]["ID"].AsString()));
}

TEST_F(PaymentScreenTest, CancelGivesEveryAcceptedCodeBack) {
    Redeem("PAY10");
    Click("btnOK");
    Redeem("SPLIT10");
    Click("btnOK");
    Redeem("VSP10"); // in progress

    Answer(pallux::mbNo); // keep the code in progress: nothing happens
    Click("btnCancel");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(host.Advices()._Count(), 0);

    Answer(pallux::mbYes); // give back the code in progress...
    Answer(pallux::mbNo);  // ...but not the basket: the window stays
    Click("btnCancel");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(host.Advices()._Count(), 1);
    EXPECT_EQ(Status(2), -1);
    // The code given back is gone from the screen: it cannot be added to the payment any more.
    EXPECT_FALSE(Shown("pnlVoucher"));
    EXPECT_TRUE(Control<QPushButton>(*form, "btnCheck")->isEnabled());
    EXPECT_EQ(Text(*form, "lblTransactions"), "Transactions (2)");

    Answer(pallux::mbYes);
    QTest::keyClick(form.get(), Qt::Key_Escape); // the same as Cancel
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
    const TJSONDocument advices = host.Advices();
    ASSERT_EQ(advices._Count(), 3);
    const TJSONDocument rows = host.TransactionRows();
    EXPECT_EQ(advices[1]["trxId"].AsString(), "12-" + rows[0]["ID"].AsString()); // in list order
    EXPECT_EQ(advices[2]["trxId"].AsString(), "12-" + rows[1]["ID"].AsString());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rows[i]["Status"].AsInteger(), -1);
    EXPECT_EQ(form->RedeemedList()._Count(), 0);
}

// A reversal the provider refused or never answered leaves the money held there: the row says
// so (failed to cancel) instead of claiming it was given back.
TEST_F(PaymentScreenTest, UnconfirmedReversalIsRecordedAsFailedToCancel) {
    for (const char* fault : {R"({"fault": "drop", "request": "advise", "count": 1})",
                              R"({"fault": "malformed", "request": "advise", "count": 1})"}) {
        SCOPED_TRACE(fault);
        Open(2550);
        Redeem("PAY10");
        Click("btnOK");
        Redeem("PAY10");
        host.AddFault(fault);
        Answer(pallux::mbYes);
        Answer(pallux::mbYes);
        Click("btnCancel");
        EXPECT_EQ(form->result(), QDialog::Rejected);
    }
    const TJSONDocument rows = host.TransactionRows();
    ASSERT_EQ(rows._Count(), 4);
    // The code in progress got the faulted answer; the added one was given back.
    EXPECT_EQ(rows[1]["Status"].AsInteger(), -3);
    EXPECT_EQ(rows[0]["Status"].AsInteger(), -1);
    EXPECT_EQ(rows[3]["Status"].AsInteger(), -3);
    EXPECT_EQ(rows[2]["Status"].AsInteger(), -1);
    const TJSONDocument ledger = host.Ledger();
    EXPECT_EQ(ledger[1]["state"].AsString(), "held");
}

// A code is marked "failed to cancel" before its REVERSE goes out, so that no row still says
// accepted for money the provider gave back. While the database refuses every status write (a
// lock another program holds), nothing is sent and the code stays on the screen, to be added or
// given back later; once only the last write is refused, the row is left listed for the retry.
TEST_F(PaymentScreenTest, ACodeIsGivenBackOnlyOnceItsRowSaysSo) {
    const auto refuseStatuses = [&](const std::string& statuses) {
        RunSqlite(host.DatabaseFile(),
                  "DROP TRIGGER IF EXISTS refuse; CREATE TRIGGER refuse BEFORE UPDATE OF Status ON "
                  "ZumvoPaymentTransactions WHEN NEW.Status IN (" +
                      statuses + ") BEGIN SELECT RAISE(ABORT, 'database is locked'); END");
    };
    Redeem("PAY10");
    refuseStatuses("-1, -3");
    Answer(pallux::mbYes); // give back the code not added
    Click("btnDone");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(host.Advices()._Count(), 0) << "a REVERSE was sent for a row that still says accepted";
    EXPECT_EQ(Status(0), 0) << "still the screen's accepted code";
    EXPECT_TRUE(Shown("pnlVoucher"));
    EXPECT_TRUE(Control<QPushButton>(*form, "btnOK")->isEnabled()) << "the code can still be added";
    EXPECT_THAT(host.Context->Transcript.Lines(), Contains(HasSubstr("could not be given back now")));

    refuseStatuses("-1");
    Answer(pallux::mbYes);
    Click("btnDone");
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(host.Advices()._Count(), 1);
    EXPECT_EQ(host.Ledger()[0]["state"].AsString(), "released");
    EXPECT_EQ(Status(0), -3) << "given back, but not recorded: listed for the retry";
    RunSqlite(host.DatabaseFile(), "DROP TRIGGER refuse");
    EXPECT_EQ(TAdviceRetry(TRetrySettings{}).Run(TRetryRequest{}).Confirmed, 1);
    EXPECT_EQ(Status(0), -1);

    // Added codes the same: one that cannot be marked stays in the list, and the window open.
    Open(2550);
    Redeem("PAY10");
    Click("btnOK");
    refuseStatuses("-3");
    Answer(pallux::mbYes);
    Click("btnCancel");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->RedeemedList()._Count(), 1);
    EXPECT_EQ(Text(*form, "lblTransactions"), "Transactions (1)");
    RunSqlite(host.DatabaseFile(), "DROP TRIGGER refuse");
    Answer(pallux::mbYes);
    Click("btnCancel");
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(form->RedeemedList()._Count(), 0);
    EXPECT_EQ(Status(1), -1);
    EXPECT_EQ(host.Advices()._Count(), 3);
}

TEST_F(PaymentScreenTest, ScanFillsTheCodeBoxOnlyForQRCodes) {
    // A stand-in reader that prints two lines (CR LF): a shell script, on Windows a batch file.
#ifdef _WIN32
    const auto script = host.Folder / "reader.cmd";
#else
    const auto script = host.Folder / "reader.sh";
#endif
    struct TCase {
        const char* First;
        const char* Second;
        QString Expected;
    };
    for (const TCase& c : {TCase{"READY", "QR:PAY10", "PAY10"}, TCase{"READY", "EAN-13:12345", "typed"},
                           TCase{"ready", "QR:PAY10", "typed"}}) {
#ifdef _WIN32
        std::ofstream(script) << "@echo off\necho " << c.First << "\necho " << c.Second
                              << "\n"; // text mode: CR LF
#else
        std::ofstream(script) << "#!/bin/sh\nprintf '" << c.First << "\\r\\n" << c.Second << "\\r\\n'\n";
#endif
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        form->UseQRDetect(pallux::MakeIntf<TZumvoQRDetect>(script));
        Type("typed");
        Click("btnScan");
        EXPECT_EQ(Control<QLineEdit>(*form, "txtVoucherCode")->text(), c.Expected);
        EXPECT_FALSE(Shown("pnlVoucher")); // never redeemed by itself
    }
    EXPECT_EQ(host.Ledger()._Count(), 0);
}

// The provider's texts are shown as the text they are: markup in them draws nothing on the
// cashier's screen (no picture, no link, no colour or size of the provider's choosing).
TEST_F(PaymentScreenTest, ProviderTextsWithMarkupAreShownAsText) {
    Redeem("MARKUP");
    ASSERT_TRUE(Shown("pnlVoucher"));
    EXPECT_EQ(Text(*form, "lblVSPDesc"), "<img src='logo.png'><h1>Big</h1>Response:");
    EXPECT_EQ(Text(*form, "lblVSPResponse"), "<b>OK</b> &amp; <a href='x'>go</a>");
    for (QLabel* label : form->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        if (!label->toolTip().isEmpty()) {
            EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), label->text())
                << label->objectName().toStdString();
        }
    }
    Click("btnOK");
    Click("btnDone");
    SaveRedeemed();

    Open(2550);
    Redeem("MARKUPNO");
    EXPECT_EQ(Text(*form, "lblResponse"), "19 : <font color=green size=7>Approved</font>");
    EXPECT_EQ(Control<QLabel>(*form, "lblResponse")->textFormat(), Qt::PlainText);
}

// The code box takes no more than a code's length; a longer scanned code is not put in cut.
TEST_F(PaymentScreenTest, CodeBoxHasAnExplicitMaximumLength) {
    auto* box = Control<QLineEdit>(*form, "txtVoucherCode");
    EXPECT_EQ(box->maxLength(), VoucherCodeMaxLength);
    Type(QString(VoucherCodeMaxLength + 20, 'A'));
    EXPECT_EQ(box->text().size(), VoucherCodeMaxLength);
#ifndef _WIN32
    const auto script = host.Folder / "long.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf 'READY\\r\\nQR:" << std::string(VoucherCodeMaxLength + 1, 'Q')
                          << "\\r\\n'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    form->UseQRDetect(pallux::MakeIntf<TZumvoQRDetect>(script));
    Type("typed");
    Click("btnScan");
    EXPECT_EQ(box->text(), "typed");
#endif
}

TEST_F(PaymentScreenTest, GetPaymentRunsTheScreenModally) {
    form = std::make_unique<TfrmZumvoPayment>();
    QTimer::singleShot(0, [&] {
        Redeem("PAY10");
        Click("btnOK");
        Click("btnDone");
    });
    EXPECT_TRUE(form->GetPayment(host.InvoiceData(), host.Settings()));
    EXPECT_EQ(form->RedeemedList()._Count(), 1);
    SaveRedeemed();

    form = std::make_unique<TfrmZumvoPayment>();
    QTimer::singleShot(0, [&] { Click("btnDone"); });
    EXPECT_FALSE(form->GetPayment(host.InvoiceData(), host.Settings()));
}

TEST_F(PaymentScreenTest, ScreenshotsOfEachState) {
    const std::filesystem::path folder = std::filesystem::path(ZUMVO_BUILD_DIR) / "screenshots";
    std::filesystem::create_directories(folder);
    auto shoot = [&](const char* state) {
        const QImage image = form->grab().toImage();
        const auto file = folder / (std::string("payment_screen_") + state + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file.string())));
        const QImage back(QString::fromStdString(file.string()));
        EXPECT_EQ(back.size(), QSize(814, 461)) << state;
        std::set<QRgb> colours;
        for (int y = 0; y < back.height(); y += 3)
            for (int x = 0; x < back.width(); x += 3)
                colours.insert(back.pixel(x, y));
        EXPECT_GT(colours.size(), 20u) << state << ": the picture looks blank";
    };
    shoot("entry");
    Redeem("VSP10");
    shoot("accepted");
    Click("btnOK");
    Redeem("VSPLONG");
    shoot("long_partner_name");
    Click("btnOK");
    Redeem("BLOCKED");
    shoot("refused");
    Click("btnOK");
    Click("btnDone");
    SaveRedeemed();
}

} // namespace

// Amounts on cent boundaries are sent whole: 19.99 is 1999 cents, and what a split code covers
// (payment and discount) is what the basket total shows.
TEST_F(PaymentScreenTest, CentBoundaryAmountsAreSentWhole) {
    struct TCase {
        std::int64_t Cents;
        const char* Code;
        std::int64_t Second; // asked of the next code
        const char *Outstanding, *Basket;
    };
    const TCase cases[] = {{1999, "PAY10", 999, "9.99", "10.00"},
                           {1601, "SPLIT10", 601, "6.01", "10.00"},
                           {1005, "PAY10", 5, "0.05", "10.00"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Cents);
        Open(c.Cents);
        const int sent = host.Ledger()._Count();
        Redeem(c.Code);
        Click("btnOK");
        EXPECT_EQ(Text(*form, "lblOutstanding"), c.Outstanding);
        EXPECT_EQ(Text(*form, "lblBasketTotal"), c.Basket);
        Redeem("PAY10");
        Click("btnOK");
        const TJSONDocument ledger = host.Ledger();
        ASSERT_EQ(ledger._Count(), sent + 2);
        EXPECT_EQ(ledger[sent]["requested"].AsInt64(), c.Cents);
        EXPECT_EQ(ledger[sent + 1]["requested"].AsInt64(), c.Second);
        Click("btnDone");
        EXPECT_DOUBLE_EQ(form->ProcessedTotal(),
                         UnitsOf(c.Cents - c.Second + ledger[sent + 1]["amount"].AsInt64()));
        SaveRedeemed();
    }
}

// Done closes with OK only when a code was kept: not after a refused code, and not after a code
// that could not be recorded (it is given back at once).
TEST_F(PaymentScreenTest, DoneWithoutAKeptCodeIsNoPayment) {
    Redeem("BLOCKED");
    Click("btnDone");
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(form->RedeemedList()._Count(), 0);

    Open(2550);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(host.DatabaseFile().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE UPDATE OF tvTrxID ON ZumvoPaymentTransactions "
                           "WHEN NEW.Status = 0 BEGIN SELECT RAISE(ABORT, 'database is locked'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    Redeem("PAY10");
    EXPECT_NE(Caption("btnOK"), "Add");
    EXPECT_THAT(host.Context->Transcript.Lines(),
                ::testing::Contains(HasSubstr("The Zumvo could not be recorded in the database")));
    sqlite3_exec(db, "DROP TRIGGER refuse", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Click("btnOK");
    Click("btnDone");
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(form->RedeemedList()._Count(), 0);
    EXPECT_EQ(host.Ledger()[0]["state"].AsString(), "released");
}

// An answer that came but could not be read is not called a connection error.
TEST_F(PaymentScreenTest, AnUnreadableAnswerIsNamedAsSuch) {
    host.AddFault(R"({"fault": "malformed", "request": "transaction", "count": 1})");
    Redeem("PAY10");
    const auto lines = host.Context->Transcript.Lines();
    EXPECT_THAT(lines, ::testing::Contains(
                           HasSubstr("The Zumvo server answered, but its answer could not be read:")));
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(HasSubstr("There was an error connecting"))));
    Click("btnOK");
}

// A SOAP fault comes with HTTP 500 (SOAP 1.1 over HTTP): the cashier reads the fault's text, on
// the screen and in the message, not only the status; the labels show a provider's text as it is.
TEST_F(PaymentScreenTest, ASoapFaultWithHttp500ShowsItsText) {
    host.AddFault(R"({"fault": "soapFault", "request": "transaction", "count": 1})");
    Redeem("PAY10");
    const std::string told = "The Zumvo server answered HTTP 500 for /pos/services/PosService (SOAP Fault "
                             "soap:Server: Internal service error)";
    EXPECT_EQ(Text(*form, "lblResponse"), told);
    EXPECT_EQ(form->findChild<QLabel*>("lblResponse")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Caption("btnOK"), "Retry");
    EXPECT_THAT(host.Context->Transcript.Lines(), ::testing::Contains("MESSAGE: error: " + told));
    Click("btnOK");
    EXPECT_EQ(host.Ledger()._Count(), 0);
}

// A wrong resource in the settings: the server's HTTP status is named on the screen and in the log.
TEST_F(PaymentScreenTest, AWrongResourceNamesTheServersHttpStatus) {
    host.WriteSettings("[Settings]\nSOAPServer=http://127.0.0.1:" + std::to_string(host.Port) +
                       "\nSOAPUrl=/services/transaction\nSOAPID=pos\nSOAPPWD=pw-1\n");
    Open(2550);
    Redeem("PAY10");
    EXPECT_EQ(Text(*form, "lblResponse"), "The Zumvo server answered HTTP 404 for /services/transaction");
    EXPECT_EQ(Caption("btnOK"), "Retry");
    EXPECT_THAT(
        host.Context->Transcript.Lines(),
        ::testing::Contains("MESSAGE: error: The Zumvo server answered HTTP 404 for /services/transaction"));
    EXPECT_TRUE(log.Has("[TZumvoAPI.Transaction] HTTP 404 for /services/transaction"));
    Click("btnOK");
    EXPECT_EQ(host.Ledger()._Count(), 0);
}
