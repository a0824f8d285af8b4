#include "FZumvoPayment.h"
#include "clsPointOfSale.h"

#include "SimpleXMLtoJSON.h"
#include "ZumvoLog.h"
#include "ZumvoQRDetect.h"
#include "clsButtonProgress.h"
#include "clsCodeRedemption.h"
#include "clsJpegImage.h"
#include "clsModuleContainer.h"
#include "clsMoney.h"
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
#include <QTextDocument>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

namespace zumvo {

namespace {

constexpr const char* NotAddedQuestion =
    "You haven't added the current Zumvo to the basket, do you want to continue?";
constexpr const char* CancelCurrentQuestion =
    "You have entered a valid Zumvo, do you want to continue and cancel it?";
constexpr const char* CancelBasketQuestion =
    "You have added Zumvo to your payment, do you want to continue and cancel them?";
constexpr const char* NoAnswerText = "No answer from the Zumvo server";
constexpr const char* SettingsUnreadableText = "The Zumvo settings could not be read: ask the administrator";
constexpr const char* UnreadableAnswerText = "The Zumvo server's answer could not be read";
constexpr const char* NotKeptText = "Not kept: see the message";

std::string NotGivenBackText(const std::string& code) {
    return "Zumvo " + code +
           " could not be given back now: the till could not record it. It stays on this payment; try "
           "again, or keep it.";
}

constexpr int LargeTextPixels = 21;
// The smallest a label's font shrinks to so that a long text of the provider still shows whole on
// one line; folded on more lines, it may shrink further, down to FoldedTextPixels.
constexpr int SmallestTextPixels = 12;
constexpr int FoldedTextPixels = 8;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// An amount as the screen shows it: two decimals.
QString Money(TCents cents) {
    return Q(FixedText(cents));
}

void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::ButtonText, colour);
    w->setPalette(p);
}

// Shows a text of the provider's whole in its label's fixed box: in a smaller font when it is too
// wide in the screen's large one; when even the smallest is too wide, on more lines, in the
// smallest size they fit in down to FoldedTextPixels (a font wider than the screen's own needs
// that). The whole text is the label's tool tip too.
void SetWholeText(QLabel* label, const QString& text) {
    const QRect box = label->contentsRect();
    const auto fits = [&](const QFont& font, bool folded) {
        const int flags = static_cast<int>(label->alignment()) | (folded ? Qt::TextWordWrap : 0);
        return box.contains(QFontMetrics(font).boundingRect(box, flags, text));
    };
    QFont font = label->font();
    font.setPixelSize(LargeTextPixels);
    while (font.pixelSize() > SmallestTextPixels && !fits(font, false))
        font.setPixelSize(font.pixelSize() - 1);
    const bool folded = !fits(font, false);
    while (folded && font.pixelSize() > FoldedTextPixels && !fits(font, true))
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->setWordWrap(folded);
    label->setText(text);
    // A tool tip guesses its format: the text is given as the rich text that shows it as it is.
    label->setToolTip(text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal));
}

// The logo as the screen shows it: decoded and scaled once, not for every screen a code opens.
const QImage& ScaledLogo() {
    static const QImage logo =
        DecodeJpeg(ZumvoLogoJpeg()).scaled(223, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return logo;
}

QFont Tahoma(int pixels) {
    QFont font("Tahoma");
    font.setPixelSize(pixels);
    return font;
}

// The screen's two fonts: values, buttons and code entry in the large one, captions in the small.
struct TScreenFonts {
    QFont Large = Tahoma(LargeTextPixels);
    QFont Small = Tahoma(14);
};

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, const QFont& font,
                 Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(parent);
    // Every label shows its text as it is: a provider's text with markup in it draws nothing.
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText); // a provider's text is shown as it is, never as markup
    l->setGeometry(geometry);
    l->setFont(font);
    l->setAlignment(align);
    return l;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text, QRect geometry,
                       const QFont& font) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    b->setFont(font);
    b->setAutoDefault(false);
    return b;
}

QFrame* NewPanel(QWidget* parent, const char* name, QRect geometry) {
    auto* p = new QFrame(parent);
    p->setObjectName(name);
    p->setGeometry(geometry);
    p->setFrameShape(QFrame::StyledPanel);
    return p;
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
    TCents ProcessedTotal = 0;
    TCents Outstanding = 0;
    TCents InvoiceTotal = 0;
    bool AnyValid = false;
    bool Valid = false;
    bool HasProviderDetail = false;
    std::int32_t TransactionID = -1;
    pallux::IntfPtr<IZumvoInfo> Info;
    pallux::IntfPtr<ICurrentBasket> BasketHub;
    pallux::IntfPtr<IZumvoTransaction> Store;
    pallux::IntfPtr<IZumvoQRDetect> QRDetect;

    // The controls, built in tab order by one builder per part of the screen.
    void BuildControls();
    void BuildBasketPanel(const TScreenFonts& fonts);
    void BuildEntryPanel(const TScreenFonts& fonts);
    void BuildAnswerPanel(const TScreenFonts& fonts);
    void FormCreate();
    void ProcessVisibility();
    void btnCheckClick();
    void btnOKClick();
    void btnScanClick();
    void btnDoneClick();
    void btnCancelClick();
    bool CancelCurrent();
    bool CancelBasket();

    // A SOAP client configured from the settings and the invoice data.
    pallux::IntfPtr<IZumvoAPI> NewClient();
    // The redemption of this screen's codes, its log lines named by classMethod.
    TCodeRedemption NewRedemption(const char* classMethod);
    // Asks the cashier through the host; false only when the answer is No.
    bool Confirm(const char* question);
    // Tells the cashier of an error in a message box with an OK button.
    void ShowError(const std::string& text);
    // Reverses one accepted code at the provider, its row marked -3 first; the row ends at -1
    // when the provider confirmed the reversal. False when the row could not be marked: nothing
    // was sent, the code is still accepted, and the cashier has been told.
    bool Reverse(const char* classMethod, const TJSONValue& transaction);
    void ShowAnswer();
    // The panel for a request whose answer cannot be shown (none came, it could not be read, or
    // the code was not kept): the reason in red, nothing of an earlier answer.
    void ShowNoAnswer(const char* reason);
    // Back to code entry: the code box emptied, no code in progress, the answer panel hidden.
    void ReturnToEntry();
};

void TfrmZumvoPayment::TImpl::BuildControls() {
    Form.setObjectName("frmZumvoPayment");
    Form.setWindowTitle("Zumvo Payment");
    Form.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                        Qt::WindowTitleHint);
    Form.setFixedSize(814, 461);

    // Built in tab order. Left: the basket. Right: code entry, then the provider's answer.
    const TScreenFonts fonts;
    BuildBasketPanel(fonts);
    pnlTransaction = NewPanel(&Form, "pnlTransaction", QRect(225, 0, 589, 461));
    BuildEntryPanel(fonts);
    BuildAnswerPanel(fonts);

    QObject::connect(btnCheck, &QPushButton::clicked, &Form, [this] { btnCheckClick(); });
    QObject::connect(btnOK, &QPushButton::clicked, &Form, [this] { btnOKClick(); });
    QObject::connect(btnScan, &QPushButton::clicked, &Form, [this] { btnScanClick(); });
    QObject::connect(btnDone, &QPushButton::clicked, &Form, [this] { btnDoneClick(); });
    QObject::connect(btnCancel, &QPushButton::clicked, &Form, [this] { btnCancelClick(); });
}

void TfrmZumvoPayment::TImpl::BuildBasketPanel(const TScreenFonts& fonts) {
    // Logo, totals, the list of added codes, Done and Cancel.
    pnlBasket = NewPanel(&Form, "pnlBasket", QRect(0, 0, 225, 461));
    img1 = NewLabel(pnlBasket, "img1", {}, QRect(1, 1, 223, 96), fonts.Small, Qt::AlignCenter);
    img1->setPixmap(QPixmap::fromImage(ScaledLogo()));
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    const QColor highlight = Form.palette().color(QPalette::Highlight);
    const auto total = [&](const char* caption, const char* captionText, const char* value, int y) {
        NewLabel(pnlBasket, caption, captionText, QRect(4, y, 112, 28), fonts.Small, right);
        QLabel* l = NewLabel(pnlBasket, value, "0.00", QRect(118, y, 102, 28), fonts.Large, right);
        SetTextColour(l, highlight);
        return l;
    };
    lblInvoiceTotal = total("lblInvoiceTotalCaption", "Invoice Total", "lblInvoiceTotal", 106);
    lblOutstanding = total("lblOutstandingCaption", "Outstanding", "lblOutstanding", 138);
    lblBasketTotal = total("lblBasketTotalCaption", "Basket Total", "lblBasketTotal", 170);
    lblTransactions =
        NewLabel(pnlBasket, "lblTransactions", "Transactions", QRect(6, 206, 214, 26), fonts.Large);
    lblTransactionList = NewLabel(pnlBasket, "lblTransactionList", "-", QRect(6, 234, 214, 146), fonts.Small,
                                  Qt::AlignLeft | Qt::AlignTop);
    lblTransactionList->setWordWrap(true);
    btnDone = NewButton(pnlBasket, "btnDone", "SAVE", QRect(6, 388, 104, 66), fonts.Large);
    btnCancel = NewButton(pnlBasket, "btnCancel", "Cancel", QRect(115, 388, 104, 66), fonts.Large);
    SetTextColour(btnCancel, Qt::red);
}

void TfrmZumvoPayment::TImpl::BuildEntryPanel(const TScreenFonts& fonts) {
    pnlInput = NewPanel(pnlTransaction, "pnlInput", QRect(0, 0, 589, 100));
    NewLabel(pnlInput, "lblEnterZumvo", "Enter Zumvo", QRect(10, 6, 300, 28), fonts.Large);
    txtVoucherCode = new QLineEdit(pnlInput);
    txtVoucherCode->setObjectName("txtVoucherCode");
    txtVoucherCode->setGeometry(10, 40, 330, 48);
    txtVoucherCode->setFont(fonts.Large);
    txtVoucherCode->setMaxLength(VoucherCodeMaxLength);
    btnScan = NewButton(pnlInput, "btnScan", "Scan", QRect(350, 40, 100, 48), fonts.Large);
    btnCheck = NewButton(pnlInput, "btnCheck", "Redeem", QRect(458, 40, 122, 48), fonts.Large);
    // Redeem is reached with the tab key, not focused by a click: the code box keeps the focus
    // (and is not repainted twice for it) while the code is sent.
    btnCheck->setFocusPolicy(Qt::TabFocus);
}

void TfrmZumvoPayment::TImpl::BuildAnswerPanel(const TScreenFonts& fonts) {
    // Six rows of a caption and its value; the payment and discount captions are indented under
    // the total.
    pnlVoucher = NewPanel(pnlTransaction, "pnlVoucher", QRect(0, 100, 589, 361));
    const auto row = [&](int i, const char* caption, const QString& captionText, const char* value,
                         int indent = 0) {
        const int y = 12 + i * 40, height = 32;
        QLabel* c =
            NewLabel(pnlVoucher, caption, captionText, QRect(10 + indent, y, 200, height), fonts.Large);
        QLabel* v = NewLabel(pnlVoucher, value, {}, QRect(215, y, 364, height), fonts.Large);
        return std::pair{c, v};
    };
    std::tie(lblResponseCaption, lblResponse) =
        row(0, "lblResponseCaption", "Zumvo Response:", "lblResponse");
    std::tie(lblVSPDesc, lblVSPResponse) = row(1, "lblVSPDesc", "xxxxx Response:", "lblVSPResponse");
    std::tie(lblDetailsCaption, lblDetails) = row(2, "lblDetailsCaption", "Details:", "lblDetails");
    std::tie(lblAmountCaption, lblAmount) = row(3, "lblAmountCaption", "Total Amount:", "lblAmount");
    std::tie(lblPaymentAmountCaption, lblPaymentAmount) =
        row(4, "lblPaymentAmountCaption", "> Payments", "lblPaymentAmount", 20);
    std::tie(lblDiscountAmountCaption, lblDiscountAmount) =
        row(5, "lblDiscountAmountCaption", "> Discounts", "lblDiscountAmount", 20);
    btnOK = NewButton(pnlVoucher, "btnOK", "Add", QRect(429, 290, 150, 60), fonts.Large);
    pnlVoucher->hide();
}

void TfrmZumvoPayment::TImpl::FormCreate() {
    Guarded("TfrmZumvoPayment.FormCreate", [&] {
        GetSingletonService(Info);
        GetSingletonService(BasketHub);
        CreateService(Store);
    });
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
                     PointOfSaleID(InvoiceData["CurrentTillID"].AsInteger(-1)));
    return client;
}

TCodeRedemption TfrmZumvoPayment::TImpl::NewRedemption(const char* classMethod) {
    TRedemptionContext context;
    context.ClassMethod = classMethod;
    context.StoreID = InvoiceData["PalluxStoreID"].AsInteger(0);
    context.ProviderStoreID = InvoiceData["TvStoreStoreID"].AsInteger(-1);
    context.PosID = PointOfSaleID(InvoiceData["CurrentTillID"].AsInteger(-1));
    context.BasketID = InvoiceData["BasketID"].AsInteger(-1);
    context.Cashier = InvoiceData["Cashier"].AsString("");
    const TJSONValue lineItems = InvoiceData["LineItems"];
    context.LineItems = lineItems.IsNull() ? "" : lineItems.ToJSON();
    pallux::IntfPtr<IZumvoLogic> logic;
    CreateService(logic);
    return TCodeRedemption(std::move(context), NewClient(), Store, logic);
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
            const TCents amount = AmountCents(item["Amount"]);
            ProcessedTotal += amount;
            list += "\r\n" + Q(item["Zumvo"].AsString("")) + " :: " + Money(amount);
        }
        lblTransactionList->setText(list);
        Outstanding = InvoiceData["CurrentAmount"].AsInt64(0) - ProcessedTotal;
        lblBasketTotal->setText(Money(ProcessedTotal));
        lblOutstanding->setText(Money(Outstanding));
        lblInvoiceTotal->setText(Money(InvoiceTotal));
    });
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
        lblAmount->setText(Money(AmountCents(CurrentTransaction["Amount"])));
        lblPaymentAmount->setText(Money(AmountCents(CurrentTransaction["PaymentAmount"])));
        lblDiscountAmount->setText(Money(AmountCents(CurrentTransaction["DiscountAmount"])));
    } else {
        lblAmount->clear();
    }
    const QColor colour = Valid ? Form.palette().color(QPalette::WindowText) : QColor(Qt::red);
    SetTextColour(lblResponse, colour);
    SetTextColour(lblResponseCaption, colour);
    btnOK->setText(Valid ? "Add" : "Retry");
}

void TfrmZumvoPayment::TImpl::ShowNoAnswer(const char* reason) {
    HasProviderDetail = false;
    ProcessVisibility();
    SetWholeText(lblResponse, reason);
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
        if (code != txtVoucherCode->text())
            txtVoucherCode->setText(code);
        if (code.trimmed().isEmpty())
            return;
        // The focus stays in the code box while Redeem is disabled; a disabled button's focus
        // would pass along the chain to Done, repainting the basket side for nothing and leaving
        // Done to take the cashier's next key.
        txtVoucherCode->setFocus();
        auto progress = ShowButtonProgress(btnCheck, "Connecting...");
        CurrentTransaction = TJSONDocument::NewObject();
        Valid = false;
        const TRedemption r = NewRedemption("TfrmZumvoPayment.btnCheckClick")
                                  .Redeem(code.toStdString(), Outstanding, TransactionID);
        // Only a refused code's row (or one nothing was sent on) serves the next try; any other may
        // hold money at the provider.
        const bool nothingSent = r.Outcome == TRedemptionOutcome::NotSent;
        TransactionID = r.Accepted() || r.RowReusable() || nothingSent ? r.TransactionID : -1;
        if (nothingSent) {
            ShowError(!ModuleSettingsFault().empty() ? std::string(SettingsUnreadableText)
                      : r.Problem.empty()            ? std::string("The code could not be sent to Zumvo.")
                                                     : r.Problem);
            return;
        }
        if (r.Accepted() || r.Outcome == TRedemptionOutcome::Refused) {
            Answer = r.Answer.Clone();
            Valid = r.Accepted();
            AnyValid = AnyValid || Valid;
            HasProviderDetail = Answer.Exists("vsp");
            ProcessVisibility();
            if (Valid)
                CurrentTransaction = r.Record.Clone();
            ShowAnswer();
        } else if (r.NotHttpOk()) {
            ShowNoAnswer(r.Problem.c_str()); // what the server answered instead
        } else {
            // No answer is most often settings this user may not read: said as such.
            const bool unreadable =
                r.Outcome == TRedemptionOutcome::NoAnswer && !ModuleSettingsFault().empty();
            ShowNoAnswer(unreadable                                    ? SettingsUnreadableText
                         : r.Outcome == TRedemptionOutcome::NoAnswer   ? NoAnswerText
                         : r.Outcome == TRedemptionOutcome::Unreadable ? UnreadableAnswerText
                                                                       : NotKeptText);
        }
        progress.reset();
        btnCheck->setEnabled(false);
        pnlVoucher->show();
        btnOK->setFocus(); // Add (or Retry) is the cashier's next step
        if (!r.Problem.empty())
            ShowError(r.Problem);
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
    btnCheck->setEnabled(true);
    // Before the answer's panel hides with Add in it: the next code (typed or from a scanner that
    // types) goes to the code box, not to whatever button the focus would pass to.
    txtVoucherCode->setFocus();
    pnlVoucher->hide();
}

void TfrmZumvoPayment::TImpl::btnScanClick() {
    Guarded("TfrmZumvoPayment.btnScanClick", [&] {
        pallux::IntfPtr<IZumvoQRDetect> detect = QRDetect ? QRDetect : CreateQRDetect();
        std::string codeType;
        std::string code;
        if (!detect->GetQRCode(codeType, code) || codeType != "QR")
            return;
        const QString text = QString::fromUtf8(code.c_str(), static_cast<qsizetype>(code.size()));
        if (text.size() > VoucherCodeMaxLength) {
            LogInfo("[TfrmZumvoPayment.btnScanClick] The QR code has % characters, more than a code has (%): "
                    "not taken",
                    static_cast<std::int64_t>(text.size()), VoucherCodeMaxLength);
            return;
        }
        txtVoucherCode->setText(text);
    });
}

void TfrmZumvoPayment::TImpl::btnDoneClick() {
    Guarded("TfrmZumvoPayment.btnDoneClick", [&] {
        if (TransactionID != -1 && Valid) {
            if (!Confirm(NotAddedQuestion) || !CancelCurrent())
                return;
        }
        Form.done(AnyValid ? QDialog::Accepted : QDialog::Rejected);
    });
}

void TfrmZumvoPayment::TImpl::btnCancelClick() {
    Guarded("TfrmZumvoPayment.btnCancelClick", [&] {
        if (TransactionID != -1 && Valid) {
            if (!Confirm(CancelCurrentQuestion) || !CancelCurrent())
                return;
        }
        if (RedeemedList._Count() > 0) {
            if (!Confirm(CancelBasketQuestion) || !CancelBasket())
                return;
        }
        Form.done(QDialog::Rejected);
    });
}

bool TfrmZumvoPayment::TImpl::Reverse(const char* classMethod, const TJSONValue& transaction) {
    // Accepted codes: the row is marked before the REVERSE goes out. One the database would not
    // mark stays accepted, and on the screen, and the cashier is told.
    const TAdviceOutcome outcome =
        NewRedemption(classMethod)
            .GiveBack(transaction["TransactionID"].AsInteger(-1), transaction["tvTrxID"].AsInteger(-1),
                      transaction["ProviderStoreID"].AsInteger(-1));
    if (outcome != TAdviceOutcome::NotSent)
        return true;
    ShowError(NotGivenBackText(transaction["Zumvo"].AsString("")));
    return false;
}

bool TfrmZumvoPayment::TImpl::CancelCurrent() {
    if (TransactionID == -1)
        return true;
    bool sent = false;
    Guarded("TfrmZumvoPayment.CancelCurrent", [&] {
        LogInfo("[TfrmZumvoPayment.CancelCurrent] Cancelling the current transaction : %", TransactionID);
        Use(Store, "ZumvoTransaction")
            .AddLog("INFO", "Cancelling Transaction from form: " + std::to_string(TransactionID));
        sent = Reverse("TfrmZumvoPayment.CancelCurrent", CurrentTransaction.Root());
        if (!sent)
            return;
        TransactionID = -1;
        AnyValid = RedeemedList._Count() > 0;
        // The code given back cannot be added any more, should the window stay open.
        ReturnToEntry();
    });
    return sent;
}

bool TfrmZumvoPayment::TImpl::CancelBasket() {
    bool allSent = true;
    Guarded("TfrmZumvoPayment.CancelBasket", [&] {
        LogInfo("[TfrmZumvoPayment.CancelBasket] Cancelling current basket transactions: %",
                InvoiceData["BasketID"].AsString(""));
        TJSONDocument kept = TJSONDocument::NewArray();
        for (int i = 0; i < RedeemedList._Count(); ++i) {
            const TJSONValue item = RedeemedList[i];
            LogInfo("[TfrmZumvoPayment.CancelBasket] Cancelling transaction : %",
                    item["TransactionID"].AsInteger(-1));
            if (!Reverse("TfrmZumvoPayment.CancelBasket", item))
                kept.Append(item);
        }
        allSent = kept._Count() == 0;
        RedeemedList = std::move(kept);
        if (!allSent)
            ProcessVisibility();
    });
    return allSent;
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
    f.Outstanding = f.InvoiceData["CurrentAmount"].AsInt64(0);
    f.InvoiceTotal = RoundedCentsOf(f.InvoiceData["AfterDisc"].AsFloat(0));
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
    return UnitsOf(FImpl->ProcessedTotal);
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
