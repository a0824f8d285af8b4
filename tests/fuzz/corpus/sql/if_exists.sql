IF NOT EXISTS ( SELECT 1 FROM [TillsBrand] WHERE [TillID] = 3)
INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( 3, 1 )
ELSE
UPDATE [TillsBrand] SET [BrandID] = 1 WHERE [TillID] = 3