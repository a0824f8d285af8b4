IF NOT EXISTS ( SELECT 1 FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'Extra' )
BEGIN
    ALTER TABLE [ZumvoPaymentTransactions] ADD [Extra] INT NOT NULL DEFAULT (0)
    EXEC('UPDATE [ZumvoPaymentTransactions] SET [Extra] = 2 WHERE [InvoiceNum] IS NOT NULL')
END