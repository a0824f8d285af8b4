#include "HostSchema.h"

namespace refhost {

namespace {

// T-SQL, so that the same scripts set up SQL Server and the embedded database.
const char* const HostTablesScript = R"sql(
IF OBJECT_ID('INVOICES', 'U') IS NULL
  CREATE TABLE [INVOICES] (
    [InvoiceNum] INT NOT NULL PRIMARY KEY,
    [fkTillID] INT NULL,
    [STATUS] INT NOT NULL DEFAULT (0),
    [AFTERDISC] FLOAT NULL,
    [SHIFTNUM] INT NULL,
    [DATE] DATETIME NOT NULL DEFAULT GETDATE()
  );
IF OBJECT_ID('TILLS', 'U') IS NULL
  CREATE TABLE [TILLS] (
    [TILLSID] INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
    [Computer Name] VARCHAR(50) NULL,
    [TILLID] INT NOT NULL
  );
IF OBJECT_ID('TILLPOST', 'U') IS NULL
  CREATE TABLE [TILLPOST] (
    [SHIFTNUM] INT NOT NULL PRIMARY KEY,
    [POSTED] INT NOT NULL DEFAULT (0),
    [TILLID] INT NULL
  );
IF OBJECT_ID('InvoicesPayment', 'U') IS NULL
  CREATE TABLE [InvoicesPayment] (
    [InvoiceNum] INT NOT NULL,
    [PaymentType] VARCHAR(20) NOT NULL,
    [Amount] FLOAT NOT NULL
  );
IF OBJECT_ID('Discount', 'U') IS NULL
  CREATE TABLE [Discount] (
    [Code] VARCHAR(20) NOT NULL PRIMARY KEY,
    [DiscRef] VARCHAR(20) NULL
  );
IF NOT EXISTS (SELECT 1 FROM [Discount] WHERE [DiscRef] = 'ZUMVO')
  INSERT INTO [Discount] ( [Code], [DiscRef] ) VALUES ( 'ZUMVO-DISC', 'ZUMVO' );
IF OBJECT_ID('ActCodes', 'U') IS NULL
  CREATE TABLE [ActCodes] (
    [Code] VARCHAR(10) NOT NULL PRIMARY KEY,
    [Description] VARCHAR(100) NULL,
    [Level] INT NOT NULL DEFAULT (1),
    [Enabled] INT NOT NULL DEFAULT (1)
  );
IF OBJECT_ID('ActCodeGroups', 'U') IS NULL
  CREATE TABLE [ActCodeGroups] (
    [Code] VARCHAR(10) NOT NULL,
    [GroupName] VARCHAR(20) NOT NULL,
    PRIMARY KEY ( [Code], [GroupName] )
  );
)sql";

const char* const DemoDataScript = R"sql(
IF NOT EXISTS (SELECT 1 FROM [TILLS])
BEGIN
  INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-1', 1 );
  INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-2', 2 );
  INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-3', 3 );
END
)sql";

} // namespace

void CreateHostTables(TDatabase& database, bool demoData) {
    database.RunBatch(HostTablesScript);
    if (demoData)
        database.RunBatch(DemoDataScript);
}

} // namespace refhost
