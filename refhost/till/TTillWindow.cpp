#include "TTillWindow.h"

#include "intfDisplayMessage.h"

#include <QApplication>
#include <QDoubleValidator>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace refhost {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QLabel* AmountLabel(const char* name, int pixelSize, bool bold) {
    auto* label = new QLabel("0.00");
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont f = label->font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    label->setFont(f);
    return label;
}

QLineEdit* Entry(const char* name, const QString& placeholder) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    return edit;
}

} // namespace

TTillWindow::TTillWindow(TTill& till, QWidget* parent) : QMainWindow(parent), FTill(till) {
    setObjectName("frmTill");
    setWindowTitle("[PALLUX] Invoicing");
    QFont base = font();
    base.setPixelSize(15);
    setFont(base);

    auto* central = new QWidget;
    auto* columns = new QHBoxLayout(central);
    columns->addLayout(SaleColumn(), 3);
    columns->addLayout(ActionColumn(), 2);
    setCentralWidget(central);
    statusBar()->showMessage("Ready");
    resize(1024, 768);

    OnError = [this](const std::string& action, const std::string& message) {
        FTill.Ask(action + ": " + message, pallux::mtWarning, pallux::mbOK);
    };
    FTill.OnChanged = [this] { Refresh(); };
    Refresh();
}

QVBoxLayout* TTillWindow::SaleColumn() {
    auto* left = new QVBoxLayout;
    left->addWidget(EntryPanel());
    left->addWidget(InvoiceGrid(), 2);
    FAdjustments = new QListWidget;
    FAdjustments->setObjectName("lstAdjustments");
    FAdjustments->setMaximumHeight(90);
    left->addWidget(FAdjustments);
    left->addWidget(ReceiptPanel(), 3);
    return left;
}

QGroupBox* TTillWindow::EntryPanel() {
    auto* entryBox = new QGroupBox("Ring up");
    auto* entry = new QHBoxLayout(entryBox);
    FCode = Entry("edtCode", "Code");
    FDescription = Entry("edtDescription", "Description");
    FPrice = Entry("edtPrice", "Price");
    FPrice->setValidator(new QDoubleValidator(0, 1e9, 2, FPrice));
    FQuantity = Entry("edtQuantity", "Qty");
    FQuantity->setText("1");
    FQuantity->setValidator(new QDoubleValidator(0.001, 1e6, 3, FQuantity));
    FQuantity->setMaximumWidth(60);
    FPrice->setMaximumWidth(100);
    FCode->setMaximumWidth(120);
    entry->addWidget(FCode);
    entry->addWidget(FDescription, 1);
    entry->addWidget(FPrice);
    entry->addWidget(FQuantity);
    auto* add = new QPushButton("Add");
    add->setObjectName("btnAddLine");
    connect(add, &QPushButton::clicked, this, [this] { AddLineFromEntry(); });
    connect(FPrice, &QLineEdit::returnPressed, this, [this] { AddLineFromEntry(); });
    entry->addWidget(add);
    return entryBox;
}

QTableWidget* TTillWindow::InvoiceGrid() {
    FGrid = new QTableWidget(0, 5);
    FGrid->setObjectName("grdInvoice");
    FGrid->setHorizontalHeaderLabels({"Code", "Description", "Qty", "Price", "Total"});
    FGrid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    FGrid->verticalHeader()->setVisible(false);
    FGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    FGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    FGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return FGrid;
}

QGroupBox* TTillWindow::ReceiptPanel() {
    auto* receiptBox = new QGroupBox("Receipt");
    auto* receiptLayout = new QVBoxLayout(receiptBox);
    FReceipt = new QPlainTextEdit;
    FReceipt->setObjectName("txtReceipt");
    FReceipt->setReadOnly(true);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(13);
    FReceipt->setFont(mono);
    receiptLayout->addWidget(FReceipt);
    return receiptBox;
}

QVBoxLayout* TTillWindow::ActionColumn() {
    auto* right = new QVBoxLayout;
    FInvoice = new QLabel;
    FInvoice->setObjectName("lblInvoice");
    QFont big = FInvoice->font();
    big.setPixelSize(20);
    big.setBold(true);
    FInvoice->setFont(big);
    right->addWidget(FInvoice);
    FState = new QLabel;
    FState->setObjectName("lblState");
    FState->setWordWrap(true);
    right->addWidget(FState);
    right->addWidget(TotalsPanel());
    right->addLayout(SaleButtons());
    right->addStretch(1);
    return right;
}

QGroupBox* TTillWindow::TotalsPanel() {
    auto* totalsBox = new QGroupBox("Totals");
    auto* totals = new QFormLayout(totalsBox);
    FSubTotal = AmountLabel("lblSubTotal", 16, false);
    FDiscounts = AmountLabel("lblDiscounts", 16, false);
    FTotal = AmountLabel("lblTotal", 26, true);
    FPaid = AmountLabel("lblPaid", 16, false);
    FOutstanding = AmountLabel("lblOutstanding", 26, true);
    totals->addRow("Subtotal", FSubTotal);
    totals->addRow("Discounts", FDiscounts);
    totals->addRow("Total", FTotal);
    totals->addRow("Paid", FPaid);
    totals->addRow("Outstanding", FOutstanding);
    return totalsBox;
}

QGridLayout* TTillWindow::SaleButtons() {
    auto* buttons = new QGridLayout;
    FVoucher = AddButton("btnVoucher", "Voucher", [this] { Run("Voucher", [this] { FTill.Voucher(); }); });
    FDiscount = AddButton("btnDiscount", "Discount", [this] { ChooseDiscount(); });
    FPay = AddButton("btnPay", "Pay", [this] { ChooseTender(); });
    FComplete = AddButton("btnComplete", "Complete", [this] { CompleteSale(); });
    FRemoveLine = AddButton("btnRemoveLine", "Remove line", [this] { RemoveSelectedLine(); });
    FCancel = AddButton("btnCancelInvoice", "Cancel invoice",
                        [this] { Run("Cancel invoice", [this] { FTill.CancelInvoice(); }); });
    FRecall = AddButton("btnRecall", "Recall", [this] { RecallInvoice(); });
    FOverride =
        AddButton("btnOverride", "Override", [this] { Run("Override", [this] { FTill.Override(); }); });
    FNewSale = AddButton("btnNewSale", "New sale", [this] { Run("New sale", [this] { FTill.NewSale(); }); });
    FCashup = AddButton("btnCashup", "Driver cash-up", [this] { CashupInvoice(); });
    FGiveBack =
        AddButton("btnGiveBack", "Give back", [this] { Run("Give back", [this] { FTill.GiveBack(); }); });
    QPushButton* const order[] = {FVoucher, FDiscount, FPay,     FComplete, FRemoveLine, FCancel,
                                  FRecall,  FOverride, FNewSale, FCashup,   FGiveBack};
    for (int i = 0; i < 11; ++i)
        buttons->addWidget(order[i], i / 2, i % 2);
    return buttons;
}

TTillWindow::~TTillWindow() {
    FTill.OnChanged = nullptr;
}

QPushButton* TTillWindow::AddButton(const char* name, const QString& caption, std::function<void()> action) {
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    button->setMinimumHeight(48);
    QFont f = button->font();
    f.setPixelSize(17);
    f.setBold(true);
    button->setFont(f);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    return button;
}

void TTillWindow::Run(const std::string& action, const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        statusBar()->showMessage(Q(action + ": " + e.what()));
        if (OnError)
            OnError(action, e.what());
    }
}

void TTillWindow::Refresh() {
    const TInvoice& inv = FTill.Invoice();
    FInvoice->setText(QString("Invoice %1").arg(inv.InvoiceNum()));
    QString state = "Cashier: " + Q(inv.Cashier()) + QString("   Till %1").arg(FTill.TillID());
    if (FTill.Recalled())
        state += QString("\nRecalled: completed invoice%1")
                     .arg(FTill.RecalledStatus() == TInvoiceStatus::Normal ? "" : " (overridden)");
    else if (inv.HasVouchers())
        state += "\nVouchers applied";
    FState->setText(state);

    FGrid->setRowCount(static_cast<int>(inv.Lines().size()));
    int row = 0;
    for (const auto& l : inv.Lines()) {
        const QString cells[] = {Q(l.Code), Q(l.Description), QString::number(l.Quantity),
                                 Q(CentsText(l.Price)), Q(CentsText(l.Total()))};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c >= 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            FGrid->setItem(row, c, item);
        }
        ++row;
    }
    FAdjustments->clear();
    for (const auto& d : inv.Discounts())
        FAdjustments->addItem(Q("Discount " + d.Code + " (" + d.Name + "): -" + CentsText(d.Amount)));
    for (const auto& p : inv.Payments())
        FAdjustments->addItem(Q("Payment " + p.Type + ": " + CentsText(p.Amount)));

    FSubTotal->setText(Q(CentsText(inv.SubTotal())));
    FDiscounts->setText(Q(CentsText(-inv.DiscountTotal())));
    FTotal->setText(Q(CentsText(inv.AfterDisc())));
    FPaid->setText(Q(CentsText(inv.Paid())));
    FOutstanding->setText(Q(CentsText(inv.Outstanding())));

    QString receipt;
    for (const auto& line : FTill.LastReceipt())
        receipt += Q(line) + "\n";
    FReceipt->setPlainText(receipt);

    const bool open = !FTill.Recalled();
    for (QWidget* w : std::initializer_list<QWidget*>{FVoucher, FDiscount, FPay, FComplete, FRemoveLine})
        w->setEnabled(open && !inv.Empty());
    FGiveBack->setEnabled(open && std::any_of(inv.Payments().begin(), inv.Payments().end(),
                                              [](const TInvoicePayment& p) { return !p.FromVoucher; }));
    FOverride->setEnabled(FTill.Recalled() && FTill.RecalledStatus() == TInvoiceStatus::Normal);
    FNewSale->setEnabled(FTill.Recalled());
    FCashup->setEnabled(open && inv.Empty());
    FRecall->setEnabled(FTill.Recalled() || inv.Empty());
}

void TTillWindow::AddLineFromEntry() {
    Run("Add line", [this] {
        const std::string code = FCode->text().trimmed().toStdString();
        bool priceOk = false, quantityOk = false;
        const double price = QLocale().toDouble(FPrice->text(), &priceOk);
        const double quantity = QLocale().toDouble(FQuantity->text(), &quantityOk);
        if (code.empty())
            throw ETillError("Type the item's code");
        if (!priceOk)
            throw ETillError("Type the item's price");
        if (!quantityOk)
            throw ETillError("Type a quantity");
        FTill.AddLine({code, FDescription->text().trimmed().toStdString(), ToCents(price), quantity});
        FCode->clear();
        FDescription->clear();
        FPrice->clear();
        FQuantity->setText("1");
        FCode->setFocus();
    });
}

void TTillWindow::RemoveSelectedLine() {
    Run("Remove line", [this] {
        const int row = FGrid->currentRow();
        if (row < 0 || row >= static_cast<int>(FTill.Invoice().Lines().size()))
            throw ETillError("Select a line to remove");
        FTill.RemoveLine(FTill.Invoice().Lines()[static_cast<std::size_t>(row)].Code);
    });
}

void TTillWindow::ChooseDiscount() {
    QMenu menu(this);
    for (const auto& name : FTill.DiscountNames())
        menu.addAction(Q(name));
    if (menu.isEmpty())
        menu.addAction("(no discounts)")->setEnabled(false);
    if (QAction* chosen = menu.exec(FDiscount->mapToGlobal(QPoint(0, FDiscount->height()))))
        Run("Discount", [&] { FTill.Discount(chosen->text().toStdString()); });
}

void TTillWindow::ChooseTender() {
    QMenu menu(this);
    for (const auto& name : FTill.TenderNames())
        menu.addAction(Q(name));
    QAction* chosen = menu.exec(FPay->mapToGlobal(QPoint(0, FPay->height())));
    if (!chosen)
        return;
    const double outstanding = ToUnits(std::max<TMoney>(0, FTill.Invoice().Outstanding()));
    bool ok = false;
    const double amount =
        QInputDialog::getDouble(this, "Pay with " + chosen->text(), "Amount", outstanding, 0, 1e9, 2, &ok);
    if (ok)
        Run("Pay", [&] { FTill.Pay(chosen->text().toStdString(), ToCents(amount)); });
}

void TTillWindow::CompleteSale() {
    bool driver = false;
    if (FTill.Invoice().Outstanding() > 0) {
        const auto answer =
            FTill.Ask(CentsText(FTill.Invoice().Outstanding()) +
                          " is still to pay. Complete it as a driver's invoice, paid at the driver cash-up?",
                      pallux::mtConfirmation, pallux::mbYes | pallux::mbNo);
        if (answer != pallux::mrYes)
            return;
        driver = true;
    }
    Run("Complete", [&] { FTill.Complete(driver); });
}

void TTillWindow::RecallInvoice() {
    bool ok = false;
    const int num = QInputDialog::getInt(this, "Recall", "Invoice number", std::max(1, FTill.LastCompleted()),
                                         1, 1 << 30, 1, &ok);
    if (ok)
        Run("Recall", [&] {
            if (FTill.Recalled())
                FTill.NewSale();
            FTill.Recall(num);
        });
}

void TTillWindow::CashupInvoice() {
    bool ok = false;
    const int num = QInputDialog::getInt(this, "Driver cash-up", "Invoice number",
                                         std::max(1, FTill.LastCompleted()), 1, 1 << 30, 1, &ok);
    if (!ok)
        return;
    Run("Driver cash-up", [&] {
        const auto entries = FTill.DriverCashup(num);
        std::string text = "Cash-up entries of invoice " + std::to_string(num) + ":";
        for (const auto& e : entries)
            text += "\n" + e.PaymentCode + "  " + CentsText(ToCents(e.Amount));
        statusBar()->showMessage(Q(text));
        FReceipt->setPlainText(Q(text));
    });
}

} // namespace refhost
