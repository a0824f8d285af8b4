// TfrmZumvoReports: the back office's Zumvo report form. Each button reports a period (today,
// this or last week, this or last month, or the two date pickers) as an HTML page handed to the
// host's HTML viewer.
#pragma once

#include "clsZumvoReport.h"

#include <QDialog>

class QDateEdit;
class QLabel;
class QPushButton;

namespace zumvo {

class TfrmZumvoReports : public QDialog {
public:
    explicit TfrmZumvoReports(QWidget* parent = nullptr);

    // Builds the report of the baskets created from the start of `from` to the end of `to`
    // and shows it in the host's HTML viewer. Raises what the database or the viewer raise,
    // after showing the page built so far when a row could not be written.
    void ShowReport(TReportDate from, TReportDate to);

    void btnTodayClick();
    void btnThisWeekClick();
    void btnThisMonthClick();
    void btnLastWeekClick();
    void btnLastMonthClick();
    void btnCustomRangeClick();

private:
    QLabel* img1;
    QLabel* lblTitle;
    QPushButton* btnToday;
    QPushButton* btnThisWeek;
    QPushButton* btnThisMonth;
    QPushButton* btnLastWeek;
    QPushButton* btnLastMonth;
    QPushButton* btnCustomRange;
    QDateEdit* dtpFrom;
    QDateEdit* dtpTo;

    void ReportPeriod(TReportPeriod period);
    // Runs a report from a click: an error is logged and shown by the host's message service
    // instead of unwinding through the window system.
    void RunFromClick(const char* classMethod, TReportDate from, TReportDate to);
};

} // namespace zumvo
