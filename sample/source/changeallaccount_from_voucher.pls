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
