PACKAGE BODY MdlItem IS

/* Goods ledgers. Each Change*_New function rebuilds one ledger for a date range from the
   confirmed, not voided document lines; the ledger rows of the range are replaced whole. */

Function NextReceiptNo
  (p_ActivityTypeID IN NUMBER) RETURN NUMBER
IS
  nNo NUMBER;
BEGIN
  SELECT NVL(MAX(lngReceiptNo),0)+1 INTO nNo
    FROM ItemActivity
   WHERE lngActivityTypeID=p_ActivityTypeID;
  RETURN nNo;
END NextReceiptNo;

/* Kept for account sets converted from version 7; the position group came later. */
Function ChangeItemDaily2
  (p_BeginDate IN VARCHAR2,p_EndDate IN VARCHAR2) RETURN NUMBER
IS
BEGIN
  DELETE FROM ItemDaily2 WHERE strDate>=p_BeginDate AND strDate<=p_EndDate;
  INSERT INTO ItemDaily2
    (strDate,lngItemID,
     dblPurchaseQuantity,dblPurchaseAmount,dblSaleQuantity,dblSaleCost)
  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,
         SUM(DECODE(lngActivityTypeID,1,dblQuantity,0)) dblPurchaseQuantity,
         SUM(DECODE(lngActivityTypeID,1,dblCostAmount,0)) dblPurchaseAmount,
         SUM(DECODE(lngActivityTypeID,15,dblQuantity,0)) dblSaleQuantity,
         SUM(DECODE(lngActivityTypeID,15,dblCostAmount,0)) dblSaleCost
    FROM ItemActivity,ItemActivityDetail
   WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
     AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate
   GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID;
  RETURN 0;
END ChangeItemDaily2;

Function ChangeItemDaily2_New
  (p_BeginDate IN VARCHAR2,p_EndDate IN VARCHAR2) RETURN NUMBER
IS
BEGIN
  DELETE FROM ItemDaily2 WHERE strDate>=p_BeginDate AND strDate<=p_EndDate;
  INSERT INTO ItemDaily2
    (strDate,lngItemID,lngPositionGroupID,
     dblPurchaseQuantity,dblPurchaseAmount,dblPurchaseExpense,
     dblPurchaseDiffDebit,dblPurchaseDiffCredit,
     dblBorrowPurchaseQuantity,dblBorrowPurchaseAmount,
     dblEntrustInQuantity,dblEntrustInAmount,
     dblInQuantity,dblInAmount,dblCostInAmount,
     dblCheckUpQuantity,dblCheckUpAmount,dblAdjPriceAdd,
     dblAdjInQuantity,dblAdjInAmount,
     dblSaleQuantity,dblSaleAmount,dblSaleCost,
     dblLendQuantity,dblLendCost,dblStageQuantity,dblStageCost,
     dblEntrustOutQuantity,dblEntrustOutAmount,
     dblOutQuantity,dblOutAmount,dblCheckDownQuantity,dblCheckDownAmount,
     dblAdjOutQuantity,dblAdjOutAmount,dblCostAdj)
  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,Position.lngPositionGroupID,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblQuantity,2,-dblQuantity,0)) dblPurchaseQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblCostAmount,2,-dblCostAmount,0)) dblPurchaseAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblExpenseAmount,0)) dblPurchaseExpense,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,DECODE(SIGN(dblAmount-dblCostAmount),1,dblAmount-dblCostAmount,0),0)) dblPurchaseDiffDebit,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,DECODE(SIGN(dblCostAmount-dblAmount),1,dblCostAmount-dblAmount,0),0)) dblPurchaseDiffCredit,
         SUM(DECODE(ItemActivity.lngActivityTypeID,3,dblQuantity,0)) dblBorrowPurchaseQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,3,dblCostAmount,0)) dblBorrowPurchasedAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblQuantity,0)) dblEntrustInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblCostAmount,0)) dblEntrustInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,9,dblQuantity,32,dblQuantity,30,dblQuantity,41,dblQuantity,0)) dblInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,9,dblAmount,32,dblAmount,30,dblAmount,41,dblAmount,0)) dblInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,9,dblCostAmount,32,dblCostAmount,30,dblCostAmount,41,dblCostAmount,0)) dblCostInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,8,dblQuantity,0)) dblCheckUpQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,8,dblCostAmount,0)) dblCheckUpAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,10,dblCostAmount,0)) dblAdjPriceAdd,
         SUM(DECODE(ItemActivity.lngActivityTypeID,27,dblQuantity,0)) dblAdjInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,27,dblAvgCostAmount,0)) dblAdjInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblQuantity,0)) dblSaleQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblIncomeAmount,0)) dblSaleAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblCostAmount,0)) dblSaleCost,
         SUM(DECODE(ItemActivity.lngActivityTypeID,13,dblQuantity,0)) dblLendQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,13,dblCostAmount,0)) dblLendCost,
         SUM(DECODE(ItemActivity.lngActivityTypeID,16,dblQuantity,0)) dblStageQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,16,dblCostAmount,0)) dblStageCost,
         SUM(DECODE(ItemActivity.lngActivityTypeID,21,dblQuantity,0)) dblEntrustOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,21,dblCostAmount,0)) dblEntrustOutAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,19,dblQuantity,31,dblQuantity,33,dblQuantity,0)) dblOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,19,dblCostAmount,31,dblCostAmount,33,dblCostAmount,0)) dblOutAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,22,dblQuantity,0)) dblCheckDownQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,22,dblCostAmount,0)) dblCheckDownAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,28,dblQuantity,0)) dblAdjOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,28,dblAvgCostAmount,0)) dblAdjOutAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,11,dblCostAmount,0)) dblCostAdj
    FROM ItemActivity,ItemActivityDetail,Position
   WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
     AND ItemActivityDetail.lngPositionID=Position.lngPositionID(+)
     AND ItemActivity.blnIsVoid=0 AND ItemActivity.bytStatus=2
     AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate
   GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,Position.lngPositionGroupID;
  RETURN 0;
EXCEPTION
  WHEN OTHERS THEN
    RETURN -1;
END ChangeItemDaily2_New;

Function ChangePositionDaily_New
  (p_BeginDate IN VARCHAR2,p_EndDate IN VARCHAR2) RETURN NUMBER
IS
BEGIN
  DELETE FROM PositionDaily WHERE strDate>=p_BeginDate AND strDate<=p_EndDate;
  INSERT INTO PositionDaily
    (strDate,lngItemID,lngPositionID,
     dblPurchaseQuantity,dblPurchaseAmount,dblEntrustInQuantity,dblEntrustInAmount,
     dblInQuantity,dblInAmount,dblCheckUpQuantity,dblCheckUpAmount,
     dblAdjInQuantity,dblAdjInAmount,dblSaleQuantity,dblSaleCost,
     dblOutQuantity,dblOutAmount,dblCheckDownQuantity,dblCheckDownAmount,
     dblAdjOutQuantity,dblAdjOutAmount,dblCostCostAdj)
  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblQuantity,2,-dblQuantity,3,dblQuantity,0)) dblPurchaseQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblCostAmount,2,-dblCostAmount,3,dblCostAmount,0)) dblPurchaseAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblQuantity,0)) dblEntrustInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblCostAmount,0)) dblEntrustInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,9,dblQuantity,32,dblQuantity,30,dblQuantity,41,dblQuantity,0)) dblInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,9,dblCostAmount,32,dblCostAmount,30,dblCostAmount,41,dblCostAmount,10,dblCostAmount,0)) dblInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,8,dblQuantity,0)) dblCheckUpQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,8,dblCostAmount,0)) dblCheckUpAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,27,dblQuantity,0)) dblAdjInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,27,dblAvgCostAmount,0)) dblAdjInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblQuantity,13,dblQuantity,16,dblQuantity,0)) dblSaleQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblAvgCostAmount,13,dblAvgCostAmount,16,dblAvgCostAmount,0)) dblSaleCost,
         SUM(DECODE(ItemActivity.lngActivityTypeID,19,dblQuantity,21,dblQuantity,31,dblQuantity,33,dblQuantity,0)) dblOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,19,dblAvgCostAmount,21,dblAvgCostAmount,31,dblAvgCostAmount,33,dblAvgCostAmount,0)) dblOutAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,22,dblQuantity,0)) dblCheckDownQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,22,dblAvgCostAmount,0)) dblCheckDownAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,28,dblQuantity,0)) dblAdjOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,28,dblAvgCostAmount,0)) dblAdjOutAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,11,dblAvgCostAmount,0)) dblCostCostAdj
    FROM ItemActivity,ItemActivityDetail
   WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
     AND ItemActivity.blnIsVoid=0 AND ItemActivity.bytStatus=2
     AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate
   GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID
   ORDER BY ItemActivity.strDate;
  RETURN 0;
EXCEPTION
  WHEN OTHERS THEN
    RETURN -1;
END ChangePositionDaily_New;

Function ChangeItemDaily1_New
  (p_BeginDate IN VARCHAR2,p_EndDate IN VARCHAR2) RETURN NUMBER
IS
  nLines NUMBER;
  nQuantity NUMBER;
  nAmount NUMBER;
BEGIN
  DELETE FROM ItemDaily1 WHERE strDate>=p_BeginDate AND strDate<=p_EndDate;
  SELECT COUNT(*),
         SUM(ItemActivityDetail.dblQuantity),
         SUM(ItemActivityDetail.dblAmount)
    INTO nLines,nQuantity,nAmount
    FROM ItemActivity,ItemActivityDetail
   WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
     AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate;
  IF nLines=0 THEN
    RETURN 0;
  END IF;
  INSERT INTO ItemDaily1
    (strDate,lngItemID,lngCustomerID,
     dblPurchaseQuantity,dblPurchaseAmount,dblPurchaseExpense,
     dblEntrustInQuantity,dblEntrustInAmount,dblEntrustExpense,
     dblDirectPurchaseQuantity,dblDirectPurchaseAmount,
     dblSaleQuantity,dblSaleAmount,dblSaleCost,
     dblDirectSaleQuantity,dblDirectSaleAmount,
     dblLendQuantity,dblLendAmount,dblLendTax,
     dblStageQuantity,dblStageAmount,dblStageTax,
     dblEntrustOutQuantity,dblEntrustOutAmount)
  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivity.lngCustomerID,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblQuantity,2,-dblQuantity,0)) dblPurchaseQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblAmount,2,-dblAmount,0)) dblPurchaseAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblExpenseAmount,0)) dblPurchaseExpense,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblQuantity,0)) dblEntrustInQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblCostAmount,0)) dblEntrustInAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,5,dblExpenseAmount,0)) dblEntrustExpense,
         SUM(DECODE(ItemActivity.lngActivityTypeID,7,dblQuantity,0)) dblDirectPurchaseQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,7,dblAmount,0)) dblDirectPurchaseAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblQuantity,0)) dblSaleQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblIncomeAmount,0)) dblSaleAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,15,dblCostAmount,0)) dblSaleCost,
         SUM(DECODE(ItemActivity.lngActivityTypeID,18,dblQuantity,0)) dblDirectSaleQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,18,dblIncomeAmount,0)) dblDirectSaleAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,13,dblQuantity,0)) dblLendQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,13,dblIncomeAmount,0)) dblLendAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,13,dblTaxAmount,0)) dblLendTax,
         SUM(DECODE(ItemActivity.lngActivityTypeID,16,dblQuantity,0)) dblStageQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,16,dblIncomeAmount,0)) dblStageAmount,
         SUM(DECODE(ItemActivity.lngActivityTypeID,16,dblTaxAmount,0)) dblStageTax,
         SUM(DECODE(ItemActivity.lngActivityTypeID,21,dblQuantity,0)) dblEntrustOutQuantity,
         SUM(DECODE(ItemActivity.lngActivityTypeID,21,dblCostAmount,0)) dblEntrustOutAmount
    FROM ItemActivity,ItemActivityDetail,Item,ItemNature
   WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
     AND ItemActivityDetail.lngItemID=Item.lngItemID
     AND Item.lngItemNatureID=ItemNature.lngItemNatureID
     AND ItemNature.strItemCategory='1'
     AND ItemActivity.blnIsVoid=0 AND ItemActivity.bytStatus=2
     AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate
   GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivity.lngCustomerID
  ;
  RETURN 0;
EXCEPTION
  WHEN OTHERS THEN
    RETURN -1;
END ChangeItemDaily1_New;

END MdlItem;
FUNCTION ChangeAllAccount_From_Voucher
  (p_BeginDate IN VARCHAR2,p_EndDate IN VARCHAR2) RETURN NUMBER
IS
  /* Rebuilds the general ledger of a date range from the vouchers. The receivable/payable
     columns are written afterwards by ChangeAllAccount_From_Invoice, which owns them. */
  nVouchers NUMBER;
  nDebit NUMBER;
  nCredit NUMBER;
BEGIN
  SELECT COUNT(*),
         SUM(DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblAmount,0)),
         SUM(DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblAmount))
    INTO nVouchers,nDebit,nCredit
    FROM Voucher,VoucherDetail
   WHERE Voucher.lngVoucherID=VoucherDetail.lngVoucherID
     AND Voucher.strDate>=p_BeginDate AND Voucher.strDate<=p_EndDate;
  DELETE FROM AccountDaily WHERE strDate>=p_BeginDate AND strDate<=p_EndDate;
  IF nVouchers=0 THEN
    RETURN 0;
  END IF;
  INSERT INTO AccountDaily
    (strDate,lngAccountID,lngCurrencyID,lngDepartmentID,lngEmployeeID,
     lngClassID1,lngClassID2,lngCustomerID,lngOrganizationID,lngSourceOrganizationID,
     dblUnPostedDebit,dblUnPostedCredit,dblPostedDebit,dblPostedCredit,
     dblCurrencyUnPostedDebit,dblCurrencyUnPostedCredit,dblCurrencyPostedDebit,dblCurrencyPostedCredit,
     dblQuantityUnPostedDebit,dblQuantityUnPostedCredit,dblQuantityPostedDebit,dblQuantityPostedCredit,
     dblUnVoucherDebit,dblUnVoucherCredit,dblQuantityUnVoucherDebit,dblQuantityUnVoucherCredit)
  SELECT Voucher.strDate,VoucherDetail.lngAccountID,VoucherDetail.lngCurrencyID,VoucherDetail.lngDepartmentID,VoucherDetail.lngEmployeeID,VoucherDetail.lngClassID1,VoucherDetail.lngClassID2,VoucherDetail.lngCustomerID,VoucherDetail.lngOrganizationID,VoucherDetail.lngSourceOrganizationID,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblAmount,0),0)) dblUnPostedDebit,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblAmount),0)) dblUnPostedCredit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblAmount,0),0)) dblPostedDebit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblAmount),0)) dblPostedCredit,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblCurrAmount,0),0)) dblCurrencyUnPostedDebit,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblCurrAmount),0)) dblCurrencyUnPostedCredit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblCurrAmount,0),0)) dblCurrencyPostedDebit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblCurrAmount),0)) dblCurrencyPostedCredit,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblQuantity,0),0)) dblQuantityUnPostedDebit,
         SUM(DECODE(Voucher.blnPosted,0,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblQuantity),0)) dblQuantityUnPostedCredit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblQuantity,0),0)) dblQuantityPostedDebit,
         SUM(DECODE(Voucher.blnPosted,1,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblQuantity),0)) dblQuantityPostedCredit,
         SUM(DECODE(Account.blnisCustomer,1,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblAmount,0),0)) dblUnVoucherDebit,
         SUM(DECODE(Account.blnisCustomer,1,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblAmount),0)) dblUnVoucherCredit,
         SUM(DECODE(Account.blnisCustomer,1,DECODE(VoucherDetail.intDirection,1,VoucherDetail.dblQuantity,0),0)) dblQuantityUnVoucherDebit,
         SUM(DECODE(Account.blnisCustomer,1,DECODE(VoucherDetail.intDirection,1,0,VoucherDetail.dblQuantity),0)) dblQuantityUnVoucherCredit
    FROM Voucher,VoucherDetail,Account
   WHERE Voucher.lngVoucherID=VoucherDetail.lngVoucherID
     AND VoucherDetail.lngAccountID=Account.lngAccountID
     AND Voucher.strDate>=p_BeginDate AND Voucher.strDate<=p_EndDate
   GROUP BY Voucher.strDate,VoucherDetail.lngAccountID,VoucherDetail.lngCurrencyID,VoucherDetail.lngDepartmentID,VoucherDetail.lngEmployeeID,VoucherDetail.lngClassID1,VoucherDetail.lngClassID2,VoucherDetail.lngCustomerID,VoucherDetail.lngOrganizationID,VoucherDetail.lngSourceOrganizationID;
  RETURN 0;
EXCEPTION
  WHEN OTHERS THEN
    RETURN -1;
END ChangeAllAccount_From_Voucher;
