-- The host account-set schema that tallyvet reads and writes, as the sample account sets hold it.
--
-- Every statement tallyvet sends names some columns without a table; each such name exists in
-- exactly one of the tables its statement joins (strDate, intYear and bytPeriod only in the
-- document header, dblPlanPrice and dblExpenseAmount only in the document line, the bln* account
-- flags only in Account, ...). Keep it that way when adding columns.
--
-- Ledger value columns are REAL NOT NULL DEFAULT 0: a ledger row written with only some of its
-- columns (a correction INSERT carries the keys and one value) reads 0 elsewhere, never null.
-- Ledger key columns default to 0 as well, since a receivable/payable correction leaves out keys
-- whose value is 0. Ledgers have no unique key: the host does not enforce one.

-- Account set -------------------------------------------------------------------------------

CREATE TABLE Business (
  strUserName   TEXT NOT NULL,          -- the account set's name as the screens show it
  strVer        TEXT NOT NULL,          -- program version the account set was created with
  strStartDate  TEXT NOT NULL           -- first day of the first period, yyyy-mm-dd
);

CREATE TABLE AccountPeriod (
  intYear       INTEGER NOT NULL,
  bytPeriod     INTEGER NOT NULL,
  strStartDate  TEXT NOT NULL,
  strEndDate    TEXT NOT NULL,
  PRIMARY KEY (intYear, bytPeriod)
);

-- Masters: every id column of the field dictionary, with its code column -------------------

CREATE TABLE ItemNature (
  lngItemNatureID   INTEGER PRIMARY KEY,
  strItemNatureCode TEXT NOT NULL,
  strItemNatureName TEXT NOT NULL,
  strItemCategory   TEXT NOT NULL       -- '1' stock goods, '2' services and other non-stock
);

CREATE TABLE Item (
  lngItemID        INTEGER PRIMARY KEY,
  strItemCode      TEXT NOT NULL,
  strItemName      TEXT NOT NULL,
  strUnit          TEXT NOT NULL DEFAULT '',
  lngItemNatureID  INTEGER NOT NULL REFERENCES ItemNature,
  dblStandardPrice REAL NOT NULL DEFAULT 0 -- planned price of items valued at planned price
);

CREATE TABLE PositionGroup (
  lngPositionGroupID   INTEGER PRIMARY KEY,
  strPositionGroupCode TEXT NOT NULL,
  strPositionGroupName TEXT NOT NULL
);

CREATE TABLE Position (
  lngPositionID      INTEGER PRIMARY KEY,
  strPositionCode    TEXT NOT NULL,
  strPositionName    TEXT NOT NULL,
  lngPositionGroupID INTEGER NOT NULL REFERENCES PositionGroup
);

CREATE TABLE Organization (
  lngOrganizationID       INTEGER PRIMARY KEY,
  strOrganizationCode     TEXT NOT NULL,
  strOrganizationName     TEXT NOT NULL,
  -- The code lookup of a source organisation queries this table by the source column's own name.
  lngSourceOrganizationID INTEGER NOT NULL
);

CREATE TABLE Customer (
  lngCustomerID   INTEGER PRIMARY KEY,
  strCustomerCode TEXT NOT NULL,
  strCustomerName TEXT NOT NULL
);

CREATE TABLE Department (
  lngDepartmentID   INTEGER PRIMARY KEY,
  strDepartmentCode TEXT NOT NULL,
  strDepartmentName TEXT NOT NULL
);

CREATE TABLE Employee (
  lngEmployeeID   INTEGER PRIMARY KEY,
  strEmployeeCode TEXT NOT NULL,
  strEmployeeName TEXT NOT NULL
);

CREATE TABLE Class1 (lngClassID1 INTEGER PRIMARY KEY, strClassCode TEXT NOT NULL, strClassName TEXT NOT NULL);
CREATE TABLE Class2 (lngClassID2 INTEGER PRIMARY KEY, strClassCode TEXT NOT NULL, strClassName TEXT NOT NULL);
CREATE TABLE Job (lngJobID INTEGER PRIMARY KEY, strJobCode TEXT NOT NULL, strJobName TEXT NOT NULL);

CREATE TABLE Custom0 (lngCustomID0 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);
CREATE TABLE Custom1 (lngCustomID1 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);
CREATE TABLE Custom2 (lngCustomID2 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);
CREATE TABLE Custom3 (lngCustomID3 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);
CREATE TABLE Custom4 (lngCustomID4 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);
CREATE TABLE Custom5 (lngCustomID5 INTEGER PRIMARY KEY, strCustomCode TEXT NOT NULL, strCustomName TEXT NOT NULL);

CREATE TABLE Currencys (
  lngCurrencyID   INTEGER PRIMARY KEY,
  strCurrencyCode TEXT NOT NULL,
  strCurrencyName TEXT NOT NULL,
  dblRate         REAL NOT NULL DEFAULT 1
);

CREATE TABLE ReceiptType (
  lngReceiptTypeID   INTEGER PRIMARY KEY,
  strReceiptTypeName TEXT NOT NULL
);

CREATE TABLE VoucherType (
  lngVoucherTypeID   INTEGER PRIMARY KEY,
  strVoucherTypeName TEXT NOT NULL
);

-- lngAccountNatureID: 1 assets, 2 liabilities, 3 equity, 4 cost, 5 inventory, 6 profit and loss.
-- The bln* flags say which auxiliary keys the account keeps; receivable/payable detail on an
-- account without the flag still carries the id, and the ledger drops it.
CREATE TABLE Account (
  lngAccountID       INTEGER PRIMARY KEY,
  strAccountCode     TEXT NOT NULL,
  strAccountName     TEXT NOT NULL,
  lngAccountNatureID INTEGER NOT NULL,
  bytBalanceSide     INTEGER NOT NULL DEFAULT 1,
  blnisDepartment    INTEGER NOT NULL DEFAULT 0,
  blnisEmployee      INTEGER NOT NULL DEFAULT 0,
  blnisClass1        INTEGER NOT NULL DEFAULT 0,
  blnisClass2        INTEGER NOT NULL DEFAULT 0,
  blnisCustomer      INTEGER NOT NULL DEFAULT 0
);

-- Inventory documents ----------------------------------------------------------------------

-- lngActivityTypeID: inbound 1 3 5 32 9 8 10 30 41, outbound 15 19 22 21 31 33, cost 11 13 16,
-- transfer 27 (receiving side) and 28 (issuing side, lngOrderActivityID -> its receiving header),
-- purchase return 2, direct purchase 7 and sale 18, opening stock 4.
-- bytStatus 2 = confirmed. lngVoucherID1 is the voucher the document was booked with, if any.
CREATE TABLE ItemActivity (
  lngActivityID      INTEGER PRIMARY KEY,
  strDate            TEXT NOT NULL,
  intYear            INTEGER NOT NULL,
  bytPeriod          INTEGER NOT NULL,
  lngActivityTypeID  INTEGER NOT NULL,
  lngReceiptTypeID   INTEGER NOT NULL REFERENCES ReceiptType,
  strReceiptNo       TEXT NOT NULL,
  lngReceiptNo       INTEGER NOT NULL,
  blnSameGroup       INTEGER NOT NULL DEFAULT 0,
  lngOrderActivityID INTEGER NOT NULL DEFAULT 0,
  blnIsVoid          INTEGER NOT NULL DEFAULT 0,
  bytStatus          INTEGER NOT NULL DEFAULT 2,
  lngCustomerID      INTEGER NOT NULL DEFAULT 0,
  lngDepartmentID    INTEGER NOT NULL DEFAULT 0,
  lngEmployeeID      INTEGER NOT NULL DEFAULT 0,
  lngOrganizationID  INTEGER NOT NULL DEFAULT 0,
  lngVoucherID1      INTEGER,
  strRemark          TEXT NOT NULL DEFAULT ''
);

-- Amounts of a line: dblAmount what was entered (purchase value; cost for an issue),
-- dblCostAmount the cost booked, dblAvgCostAmount the average cost the costing run gave,
-- dblPlanPrice the planned unit price (0 unless the line is valued at planned price).
CREATE TABLE ItemActivityDetail (
  lngActivityDetailID INTEGER PRIMARY KEY,
  lngActivityID       INTEGER NOT NULL REFERENCES ItemActivity,
  lngRowID            INTEGER NOT NULL,
  lngItemID           INTEGER NOT NULL REFERENCES Item,
  lngPositionID       INTEGER NOT NULL REFERENCES Position,
  strProduceNum       TEXT NOT NULL DEFAULT '',
  dblQuantity         REAL NOT NULL DEFAULT 0,
  dblPrice            REAL NOT NULL DEFAULT 0,
  dblAmount           REAL NOT NULL DEFAULT 0,
  dblCostAmount       REAL NOT NULL DEFAULT 0,
  dblAvgCostAmount    REAL NOT NULL DEFAULT 0,
  dblPlanPrice        REAL NOT NULL DEFAULT 0,
  dblExpenseAmount    REAL NOT NULL DEFAULT 0,
  dblIncomeAmount     REAL NOT NULL DEFAULT 0,  -- sales value of an issue, before tax
  dblTaxAmount        REAL NOT NULL DEFAULT 0,
  blnIsManual         INTEGER NOT NULL DEFAULT 0
);

-- Vouchers ---------------------------------------------------------------------------------

-- lngVoucherSourceID: 9 purchase, 10 sales, 11 stock, 12 costing, anything else manual.
CREATE TABLE Voucher (
  lngVoucherID       INTEGER PRIMARY KEY,
  strDate            TEXT NOT NULL,
  lngVoucherTypeID   INTEGER NOT NULL REFERENCES VoucherType,
  intVoucherNo       INTEGER NOT NULL,
  lngVoucherSourceID INTEGER NOT NULL DEFAULT 0,
  blnPosted          INTEGER NOT NULL DEFAULT 0,
  strSummary         TEXT NOT NULL DEFAULT ''
);

-- intDirection 1 debit, -1 credit. dblAmount is the line's amount on that side; it is negative
-- only for a reversing (red-ink) entry, such as a cost adjustment that lowers the cost.
CREATE TABLE VoucherDetail (
  lngVoucherDetailID      INTEGER PRIMARY KEY,
  lngVoucherID            INTEGER NOT NULL REFERENCES Voucher,
  lngRowID                INTEGER NOT NULL,
  lngAccountID            INTEGER NOT NULL REFERENCES Account,
  intDirection            INTEGER NOT NULL,
  dblAmount               REAL NOT NULL DEFAULT 0,
  dblCurrAmount           REAL NOT NULL DEFAULT 0,
  dblQuantity             REAL NOT NULL DEFAULT 0,
  lngCurrencyID           INTEGER NOT NULL DEFAULT 1,
  lngDepartmentID         INTEGER NOT NULL DEFAULT 0,
  lngEmployeeID           INTEGER NOT NULL DEFAULT 0,
  lngClassID1             INTEGER NOT NULL DEFAULT 0,
  lngClassID2             INTEGER NOT NULL DEFAULT 0,
  lngCustomerID           INTEGER NOT NULL DEFAULT 0,
  lngOrganizationID       INTEGER NOT NULL DEFAULT 0,
  lngSourceOrganizationID INTEGER NOT NULL DEFAULT 0,
  strSummary              TEXT NOT NULL DEFAULT ''
);

-- Receivable/payable detail from invoices. dblAmount and dblCurrAmount carry the sign of
-- intDirection (1 debit, -1 credit), so amount times direction is the unsigned amount.
CREATE TABLE QARAPDetail1 (
  lngARAPDetailID   INTEGER PRIMARY KEY,
  strDate           TEXT NOT NULL,
  lngAccountID      INTEGER NOT NULL REFERENCES Account,
  intDirection      INTEGER NOT NULL,
  dblAmount         REAL NOT NULL DEFAULT 0,
  dblCurrAmount     REAL NOT NULL DEFAULT 0,
  lngCurrencyID     INTEGER NOT NULL DEFAULT 1,
  lngDepartmentID   INTEGER NOT NULL DEFAULT 0,
  lngEmployeeID     INTEGER NOT NULL DEFAULT 0,
  lngClassID1       INTEGER NOT NULL DEFAULT 0,
  lngClassID2       INTEGER NOT NULL DEFAULT 0,
  lngCustomerID     INTEGER NOT NULL DEFAULT 0,
  lngOrganizationID INTEGER NOT NULL DEFAULT 0,
  lngReceiptTypeID  INTEGER NOT NULL DEFAULT 0,
  strReceiptNo      TEXT NOT NULL DEFAULT '',
  lngReceiptNo      INTEGER NOT NULL DEFAULT 0
);

CREATE INDEX ItemActivity_Date ON ItemActivity (strDate);
CREATE INDEX ItemActivity_Order ON ItemActivity (lngOrderActivityID);
CREATE INDEX ItemActivityDetail_Row ON ItemActivityDetail (lngActivityID, lngRowID);
CREATE INDEX Voucher_Date ON Voucher (strDate);
CREATE INDEX VoucherDetail_Voucher ON VoucherDetail (lngVoucherID);
CREATE INDEX QARAPDetail1_Date ON QARAPDetail1 (strDate);

-- Stored program source, one row per line, each TEXT ending with its line break.
CREATE TABLE ALL_SOURCE (
  OWNER TEXT NOT NULL,
  NAME  TEXT NOT NULL,
  TYPE  TEXT NOT NULL,
  LINE  INTEGER NOT NULL,
  TEXT  TEXT NOT NULL,
  PRIMARY KEY (OWNER, NAME, TYPE, LINE)
);

-- Ledgers ----------------------------------------------------------------------------------

-- Inventory ledger by day, item and cost group (position group).
CREATE TABLE ItemDaily2 (
  strDate                   TEXT NOT NULL,
  lngItemID                 INTEGER NOT NULL DEFAULT 0,
  lngPositionGroupID        INTEGER NOT NULL DEFAULT 0,
  dblPurchaseQuantity       REAL NOT NULL DEFAULT 0,
  dblPurchaseQuantityAux    REAL NOT NULL DEFAULT 0,
  dblPurchaseAmount         REAL NOT NULL DEFAULT 0,
  dblPurchaseExpense        REAL NOT NULL DEFAULT 0,
  dblPurchaseDiffDebit      REAL NOT NULL DEFAULT 0,
  dblPurchaseDiffCredit     REAL NOT NULL DEFAULT 0,
  dblBorrowPurchaseQuantity REAL NOT NULL DEFAULT 0,
  dblBorrowPurchaseAmount   REAL NOT NULL DEFAULT 0,
  dblEntrustInQuantity      REAL NOT NULL DEFAULT 0,
  dblEntrustInAmount        REAL NOT NULL DEFAULT 0,
  dblInQuantity             REAL NOT NULL DEFAULT 0,
  dblInAmount               REAL NOT NULL DEFAULT 0,
  dblCostInAmount           REAL NOT NULL DEFAULT 0,
  dblCheckUpQuantity        REAL NOT NULL DEFAULT 0,
  dblCheckUpAmount          REAL NOT NULL DEFAULT 0,
  dblAdjPriceAdd            REAL NOT NULL DEFAULT 0,
  dblAdjInQuantity          REAL NOT NULL DEFAULT 0,
  dblAdjInAmount            REAL NOT NULL DEFAULT 0,
  dblSaleQuantity           REAL NOT NULL DEFAULT 0,
  dblSaleAmount             REAL NOT NULL DEFAULT 0,
  dblSaleCost               REAL NOT NULL DEFAULT 0,
  dblLendQuantity           REAL NOT NULL DEFAULT 0,
  dblLendCost               REAL NOT NULL DEFAULT 0,
  dblStageQuantity          REAL NOT NULL DEFAULT 0,
  dblStageCost              REAL NOT NULL DEFAULT 0,
  dblEntrustOutQuantity     REAL NOT NULL DEFAULT 0,
  dblEntrustOutAmount       REAL NOT NULL DEFAULT 0,
  dblOutQuantity            REAL NOT NULL DEFAULT 0,
  dblOutAmount              REAL NOT NULL DEFAULT 0,
  dblCheckDownQuantity      REAL NOT NULL DEFAULT 0,
  dblCheckDownAmount        REAL NOT NULL DEFAULT 0,
  dblAdjOutQuantity         REAL NOT NULL DEFAULT 0,
  dblAdjOutAmount           REAL NOT NULL DEFAULT 0,
  dblCostAdj                REAL NOT NULL DEFAULT 0
);
CREATE INDEX ItemDaily2_Key ON ItemDaily2 (strDate, lngItemID, lngPositionGroupID);

-- Stock ledger by day, item and position.
CREATE TABLE PositionDaily (
  strDate              TEXT NOT NULL,
  lngItemID            INTEGER NOT NULL DEFAULT 0,
  lngPositionID        INTEGER NOT NULL DEFAULT 0,
  dblPurchaseQuantity  REAL NOT NULL DEFAULT 0,
  dblPurchaseAmount    REAL NOT NULL DEFAULT 0,
  dblEntrustInQuantity REAL NOT NULL DEFAULT 0,
  dblEntrustInAmount   REAL NOT NULL DEFAULT 0,
  dblInQuantity        REAL NOT NULL DEFAULT 0,
  dblInAmount          REAL NOT NULL DEFAULT 0,
  dblCheckUpQuantity   REAL NOT NULL DEFAULT 0,
  dblCheckUpAmount     REAL NOT NULL DEFAULT 0,
  dblAdjInQuantity     REAL NOT NULL DEFAULT 0,
  dblAdjInAmount       REAL NOT NULL DEFAULT 0,
  dblSaleQuantity      REAL NOT NULL DEFAULT 0,
  dblSaleCost          REAL NOT NULL DEFAULT 0,
  dblOutQuantity       REAL NOT NULL DEFAULT 0,
  dblOutAmount         REAL NOT NULL DEFAULT 0,
  dblCheckDownQuantity REAL NOT NULL DEFAULT 0,
  dblCheckDownAmount   REAL NOT NULL DEFAULT 0,
  dblAdjOutQuantity    REAL NOT NULL DEFAULT 0,
  dblAdjOutAmount      REAL NOT NULL DEFAULT 0,
  dblCostCostAdj       REAL NOT NULL DEFAULT 0
);
CREATE INDEX PositionDaily_Key ON PositionDaily (strDate, lngItemID, lngPositionID);

-- Goods ledger by day, item and business partner.
CREATE TABLE ItemDaily1 (
  strDate                 TEXT NOT NULL,
  lngItemID               INTEGER NOT NULL DEFAULT 0,
  lngCustomerID           INTEGER NOT NULL DEFAULT 0,
  dblPurchaseQuantity     REAL NOT NULL DEFAULT 0,
  dblPurchaseAmount       REAL NOT NULL DEFAULT 0,
  dblPurchaseExpense      REAL NOT NULL DEFAULT 0,
  dblDirectPurchaseQuantity REAL NOT NULL DEFAULT 0,
  dblDirectPurchaseAmount REAL NOT NULL DEFAULT 0,
  dblEntrustInQuantity    REAL NOT NULL DEFAULT 0,
  dblEntrustInQuantityAux REAL NOT NULL DEFAULT 0,
  dblEntrustInAmount      REAL NOT NULL DEFAULT 0,
  dblEntrustExpense       REAL NOT NULL DEFAULT 0,
  dblSaleQuantity         REAL NOT NULL DEFAULT 0,
  dblSaleAmount           REAL NOT NULL DEFAULT 0,
  dblSaleCost             REAL NOT NULL DEFAULT 0,
  dblDirectSaleQuantity   REAL NOT NULL DEFAULT 0,
  dblDirectSaleAmount     REAL NOT NULL DEFAULT 0,
  dblLendQuantity         REAL NOT NULL DEFAULT 0,
  dblLendAmount           REAL NOT NULL DEFAULT 0,
  dblLendTax              REAL NOT NULL DEFAULT 0,
  dblStageQuantity        REAL NOT NULL DEFAULT 0,
  dblStageAmount          REAL NOT NULL DEFAULT 0,
  dblStageTax             REAL NOT NULL DEFAULT 0,
  dblEntrustOutQuantity   REAL NOT NULL DEFAULT 0,
  dblEntrustOutAmount     REAL NOT NULL DEFAULT 0
);
CREATE INDEX ItemDaily1_Key ON ItemDaily1 (strDate, lngItemID, lngCustomerID);

-- General ledger by day, account and auxiliary keys. The voucher columns come from vouchers;
-- the UnVoucher columns from the receivable/payable detail.
CREATE TABLE AccountDaily (
  strDate                    TEXT NOT NULL,
  lngAccountID               INTEGER NOT NULL DEFAULT 0,
  lngCurrencyID              INTEGER NOT NULL DEFAULT 0,
  lngDepartmentID            INTEGER NOT NULL DEFAULT 0,
  lngEmployeeID              INTEGER NOT NULL DEFAULT 0,
  lngClassID1                INTEGER NOT NULL DEFAULT 0,
  lngClassID2                INTEGER NOT NULL DEFAULT 0,
  lngCustomerID              INTEGER NOT NULL DEFAULT 0,
  lngOrganizationID          INTEGER NOT NULL DEFAULT 0,
  lngSourceOrganizationID    INTEGER NOT NULL DEFAULT 0,
  dblUnPostedDebit           REAL NOT NULL DEFAULT 0,
  dblUnPostedCredit          REAL NOT NULL DEFAULT 0,
  dblPostedDebit             REAL NOT NULL DEFAULT 0,
  dblPostedCredit            REAL NOT NULL DEFAULT 0,
  dblCurrencyUnPostedDebit   REAL NOT NULL DEFAULT 0,
  dblCurrencyUnPostedCredit  REAL NOT NULL DEFAULT 0,
  dblCurrencyPostedDebit     REAL NOT NULL DEFAULT 0,
  dblCurrencyPostedCredit    REAL NOT NULL DEFAULT 0,
  dblQuantityUnPostedDebit   REAL NOT NULL DEFAULT 0,
  dblQuantityUnPostedCredit  REAL NOT NULL DEFAULT 0,
  dblQuantityPostedDebit     REAL NOT NULL DEFAULT 0,
  dblQuantityPostedCredit    REAL NOT NULL DEFAULT 0,
  dblUnVoucherDebit          REAL NOT NULL DEFAULT 0,
  dblUnVoucherCredit         REAL NOT NULL DEFAULT 0,
  dblCurrencyUnVoucherDebit  REAL NOT NULL DEFAULT 0,
  dblCurrencyUnVoucherCredit REAL NOT NULL DEFAULT 0,
  dblQuantityUnVoucherDebit  REAL NOT NULL DEFAULT 0,
  dblQuantityUnVoucherCredit REAL NOT NULL DEFAULT 0
);
CREATE INDEX AccountDaily_Key ON AccountDaily (strDate, lngAccountID, lngCurrencyID);
