#include "FZumvoReports.h"

#include "ZumvoLog.h"
#include "clsDBAccess.h"
#include "clsModuleContainer.h"
#include "intfDisplayMessage.h"
#include "intfHTMLViewer.h"

#include <QDateEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace zumvo {

namespace {

QDate ToQDate(TReportDate d) {
    return QDate(int(d.year()), int(unsigned(d.month())), int(unsigned(d.day())));
}

TReportDate FromQDate(const QDate& d) {
    return TReportDate(std::chrono::year(d.year()), std::chrono::month(unsigned(d.month())),
                       std::chrono::day(unsigned(d.day())));
}

// The banner across the top of the form.
QPixmap Banner(int width, int height) {
    QPixmap banner(width, height);
    QLinearGradient fill(0, 0, width, height);
    fill.setColorAt(0, QColor(0x0b, 0x3d, 0x91));
    fill.setColorAt(1, QColor(0x2d, 0x9c, 0xdb));
    QPainter painter(&banner);
    painter.fillRect(banner.rect(), fill);
    painter.setPen(Qt::white);
    QFont font("Tahoma", 28, QFont::Bold);
    painter.setFont(font);
    painter.drawText(banner.rect(), Qt::AlignCenter, "Zumvo");
    return banner;
}

QPushButton* Button(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(name);
    button->setGeometry(left, top, 217, 57);
    return button;
}

QDateEdit* DatePicker(QWidget* parent, const char* name, int left, int top) {
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(name);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    picker->setGeometry(left, top, 217, 26);
    return picker;
}

} // namespace

TfrmZumvoReports::TfrmZumvoReports(QWidget* parent) : QDialog(parent) {
    setObjectName("frmZumvoReports");
    setWindowTitle("Zumvo Reports");
    setFixedSize(480, 420);

    img1 = new QLabel(this);
    img1->setObjectName("img1");
    img1->setGeometry(0, 0, 480, 96);
    img1->setPixmap(Banner(480, 96));
    img1->setScaledContents(true);

    lblTitle = new QLabel("Zumvo Reports", this);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setGeometry(0, 100, 480, 36);
    lblTitle->setAlignment(Qt::AlignCenter);
    lblTitle->setStyleSheet("color: blue;");
    lblTitle->setFont(QFont("Tahoma", 18));

    btnToday = Button(this, "btnToday", "Todays Transactions", 16, 140);
    btnThisWeek = Button(this, "btnThisWeek", "This Week", 16, 205);
    btnThisMonth = Button(this, "btnThisMonth", "This Month", 247, 205);
    btnLastWeek = Button(this, "btnLastWeek", "Last Week", 16, 270);
    btnLastMonth = Button(this, "btnLastMonth", "Last Month", 247, 270);
    btnCustomRange = Button(this, "btnCustomRange", "Custom Range", 16, 340);
    dtpFrom = DatePicker(this, "dtpFrom", 247, 340);
    dtpTo = DatePicker(this, "dtpTo", 247, 371);

    const auto [first, last] = ReportRange(TReportPeriod::ThisMonth, Today());
    dtpFrom->setDate(ToQDate(first));
    dtpTo->setDate(ToQDate(last));

    connect(btnToday, &QPushButton::clicked, this, [this] { btnTodayClick(); });
    connect(btnThisWeek, &QPushButton::clicked, this, [this] { btnThisWeekClick(); });
    connect(btnThisMonth, &QPushButton::clicked, this, [this] { btnThisMonthClick(); });
    connect(btnLastWeek, &QPushButton::clicked, this, [this] { btnLastWeekClick(); });
    connect(btnLastMonth, &QPushButton::clicked, this, [this] { btnLastMonthClick(); });
    connect(btnCustomRange, &QPushButton::clicked, this, [this] { btnCustomRangeClick(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmZumvoReports::ShowReport(TReportDate from, TReportDate to) {
    auto db = NewDBScript();
    pallux::IntfPtr<pallux::IHTMLViewer> viewer;
    CreateService(viewer);
    auto& html = Use(viewer, "HTMLViewer");
    const TZumvoReportData data = QueryZumvoReport(*db, from, to);
    std::string partial;
    std::string page;
    try {
        page = BuildZumvoReportPage(data, from, to, HostResFolderURL(), &partial);
    } catch (...) {
        html.ShowHTML(partial);
        throw;
    }
    html.ShowHTML(page);
}

void TfrmZumvoReports::RunFromClick(const char* classMethod, TReportDate from, TReportDate to) {
    std::string failure;
    if (Guarded(classMethod, [&] {
            try {
                ShowReport(from, to);
            } catch (const std::exception& e) {
                failure = e.what();
                throw;
            }
        }))
        return;
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    if (CreateService(messages) && messages)
        messages->ShowMessage("The Zumvo report could not be built: " + failure, pallux::mtError,
                              pallux::mbOK);
}

void TfrmZumvoReports::ReportPeriod(TReportPeriod period) {
    const auto [from, to] = ReportRange(period, Today());
    static const char* const names[] = {"TfrmZumvoReports.btnTodayClick", "TfrmZumvoReports.btnThisWeekClick",
                                        "TfrmZumvoReports.btnLastWeekClick",
                                        "TfrmZumvoReports.btnThisMonthClick",
                                        "TfrmZumvoReports.btnLastMonthClick"};
    RunFromClick(names[static_cast<int>(period)], from, to);
}

void TfrmZumvoReports::btnTodayClick() {
    ReportPeriod(TReportPeriod::Today);
}
void TfrmZumvoReports::btnThisWeekClick() {
    ReportPeriod(TReportPeriod::ThisWeek);
}
void TfrmZumvoReports::btnThisMonthClick() {
    ReportPeriod(TReportPeriod::ThisMonth);
}
void TfrmZumvoReports::btnLastWeekClick() {
    ReportPeriod(TReportPeriod::LastWeek);
}
void TfrmZumvoReports::btnLastMonthClick() {
    ReportPeriod(TReportPeriod::LastMonth);
}
void TfrmZumvoReports::btnCustomRangeClick() {
    RunFromClick("TfrmZumvoReports.btnCustomRangeClick", FromQDate(dtpFrom->date()),
                 FromQDate(dtpTo->date()));
}

} // namespace zumvo
