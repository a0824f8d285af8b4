// TfrmZumvoHeldFunds: the back office's list of every transaction that may still hold a
// customer's money at the provider (failed finalises and cancels, requests of unknown outcome,
// abandoned sales, rows whose retries are spent). The form opens straight to its grid, whose
// columns are sized to their contents with "Needs" (what a person acts on) in view; the same list
// goes to the host's HTML viewer as a page only when asked (Page). A person may retry the advice
// of a row, reverse it, or retry them all, each after a confirmation.
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

    // Reads the rows again and fills the grid.
    void Refresh();
    // Shows the rows read last as a page in the host's HTML viewer.
    void btnPageClick();
    void btnRetryClick();
    void btnReverseClick();
    void btnRetryAllClick();

    const std::vector<THeldRow>& Rows() const { return FRows; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* lblSummary;
    QTableWidget* grdHeldFunds;
    QPushButton* btnRefresh;
    QPushButton* btnRetry;
    QPushButton* btnReverse;
    QPushButton* btnRetryAll;
    QPushButton* btnPage;
    QPushButton* btnClose;
    std::vector<THeldRow> FRows;

    // Sizes the columns to their contents within the grid's width, "Needs" last and whole.
    void FitColumns();
    // The row selected in the grid; -1 when none.
    std::int32_t SelectedID() const;
    // Asks through the host, sends the advices, tells the result and refreshes the list.
    void Act(const char* classMethod, const std::string& question, std::optional<std::int32_t> only,
             bool reverse);
};

} // namespace zumvo
