DELETE FROM [zumvoPaymentLog] WHERE [ID] < 10
GO
TRUNCATE TABLE [zumvoPaymentLog]