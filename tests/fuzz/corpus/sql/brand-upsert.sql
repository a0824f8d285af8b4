IF NOT EXISTS ( SELECT 1 FROM Brands WHERE BrandID = 7 )
INSERT INTO [Brands] ( BrandID, Code, Description ) VALUES ( 7 , 'B7' , 'Brand' )
ELSE UPDATE [Brands] SET Code = 'B7', Description = 'Brand' WHERE BrandID = 7