// The till window: line entry, the invoice grid, totals, the sale buttons and the receipt of
// the last completed invoice. Readable at 1024 x 768.
#pragma once

#include "TTill.h"

#include <QMainWindow>
#include <functional>

class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QListWidget;
class QVBoxLayout;

namespace refhost {

class TTillWindow : public QMainWindow {
public:
    explicit TTillWindow(TTill& till, QWidget* parent = nullptr);
    ~TTillWindow() override;

    // Shows the state of the till again (called on every change of the till).
    void Refresh();
    // Reports a refused action; by default a warning box, the scenario runner replaces it.
    std::function<void(const std::string& action, const std::string& message)> OnError;

private:
    TTill& FTill;
    QLineEdit* FCode;
    QLineEdit* FDescription;
    QLineEdit* FPrice;
    QLineEdit* FQuantity;
    QTableWidget* FGrid;
    QListWidget* FAdjustments;
    QLabel* FInvoice;
    QLabel* FState;
    QLabel* FSubTotal;
    QLabel* FDiscounts;
    QLabel* FTotal;
    QLabel* FPaid;
    QLabel* FOutstanding;
    QPlainTextEdit* FReceipt;
    QPushButton* FVoucher;
    QPushButton* FDiscount;
    QPushButton* FPay;
    QPushButton* FComplete;
    QPushButton* FCancel;
    QPushButton* FRecall;
    QPushButton* FOverride;
    QPushButton* FNewSale;
    QPushButton* FCashup;
    QPushButton* FRemoveLine;
    QPushButton* FGiveBack;

    // The builders of the window's parts, in the order they appear. Left, the sale: line entry,
    // the invoice grid, the adjustments and the receipt. Right, the actions: the invoice and its
    // state, the totals and the sale buttons.
    QVBoxLayout* SaleColumn();
    QGroupBox* EntryPanel();
    QTableWidget* InvoiceGrid();
    QGroupBox* ReceiptPanel();
    QVBoxLayout* ActionColumn();
    QGroupBox* TotalsPanel();
    QGridLayout* SaleButtons();
    QPushButton* AddButton(const char* name, const QString& caption, std::function<void()> action);
    void Run(const std::string& action, const std::function<void()>& body);
    void AddLineFromEntry();
    void RemoveSelectedLine();
    void ChooseDiscount();
    void ChooseTender();
    void CompleteSale();
    void RecallInvoice();
    void CashupInvoice();
};

} // namespace refhost
