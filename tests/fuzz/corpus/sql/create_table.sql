IF OBJECT_ID('Brands', 'U') IS NULL
CREATE TABLE [Brands] (
    [BrandID] INT NOT NULL PRIMARY KEY,
    [Code] VARCHAR(10) NOT NULL,
    [Description] VARCHAR(200) NOT NULL,
    [Timestamp_Inserted] DATETIME NOT NULL DEFAULT (GETDATE())
)