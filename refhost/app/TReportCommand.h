// BackOffice --report: runs the module's Zumvo report for scripts and tests, through the same
// menu entry, access check and report form a user would use, without a display. The page goes
// to the headless HTML viewer and its file is printed.
//   --report FROM TO     dates as yyyy-mm-dd, FROM not after TO (the form's custom range)
//   --report PERIOD      today, this-week, last-week, this-month or last-month (the form's buttons)
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class QApplication;
class QWidget;

namespace refhost {

class TRefHost;
struct THostContext;

// A Qt application for a headless menu command, on Qt's offscreen platform unless another is
// set; empty when the program has one already.
std::unique_ptr<QApplication> HeadlessApplication();
// The visible top-level window with that object name; null when there is none.
QWidget* OpenWindow(const char* objectName);

// The transcript lines of one kind written since line `from`, without their "KIND: " prefix.
std::vector<std::string> LinesOf(const THostContext& ctx, std::size_t from, const std::string& kind);

struct TReportRequest {
    std::string Button;   // the report form's button to press
    std::string From, To; // the custom range, yyyy-mm-dd; empty for a named period

    // From the values given after --report; raises std::invalid_argument naming what is wrong.
    static TReportRequest Parse(const std::vector<std::string>& values);
};

// Whether the text has the form yyyy-mm-dd (the first value of a date range).
bool LooksLikeDate(const std::string& text);

// Raises the main-form event, picks "Lists" / "Zumvo Reports" and drives the report form.
// Prints the page's file on out and answers 0; answers 3 when access was refused (no report)
// and 1 when no page came (the reason on err).
int RunReportCommand(TRefHost& host, const TReportRequest& request, std::ostream& out, std::ostream& err);

} // namespace refhost
