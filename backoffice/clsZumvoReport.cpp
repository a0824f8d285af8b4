#include "clsZumvoReport.h"

#include "HostResFolder.h"

#include "ZumvoPlatform.h"
#include "clsDBAccess.h"
#include "clsSysUtils.h"

#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace zumvo {

namespace {

using namespace std::chrono;

const char* const BasketQuery =
    "SELECT WPB.ID AS BasketID, WPB.Timestamp_Created AS Basket_Started, WPB.TotalAmount AS BasketAmount, "
    "WPB.InvoiceNum, I.fkTillID AS TillRungUp, I.STATUS AS InvoiceStatus, I.AFTERDISC AS InvoiceTotal, "
    "I.SHIFTNUM AS InvoiceShift, I.DATE AS InvoiceDate, ISNULL( IP.Amount, 0 ) AS PaymentAmount, "
    "WPB.TotalAmount - ISNULL( IP.Amount, 0 ) AS DiscountAmount, TP.POSTED AS TillPosted, TP.TILLID AS "
    "TillPaid, "
    "ISNULL( B.Description, '-' ) AS BrandDesc, B.Code AS BrandCode "
    "FROM ZumvoPaymentBasket WPB "
    "LEFT JOIN INVOICES I ON I.INVOICENUM = WPB.InvoiceNum "
    "LEFT JOIN TILLPOST TP ON TP.SHIFTNUM = I.SHIFTNUM "
    "LEFT JOIN InvoicesPayment IP ON IP.InvoiceNum = I.INVOICENUM AND IP.PaymentType = 'Zumvo' "
    "LEFT JOIN TILLS T ON T.TillID = I.fkTillID "
    "LEFT JOIN TillsBrand TB ON TB.TillID = T.TILLSID "
    "LEFT JOIN Brands B ON B.BrandID = TB.BrandID "
    "WHERE WPB.Timestamp_Created BETWEEN CAST( '%sT00:00:00' AS DATETIME ) AND DATEADD( DAY, 1, CAST( '%sT00:00:00' AS DATETIME ) ) "
    "ORDER BY WPB.ID";

const char* const TransactionQuery =
    "SELECT ID, Timestamp_Created, Timestamp_Payment, Timestamp_Finalised, ISNULL( tvTrxID, '' ) tvTrxID, "
    "Amount, Status, BasketID FROM ZumvoPaymentTransactions WHERE BasketID IN ( %s ) ORDER BY BasketID, ID";

sys_days Days(TReportDate d) {
    return sys_days(d);
}

} // namespace

std::pair<TReportDate, TReportDate> ReportRange(TReportPeriod period, TReportDate today) {
    const sys_days day = Days(today);
    const sys_days monday = day - days((weekday(day).c_encoding() + 6) % 7);
    const year_month thisMonth = today.year() / today.month();
    const auto monthRange = [](year_month ym) {
        return std::pair{TReportDate(ym / 1), TReportDate(ym / last)};
    };
    switch (period) {
    case TReportPeriod::Today:
        return {today, today};
    case TReportPeriod::ThisWeek:
        return {TReportDate(monday), TReportDate(monday + days(6))};
    case TReportPeriod::LastWeek:
        return {TReportDate(monday - days(7)), TReportDate(monday - days(1))};
    case TReportPeriod::ThisMonth:
        return monthRange(thisMonth);
    case TReportPeriod::LastMonth:
        return monthRange(thisMonth - months(1));
    }
    throw std::invalid_argument("unknown report period");
}

TReportDate Today() {
    const auto now = system_clock::to_time_t(system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    return TReportDate(year(local.tm_year + 1900), month(unsigned(local.tm_mon + 1)),
                       day(unsigned(local.tm_mday)));
}

std::string DateText(TReportDate date) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()));
    return buffer;
}

TZumvoReportData QueryZumvoReport(pallux::IDBScript& db, TReportDate from, TReportDate to) {
    TZumvoReportData data;
    data.Baskets = QueryRows(db, BasketQuery, {DateText(from), DateText(to)});
    // The baskets come in ID order, a basket joined to several payments once per payment: each ID
    // is asked for once, so the groups' answers follow one another in basket order.
    std::string list, previous;
    int listed = 0;
    const auto ask = [&] {
        TJSONDocument rows = QueryRows(db, TransactionQuery, {list});
        if (data.Transactions._Count() == 0)
            data.Transactions = std::move(rows);
        else
            for (int i = 0; i < rows._Count(); ++i)
                data.Transactions.Append(rows[i]);
        list.clear();
        listed = 0;
    };
    for (int i = 0; i < data.Baskets._Count(); ++i) {
        // The list is written from numbers, never from the texts read back.
        const TJSONValue value = data.Baskets[i]["BasketID"];
        if (!value.IsInteger())
            throw std::runtime_error("The report's basket row " + std::to_string(i) +
                                     " has no numeric basket ID: " + value.ToJSON());
        std::string id = std::to_string(value.AsInt64());
        if (id == previous)
            continue;
        list += (listed++ == 0 ? "" : ",") + id;
        previous = std::move(id);
        if (listed == ReportBasketsPerQuery)
            ask();
    }
    if (listed > 0)
        ask();
    return data;
}

std::string HostResFolderURL() {
    const auto program = HostProgramFile();
    const auto folder = pallux::PathToUtf8(HostResFolder(program.parent_path())) + "/";
    return QUrl::fromLocalFile(QString::fromStdString(folder)).toString(QUrl::FullyEncoded).toStdString();
}

} // namespace zumvo
