Function ChangePositionDaily_New
  INSERT INTO PositionDaily
  (strDate,lngItemID,
   dblInQuantity,dblInAmount,dblOut)
  SELECT strDate,lngItemID,
    SUM(1) dblInQuantity,
    SUM(2) dblInAmount,
    SUM(3) dblOut FROM ItemActivity
   GROUP BY strDate,lngItemID
   ORDER BY 1;
FUNCTION ChangeAllAccount_From_Voucher
  INSERT INTO AccountDaily (
    strDate,lngAccountID,dblA,dblB,dblC)
  SELECT V.strDate,D.lngAccountID,
    SUM(a) dblA,
    SUM(b) dblB,
    SUM(c) dblC FROM V,D WHERE strDate>=p_BeginDate
  GROUP BY V.strDate,D.lngAccountID;
