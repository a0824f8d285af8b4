#include "FZumvoHeldFunds.h"

#include "ZumvoLog.h"
#include "clsHeldFundsReport.h"
#include "clsModuleContainer.h"
#include "clsZumvoReport.h"
#include "intfDisplayMessage.h"
#include "intfHTMLViewer.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>

#include <algorithm>
#include <stdexcept>

namespace zumvo {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const char* text, int left) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(name);
    button->setGeometry(left, 452, 150, 40);
    return button;
}

pallux::IntfPtr<pallux::IDisplayMessage> Messages() {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    return messages;
}

// Runs the retry with a progress bar ("Sending advice n of N") whose Stop button ends it after the
// advice on the way: the list may hold thousands of rows, each a round trip to the provider.
TRetryResult RunWithProgress(QWidget* parent, const TRetryRequest& request) {
    QProgressDialog progress(parent);
    progress.setObjectName("dlgRetryProgress");
    progress.setWindowTitle("Zumvo Held Funds");
    progress.setCancelButtonText("Stop");
    progress.setWindowModality(Qt::WindowModal); // the list's buttons wait while it runs
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    const TRetryResult result = TAdviceRetry().Run(request, [&progress](int sent, int total) {
        progress.setMaximum(std::max(total, 1));
        progress.setLabelText(sent < total ? QString("Sending advice %1 of %2").arg(sent + 1).arg(total)
                                           : QString("Sent %1 of %2").arg(sent).arg(total));
        progress.setValue(sent);
        QApplication::processEvents(); // Stop, and the bar, between two advices
        return !progress.wasCanceled();
    });
    progress.close();
    return result;
}

std::string ResultText(const TRetryResult& result) {
    std::string text = std::to_string(result.Attempted) +
                       " advice(s) sent: " + std::to_string(result.Confirmed) + " confirmed, " +
                       std::to_string(result.Failed) + " not confirmed";
    if (result.Stopped)
        text += "; stopped, " + std::to_string(result.NotSent) + " not sent";
    return text;
}

} // namespace

TfrmZumvoHeldFunds::TfrmZumvoHeldFunds(QWidget* parent) : QDialog(parent) {
    setObjectName("frmZumvoHeldFunds");
    setWindowTitle("Zumvo Held Funds");
    setFixedSize(980, 500);
    lblSummary = new QLabel(this);
    lblSummary->setObjectName("lblSummary");
    lblSummary->setGeometry(10, 6, 960, 26);
    grdHeldFunds = new QTableWidget(0, static_cast<int>(std::size(HeldFundsColumns)), this);
    grdHeldFunds->setObjectName("grdHeldFunds");
    grdHeldFunds->setGeometry(10, 36, 960, 408);
    QStringList headers;
    for (const char* h : HeldFundsColumns)
        headers << h;
    grdHeldFunds->setHorizontalHeaderLabels(headers);
    grdHeldFunds->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdHeldFunds->setSelectionMode(QAbstractItemView::SingleSelection);
    grdHeldFunds->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdHeldFunds->verticalHeader()->hide();
    btnRefresh = Button(this, "btnRefresh", "Refresh", 10);
    btnRetry = Button(this, "btnRetry", "Retry", 170);
    btnReverse = Button(this, "btnReverse", "Reverse", 330);
    btnRetryAll = Button(this, "btnRetryAll", "Retry All", 490);
    btnPage = Button(this, "btnPage", "Page", 650);
    btnClose = Button(this, "btnClose", "Close", 820);
    connect(btnRefresh, &QPushButton::clicked, this,
            [this] { Guarded("TfrmZumvoHeldFunds.btnRefreshClick", [this] { Refresh(); }); });
    connect(btnRetry, &QPushButton::clicked, this, [this] { btnRetryClick(); });
    connect(btnReverse, &QPushButton::clicked, this, [this] { btnReverseClick(); });
    connect(btnRetryAll, &QPushButton::clicked, this, [this] { btnRetryAllClick(); });
    connect(btnPage, &QPushButton::clicked, this, [this] { btnPageClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(grdHeldFunds, &QTableWidget::itemSelectionChanged, this, [this] {
        btnRetry->setEnabled(SelectedID() != -1);
        btnReverse->setEnabled(SelectedID() != -1);
    });
    Guarded("TfrmZumvoHeldFunds.FormCreate", [this] { Refresh(); });
}

void TfrmZumvoHeldFunds::Refresh() {
    TRetryRequest request;
    request.Trigger = TRetryTrigger::OnDemand;
    FRows = TAdviceRetry().HeldFunds(request);
    grdHeldFunds->setRowCount(static_cast<int>(FRows.size()));
    for (int r = 0; r < static_cast<int>(FRows.size()); ++r) {
        const auto cells = HeldFundsCells(FRows[static_cast<std::size_t>(r)]);
        for (int c = 0; c < static_cast<int>(cells.size()); ++c)
            grdHeldFunds->setItem(
                r, c, new QTableWidgetItem(QString::fromStdString(cells[static_cast<std::size_t>(c)])));
    }
    lblSummary->setText(FRows.empty()
                            ? QString("No transaction holds funds.")
                            : QString("%1 transaction(s) may hold a customer's money").arg(FRows.size()));
    // The rows are new: nothing stays chosen, so the buttons and the selection agree.
    grdHeldFunds->clearSelection();
    btnRetry->setEnabled(false);
    btnReverse->setEnabled(false);
    btnRetryAll->setEnabled(!FRows.empty());
    FitColumns();
}

void TfrmZumvoHeldFunds::FitColumns() {
    QHeaderView& header = *grdHeldFunds->horizontalHeader();
    header.setSectionResizeMode(QHeaderView::Interactive);
    grdHeldFunds->resizeColumnsToContents();
    const int columns = grdHeldFunds->columnCount();
    const int needs = columns - 1;
    // The grid's inside, less a vertical scroll bar (kept free: a longer list must not push
    // "Needs" out of view). Computed, not read from the viewport, which is laid out only when shown.
    const int room = grdHeldFunds->width() - 2 * grdHeldFunds->frameWidth() -
                     grdHeldFunds->verticalScrollBar()->sizeHint().width();
    int used = 0;
    for (int c = 0; c < columns; ++c)
        used += header.sectionSize(c);
    // Too wide: the texts that read well on more lines give up width first (the last error, the
    // status, the code), each down to its heading's width; their rows grow to show them folded,
    // and each cell's whole text is its tool tip.
    const int lastError = needs - 1, status = 7, code = 4;
    for (const int c : {lastError, status, code}) {
        if (used <= room)
            break;
        const QString heading = grdHeldFunds->horizontalHeaderItem(c)->text();
        const int minimum = std::max(header.fontMetrics().horizontalAdvance(heading) + 16, 64);
        const int cut = std::min(used - room, header.sectionSize(c) - minimum);
        if (cut > 0) {
            header.resizeSection(c, header.sectionSize(c) - cut);
            used -= cut;
        }
    }
    // Still too wide (a wider font): every other column but "Needs" gives up width, the widest
    // first, down to a narrow strip; its text, and its heading, fold or are cut, and the cell's
    // tool tip holds the text whole.
    constexpr int Narrowest = 40;
    while (used > room) {
        int widest = -1;
        for (int c = 0; c < needs; ++c)
            if (header.sectionSize(c) > Narrowest &&
                (widest < 0 || header.sectionSize(c) > header.sectionSize(widest)))
                widest = c;
        if (widest < 0)
            break;
        const int cut = std::min(used - room, std::max((header.sectionSize(widest) - Narrowest) / 2, 1));
        header.resizeSection(widest, header.sectionSize(widest) - cut);
        used -= cut;
    }
    // Room left over goes to "Needs", which ends the row at the grid's right edge.
    if (used < room)
        header.resizeSection(needs, header.sectionSize(needs) + room - used);
    grdHeldFunds->setWordWrap(true);
    grdHeldFunds->resizeRowsToContents();
    // At most four lines a row: a long error does not take the list's height (its tool tip holds it).
    const int tallest = grdHeldFunds->fontMetrics().lineSpacing() * 4 + 8;
    for (int r = 0; r < grdHeldFunds->rowCount(); ++r)
        if (grdHeldFunds->rowHeight(r) > tallest)
            grdHeldFunds->setRowHeight(r, tallest);
    for (int r = 0; r < grdHeldFunds->rowCount(); ++r)
        for (int c = 0; c < columns; ++c)
            if (QTableWidgetItem* item = grdHeldFunds->item(r, c))
                item->setToolTip(item->text());
}

void TfrmZumvoHeldFunds::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The fonts and the style are final once shown: the columns are measured again with them.
    FitColumns();
}

void TfrmZumvoHeldFunds::btnPageClick() {
    Guarded("TfrmZumvoHeldFunds.btnPageClick", [this] {
        pallux::IntfPtr<pallux::IHTMLViewer> viewer;
        if (!CreateService(viewer) || !viewer)
            throw std::runtime_error("The host has no HTML viewer");
        viewer->SetCaption("Zumvo Held Funds");
        viewer->ShowHTML(BuildHeldFundsPage(FRows, HostResFolderURL()));
    });
}

std::int32_t TfrmZumvoHeldFunds::SelectedID() const {
    const auto selected = grdHeldFunds->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    const auto index = static_cast<std::size_t>(selected.first().row());
    return index < FRows.size() ? FRows[index].ID : -1;
}

void TfrmZumvoHeldFunds::Act(const char* classMethod, const std::string& question,
                             std::optional<std::int32_t> only, bool reverse) {
    Guarded(classMethod, [&] {
        auto messages = Messages();
        auto& display = Use(messages, "DisplayMessage");
        if (display.ShowMessage(question, pallux::mtConfirmation, pallux::mbYes | pallux::mbNo) ==
            pallux::mrNo)
            return;
        TRetryRequest request;
        request.Trigger = TRetryTrigger::OnDemand;
        request.Reverse = reverse;
        if (only)
            request.Only = std::set<std::int32_t>{*only};
        const TRetryResult result = RunWithProgress(this, request);
        display.ShowMessage(ResultText(result), pallux::mtInformation, pallux::mbOK);
        Refresh();
    });
}

void TfrmZumvoHeldFunds::btnRetryClick() {
    const std::int32_t id = SelectedID();
    if (id != -1)
        Act("TfrmZumvoHeldFunds.btnRetryClick",
            "Send the advice of transaction " + std::to_string(id) + " again?", id, false);
}

void TfrmZumvoHeldFunds::btnReverseClick() {
    const std::int32_t id = SelectedID();
    if (id != -1)
        Act("TfrmZumvoHeldFunds.btnReverseClick",
            "Reverse transaction " + std::to_string(id) + "? The funds go back to the customer.", id, true);
}

void TfrmZumvoHeldFunds::btnRetryAllClick() {
    Act("TfrmZumvoHeldFunds.btnRetryAllClick",
        "Send the advice of every listed transaction again (" + std::to_string(FRows.size()) + ")?",
        std::nullopt, false);
}

} // namespace zumvo
