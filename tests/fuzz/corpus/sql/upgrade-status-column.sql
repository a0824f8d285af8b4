IF NOT EXISTS ( SELECT * FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'ZumvoPaymentTransactions' AND COLUMN_NAME = 'Status' )
BEGIN
  ALTER TABLE [ZumvoPaymentTransactions] ADD [Status] INT NOT NULL DEFAULT (0)
  EXEC('UPDATE [ZumvoPaymentTransactions] SET [Status] = 2 WHERE [InvoiceNum] IS NOT NULL')
END