#include "LogCapture.h"
#include "PersistenceTestHost.h"
#include "StatusFixture.h"
#include "clsAdviceRetry.h"
#include "clsDBAccess.h"
#include "clsHeldFundsRule.h"
#include "clsOutcomeUnknown.h"
#include "implDataChangesZumvo.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace zumvo;

namespace {

class TransactionStoreTest : public ::testing::Test {
protected:
    test::TPersistenceTestHost host;
    test::TLogCapture log{host.Folder};
    pallux::IntfPtr<IZumvoTransaction> store = pallux::MakeIntf<TZumvoTransaction>();

    void SetUp() override {
        host.WriteSettings("[Settings]\nZumvoStoreID=77\n");
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            host.Run(s);
    }

    TJSONDocument Transaction(std::int32_t id) {
        return TJSONDocument::CopyOf(
            host.Rows("SELECT * FROM [ZumvoPaymentTransactions] WHERE [ID] = " + std::to_string(id))[0]);
    }
    TJSONDocument Basket(std::int32_t id) {
        return TJSONDocument::CopyOf(
            host.Rows("SELECT * FROM [ZumvoPaymentBasket] WHERE [ID] = " + std::to_string(id))[0]);
    }
    int Count(const std::string& table) {
        return std::stoi(host.Value("SELECT COUNT(*) FROM [" + table + "]"));
    }

    // The log lines of one operation, from its "[Class.Method]" tag on.
    std::vector<std::string> LinesOf(const std::string& tag) {
        std::vector<std::string> out;
        for (const auto& l : log.Lines())
            if (auto p = l.find(tag); p != std::string::npos)
                out.push_back(l.substr(p));
        return out;
    }
};

} // namespace

TEST_F(TransactionStoreTest, InsertsAnswerTheNewIdentityAndTheCurrentTill) {
    const std::int32_t basket = store->AddBasket(-1);
    EXPECT_GT(basket, 0);
    EXPECT_EQ(Basket(basket)["TillID"].AsInteger(), 3) << "-1 stands for the current till";
    EXPECT_FALSE(Basket(basket)["Timestamp_Created"].IsNull());
    const std::int32_t other = store->AddBasket(7);
    EXPECT_EQ(other, basket + 1);
    EXPECT_EQ(Basket(other)["TillID"].AsInteger(), 7);

    const std::int32_t loose = store->AddTransaction();
    const std::int32_t inBasket = store->AddTransactionToBasket(basket);
    EXPECT_GT(loose, 0);
    EXPECT_EQ(inBasket, loose + 1);
    EXPECT_TRUE(Transaction(loose)["BasketID"].IsNull());
    EXPECT_TRUE(Transaction(loose)["InvoiceNum"].IsNull());
    EXPECT_EQ(Transaction(inBasket)["BasketID"].AsInteger(), basket);
    EXPECT_EQ(Transaction(inBasket)["Status"].AsInteger(), 0);
}

TEST_F(TransactionStoreTest, GetBasketAndGetTransactionFindTheInvoicesRowOrAddOne) {
    const std::int32_t first = store->GetBasket(500);
    EXPECT_GT(first, 0);
    EXPECT_EQ(Basket(first)["TillID"].AsInteger(), 3);
    const std::int32_t second = store->GetBasket(500);
    EXPECT_NE(second, first) << "the invoice number is not stored yet";
    store->SetBasketInvoice(first, 500);
    EXPECT_EQ(store->GetBasket(500), first);
    EXPECT_EQ(Count("ZumvoPaymentBasket"), 2);

    const std::int32_t trx = store->GetTransaction(500);
    EXPECT_GT(trx, 0);
    EXPECT_TRUE(Transaction(trx)["InvoiceNum"].IsNull());
    store->SaveInvoiceNum(trx, 500);
    EXPECT_EQ(store->GetTransaction(500), trx);
    EXPECT_EQ(Count("ZumvoPaymentTransactions"), 1);
}

TEST_F(TransactionStoreTest, SavedPaymentKeepsTheAnswerIntact) {
    const std::int32_t basket = store->AddBasket(3);
    const std::int32_t trx = store->AddTransactionToBasket(basket);
    const std::string answer = R"({"Zumvo":"AB'12","message":"it's 'ok'; -- not SQL","responseCode":"-1"})";
    store->SavePayment(trx, 98765, 12.34, answer);
    store->SaveBasketPayment(basket, 12.34);

    const auto row = Transaction(trx);
    EXPECT_EQ(row["Response"].AsString(), answer);
    EXPECT_EQ(row["Status"].AsInteger(), 1);
    EXPECT_EQ(row["tvTrxID"].AsInteger(), 98765);
    EXPECT_DOUBLE_EQ(row["Amount"].AsFloat(), 12.34);
    EXPECT_FALSE(row["Timestamp_Payment"].IsNull());
    EXPECT_TRUE(row["Timestamp_Finalised"].IsNull());
    EXPECT_DOUBLE_EQ(Basket(basket)["TotalAmount"].AsFloat(), 12.34);

    // The provider's answer is kept only on a row still waiting for it (status 0).
    const std::int32_t waiting = store->AddTransactionToBasket(basket);
    EXPECT_TRUE(store->SaveProviderAnswer(waiting, 555, answer, 401));
    EXPECT_EQ(Transaction(waiting)["tvTrxID"].AsInteger(), 555);
    const std::int32_t givenBack = store->AddTransactionToBasket(basket);
    test::PutStatus(givenBack, TTransactionStatus::Cancelled);
    EXPECT_FALSE(store->SaveProviderAnswer(givenBack, 556, answer, 401));
    EXPECT_TRUE(Transaction(givenBack)["tvTrxID"].IsNull());

    // An answer longer than the first Response column fits since it was widened.
    const std::string longAnswer = R"({"Zumvo":"X","pad":")" + std::string(4000, 'p') + "\"}";
    store->SavePayment(trx, 1, 0.5, longAnswer);
    EXPECT_EQ(Transaction(trx)["Response"].AsString(), longAnswer);
    EXPECT_FALSE(test::LogContains(log, "Error : "));
}

TEST_F(TransactionStoreTest, BasketWritesChangeOnlyTheRowsWhoseChangeIsAllowed) {
    using enum TTransactionStatus;
    const std::int32_t basket = store->AddBasket(3);
    const std::int32_t otherBasket = store->AddBasket(3);
    std::vector<std::int32_t> ids;
    for (const TTransactionStatus status :
         {Started, Redeemed, Cancelled, FinaliseFailed, CancelFailed, Redeemed}) {
        const std::int32_t id = store->AddTransactionToBasket(basket);
        test::PutStatus(id, status);
        ids.push_back(id);
    }
    const std::int32_t foreign = store->AddTransactionToBasket(otherBasket);
    test::PutStatus(foreign, Redeemed);

    store->SaveFinaliseForBasket(basket);
    const std::vector<TTransactionStatus> finalised{Started,        Finalised,    Cancelled,
                                                    FinaliseFailed, CancelFailed, Finalised};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto row = Transaction(ids[i]);
        EXPECT_EQ(ToTransactionStatus(row["Status"].AsInteger()), finalised[i]) << "row " << i;
        EXPECT_EQ(row["Timestamp_Finalised"].IsNull(), finalised[i] != Finalised) << "row " << i;
    }
    EXPECT_EQ(ToTransactionStatus(Transaction(foreign)["Status"].AsInteger()), Redeemed) << "another basket";

    // One row: finalised only from where a FINALISE can be confirmed; a cancelled row stays so.
    EXPECT_FALSE(store->SaveFinalise(ids[2]));
    EXPECT_EQ(ToTransactionStatus(Transaction(ids[2])["Status"].AsInteger()), Cancelled);
    EXPECT_TRUE(store->SaveFinalise(ids[3]));
    EXPECT_FALSE(Transaction(ids[3])["Timestamp_Finalised"].IsNull());

    // Cancelling a basket closes only the rows that hold nothing: started, without a provider
    // number, and not named as not given back; every other row keeps its status.
    const std::int32_t empty = store->AddTransactionToBasket(basket);
    const std::int32_t accepted = store->AddTransactionToBasket(basket);
    ASSERT_TRUE(store->SaveProviderAnswer(accepted, 4242, R"({"Zumvo":"PAY-1"})", 401));
    test::PutStatus(foreign, Started);
    store->SetStatusForBasketExcept(basket, Cancelled, CancelFailed, {ids[0]});
    EXPECT_EQ(ToTransactionStatus(Transaction(empty)["Status"].AsInteger()), Cancelled);
    EXPECT_EQ(ToTransactionStatus(Transaction(accepted)["Status"].AsInteger()), Started)
        << "a code accepted but not given back may hold money";
    EXPECT_EQ(ToTransactionStatus(Transaction(ids[0])["Status"].AsInteger()), Started) << "named: kept";
    EXPECT_EQ(ToTransactionStatus(Transaction(ids[4])["Status"].AsInteger()), CancelFailed);
    EXPECT_EQ(ToTransactionStatus(Transaction(foreign)["Status"].AsInteger()), Started) << "another basket";

    // The basket-wide write reaches the rows that may change to the status; the invoice every row.
    test::PutStatus(ids[1], Cancelled);
    store->SetStatusForBasket(basket, Redeemed);
    store->SetInvoicForBaskt(basket, 4711);
    const std::vector<TTransactionStatus> redeemed{Redeemed,  Cancelled,    Cancelled,
                                                   Finalised, CancelFailed, Finalised};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(ToTransactionStatus(Transaction(ids[i])["Status"].AsInteger()), redeemed[i]) << "row " << i;
        EXPECT_EQ(Transaction(ids[i])["InvoiceNum"].AsInteger(), 4711);
    }
    EXPECT_EQ(ToTransactionStatus(Transaction(foreign)["Status"].AsInteger()), Started);
}

// Every change of status, allowed or not, tried on a row in the status it names and again once
// the row has moved on: only the table's changes are made, only from the status named, and the
// caller is told which of the two refused it.
TEST_F(TransactionStoreTest, StatusChangesFollowTheTransitionTableOnly) {
    using enum TTransactionStatus;
    const std::vector<TTransactionStatus> all{Started,   Redeemed,       Finalised,
                                              Cancelled, FinaliseFailed, CancelFailed};
    std::size_t allowed = 0;
    for (const TTransactionStatus from : all)
        for (const TTransactionStatus to : all) {
            if (from == to)
                continue;
            const std::int32_t row = store->AddTransaction();
            test::PutStatus(row, from);
            const TStatusWrite write = store->ChangeStatus(row, from, to);
            const auto now = ToTransactionStatus(Transaction(row)["Status"].AsInteger());
            const std::string change = std::to_string(ToInt(from)) + " -> " + std::to_string(ToInt(to));
            if (IsAllowedChange(from, to)) {
                ++allowed;
                EXPECT_EQ(write, TStatusWrite::Changed) << change;
                EXPECT_EQ(now, to) << change;
                EXPECT_EQ(store->ChangeStatus(row, from, to), TStatusWrite::NotInStatus)
                    << change << " again";
            } else {
                EXPECT_EQ(write, TStatusWrite::NotAllowed) << change;
                EXPECT_EQ(now, from) << change << " must be refused";
                EXPECT_FALSE(store->SetStatus(row, to)) << change << " through the plain status write";
                EXPECT_EQ(ToTransactionStatus(Transaction(row)["Status"].AsInteger()), from) << change;
            }
        }
    EXPECT_EQ(allowed, StatusChanges().size()) << "each change of the table is tried once";
    // A code given back meanwhile is not kept as paid.
    const std::int32_t takenBack = store->AddTransaction();
    test::PutStatus(takenBack, CancelFailed);
    EXPECT_EQ(store->KeepPayment(takenBack, 77, 1001, R"({"Zumvo":"PAY-1"})"), TStatusWrite::NotInStatus);
    EXPECT_EQ(ToTransactionStatus(Transaction(takenBack)["Status"].AsInteger()), CancelFailed);
    EXPECT_TRUE(Transaction(takenBack)["tvTrxID"].IsNull());
}

TEST_F(TransactionStoreTest, AddLogStoresTheTextsOrAnswersFalse) {
    EXPECT_TRUE(store->AddLog("INFO", "New Basket: 1"));
    EXPECT_TRUE(store->AddLog("INFO", "Cancelling 'quoted' code"));
    EXPECT_TRUE(store->AddLog("INFO", std::string(1000, 'm')));
    EXPECT_FALSE(store->AddLog("INFO", std::string(1001, 'm'))) << "over the column's 1000 characters";
    EXPECT_FALSE(store->AddLog("INFORMATION", "class over 10 characters"));

    const auto rows =
        host.Rows("SELECT [Class], [Message], [Timestamp] FROM [zumvoPaymentLog] ORDER BY [ID]");
    ASSERT_EQ(rows._Count(), 3) << "the refused inserts left nothing";
    EXPECT_EQ(rows[0]["Class"].AsString(), "INFO");
    EXPECT_EQ(rows[1]["Message"].AsString(), "Cancelling 'quoted' code");
    EXPECT_EQ(rows[2]["Message"].AsString().size(), 1000u);
    EXPECT_FALSE(rows[0]["Timestamp"].IsNull());

    // A message that fits keeps fitting once a password in it is masked (8 characters for 6),
    // cut between characters; the advice's last error is cut to its 500 bytes the same way.
    MaskInLog("pw-123");
    const std::string near = std::string(994, 'm') + "pw-123";
    EXPECT_TRUE(store->AddLog("INFO", near));
    const std::int32_t row = store->AddTransactionToBasket(store->AddBasket(3));
    store->RecordAdviceAttempt(row, std::string(497, 'e') + "\xC3\xA9\xC3\xA9 pw-123");
    const TJSONDocument logs = host.Rows("SELECT [Message] FROM [zumvoPaymentLog] ORDER BY [ID] DESC");
    EXPECT_EQ(logs[0]["Message"].AsString(), std::string(994, 'm') + "******");
    const TJSONDocument errors = host.Rows(
        "SELECT [AdviceLastError] FROM [ZumvoPaymentTransactions] WHERE [ID] = " + std::to_string(row));
    EXPECT_EQ(errors[0]["AdviceLastError"].AsString(), std::string(497, 'e') + "\xC3\xA9");
}

// A provider that echoes the password in its answer: the stored answer shows it in no form (as
// written, JSON-escaped), and everything else of the answer (code, amounts, a number that reads as
// the password) is kept as it was.
TEST_F(TransactionStoreTest, StoredAnswersNeverHoldThePassword) {
    const std::string password = R"(Pw"9\x)"; // a quote and a backslash: escaped in JSON
    MaskInLog(password);
    const std::int32_t basket = store->AddBasket(3);
    const std::int32_t paid = store->AddTransactionToBasket(basket);
    const std::string answer = R"({"Zumvo":"PAY-100","amount":6.15,"echo":"pw=Pw\"9\\x;","n":7041,)"
                               R"("nested":"{\"pwd\":\"Pw\\\"9\\\\x\"}"})";
    store->SavePayment(paid, 321, 6.15, answer);
    const std::int32_t waiting = store->AddTransactionToBasket(basket);
    EXPECT_TRUE(store->SaveProviderAnswer(waiting, 322, answer, 401));

    for (const std::int32_t id : {paid, waiting}) {
        const std::string stored = Transaction(id)["Response"].AsString();
        EXPECT_EQ(stored.find("Pw"), std::string::npos) << stored;
        const TJSONDocument data = TJSONDocument::Parse(stored);
        EXPECT_EQ(data["Zumvo"].AsString(), "PAY-100");
        EXPECT_DOUBLE_EQ(data["amount"].AsFloat(), 6.15);
        EXPECT_EQ(data["n"].AsInteger(), 7041);
        EXPECT_EQ(data["echo"].AsString(), "pw=********;");
        EXPECT_EQ(data["nested"].AsString(), R"({"pwd":"********"})");
    }
    // An answer without the password is kept byte for byte.
    const std::string plain = R"({"Zumvo":"AB-1","amount":1.10,"q":"say \"hi\" \\ bye"})";
    store->SavePayment(paid, 321, 1.10, plain);
    EXPECT_EQ(Transaction(paid)["Response"].AsString(), plain);
}

TEST_F(TransactionStoreTest, InvoiceTillComesFromTheHostsInvoices) {
    host.Run("INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [AFTERDISC] ) VALUES ( 900, 2, 10.0 );"
             "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [AFTERDISC] ) VALUES ( 901, NULL, 5.0 )");
    EXPECT_EQ(store->GetInvoiceTill(900), 2);
    EXPECT_EQ(store->GetInvoiceTill(999), -1) << "no such invoice";
    EXPECT_EQ(store->GetInvoiceTill(901), -1) << "an invoice without till";
}

// The rows of invoices the host no longer stands by (overridden 1, refunded 2): the settled ones
// are marked once as a refund owed, the ones still held become "failed to cancel" (the retry gives
// them back); rows of a standing invoice (a driver's awaiting its cash-up) or of an open basket,
// and rows in other statuses, stay as they were.
TEST_F(TransactionStoreTest, RowsOfTheHostsWithdrawnInvoicesAreMarkedOrReopened) {
    using enum TTransactionStatus;
    const struct {
        int InvoiceStatus; // -1: the basket has no invoice
        TTransactionStatus Status;
        bool Marked;
        bool ExpectedMark;
        TTransactionStatus ExpectedStatus;
    } rows[] = {
        {1, Finalised, false, true, Finalised},
        {2, Finalised, false, true, Finalised},
        {0, Finalised, false, false, Finalised},
        {1, Redeemed, false, false, CancelFailed},
        {2, Redeemed, false, false, CancelFailed},
        {0, Redeemed, false, false, Redeemed},
        {1, FinaliseFailed, false, false, FinaliseFailed},
        {1, Finalised, true, true, Finalised},
        {-1, Finalised, false, false, Finalised},
        {-1, Redeemed, false, false, Redeemed},
    };
    std::int32_t invoice = 700;
    for (const auto& r : rows) {
        const std::int32_t basket = store->AddBasket(2);
        if (r.InvoiceStatus >= 0) {
            store->SetBasketInvoice(basket, ++invoice);
            host.Run("INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [AFTERDISC], [STATUS] ) VALUES ( " +
                     std::to_string(invoice) + ", 2, 10.0, " + std::to_string(r.InvoiceStatus) + " )");
        }
        const std::int32_t trx = store->AddTransactionToBasket(basket);
        test::PutStatus(trx, r.Status);
        if (r.Marked)
            store->MarkRefundOwed(trx);
    }
    EXPECT_EQ(store->MarkRefundsOwed(), 2);
    EXPECT_EQ(store->MarkRefundsOwed(), 0) << "marked once";
    EXPECT_EQ(store->ReopenWithdrawnRedemptions(), 2);
    EXPECT_EQ(store->ReopenWithdrawnRedemptions(), 0) << "moved once";
    const TJSONDocument marks =
        host.Rows("SELECT [RefundOwed], [Status] FROM [ZumvoPaymentTransactions] ORDER BY [ID]");
    ASSERT_EQ(marks._Count(), static_cast<int>(std::size(rows)));
    for (int i = 0; i < marks._Count(); ++i) {
        EXPECT_EQ(marks[i]["RefundOwed"].AsInteger() == 1, rows[i].ExpectedMark) << "row " << i;
        EXPECT_EQ(marks[i]["Status"].AsInteger(), ToInt(rows[i].ExpectedStatus)) << "row " << i;
    }
}

// A driver's cash-up that stopped after the host wrote its cash entry leaves accepted codes of an
// invoice paid in full: they are moved to be settled. The codes of an invoice not yet paid (to
// the cent), of one the host withdrew, or of a basket without invoice stay as they are.
TEST_F(TransactionStoreTest, AcceptedCodesOfInvoicesPaidInFullAreMovedToBeSettled) {
    const auto sale = [&](std::int32_t invoice, int status, const std::string& payments) {
        host.Run("INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [AFTERDISC], [STATUS] ) VALUES ( " +
                 std::to_string(invoice) + ", 2, 20.05, " + std::to_string(status) + " ); " + payments);
        const std::int32_t basket = store->AddBasket(2);
        EXPECT_TRUE(store->TieBasketToInvoice(basket, invoice));
        const std::int32_t row = store->AddTransactionToBasket(basket);
        test::PutStatus(row, TTransactionStatus::Redeemed);
        return row;
    };
    const std::int32_t paid =
        sale(801, 0, "INSERT INTO [InvoicesPayment] VALUES ( 801, 'Zumvo', 12.51 ), ( 801, 'Cash', 7.54 )");
    const std::int32_t centShort =
        sale(802, 0, "INSERT INTO [InvoicesPayment] VALUES ( 802, 'Zumvo', 12.51 ), ( 802, 'Cash', 7.53 )");
    const std::int32_t withdrawn =
        sale(803, 1, "INSERT INTO [InvoicesPayment] VALUES ( 803, 'Cash', 20.05 )");
    const std::int32_t open = store->AddTransactionToBasket(store->AddBasket(2));
    test::PutStatus(open, TTransactionStatus::Redeemed);
    EXPECT_EQ(store->MarkPaidRedemptions(), 1);
    EXPECT_EQ(store->ReadStatus(paid), TTransactionStatus::FinaliseFailed);
    EXPECT_EQ(store->ReadStatus(centShort), TTransactionStatus::Redeemed);
    EXPECT_EQ(store->ReadStatus(withdrawn), TTransactionStatus::Redeemed);
    EXPECT_EQ(store->ReadStatus(open), TTransactionStatus::Redeemed);
    EXPECT_EQ(store->MarkPaidRedemptions(), 0) << "moved once";
}

TEST_F(TransactionStoreTest, InvoiceDetailsListTheBasketWithItsTransactions) {
    std::string details = "unset";
    store->GetBasketDetailsForInvoice(321, details);
    EXPECT_EQ(details, "{}") << "no basket for the invoice";

    const std::int32_t basket = store->AddBasket(3);
    store->SetBasketInvoice(basket, 321);
    store->GetBasketDetailsForInvoice(321, details);
    auto doc = TJSONDocument::Parse(details);
    EXPECT_EQ(doc["ID"].AsInteger(), basket);
    EXPECT_EQ(doc["TillID"].AsInteger(), 3);
    ASSERT_TRUE(doc["Transactions"].IsArray());
    EXPECT_EQ(doc["Transactions"]._Count(), 0);

    const std::int32_t redeemed = store->AddTransactionToBasket(basket);
    store->SavePayment(redeemed, 55, 4.5, R"({"Zumvo":"CODE'1","responseCode":"-1"})");
    const std::int32_t started = store->AddTransactionToBasket(basket); // Response NULL
    const std::int32_t blank = store->AddTransactionToBasket(basket);
    store->SavePayment(blank, 56, 0, "");
    const std::int32_t noCode = store->AddTransactionToBasket(basket);
    store->SavePayment(noCode, 57, 1, R"({"responseCode":"-1"})");
    const std::int32_t elsewhere = store->AddTransactionToBasket(store->AddBasket(3));
    store->SavePayment(elsewhere, 58, 1, R"({"Zumvo":"OTHER"})");
    store->SetInvoicForBaskt(basket, 321);

    details.clear();
    store->GetBasketDetailsForInvoice(321, details);
    doc = TJSONDocument::Parse(details);
    const auto trx = doc["Transactions"];
    ASSERT_EQ(trx._Count(), 4) << "chosen by invoice";
    EXPECT_EQ(trx[0]["TransactionID"].AsInteger(), redeemed);
    EXPECT_EQ(trx[0]["tvTrxID"].AsInteger(), 55);
    EXPECT_EQ(trx[0]["Data"]["responseCode"].AsString(), "-1");
    EXPECT_EQ(trx[0]["Zumvo"].AsString(), "CODE'1");
    EXPECT_EQ(trx[1]["TransactionID"].AsInteger(), started);
    EXPECT_FALSE(trx[1].Exists("Data"));
    EXPECT_FALSE(trx[1].Exists("Zumvo"));
    EXPECT_FALSE(trx[2].Exists("Data")) << "a blank answer";
    EXPECT_FALSE(trx[2].Exists("Zumvo"));
    EXPECT_TRUE(trx[3]["Data"].IsObject());
    EXPECT_EQ(trx[3]["Zumvo"].AsString(), "") << "an answer without code";

    // Per row: the row, the three truth values, then 1 or 2. The first row has an answer, the
    // second a null one.
    const auto lines = LinesOf("[TZumvoTransaction.GetBasketDetailsForInvoice]");
    const std::string tag = "[TZumvoTransaction.GetBasketDetailsForInvoice] ";
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0].rfind(tag + "0 : {", 0), 0u);
    EXPECT_EQ(lines[5].rfind(tag + "1 : {", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
              (std::vector<std::string>{tag + "Response NULL : False", tag + "Response Blank : False",
                                        tag + "Invalid Response : False", tag + "1"}));
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.begin() + 10),
              (std::vector<std::string>{tag + "Response NULL : True", tag + "Response Blank : False",
                                        tag + "Invalid Response : True", tag + "2"}));
    EXPECT_EQ(lines[12], tag + "Response Blank : True") << "the third row";
    EXPECT_FALSE(test::LogContains(log, "Error : "));
}

TEST_F(TransactionStoreTest, BasketDetailsByIDGiveEveryRowDataAndCode) {
    const std::int32_t basket = store->AddBasket(3);
    const std::int32_t redeemed = store->AddTransactionToBasket(basket);
    store->SavePayment(redeemed, 55, 4.5, R"({"Zumvo":"QR-1","tvTrxId":"55"})");
    store->AddTransactionToBasket(basket); // Response NULL
    const std::int32_t blank = store->AddTransactionToBasket(basket);
    store->SavePayment(blank, 56, 0, "");
    store->AddTransaction(); // no basket

    std::string details;
    store->GetBasketDetailsForID(basket, details);
    const auto doc = TJSONDocument::Parse(details);
    EXPECT_EQ(doc["ID"].AsInteger(), basket);
    const auto trx = doc["Transactions"];
    ASSERT_EQ(trx._Count(), 3);
    EXPECT_EQ(trx[0]["Zumvo"].AsString(), "QR-1");
    EXPECT_EQ(trx[0]["Data"]["tvTrxId"].AsString(), "55");
    for (int i : {1, 2}) {
        EXPECT_EQ(trx[i]["Data"].ToJSON(), "{}") << "row " << i;
        EXPECT_EQ(trx[i]["Zumvo"].AsString(), "") << "row " << i;
        EXPECT_TRUE(trx[i]["TransactionID"].IsInteger());
    }
    const auto lines = LinesOf("[TZumvoTransaction.GetBasketDetailsForID]");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("[TZumvoTransaction.GetBasketDetailsForID] 0 : {\"ID\":", 0), 0u);

    // A basket that does not exist: the operation fails and leaves Details as it was.
    details = "unchanged";
    store->GetBasketDetailsForID(basket + 100, details);
    EXPECT_EQ(details, "unchanged");
    EXPECT_TRUE(log.Has("[TZumvoTransaction.GetBasketDetailsForID] Error : Basket " +
                        std::to_string(basket + 100) + " does not exist"));
}

TEST_F(TransactionStoreTest, FailuresAreLoggedAndAnsweredWithTheFailureResults) {
    // Without the module's tables every statement is refused by the database.
    host.Run("DROP TABLE [ZumvoPaymentTransactions]; DROP TABLE [ZumvoPaymentBasket]; DROP TABLE "
             "[zumvoPaymentLog]");
    EXPECT_EQ(store->AddTransaction(), -1);
    EXPECT_EQ(store->AddBasket(3), -1);
    EXPECT_EQ(store->GetBasket(1), 0);
    EXPECT_EQ(store->GetTransaction(1), 0);
    EXPECT_FALSE(store->AddLog("INFO", "x"));
    EXPECT_EQ(store->ChangeStatus(1, TTransactionStatus::Redeemed, TTransactionStatus::FinaliseFailed),
              TStatusWrite::Failed);
    EXPECT_FALSE(store->SetStatus(1, TTransactionStatus::Finalised));
    EXPECT_FALSE(LinesOf("[TZumvoTransaction.AddTransaction] Error : ").empty());
    EXPECT_FALSE(LinesOf("[TZumvoTransaction.ChangeStatus] Error : ").empty())
        << "a refused update is not lost silently";

    std::string details = "unchanged";
    store->GetBasketDetailsForInvoice(1, details);
    EXPECT_EQ(details, "unchanged");

    // Without the database script service.
    host.Container->UnregisterFactory(pallux::IDBScript::IID);
    EXPECT_EQ(store->AddTransactionToBasket(1), -1);
    EXPECT_EQ(store->GetInvoiceTill(1), -1);
    EXPECT_TRUE(log.Has("[TZumvoTransaction.AddTransactionToBasket] Error : Could not create DBScript"));
    EXPECT_TRUE(log.Has("[TZumvoTransaction.GetInvoiceTill] Error : Could not create DBScript"));

    // Without the identity singleton the current till is unknown.
    host.Container->UnregisterFactory(IZumvoInfo::IID);
    EXPECT_EQ(store->AddBasket(-1), -1);
    EXPECT_TRUE(log.Has("[TZumvoTransaction.AddBasket] Error : Could not create ZumvoInfo"));
}

TEST(DBAccessTest, IdentifierTextIsAWholeNumberOrMinusOne) {
    EXPECT_EQ(IdentifierFromText(" 7\r\n"), 7);
    for (const char* text : {"", "12a", "1.5", "99999999999"})
        EXPECT_EQ(IdentifierFromText(text), -1) << text;
}

// The held-funds look-up measures an open sale's idleness from its latest code, in the store's
// own SQL: rows made through the store, then set back in time by the database. A sale opened
// three hours ago whose latest code came now (or was given back ten minutes ago) is still being
// rung up; one whose latest code is two hours old is abandoned (after 60 minutes).
TEST_F(TransactionStoreTest, HeldFundsMeasureAnOpenSaleFromItsLatestCode) {
    const auto back = [&](const char* table, std::int32_t id, int minutes) {
        const std::string ago = "DATEADD( MINUTE, -" + std::to_string(minutes) + ", ";
        host.Run(std::string("UPDATE [") + table + "] SET [Timestamp_Created] = " + ago +
                 "[Timestamp_Created] ) WHERE [ID] = " + std::to_string(id));
        if (std::string(table) == "ZumvoPaymentTransactions") // a code's payment is as old as the code
            host.Run("UPDATE [ZumvoPaymentTransactions] SET [Timestamp_Payment] = " + ago +
                     "[Timestamp_Payment] ) WHERE [ID] = " + std::to_string(id));
    };
    struct TSale {
        std::int32_t Basket = 0;
        std::string LatestCode; // Timestamp_Created of its newest row
    };
    // A basket of the till opened three hours ago, with a row per code of the given ages in
    // minutes: accepted codes, or given back (status -1) or never answered (status 0).
    const auto sale = [&](std::int32_t till, std::vector<std::pair<int, TTransactionStatus>> codes) {
        TSale s;
        s.Basket = store->AddBasket(till);
        back("ZumvoPaymentBasket", s.Basket, 180);
        int youngest = 1 << 30;
        for (const auto& [age, status] : codes) {
            const std::int32_t trx = store->AddTransactionToBasket(s.Basket);
            if (status == TTransactionStatus::Redeemed)
                store->SavePayment(trx, 1000 + trx, 10.01, R"({"Zumvo":"PAY-100"})");
            else if (status != TTransactionStatus::Started)
                test::PutStatus(trx, status);
            back("ZumvoPaymentTransactions", trx, age);
            if (age < youngest) {
                youngest = age;
                s.LatestCode = Transaction(trx)["Timestamp_Created"].AsString();
            }
        }
        return s;
    };
    using S = TTransactionStatus;
    const TSale takingCodes = sale(3, {{180, S::Redeemed}, {0, S::Redeemed}});
    const TSale idle = sale(4, {{180, S::Redeemed}, {120, S::Redeemed}});
    const TSale lastGivenBack = sale(5, {{170, S::Redeemed}, {10, S::Cancelled}});
    const TSale neverAnswered = sale(6, {{150, S::Started}});

    std::string text;
    store->GetHeldFunds(text);
    const TJSONDocument rows = TJSONDocument::Parse(text);
    TRetrySettings settings;
    settings.AbandonedAfter = std::chrono::minutes(60);
    TRetryRequest backOffice;
    backOffice.Trigger = TRetryTrigger::OnDemand;
    std::map<std::int32_t, std::set<THeldKind>> kinds;
    std::map<std::int32_t, std::string> latest;
    for (int i = 0; i < rows._Count(); ++i) {
        const THeldRow row = ReadHeldRow(rows[i], settings, backOffice);
        kinds[row.BasketID].insert(row.Kind);
        latest[row.BasketID] = rows[i]["BasketLastCode"].AsString("");
    }
    ASSERT_EQ(kinds.size(), 4u) << text;
    const struct {
        const char* Name;
        const TSale& Sale;
        THeldKind Kind;
    } cases[] = {
        {"still taking codes", takingCodes, THeldKind::InProgress},
        {"idle for two hours", idle, THeldKind::Abandoned},
        {"a code given back ten minutes ago", lastGivenBack, THeldKind::InProgress},
        {"a request never answered", neverAnswered, THeldKind::Abandoned},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kinds[c.Sale.Basket], std::set<THeldKind>{c.Kind}) << c.Name;
        // The same moment, whichever way the database writes it ('T' or a blank).
        EXPECT_EQ(ParseTimestamp(latest[c.Sale.Basket]), ParseTimestamp(c.Sale.LatestCode)) << c.Name;
        EXPECT_TRUE(ParseTimestamp(c.Sale.LatestCode).has_value()) << c.Sale.LatestCode;
    }
}

// The held-funds rule is written once and read two ways: as the store's SQL condition and as the
// judgement of each row. Every status with every combination of the facts the rule asks about
// (an outcome-unknown note, a basket with or without an invoice, a refund owed, the provider's
// number): the store lists
// exactly the rows the judgement gives a reason, and the retry's reading of each listed row agrees.
TEST_F(TransactionStoreTest, HeldFundsListExactlyTheRowsTheRuleGivesAReason) {
    enum class TBasket { None, Open, Invoiced };
    std::map<std::int32_t, THeldReason> expected;
    std::int32_t invoice = 500;
    for (const auto status : {TTransactionStatus::Started, TTransactionStatus::Redeemed,
                              TTransactionStatus::Finalised, TTransactionStatus::Cancelled,
                              TTransactionStatus::FinaliseFailed, TTransactionStatus::CancelFailed})
        for (const bool note : {false, true})
            for (const auto basket : {TBasket::None, TBasket::Open, TBasket::Invoiced})
                for (const bool refundOwed : {false, true})
                    for (const bool number : {false, true}) {
                        std::int32_t trx = 0;
                        if (basket == TBasket::None) {
                            trx = store->AddTransaction();
                        } else {
                            const std::int32_t id = store->AddBasket(2);
                            if (basket == TBasket::Invoiced)
                                store->SetBasketInvoice(id, ++invoice);
                            trx = store->AddTransactionToBasket(id);
                        }
                        test::PutStatus(trx, status);
                        if (note)
                            store->SaveOutcomeUnknown(
                                trx, OutcomeUnknownNote("no answer", "77-1", "77-2", "PAY-1", 500, 17));
                        if (refundOwed)
                            store->MarkRefundOwed(trx);
                        if (number)
                            NewDBScript()->Execute(
                                "UPDATE [ZumvoPaymentTransactions] SET [tvTrxID] = 9100 WHERE [ID] = " +
                                std::to_string(trx));
                        expected[trx] =
                            HeldReason(status, {note, basket == TBasket::Open, refundOwed, number});
                    }
    ASSERT_EQ(expected.size(), 144u);

    std::string text;
    store->GetHeldFunds(text);
    const TJSONDocument rows = TJSONDocument::Parse(text);
    std::set<std::int32_t> listed;
    for (int i = 0; i < rows._Count(); ++i) {
        const THeldRow row = ReadHeldRow(rows[i], TRetrySettings{}, TRetryRequest{});
        listed.insert(row.ID);
        EXPECT_NE(expected[row.ID], THeldReason::None) << "row " << row.ID << " listed without a reason";
        EXPECT_NE(row.Kind, THeldKind::None) << "row " << row.ID << " listed but judged to hold nothing";
    }
    std::set<std::int32_t> withReason;
    for (const auto& [id, reason] : expected)
        if (reason != THeldReason::None)
            withReason.insert(id);
    EXPECT_EQ(listed, withReason);
    // Each reason occurs: the table above reaches every clause of the rule.
    std::set<THeldReason> reasons;
    for (const auto& [id, reason] : expected)
        reasons.insert(reason);
    EXPECT_EQ(reasons.size(), 6u);
}

// The list read a part at a time, as the retry after a sale reads it: the parts hold the whole
// list's rows with the same columns, in row order, none twice, never more than asked; and the
// row tried last is found among the listed rows only.
TEST_F(TransactionStoreTest, HeldFundsReadAfterARowGiveTheListInBoundedParts) {
    std::vector<std::int32_t> held;
    for (int i = 0; i < 12; ++i) {
        const std::int32_t trx = store->AddTransaction();
        const bool listed = i % 3 != 1;
        test::PutStatus(trx, listed ? TTransactionStatus::FinaliseFailed : TTransactionStatus::Finalised);
        if (listed)
            held.push_back(trx);
    }
    std::string text;
    store->GetHeldFunds(text);
    const TJSONDocument whole = TJSONDocument::Parse(text);
    ASSERT_EQ(whole._Count(), 8);

    std::vector<std::string> parts; // each row's JSON, part after part
    std::int32_t after = -1;
    for (int part = 0; part < 10; ++part) {
        store->GetHeldFundsAfter(after, 3, text);
        const TJSONDocument rows = TJSONDocument::Parse(text);
        ASSERT_LE(rows._Count(), 3);
        if (rows._Count() == 0)
            break;
        for (int i = 0; i < rows._Count(); ++i)
            parts.push_back(rows[i].ToJSON());
        after = rows[rows._Count() - 1]["ID"].AsInteger();
    }
    std::vector<std::string> expected;
    for (int i = 0; i < whole._Count(); ++i)
        expected.push_back(whole[i].ToJSON());
    EXPECT_EQ(parts, expected);
    store->GetHeldFundsAfter(held[2], 2, text);
    const TJSONDocument two = TJSONDocument::Parse(text);
    ASSERT_EQ(two._Count(), 2);
    EXPECT_EQ(two[0]["ID"].AsInteger(), held[3]);
    EXPECT_EQ(two[1]["ID"].AsInteger(), held[4]);
    store->GetHeldFundsAfter(-1, 0, text);
    EXPECT_EQ(text, "[]");

    EXPECT_EQ(store->LastHeldAttempt(), -1) << "nothing tried yet";
    store->RecordAdviceAttempt(held[5], "No answer");
    store->RecordAdviceAttempt(held[1], "No answer");
    host.Run("UPDATE [ZumvoPaymentTransactions] SET [AdviceLastAttempt] = CAST('2026-12-01T10:00:00' AS "
             "DATETIME) WHERE [AdviceLastAttempt] IS NOT NULL");
    EXPECT_EQ(store->LastHeldAttempt(), held[5]) << "the same moment: the later row";
    host.Run("UPDATE [ZumvoPaymentTransactions] SET [AdviceLastAttempt] = DATEADD( MINUTE, -5, "
             "[AdviceLastAttempt] ) WHERE [ID] = " +
             std::to_string(held[5]));
    EXPECT_EQ(store->LastHeldAttempt(), held[1]) << "the latest attempt";
    store->RecordAdviceAttempt(held[0] + 1, "not listed"); // a settled row: not in the list
    EXPECT_EQ(store->LastHeldAttempt(), held[1]);
}
