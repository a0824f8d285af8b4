#include "implDataChangesZumvo.h"

#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "clsOutcomeUnknown.h"
#include "clsSysUtils.h"
#include "clsTransactionStatus.h"
#include "intfActCodes.h"
#include "intfTillBrandSettings.h"

namespace zumvo {

namespace {

const char* const CreateTransactionsTable = R"(-- Zumvo Transaction Table
IF OBJECT_ID('ZumvoPaymentTransactions', 'U') IS NULL
CREATE TABLE [ZumvoPaymentTransactions] (
    [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
    [Timestamp_Created] DATETIME NOT NULL,
    [Timestamp_Payment] DATETIME NULL,
    [Timestamp_Finalised] DATETIME NULL,
    [InvoiceNum] INT NULL,
    [tvTrxID] INT NULL,
    [Response] VARCHAR(500) NULL,
    [Amount] FLOAT NULL
))";

const char* const CreateBasketTable = R"(-- Zumvo Payment Basket
IF OBJECT_ID('ZumvoPaymentBasket', 'U') IS NULL
CREATE TABLE [ZumvoPaymentBasket] (
    [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
    [Timestamp_Created] DATETIME NULL,
    [InvoiceNum] INT NULL,
    [TotalAmount] FLOAT NULL
))";

const char* const CreateLogTable = R"(-- Zumvo Log Table
IF OBJECT_ID('zumvoPaymentLog', 'U') IS NULL
CREATE TABLE [zumvoPaymentLog] (
    [ID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
    [Timestamp] DATETIME NOT NULL,
    [Class] VARCHAR(10) NOT NULL,
    [Message] VARCHAR(1000) NOT NULL
))";

// The update of the rows runs through EXEC so that the batch compiles before the column exists.
// Rows stored before the column that were finalised take that status; every other row the default.
const std::string AddStatusColumn = R"(-- Zumvo Transaction Status
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'Status' )
BEGIN
    ALTER TABLE [ZumvoPaymentTransactions] ADD [Status] INT NOT NULL DEFAULT ()" +
                                    std::to_string(ToInt(TTransactionStatus::Started)) + R"()
    EXEC('UPDATE [ZumvoPaymentTransactions] SET [Status] = )" +
                                    std::to_string(ToInt(TTransactionStatus::Finalised)) +
                                    R"( WHERE [InvoiceNum] IS NOT NULL AND [Timestamp_Finalised] IS NOT NULL')
END)";

const char* const AddBasketIDColumn = R"(-- Zumvo Transaction Basket
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'BasketID' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [BasketID] INT NULL)";

const char* const WidenResponseColumn = R"(-- Zumvo Transaction Response Size
IF EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'Response' AND CHARACTER_MAXIMUM_LENGTH = 500 )
    ALTER TABLE [ZumvoPaymentTransactions] ALTER COLUMN [Response] VARCHAR(MAX) NULL)";

const char* const AddTillIDColumn = R"(-- Zumvo Payment Basket Till
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentBasket' AND COLUMN_NAME = 'TillID' )
    ALTER TABLE [ZumvoPaymentBasket] ADD [TillID] INT NOT NULL DEFAULT -1)";

// The receipt, the report and the basket details select by these columns; without indexes every
// look-up scans the tables, and a till slows down as they grow.
const char* const AddLookupIndexes = R"(-- Zumvo Look-up Indexes
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentTransactions_BasketID' AND object_id = OBJECT_ID('ZumvoPaymentTransactions') )
    CREATE INDEX [IX_ZumvoPaymentTransactions_BasketID] ON [ZumvoPaymentTransactions] ( [BasketID] );
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentBasket_InvoiceNum' AND object_id = OBJECT_ID('ZumvoPaymentBasket') )
    CREATE INDEX [IX_ZumvoPaymentBasket_InvoiceNum] ON [ZumvoPaymentBasket] ( [InvoiceNum] );
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentBasket_Timestamp_Created' AND object_id = OBJECT_ID('ZumvoPaymentBasket') )
    CREATE INDEX [IX_ZumvoPaymentBasket_Timestamp_Created] ON [ZumvoPaymentBasket] ( [Timestamp_Created] ))";

// What the advice retry counts on each row: attempts, the last one's time and the error it met;
// and the index by which it finds the rows still open after every sale without reading them all.
const char* const AddAdviceRetryColumns = R"(-- Zumvo Advice Retry
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'AdviceAttempts' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [AdviceAttempts] INT NOT NULL DEFAULT 0
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'AdviceLastAttempt' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [AdviceLastAttempt] DATETIME NULL
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'AdviceLastError' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [AdviceLastError] VARCHAR(500) NULL
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentTransactions_Status' AND object_id = OBJECT_ID('ZumvoPaymentTransactions') )
    CREATE INDEX [IX_ZumvoPaymentTransactions_Status] ON [ZumvoPaymentTransactions] ( [Status] ))";

// The provider store a code was accepted under (its advices go there, whatever the settings say
// later), and the mark of a settled code whose invoice was overridden (a refund is owed).
const char* const AddProviderStoreColumns = R"(-- Zumvo Provider Store
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'ProviderStoreID' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [ProviderStoreID] INT NULL
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'RefundOwed' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [RefundOwed] INT NOT NULL DEFAULT 0)";

// The invoice number the host gave a sale when its codes were applied: a till stopped after the
// host stored the invoice but before the basket was tied to it leaves a sale that is found again by
// it, and settled rather than given back.
const char* const AddSaleInvoiceColumn = R"(-- Zumvo Sale Invoice
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentBasket' AND COLUMN_NAME = 'SaleInvoiceNum' )
    ALTER TABLE [ZumvoPaymentBasket] ADD [SaleInvoiceNum] INT NULL)";

// The held-funds list, read after every sale, finds the settled rows owed a refund by the first
// index rather than by walking every settled row, and the latest code of each open row's basket
// by the second rather than by reading all of the basket's rows for each of them.
const char* const AddHeldFundsIndexes = R"(-- Zumvo Held Funds Indexes
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentTransactions_Status_RefundOwed' AND object_id = OBJECT_ID('ZumvoPaymentTransactions') )
    CREATE INDEX [IX_ZumvoPaymentTransactions_Status_RefundOwed] ON [ZumvoPaymentTransactions] ( [Status], [RefundOwed] );
IF NOT EXISTS ( SELECT 1 FROM sys.indexes WHERE name = 'IX_ZumvoPaymentTransactions_BasketID_Created' AND object_id = OBJECT_ID('ZumvoPaymentTransactions') )
    CREATE INDEX [IX_ZumvoPaymentTransactions_BasketID_Created] ON [ZumvoPaymentTransactions] ( [BasketID], [Timestamp_Created] ))";

// The note a row keeps while its request is out, or when its outcome is unknown, has a column of
// its own: Response holds only the provider's answers. Notes written into Response before are
// moved (through EXEC, so that the batch compiles before the column exists); a second run finds
// none left to move.
const std::string AddRequestNoteColumn =
    std::string(R"(-- Zumvo Request Note
IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'RequestNote' )
    ALTER TABLE [ZumvoPaymentTransactions] ADD [RequestNote] VARCHAR(MAX) NULL
EXEC()") +
    pallux::QuotedStr(
        "UPDATE [ZumvoPaymentTransactions] SET [RequestNote] = [Response], [Response] = NULL WHERE "
        "[Response] LIKE " +
        pallux::QuotedStr(OutcomeUnknownPattern())) +
    ")";

} // namespace

void PALLUX_CALL TDatabaseChangesZumvo::GetUpdateScripts(std::vector<std::string>& scripts) {
    Guarded("TDatabaseChangesZumvo.GetUpdateScripts", [&] {
        scripts.emplace_back(CreateTransactionsTable);
        scripts.emplace_back(CreateBasketTable);
        scripts.emplace_back(CreateLogTable);

        // The access codes are the host's business; without a registry they are left out.
        pallux::IntfPtr<pallux::IActCodeRegistry> codes;
        if (CreateService(codes) && codes) {
            codes->RegisterCode("AM011", "To Change Zumvo Payment Settings", 1, 1);
            codes->RegisterCode("AM012", "To View Zumvo Payment Transactions", 1, 1);
            codes->AssignCode("AM011", "FRCH");
            codes->AssignCode("AM012", "FRCH");
        }

        scripts.emplace_back(AddStatusColumn);
        scripts.emplace_back(AddBasketIDColumn);
        scripts.emplace_back(WidenResponseColumn);
        scripts.emplace_back(AddTillIDColumn);
        scripts.emplace_back(AddLookupIndexes);
        scripts.emplace_back(AddAdviceRetryColumns);
        scripts.emplace_back(AddProviderStoreColumns);
        scripts.emplace_back(AddSaleInvoiceColumn);
        scripts.emplace_back(AddHeldFundsIndexes);
        scripts.emplace_back(AddRequestNoteColumn);

        pallux::IntfPtr<ITillBrandSettings> brands;
        CreateService(brands);
        Use(brands, "TillBrandSettings").DatabaseChanges();
    });
}

} // namespace zumvo
