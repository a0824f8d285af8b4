#include "FZumvoPayment.h"

#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "ZumvoQRDetect.h"
#include "clsButtonProgress.h"
#include "clsJpegImage.h"
#include "clsModuleContainer.h"
#include "clsOutcomeUnknown.h"
#include "implZumvoAPI.h"
#include "intfCurrentBasket.h"
#include "intfDisplayMessage.h"
#include "intfZumvoAPI.h"
#include "intfZumvoInfo.h"
#include "intfZumvoLogic.h"
#include "intfZumvoTransaction.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace zumvo {

namespace {

constexpr const char* NotAddedQuestion =
    "You haven't added the current Zumvo to the basket, do you want to continue?";
constexpr const char* CancelCurrentQuestion =
    "You have entered a valid Zumvo, do you want to continue and cancel it?";
constexpr const char* CancelBasketQuestion =
    "You have added Zumvo to your payment, do you want to continue and cancel them?";
constexpr const char* ConnectionErrorText = "There was an error connecting to the server:";

constexpr const char* NoAnswerText = "No answer from the Zumvo server";
constexpr const char* NotRecordedText =
    "The Zumvo could not be recorded in the database and has been given back to the customer.";

constexpr int LargeTextPixels = 21;
// The smallest a label's font shrinks to so that a long text of the provider still shows whole.
constexpr int SmallestTextPixels = 12;

// Whole cents of an amount in currency units, halves to the even neighbour.
std::int64_t CentsHalfEven(double amount) {
    return static_cast<std::int64_t>(std::nearbyint(amount * 100.0));
}

// An amount as the screen shows it: two decimals, rounded half to even on the cent.
QString MoneyText(double amount) {
    const std::int64_t cents = CentsHalfEven(amount);
    const std::int64_t whole = std::llabs(cents) / 100;
    const std::int64_t rest = std::llabs(cents) % 100;
    return QString("%1%2.%3").arg(cents < 0 ? "-" : "").arg(whole).arg(rest, 2, 10, QChar('0'));
}

// A floating value in general number format ("6", "15.5").
std::string GeneralNumber(double v) {
    return QString::number(v, 'g', 15).toStdString();
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::ButtonText, colour);
    w->setPalette(p);
}

// Shows a text of the provider's whole in its label's fixed box: in a smaller font when it is too
// wide in the screen's large one, on two lines when even the smallest is too wide. The whole text
// is the label's tool tip too.
void SetWholeText(QLabel* label, const QString& text) {
    const QRect box = label->contentsRect();
    const int alignment = static_cast<int>(label->alignment());
    const auto fits = [&](const QFont& font) {
        return box.contains(QFontMetrics(font).boundingRect(box, alignment, text));
    };
    QFont font = label->font();
    font.setPixelSize(LargeTextPixels);
    while (font.pixelSize() > SmallestTextPixels && !fits(font))
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->setWordWrap(!fits(font));
    label->setText(text);
    label->setToolTip(text);
}

// The logo as the screen shows it: decoded and scaled once, not for every screen a code opens.
const QImage& ScaledLogo() {
    static const QImage logo =
        DecodeJpeg(ZumvoLogoJpeg()).scaled(223, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return logo;
}

} // namespace

struct TfrmZumvoPayment::TImpl {
    explicit TImpl(TfrmZumvoPayment& form) : Form(form) {}

    TfrmZumvoPayment& Form;

    // Controls, owned by the form.
    QFrame* pnlBasket = nullptr;
    QLabel* img1 = nullptr;
    QLabel* lblInvoiceTotal = nullptr;
    QLabel* lblOutstanding = nullptr;
    QLabel* lblBasketTotal = nullptr;
    QLabel* lblTransactions = nullptr;
    QLabel* lblTransactionList = nullptr;
    QPushButton* btnDone = nullptr;
    QPushButton* btnCancel = nullptr;
    QFrame* pnlTransaction = nullptr;
    QFrame* pnlInput = nullptr;
    QLineEdit* txtVoucherCode = nullptr;
    QPushButton* btnScan = nullptr;
    QPushButton* btnCheck = nullptr;
    QFrame* pnlVoucher = nullptr;
    QLabel* lblResponseCaption = nullptr;
    QLabel* lblResponse = nullptr;
    QLabel* lblVSPDesc = nullptr;
    QLabel* lblVSPResponse = nullptr;
    QLabel* lblDetailsCaption = nullptr;
    QLabel* lblDetails = nullptr;
    QLabel* lblAmountCaption = nullptr;
    QLabel* lblAmount = nullptr;
    QLabel* lblPaymentAmountCaption = nullptr;
    QLabel* lblPaymentAmount = nullptr;
    QLabel* lblDiscountAmountCaption = nullptr;
    QLabel* lblDiscountAmount = nullptr;
    QPushButton* btnOK = nullptr;

    pallux::IntfPtr<pallux::IINISettings> Settings;
    TJSONDocument InvoiceData;
    TJSONDocument Answer;
    TJSONDocument RedeemedList = TJSONDocument::NewArray();
    TJSONDocument CurrentTransaction;
    double ProcessedTotal = 0;
    double Outstanding = 0;
    double InvoiceTotal = 0;
    bool AnyValid = false;
    bool Valid = false;
    bool HasProviderDetail = false;
    std::int32_t TransactionID = -1;
    pallux::IntfPtr<IZumvoInfo> Info;
    pallux::IntfPtr<ICurrentBasket> BasketHub;
    pallux::IntfPtr<IZumvoTransaction> Transactions;
    pallux::IntfPtr<IZumvoQRDetect> QRDetect;

    void BuildControls();
    void FormCreate();
    void ProcessVisibility();
    void btnCheckClick();
    void btnOKClick();
    void btnScanClick();
    void btnDoneClick();
    void btnCancelClick();
    void CancelCurrent();
    void CancelBasket();

    // A SOAP client configured from the settings and the invoice data.
    pallux::IntfPtr<IZumvoAPI> NewClient();
    std::string BasketReference() const;
    std::string TransactionReference(std::int32_t transactionID) const;
    // Asks the cashier through the host; false only when the answer is No.
    bool Confirm(const char* question);
    // Tells the cashier of an error in a message box with an OK button.
    void ShowError(const std::string& text);
    // Reverses one accepted code at the provider; its row ends at -1 when the provider confirmed
    // the reversal and at -3 otherwise.
    void Reverse(const char* classMethod, std::int32_t transactionID, std::int32_t tvTrxID);
    // The row of a request that got no readable answer keeps a note of it and is not reused.
    void MarkOutcomeUnknown(const std::string& reason, const std::string& code, std::int64_t cents);
    // Reverses an accepted code whose row could not be written, and tells the cashier.
    void GiveBackUnrecorded(std::int32_t tvTrxID);
    void FillCurrentTransaction(const std::string& code);
    void ShowAnswer();
    // The panel for a request that got no readable answer: nothing of an earlier answer stays.
    void ShowNoAnswer();
    // Back to code entry: the code box emptied, no code in progress, the answer panel hidden.
    void ReturnToEntry();
};

void TfrmZumvoPayment::TImpl::BuildControls() {
    Form.setObjectName("frmZumvoPayment");
    Form.setWindowTitle("Zumvo Payment");
    Form.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                        Qt::WindowTitleHint);
    Form.setFixedSize(814, 461);

    QFont large("Tahoma");
    large.setPixelSize(LargeTextPixels);
    QFont small("Tahoma");
    small.setPixelSize(14);
    const QColor highlight = Form.palette().color(QPalette::Highlight);

    auto label = [&](QWidget* parent, const char* name, const QString& text, QRect geometry,
                     const QFont& font, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(name);
        l->setGeometry(geometry);
        l->setFont(font);
        l->setAlignment(align);
        return l;
    };
    auto button = [&](QWidget* parent, const char* name, const QString& text, QRect geometry) {
        auto* b = new QPushButton(text, parent);
        b->setObjectName(name);
        b->setGeometry(geometry);
        b->setFont(large);
        b->setAutoDefault(false);
        return b;
    };
    auto panel = [&](QWidget* parent, const char* name, QRect geometry) {
        auto* p = new QFrame(parent);
        p->setObjectName(name);
        p->setGeometry(geometry);
        p->setFrameShape(QFrame::StyledPanel);
        return p;
    };

    // Left: logo, totals, the list of added codes, Done and Cancel.
    pnlBasket = panel(&Form, "pnlBasket", QRect(0, 0, 225, 461));
    img1 = label(pnlBasket, "img1", {}, QRect(1, 1, 223, 96), small, Qt::AlignCenter);
    img1->setPixmap(QPixmap::fromImage(ScaledLogo()));
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    label(pnlBasket, "lblInvoiceTotalCaption", "Invoice Total", QRect(4, 106, 112, 28), small, right);
    lblInvoiceTotal = label(pnlBasket, "lblInvoiceTotal", "0.00", QRect(118, 106, 102, 28), large, right);
    label(pnlBasket, "lblOutstandingCaption", "Outstanding", QRect(4, 138, 112, 28), small, right);
    lblOutstanding = label(pnlBasket, "lblOutstanding", "0.00", QRect(118, 138, 102, 28), large, right);
    label(pnlBasket, "lblBasketTotalCaption", "Basket Total", QRect(4, 170, 112, 28), small, right);
    lblBasketTotal = label(pnlBasket, "lblBasketTotal", "0.00", QRect(118, 170, 102, 28), large, right);
    for (QLabel* value : {lblInvoiceTotal, lblOutstanding, lblBasketTotal})
        SetTextColour(value, highlight);
    lblTransactions = label(pnlBasket, "lblTransactions", "Transactions", QRect(6, 206, 214, 26), large);
    lblTransactionList = label(pnlBasket, "lblTransactionList", "-", QRect(6, 234, 214, 146), small,
                               Qt::AlignLeft | Qt::AlignTop);
    lblTransactionList->setWordWrap(true);
    btnDone = button(pnlBasket, "btnDone", "SAVE", QRect(6, 388, 104, 66));
    btnCancel = button(pnlBasket, "btnCancel", "Cancel", QRect(115, 388, 104, 66));
    SetTextColour(btnCancel, Qt::red);

    // Right: code entry, then the provider's answer.
    pnlTransaction = panel(&Form, "pnlTransaction", QRect(225, 0, 589, 461));
    pnlInput = panel(pnlTransaction, "pnlInput", QRect(0, 0, 589, 100));
    label(pnlInput, "lblEnterZumvo", "Enter Zumvo", QRect(10, 6, 300, 28), large);
    txtVoucherCode = new QLineEdit(pnlInput);
    txtVoucherCode->setObjectName("txtVoucherCode");
    txtVoucherCode->setGeometry(10, 40, 330, 48);
    txtVoucherCode->setFont(large);
    btnScan = button(pnlInput, "btnScan", "Scan", QRect(350, 40, 100, 48));
    btnCheck = button(pnlInput, "btnCheck", "Redeem", QRect(458, 40, 122, 48));

    pnlVoucher = panel(pnlTransaction, "pnlVoucher", QRect(0, 100, 589, 361));
    const int captionX = 10, captionW = 200, valueX = 215, valueW = 364, rowH = 32;
    auto row = [&](int i) { return 12 + i * 40; };
    lblResponseCaption = label(pnlVoucher, "lblResponseCaption",
                               "Zumvo Response:", QRect(captionX, row(0), captionW, rowH), large);
    lblResponse = label(pnlVoucher, "lblResponse", {}, QRect(valueX, row(0), valueW, rowH), large);
    lblVSPDesc =
        label(pnlVoucher, "lblVSPDesc", "xxxxx Response:", QRect(captionX, row(1), captionW, rowH), large);
    lblVSPResponse = label(pnlVoucher, "lblVSPResponse", {}, QRect(valueX, row(1), valueW, rowH), large);
    lblDetailsCaption =
        label(pnlVoucher, "lblDetailsCaption", "Details:", QRect(captionX, row(2), captionW, rowH), large);
    lblDetails = label(pnlVoucher, "lblDetails", {}, QRect(valueX, row(2), valueW, rowH), large);
    lblAmountCaption = label(pnlVoucher, "lblAmountCaption",
                             "Total Amount:", QRect(captionX, row(3), captionW, rowH), large);
    lblAmount = label(pnlVoucher, "lblAmount", {}, QRect(valueX, row(3), valueW, rowH), large);
    lblPaymentAmountCaption = label(pnlVoucher, "lblPaymentAmountCaption", "> Payments",
                                    QRect(captionX + 20, row(4), captionW, rowH), large);
    lblPaymentAmount = label(pnlVoucher, "lblPaymentAmount", {}, QRect(valueX, row(4), valueW, rowH), large);
    lblDiscountAmountCaption = label(pnlVoucher, "lblDiscountAmountCaption", "> Discounts",
                                     QRect(captionX + 20, row(5), captionW, rowH), large);
    lblDiscountAmount =
        label(pnlVoucher, "lblDiscountAmount", {}, QRect(valueX, row(5), valueW, rowH), large);
    btnOK = button(pnlVoucher, "btnOK", "Add", QRect(429, 290, 150, 60));
    pnlVoucher->hide();

    QObject::connect(btnCheck, &QPushButton::clicked, &Form, [this] { btnCheckClick(); });
    QObject::connect(btnOK, &QPushButton::clicked, &Form, [this] { btnOKClick(); });
    QObject::connect(btnScan, &QPushButton::clicked, &Form, [this] { btnScanClick(); });
    QObject::connect(btnDone, &QPushButton::clicked, &Form, [this] { btnDoneClick(); });
    QObject::connect(btnCancel, &QPushButton::clicked, &Form, [this] { btnCancelClick(); });
}

void TfrmZumvoPayment::TImpl::FormCreate() {
    Guarded("TfrmZumvoPayment.FormCreate", [&] {
        GetSingletonService(Info);
        GetSingletonService(BasketHub);
        CreateService(Transactions);
    });
}

std::string TfrmZumvoPayment::TImpl::BasketReference() const {
    return InvoiceData["PalluxStoreID"].AsString("") + "-" + InvoiceData["BasketID"].AsString("");
}

std::string TfrmZumvoPayment::TImpl::TransactionReference(std::int32_t transactionID) const {
    return InvoiceData["PalluxStoreID"].AsString("") + "-" + std::to_string(transactionID);
}

pallux::IntfPtr<IZumvoAPI> TfrmZumvoPayment::TImpl::NewClient() {
    pallux::IntfPtr<IZumvoAPI> client;
    Require(CreateService(client), "Could not create ZumvoAPI");
    auto& settings = Use(Settings, "INISettings");
    const std::string url = settings.ReadString("SOAPUrl", "Default");
    const std::string server = settings.ReadString("SOAPServer", "Default");
    client->SetServer(server, url);
    const std::string password = settings.ReadString("SOAPPWD", "Default");
    const std::string id = settings.ReadString("SOAPID", "Default");
    client->SetCredentials(id, password);
    client->SetStore(InvoiceData["TvStoreStoreID"].AsInteger(-1),
                     "Till-" + InvoiceData["CurrentTillID"].AsString(""));
    return client;
}

bool TfrmZumvoPayment::TImpl::Confirm(const char* question) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    Require(CreateService(messages), "Could not create DisplayMessage");
    return messages->ShowMessage(question, pallux::mtConfirmation, pallux::mbYes | pallux::mbNo) !=
           pallux::mrNo;
}

void TfrmZumvoPayment::TImpl::ShowError(const std::string& text) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    if (CreateService(messages))
        messages->ShowMessage(text, pallux::mtError, pallux::mbOK);
}

void TfrmZumvoPayment::TImpl::ProcessVisibility() {
    Guarded("TfrmZumvoPayment.ProcessVisibility", [&] {
        lblVSPDesc->setVisible(HasProviderDetail);
        lblVSPResponse->setVisible(HasProviderDetail);
        for (QLabel* l : {lblDetailsCaption, lblDetails, lblAmountCaption, lblAmount, lblPaymentAmountCaption,
                          lblPaymentAmount, lblDiscountAmountCaption, lblDiscountAmount})
            l->setVisible(Valid);
        lblTransactions->setText(QString("Transactions (%1)").arg(RedeemedList._Count()));
        btnDone->setText("Done");
        ProcessedTotal = 0;
        QString list = "-";
        for (int i = 0; i < RedeemedList._Count(); ++i) {
            const TJSONValue item = RedeemedList[i];
            const double amount = item["Amount"].AsFloat(0);
            ProcessedTotal += amount;
            list += "\r\n" + Q(item["Zumvo"].AsString("")) + " :: " + MoneyText(amount);
        }
        lblTransactionList->setText(list);
        Outstanding = InvoiceData["CurrentAmount"].AsInt64(0) / 100.0 - ProcessedTotal;
        lblBasketTotal->setText(MoneyText(ProcessedTotal));
        lblOutstanding->setText(MoneyText(Outstanding));
        lblInvoiceTotal->setText(MoneyText(InvoiceTotal));
    });
}

void TfrmZumvoPayment::TImpl::MarkOutcomeUnknown(const std::string& reason, const std::string& code,
                                                 std::int64_t cents) {
    if (TransactionID == -1)
        return;
    LogInfo("[TfrmZumvoPayment.btnCheckClick] Outcome unknown for transaction % : %", TransactionID, reason);
    Use(Transactions, "ZumvoTransaction")
        .SaveOutcomeUnknown(
            TransactionID,
            OutcomeUnknownNote(reason, BasketReference(), TransactionReference(TransactionID), code, cents));
    // The provider may hold money under this row's reference: the next attempt gets a new row.
    TransactionID = -1;
}

void TfrmZumvoPayment::TImpl::FillCurrentTransaction(const std::string& code) {
    const std::int32_t total = WholeNumberOr(Answer["totalAmountProcessed"].AsString(""), 0);
    const std::int32_t settle = WholeNumberOr(Answer["amountToSettle"].AsString(""), 0);
    const double amount = total / 100.0;
    const double payment = settle / 100.0;
    const double discount = (static_cast<std::int64_t>(total) - settle) / 100.0;
    CurrentTransaction = TJSONDocument::NewObject();
    CurrentTransaction.Add("TransactionID", TransactionID);
    CurrentTransaction.Add("tvTrxID", WholeNumberOr(Answer["tvTrxId"].AsString(""), -1));
    CurrentTransaction.Add("Amount", amount);
    CurrentTransaction.Add("PaymentAmount", payment);
    CurrentTransaction.Add("DiscountAmount", discount);
    TJSONValue data = CurrentTransaction.Add("Data", Answer);
    data.Add("Zumvo", code);
    data.Add("PaymentAmount", GeneralNumber(payment));
    data.Add("DiscountAmount", GeneralNumber(discount));
    CurrentTransaction.Add("Zumvo", code);
    CurrentTransaction.Add("Status", 1);
}

void TfrmZumvoPayment::TImpl::ShowAnswer() {
    // A valid answer shows its description, a refusal its code and description.
    const auto status = [&](const TJSONValue& part) {
        const std::string desc = part["responseDesc"].AsString("");
        return Q(Valid ? desc : part["responseCode"].AsString("") + " : " + desc);
    };
    const bool hasVsp = Answer.Exists("vsp");
    const TJSONValue vsp = Answer["vsp"];
    const TJSONValue loyalty = Answer["loyalty"];
    // Every text is set for every answer: nothing of the code before stays on the screen.
    SetWholeText(lblResponse, status(Answer.Root()));
    SetWholeText(lblVSPResponse, hasVsp ? status(vsp) : QString());
    SetWholeText(lblVSPDesc, hasVsp ? Q(vsp["name"].AsString("") + "Response:") : QString());
    SetWholeText(lblDetails,
                 Valid && Answer.Exists("loyalty")
                     ? Q(loyalty["name"].AsString("") + " earned: " + loyalty["earned"].AsString(""))
                     : QString());
    if (Valid) {
        lblAmount->setText(MoneyText(CurrentTransaction["Amount"].AsFloat(0)));
        lblPaymentAmount->setText(MoneyText(CurrentTransaction["PaymentAmount"].AsFloat(0)));
        lblDiscountAmount->setText(MoneyText(CurrentTransaction["DiscountAmount"].AsFloat(0)));
    } else {
        lblAmount->clear();
    }
    const QColor colour = Valid ? Form.palette().color(QPalette::WindowText) : QColor(Qt::red);
    SetTextColour(lblResponse, colour);
    SetTextColour(lblResponseCaption, colour);
    btnOK->setText(Valid ? "Add" : "Retry");
}

void TfrmZumvoPayment::TImpl::ShowNoAnswer() {
    HasProviderDetail = false;
    ProcessVisibility();
    SetWholeText(lblResponse, NoAnswerText);
    for (QLabel* l : {lblVSPResponse, lblVSPDesc, lblDetails})
        SetWholeText(l, QString());
    lblAmount->clear();
    SetTextColour(lblResponse, Qt::red);
    SetTextColour(lblResponseCaption, Qt::red);
    btnOK->setText("Retry");
}

void TfrmZumvoPayment::TImpl::btnCheckClick() {
    Guarded("TfrmZumvoPayment.btnCheckClick", [&] {
        const QString code = txtVoucherCode->text().remove(' ');
        txtVoucherCode->setText(code);
        if (code.trimmed().isEmpty())
            return;
        const std::string token = code.toStdString();
        auto progress = ShowButtonProgress(btnCheck, "Connecting...");
        pallux::IntfPtr<IZumvoAPI> client;
        CreateService(client);
        CurrentTransaction = TJSONDocument::NewObject();
        Valid = false;
        client = NewClient();

        try {
            XmlEscape(token);
        } catch (const std::invalid_argument& e) {
            // A scanned code may hold characters the request cannot carry: nothing is sent.
            LogInfo("[TfrmZumvoPayment.btnCheckClick] The code cannot be sent : %", e.what());
            ShowError(std::string("The code cannot be sent to Zumvo: ") + e.what());
            return;
        }
        const std::int64_t cents = CentsHalfEven(Outstanding);
        if (cents > std::numeric_limits<std::int32_t>::max() ||
            cents < std::numeric_limits<std::int32_t>::min()) {
            // The request carries cents as a 32-bit number: a larger amount would be sent wrapped.
            LogInfo("[TfrmZumvoPayment.btnCheckClick] Amount % cents is too large to send", cents);
            ShowError("The amount " + MoneyText(Outstanding).toStdString() +
                      " is too large to send to Zumvo.");
            return;
        }
        if (TransactionID == -1) {
            TransactionID = Use(Transactions, "ZumvoTransaction")
                                .AddTransactionToBasket(InvoiceData["BasketID"].AsInteger(-1));
            // Without a row the provider's answer could not be recorded: nothing is sent.
            Require(TransactionID != -1, "Could not record the transaction");
        }
        std::string answerText;
        try {
            const TJSONValue lineItems = InvoiceData["LineItems"];
            client->Transaction(BasketReference(), InvoiceData["Cashier"].AsString(""),
                                TransactionReference(TransactionID), token, "ZUMVO",
                                static_cast<std::int32_t>(cents), static_cast<std::int32_t>(cents), "PAYMENT",
                                lineItems.IsNull() ? "" : lineItems.ToJSON(), answerText);
        } catch (const std::exception& e) {
            ShowError(std::string(ConnectionErrorText) + "\r\n" + e.what());
            answerText.clear();
        }

        bool readable = !answerText.empty();
        if (!readable) {
            MarkOutcomeUnknown("no answer", token, cents);
        } else {
            try {
                Answer = ReadSoapAnswer(answerText, "transactionResponse");
            } catch (const std::exception& e) {
                // An answer that cannot be read is no answer: the cashier is told, as for a
                // connection error, and may try again on a new row.
                MarkOutcomeUnknown(std::string("unreadable answer: ") + e.what(), token, cents);
                ShowError(std::string(ConnectionErrorText) + "\r\n" + e.what());
                readable = false;
            }
        }
        if (readable) {
            Valid = ParseResponseCode(Answer["responseCode"].AsString("")) == -1;
            AnyValid = AnyValid || Valid;
            HasProviderDetail = Answer.Exists("vsp");
            ProcessVisibility();
            if (Valid) {
                FillCurrentTransaction(token);
                // Recorded at once: the row can be reversed even if the till stops before the
                // code is kept. Its status stays until the caller saves the payment.
                const std::int32_t tvTrxID = CurrentTransaction["tvTrxID"].AsInteger(-1);
                if (!Use(Transactions, "ZumvoTransaction")
                         .SaveProviderAnswer(TransactionID, tvTrxID, CurrentTransaction["Data"].ToJSON()))
                    GiveBackUnrecorded(tvTrxID);
            }
            ShowAnswer();
        } else {
            ShowNoAnswer();
        }
        progress.reset();
        btnCheck->setEnabled(false);
        pnlVoucher->show();
    });
}

void TfrmZumvoPayment::TImpl::btnOKClick() {
    Guarded("TfrmZumvoPayment.btnOKClick", [&] {
        if (Valid) {
            RedeemedList.Append(CurrentTransaction);
            ProcessVisibility();
            TransactionID = -1;
        }
        ReturnToEntry();
    });
}

void TfrmZumvoPayment::TImpl::ReturnToEntry() {
    txtVoucherCode->clear();
    CurrentTransaction = TJSONDocument::NewObject();
    Valid = false;
    pnlVoucher->hide();
    btnCheck->setEnabled(true);
}

void TfrmZumvoPayment::TImpl::btnScanClick() {
    Guarded("TfrmZumvoPayment.btnScanClick", [&] {
        pallux::IntfPtr<IZumvoQRDetect> detect = QRDetect ? QRDetect : CreateQRDetect();
        std::string codeType;
        std::string code;
        if (detect->GetQRCode(codeType, code) && codeType == "QR")
            txtVoucherCode->setText(QString::fromUtf8(code.c_str(), static_cast<qsizetype>(code.size())));
    });
}

void TfrmZumvoPayment::TImpl::btnDoneClick() {
    Guarded("TfrmZumvoPayment.btnDoneClick", [&] {
        if (TransactionID != -1 && Valid) {
            if (!Confirm(NotAddedQuestion))
                return;
            CancelCurrent();
        }
        Form.done(AnyValid ? QDialog::Accepted : QDialog::Rejected);
    });
}

void TfrmZumvoPayment::TImpl::btnCancelClick() {
    Guarded("TfrmZumvoPayment.btnCancelClick", [&] {
        if (TransactionID != -1 && Valid) {
            if (!Confirm(CancelCurrentQuestion))
                return;
            CancelCurrent();
        }
        if (RedeemedList._Count() > 0) {
            if (!Confirm(CancelBasketQuestion))
                return;
            CancelBasket();
        }
        Form.done(QDialog::Rejected);
    });
}

void TfrmZumvoPayment::TImpl::Reverse(const char* classMethod, std::int32_t transactionID,
                                      std::int32_t tvTrxID) {
    auto client = NewClient();
    std::string response;
    client->Advice(BasketReference(), InvoiceData["Cashier"].AsString(""),
                   TransactionReference(transactionID), "REVERSE", tvTrxID, "PAYMENT", response);
    LogInfo(std::string("[") + classMethod + "] Response : %", response);
    // Only a reversal the provider confirmed gives the customer's money back; any other answer
    // (or none) leaves the row at "failed to cancel", where it can be found and retried.
    pallux::IntfPtr<IZumvoLogic> logic;
    const bool confirmed = CreateService(logic) && logic->HandleReverseResponse(transactionID, response);
    if (!confirmed)
        Use(Transactions, "ZumvoTransaction").SetStatus(transactionID, TTransactionStatus::CancelFailed);
}

void TfrmZumvoPayment::TImpl::GiveBackUnrecorded(std::int32_t tvTrxID) {
    // A code the database cannot record would hold money nobody could find: it is not kept.
    LogInfo("[TfrmZumvoPayment.btnCheckClick] Transaction % could not be recorded, reversing %",
            TransactionID, tvTrxID);
    Reverse("TfrmZumvoPayment.btnCheckClick", TransactionID, tvTrxID);
    Valid = false;
    AnyValid = RedeemedList._Count() > 0;
    TransactionID = -1;
    CurrentTransaction = TJSONDocument::NewObject();
    ShowError(NotRecordedText);
}

void TfrmZumvoPayment::TImpl::CancelCurrent() {
    if (TransactionID == -1)
        return;
    Guarded("TfrmZumvoPayment.CancelCurrent", [&] {
        LogInfo("[TfrmZumvoPayment.CancelCurrent] Cancelling the current transaction : %", TransactionID);
        Use(Transactions, "ZumvoTransaction")
            .AddLog("INFO", "Cancelling Transaction from form: " + std::to_string(TransactionID));
        Reverse("TfrmZumvoPayment.CancelCurrent", TransactionID, CurrentTransaction["tvTrxID"].AsInteger(-1));
        TransactionID = -1;
        AnyValid = RedeemedList._Count() > 0;
        // The code given back cannot be added any more, should the window stay open.
        ReturnToEntry();
    });
}

void TfrmZumvoPayment::TImpl::CancelBasket() {
    if (RedeemedList._Count() == 0)
        return;
    Guarded("TfrmZumvoPayment.CancelBasket", [&] {
        LogInfo("[TfrmZumvoPayment.CancelBasket] Cancelling current basket transactions: %",
                InvoiceData["BasketID"].AsString(""));
        for (int i = 0; i < RedeemedList._Count(); ++i) {
            const TJSONValue item = RedeemedList[i];
            const std::int32_t id = item["TransactionID"].AsInteger(-1);
            LogInfo("[TfrmZumvoPayment.CancelBasket] Cancelling transaction : %", id);
            Reverse("TfrmZumvoPayment.CancelBasket", id, item["tvTrxID"].AsInteger(-1));
        }
        RedeemedList = TJSONDocument::NewArray();
    });
}

TfrmZumvoPayment::TfrmZumvoPayment(QWidget* parent) : QDialog(parent), FImpl(std::make_unique<TImpl>(*this)) {
    FImpl->BuildControls();
    FImpl->FormCreate();
}

TfrmZumvoPayment::~TfrmZumvoPayment() = default;

void TfrmZumvoPayment::Prepare(const TJSONDocument& invoiceData,
                               pallux::IntfPtr<pallux::IINISettings> settings) {
    TImpl& f = *FImpl;
    f.InvoiceData = invoiceData.Clone();
    f.TransactionID = -1;
    f.ProcessedTotal = 0;
    f.AnyValid = false;
    f.Valid = false;
    f.Outstanding = f.InvoiceData["CurrentAmount"].AsInt64(0) / 100.0;
    f.InvoiceTotal = f.InvoiceData["AfterDisc"].AsFloat(0);
    f.RedeemedList = TJSONDocument::NewArray();
    f.Settings = std::move(settings);
    f.CurrentTransaction = TJSONDocument::NewObject();
    f.ProcessVisibility();
}

bool TfrmZumvoPayment::GetPayment(const TJSONDocument& invoiceData,
                                  pallux::IntfPtr<pallux::IINISettings> settings) {
    bool ok = false;
    Guarded("TfrmZumvoPayment.GetPayment", [&] {
        Prepare(invoiceData, std::move(settings));
        if (parentWidget())
            move(parentWidget()->window()->frameGeometry().center() - rect().center());
        ok = exec() == QDialog::Accepted;
    });
    return ok;
}

const TJSONDocument& TfrmZumvoPayment::RedeemedList() const {
    return FImpl->RedeemedList;
}

double TfrmZumvoPayment::ProcessedTotal() const {
    return FImpl->ProcessedTotal;
}

void TfrmZumvoPayment::UseQRDetect(pallux::IntfPtr<IZumvoQRDetect> detect) {
    FImpl->QRDetect = std::move(detect);
}

void TfrmZumvoPayment::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FImpl->txtVoucherCode->setFocus();
}

void TfrmZumvoPayment::reject() {
    FImpl->btnCancelClick();
}

} // namespace zumvo
