#include "TInvoiceStore.h"

#include "clsSysUtils.h"

#include <cstdio>

namespace refhost {

namespace {

const char* const TillTablesScript = R"sql(
IF OBJECT_ID('InvoiceLines', 'U') IS NULL
  CREATE TABLE [InvoiceLines] (
    [InvoiceNum] INT NOT NULL,
    [LineNo] INT NOT NULL,
    [Code] VARCHAR(50) NOT NULL,
    [Description] VARCHAR(200) NULL,
    [Price] FLOAT NOT NULL,
    [Quantity] FLOAT NOT NULL,
    PRIMARY KEY ( [InvoiceNum], [LineNo] )
  );
IF OBJECT_ID('InvoiceDiscounts', 'U') IS NULL
  CREATE TABLE [InvoiceDiscounts] (
    [InvoiceNum] INT NOT NULL,
    [Code] VARCHAR(50) NULL,
    [Name] VARCHAR(100) NULL,
    [Amount] FLOAT NOT NULL,
    [FromVoucher] INT NOT NULL DEFAULT (0)
  );
IF OBJECT_ID('InvoiceVoucher', 'U') IS NULL
  CREATE TABLE [InvoiceVoucher] (
    [InvoiceNum] INT NOT NULL PRIMARY KEY,
    [Cashier] VARCHAR(50) NULL,
    [VoucherReturn] VARCHAR(MAX) NULL
  );
IF OBJECT_ID('InvoiceNumbers', 'U') IS NULL
  CREATE TABLE [InvoiceNumbers] (
    [InvoiceNum] INT NOT NULL PRIMARY KEY,
    [TillID] INT NOT NULL,
    [Reserved] DATETIME NOT NULL DEFAULT GETDATE()
  );
IF OBJECT_ID('DriverCashup', 'U') IS NULL
  CREATE TABLE [DriverCashup] (
    [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
    [InvoiceNum] INT NOT NULL,
    [TillID] INT NOT NULL,
    [PaymentCode] VARCHAR(50) NOT NULL,
    [Amount] FLOAT NOT NULL,
    [Timestamp] DATETIME NOT NULL DEFAULT GETDATE()
  );
)sql";

std::string Number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

double AsDouble(const TDbValue& v) {
    return v.Kind == TDbValue::TKind::Float ? v.Float : static_cast<double>(v.Int);
}

std::string Int(std::int64_t v) {
    return std::to_string(v);
}

std::string PaymentRow(std::int32_t invoiceNum, const TInvoicePayment& p) {
    return "INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( " +
           Int(invoiceNum) + ", " + pallux::QuotedStr(p.Type) + ", " + Number(ToUnits(p.Amount)) + " );\n";
}

} // namespace

TInvoiceStore::TInvoiceStore(std::shared_ptr<TDatabase> database) : FDatabase(std::move(database)) {
    if (!FDatabase)
        throw ETillError("The till needs a database ([Database] File or ConnectionString)");
    FDatabase->RunBatch(TillTablesScript);
}

TDbResultSet TInvoiceStore::Query(const std::string& sql) const {
    auto result = FDatabase->RunBatch(sql);
    if (result.ResultSets.empty())
        return {};
    return std::move(result.ResultSets.front());
}

std::int32_t TInvoiceStore::ReserveInvoiceNum(std::int32_t tillID) {
    const auto highest = [&](const char* table) -> std::int64_t {
        const auto rs = Query(std::string("SELECT ISNULL(MAX([InvoiceNum]), 0) AS [N] FROM [") + table + "]");
        return rs.Rows.empty() ? 0 : rs.Rows[0][0].Int;
    };
    // The till's earlier reservation is done with: used by a stored invoice, or by a sale that ended
    // without one (its number is then given again, as when a single till counts on its own).
    FDatabase->RunBatch("DELETE FROM [InvoiceNumbers] WHERE [TillID] = " + Int(tillID));
    std::string refused;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::int64_t next = std::max<std::int64_t>(highest("INVOICES"), highest("InvoiceNumbers")) + 1;
        try {
            FDatabase->RunBatch("INSERT INTO [InvoiceNumbers] ( [InvoiceNum], [TillID] ) VALUES ( " +
                                Int(next) + ", " + Int(tillID) + " )");
            return static_cast<std::int32_t>(next);
        } catch (const std::exception& e) {
            refused = e.what(); // another till reserved it first: the next one
        }
    }
    throw ETillError("No invoice number could be reserved: " + refused);
}

void TInvoiceStore::Save(const TInvoice& invoice, std::int32_t tillID, std::int32_t shiftNum) {
    const std::string num = Int(invoice.InvoiceNum());
    std::string batch =
        "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM], [DATE] ) "
        "VALUES ( " +
        num + ", " + Int(tillID) + ", " + Int(static_cast<int>(TInvoiceStatus::Normal)) + ", " +
        Number(ToUnits(invoice.AfterDisc())) + ", " + Int(shiftNum) + ", GETDATE() );\n";
    for (const auto& p : invoice.Payments())
        batch += PaymentRow(invoice.InvoiceNum(), p);
    int lineNo = 0;
    for (const auto& l : invoice.Lines())
        batch += "INSERT INTO [InvoiceLines] ( [InvoiceNum], [LineNo], [Code], [Description], [Price], "
                 "[Quantity] ) "
                 "VALUES ( " +
                 num + ", " + Int(++lineNo) + ", " + pallux::QuotedStr(l.Code) + ", " +
                 pallux::QuotedStr(l.Description) + ", " + Number(ToUnits(l.Price)) + ", " +
                 Number(l.Quantity) + " );\n";
    for (const auto& d : invoice.Discounts())
        batch += "INSERT INTO [InvoiceDiscounts] ( [InvoiceNum], [Code], [Name], [Amount], [FromVoucher] ) "
                 "VALUES ( " +
                 num + ", " + pallux::QuotedStr(d.Code) + ", " + pallux::QuotedStr(d.Name) + ", " +
                 Number(ToUnits(d.Amount)) + ", " + Int(d.FromVoucher ? 1 : 0) + " );\n";
    batch += "INSERT INTO [InvoiceVoucher] ( [InvoiceNum], [Cashier], [VoucherReturn] ) VALUES ( " + num +
             ", " + pallux::QuotedStr(invoice.Cashier()) + ", " + pallux::QuotedStr(invoice.VoucherReturn()) +
             " );\n";
    FDatabase->RunBatch(batch);
}

std::optional<TStoredInvoice> TInvoiceStore::Load(std::int32_t invoiceNum) const {
    const std::string num = Int(invoiceNum);
    const auto head =
        Query("SELECT [fkTillID], [STATUS], [AFTERDISC] FROM [INVOICES] WHERE [InvoiceNum] = " + num);
    if (head.Rows.empty())
        return std::nullopt;
    TStoredInvoice inv;
    inv.InvoiceNum = invoiceNum;
    inv.TillID = static_cast<std::int32_t>(head.Rows[0][0].Int);
    inv.Status = static_cast<TInvoiceStatus>(head.Rows[0][1].Int);
    inv.AfterDisc = ToCents(AsDouble(head.Rows[0][2]));
    const auto lines = Query("SELECT [Code], [Description], [Price], [Quantity] FROM [InvoiceLines] "
                             "WHERE [InvoiceNum] = " +
                             num + " ORDER BY [LineNo]");
    for (const auto& r : lines.Rows)
        inv.Lines.push_back({r[0].AsText(), r[1].AsText(), ToCents(AsDouble(r[2])), AsDouble(r[3])});
    const auto discounts = Query(
        "SELECT [Code], [Name], [Amount], [FromVoucher] FROM [InvoiceDiscounts] WHERE [InvoiceNum] = " + num);
    for (const auto& r : discounts.Rows)
        inv.Discounts.push_back({r[0].AsText(), r[1].AsText(), ToCents(AsDouble(r[2])), r[3].Int != 0});
    const auto payments =
        Query("SELECT [PaymentType], [Amount] FROM [InvoicesPayment] WHERE [InvoiceNum] = " + num);
    for (const auto& r : payments.Rows)
        inv.Payments.push_back({r[0].AsText(), ToCents(AsDouble(r[1])), false});
    const auto voucher =
        Query("SELECT [Cashier], [VoucherReturn] FROM [InvoiceVoucher] WHERE [InvoiceNum] = " + num);
    if (!voucher.Rows.empty()) {
        inv.Cashier = voucher.Rows[0][0].AsText();
        inv.VoucherReturn = voucher.Rows[0][1].AsText();
    }
    return inv;
}

void TInvoiceStore::SetStatus(std::int32_t invoiceNum, TInvoiceStatus status) {
    FDatabase->RunBatch("UPDATE [INVOICES] SET [STATUS] = " + Int(static_cast<int>(status)) +
                        " WHERE [InvoiceNum] = " + Int(invoiceNum));
}

void TInvoiceStore::AddPayment(std::int32_t invoiceNum, const TInvoicePayment& payment) {
    FDatabase->RunBatch(PaymentRow(invoiceNum, payment));
}

void TInvoiceStore::AddCashupEntry(const TCashupEntry& e) {
    FDatabase->RunBatch(
        "INSERT INTO [DriverCashup] ( [InvoiceNum], [TillID], [PaymentCode], [Amount] ) VALUES ( " +
        Int(e.InvoiceNum) + ", " + Int(e.TillID) + ", " + pallux::QuotedStr(e.PaymentCode) + ", " +
        Number(e.Amount) + " )");
}

std::vector<TCashupEntry> TInvoiceStore::CashupEntries(std::int32_t invoiceNum) const {
    std::vector<TCashupEntry> out;
    const auto rows = Query("SELECT [InvoiceNum], [TillID], [PaymentCode], [Amount] FROM [DriverCashup] "
                            "WHERE [InvoiceNum] = " +
                            Int(invoiceNum) + " ORDER BY [ID]");
    for (const auto& r : rows.Rows)
        out.push_back({static_cast<std::int32_t>(r[0].Int), static_cast<std::int32_t>(r[1].Int),
                       r[2].AsText(), AsDouble(r[3])});
    return out;
}

void TInvoiceStore::OpenShift(std::int32_t shiftNum, std::int32_t tillID) {
    FDatabase->RunBatch("IF NOT EXISTS (SELECT 1 FROM [TILLPOST] WHERE [SHIFTNUM] = " + Int(shiftNum) +
                        ") INSERT INTO [TILLPOST] ( [SHIFTNUM], [POSTED], [TILLID] ) VALUES ( " +
                        Int(shiftNum) + ", 0, " + Int(tillID) + " )");
}

} // namespace refhost
