// TfrmZumvoHeldFunds: the back office's list of every transaction that may still hold a
// customer's money at the provider (failed finalises and cancels, requests of unknown outcome,
// abandoned sales, rows whose retries are spent). The list is also shown as an HTML page in the
// host's viewer; a person may retry the advice of a row, reverse it, or retry them all, each
// after a confirmation.
#pragma once

#include "clsAdviceRetry.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace zumvo {

class TfrmZumvoHeldFunds : public QDialog {
public:
    explicit TfrmZumvoHeldFunds(QWidget* parent = nullptr);

    // Reads the rows again, fills the grid and shows the page in the host's HTML viewer.
    void Refresh();
    void btnRetryClick();
    void btnReverseClick();
    void btnRetryAllClick();

    const std::vector<THeldRow>& Rows() const { return FRows; }

private:
    QLabel* lblSummary;
    QTableWidget* grdHeldFunds;
    QPushButton* btnRefresh;
    QPushButton* btnRetry;
    QPushButton* btnReverse;
    QPushButton* btnRetryAll;
    QPushButton* btnClose;
    std::vector<THeldRow> FRows;

    // The row selected in the grid; -1 when none.
    std::int32_t SelectedID() const;
    // Asks through the host, sends the advices, tells the result and refreshes the list.
    void Act(const char* classMethod, const std::string& question, std::optional<std::int32_t> only,
             bool reverse);
};

} // namespace zumvo
