// The Oracle-to-SQLite translation, rule by rule: text in, text out (quotes and comments never
// touched); and, for the rules that change what a query returns, the translated statement run on
// SQLite against the rows Oracle gives for it.
#include "db/sql_translate.h"

#include "db/text.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallyvet::db::sql {
namespace {

// ---------------------------------------------------------------------------------------------
// A scratch in-memory SQLite database over the raw C API, with Oracle's NVL, DECODE and LPAD as
// far as these statements need them (numbers and ASCII text only).

void Nvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

void Decode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const bool null_key = sqlite3_value_type(argv[0]) == SQLITE_NULL;
  for (int i = 1; i + 1 < argc; i += 2) {
    const bool null_search = sqlite3_value_type(argv[i]) == SQLITE_NULL;
    if (null_key ? null_search
                 : !null_search && sqlite3_value_double(argv[0]) == sqlite3_value_double(argv[i])) {
      sqlite3_result_value(ctx, argv[i + 1]);
      return;
    }
  }
  if (argc % 2 == 0) {
    sqlite3_result_value(ctx, argv[argc - 1]);
  } else {
    sqlite3_result_null(ctx);
  }
}

void Lpad(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const auto width = static_cast<std::size_t>(sqlite3_value_int(argv[1]));
  const char pad = argc > 2 ? *reinterpret_cast<const char*>(sqlite3_value_text(argv[2])) : ' ';
  text =
      text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), pad) + text;
  sqlite3_result_text(ctx, text.c_str(), -1, SQLITE_TRANSIENT);
}

class ScratchDb {
 public:
  ScratchDb() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("cannot open");
    constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db_, "NVL", 2, kFlags, nullptr, Nvl, nullptr, nullptr);
    sqlite3_create_function(db_, "DECODE", -1, kFlags, nullptr, Decode, nullptr, nullptr);
    sqlite3_create_function(db_, "LPAD", -1, kFlags, nullptr, Lpad, nullptr, nullptr);
  }
  ~ScratchDb() { sqlite3_close(db_); }
  ScratchDb(const ScratchDb&) = delete;
  ScratchDb& operator=(const ScratchDb&) = delete;

  void Run(const std::string& script) {
    char* message = nullptr;
    if (sqlite3_exec(db_, script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(text + " [in: " + script + "]");
    }
  }

  // Each row as its values joined by "|"; null reads "<null>", whole doubles without decimals.
  std::vector<std::string> Rows(const std::string& query) {
    Statement st = Prepare(query);
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st.get()); ++c) {
        if (c > 0) row += '|';
        row += Cell(st.get(), c);
      }
      rows.push_back(row);
    }
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    return rows;
  }

  std::vector<std::string> Columns(const std::string& query) {
    Statement st = Prepare(query);
    std::vector<std::string> names;
    for (int c = 0; c < sqlite3_column_count(st.get()); ++c) {
      names.push_back(sqlite3_column_name(st.get(), c));
    }
    return names;
  }

  // SQLite's complaint about a statement; empty when it prepares.
  std::string PrepareError(const std::string& sql) {
    try {
      Prepare(sql);
      return {};
    } catch (const std::runtime_error& e) {
      return e.what();
    }
  }

 private:
  using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

  Statement Prepare(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " [in: " + sql + "]");
    }
    return Statement(raw, &sqlite3_finalize);
  }

  static std::string Cell(sqlite3_stmt* st, int c) {
    switch (sqlite3_column_type(st, c)) {
      case SQLITE_NULL:
        return "<null>";
      case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(st, c);
        char buf[32];
        std::snprintf(buf, sizeof buf, v == std::floor(v) ? "%.0f" : "%g", v);
        return buf;
      }
      default:
        return reinterpret_cast<const char*>(sqlite3_column_text(st, c));
    }
  }

  sqlite3* db_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// An account set with just the columns the statements below read.

class AccountSet : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Run(R"(
      CREATE TABLE ItemActivity (lngActivityID INTEGER, strDate TEXT, lngActivityTypeID INTEGER,
        lngReceiptTypeID INTEGER, strReceiptNo TEXT, lngReceiptNo INTEGER, blnSameGroup INTEGER,
        lngOrderActivityID INTEGER, lngVoucherID1 INTEGER);
      CREATE TABLE ItemActivityDetail (lngActivityDetailID INTEGER, lngActivityID INTEGER,
        lngRowID INTEGER, lngItemID INTEGER, lngPositionID INTEGER, dblAmount REAL,
        dblCostAmount REAL, dblAvgCostAmount REAL, dblExpenseAmount REAL, blnIsManual INTEGER);
      CREATE TABLE Voucher (lngVoucherID INTEGER, strDate TEXT, lngVoucherTypeID INTEGER,
        lngVoucherSourceID INTEGER, intVoucherNO INTEGER);
      CREATE TABLE VoucherType (lngVoucherTypeID INTEGER, strVoucherTypeName TEXT);
      CREATE TABLE Item (lngItemID INTEGER, lngItemNatureID INTEGER);
      CREATE TABLE ItemNature (lngItemNatureID INTEGER, strItemCategory TEXT);
      CREATE TABLE AccountPeriod (intYear INTEGER, bytPeriod INTEGER, strStartDate TEXT,
        strEndDate TEXT);
      CREATE TABLE PositionDaily (strDate TEXT, lngItemID INTEGER, dblCostAmount REAL);
      INSERT INTO ItemNature VALUES (1, '1'), (2, '2');
      INSERT INTO Item VALUES (100, 1), (200, 2);
    )");
  }

  // A document of one line; voucher 0 means none.
  void AddDocument(int id, const std::string& date, int activity_type, int receipt_type,
                   int voucher, int item, double cost, double expense = 0) {
    const std::string voucher_id = voucher == 0 ? "NULL" : std::to_string(voucher);
    db_.Run(
        "INSERT INTO ItemActivity (lngActivityID, strDate, lngActivityTypeID, "
        "lngReceiptTypeID, lngVoucherID1) VALUES (" +
        std::to_string(id) + ",'" + date + "'," + std::to_string(activity_type) + "," +
        std::to_string(receipt_type) + "," + voucher_id + ")");
    db_.Run(
        "INSERT INTO ItemActivityDetail (lngActivityDetailID, lngActivityID, lngItemID, "
        "dblCostAmount, dblExpenseAmount) VALUES (" +
        std::to_string(id * 10) + "," + std::to_string(id) + "," + std::to_string(item) + "," +
        std::to_string(cost) + "," + std::to_string(expense) + ")");
  }

  void AddVoucher(int id, const std::string& date, int type, int source, int number) {
    db_.Run("INSERT INTO Voucher VALUES (" + std::to_string(id) + ",'" + date + "'," +
            std::to_string(type) + "," + std::to_string(source) + "," + std::to_string(number) +
            ")");
  }

  void AddPeriod(int year, int period) {
    const std::string month = (period < 10 ? "0" : "") + std::to_string(period);
    db_.Run("INSERT INTO AccountPeriod VALUES (" + std::to_string(year) + "," +
            std::to_string(period) + ",'" + std::to_string(year) + "-" + month + "-01','" +
            std::to_string(year) + "-" + month + "-28')");
  }

  std::vector<std::string> Translated(const std::string& oracle_sql) {
    return db_.Rows(TranslateOracle(oracle_sql, "zt001"));
  }

  ScratchDb db_;
};

// Item 6's recomputing statement, upper-cased as derived, with the run's date range inserted
// before its GROUP BY and the key positions as its order.
std::string VoucherActivityStatement(const std::string& from, const std::string& to) {
  return "SELECT NVL(VOUCHER.STRDATE,' '),DECODE(NVL(VOUCHER.LNGVOUCHERID,0),0,DECODE("
         "LNGACTIVITYTYPEID,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),LNGVOUCHERSOURCEID),"
         "NVL(VOUCHER.STRDATE || STRVOUCHERTYPENAME || LPAD(INTVOUCHERNO,4,'0'),' '),"
         "SUM((DBLCOSTAMOUNT+DBLEXPENSEAMOUNT)*DECODE(LNGRECEIPTTYPEID,30,2,31,2,1)) DBLAMOUNT "
         "FROM ITEMACTIVITY, ITEMACTIVITYDETAIL,VOUCHER,VOUCHERTYPE,ITEM,ITEMNATURE "
         "WHERE ITEMACTIVITY.LNGACTIVITYID = ITEMACTIVITYDETAIL.LNGACTIVITYID "
         "AND ITEMACTIVITY.LNGVOUCHERID1=VOUCHER.LNGVOUCHERID(+) "
         "AND ITEMACTIVITYDETAIL.LNGITEMID=ITEM.LNGITEMID "
         "AND ITEM.LNGITEMNATUREID=ITEMNATURE.LNGITEMNATUREID AND STRITEMCATEGORY='1' "
         "AND VOUCHER.LNGVOUCHERTYPEID=VOUCHERTYPE.LNGVOUCHERTYPEID(+) "
         "AND LNGACTIVITYTYPEID NOT IN (7,18,4)  AND NVL(ItemActivity.strDate,' ')>='" +
         from + "' AND NVL(ItemActivity.strDate,' ')<='" + to +
         "' GROUP BY VOUCHER.STRDATE,DECODE(NVL(VOUCHER.LNGVOUCHERID,0),0,DECODE("
         "LNGACTIVITYTYPEID,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),LNGVOUCHERSOURCEID),"
         "VOUCHER.STRDATE || STRVOUCHERTYPENAME || LPAD(INTVOUCHERNO,4,'0') ORDER BY 1,2,3";
}

std::string PeriodStatement(const std::string& lower, const std::string& upper) {
  return "SELECT strStartDate,strEndDate FROM ZT001.AccountPeriod WHERE intYear || '.' || "
         "LPAD(bytPeriod,2,'0')>=" +
         lower + " AND intYear || '.' || LPAD(bytPeriod,2,'0')<=" + upper +
         " ORDER BY intYear,bytPeriod";
}

// ---------------------------------------------------------------------------------------------
// DropNologging

TEST(DropNologging, GoesAfterTheTableOfDeleteAndInsert) {
  EXPECT_EQ(DropNologging("DELETE FROM POSITIONDAILY NOLOGGING WHERE strDate>='2005-03-01'"),
            "DELETE FROM POSITIONDAILY WHERE strDate>='2005-03-01'");
  EXPECT_EQ(
      DropNologging("INSERT INTO /*+ APPEND */ POSITIONDAILY NOLOGGING (A,B) SELECT A,B FROM T"),
      "INSERT INTO /*+ APPEND */ POSITIONDAILY (A,B) SELECT A,B FROM T");
  EXPECT_EQ(DropNologging("delete from zt.ItemDaily1 nologging"), "delete from zt.ItemDaily1");
}

TEST(DropNologging, LeavesTheWordElsewhere) {
  for (const std::string sql : {
           "SELECT nologging FROM T WHERE s='T NOLOGGING'",
           "INSERT INTO T (nologging) VALUES ('NOLOGGING')",
           "UPDATE T SET nologging=1",
           "DELETE FROM T /* NOLOGGING */ WHERE a=1",
           "DELETE FROM T -- NOLOGGING\nWHERE a=1",
           "DELETE FROM T WHERE nologging=1",
       }) {
    EXPECT_EQ(DropNologging(sql), sql);
  }
}

// ---------------------------------------------------------------------------------------------
// StripOwner

TEST(StripOwner, DropsTheOwnersQualifierWhateverItsCase) {
  EXPECT_EQ(StripOwner("SELECT strUserName,strVer FROM ZT001.Business", "zt001"),
            "SELECT strUserName,strVer FROM Business");
  EXPECT_EQ(StripOwner("SELECT * FROM zt001.AccountPeriod, Zt001.Business", "ZT001"),
            "SELECT * FROM AccountPeriod, Business");
}

TEST(StripOwner, KeepsOtherQualifiersQuotesAndComments) {
  for (const std::string sql : {
           "SELECT Voucher.strDate FROM Voucher",
           "SELECT * FROM OTHER.Business",
           "SELECT 'ZT001.Business' FROM T /* ZT001.Business */",
           "SELECT * FROM ZT0012.Business",
       }) {
    EXPECT_EQ(StripOwner(sql, "zt001"), sql);
  }
  EXPECT_EQ(StripOwner("SELECT * FROM ZT001.Business", ""), "SELECT * FROM ZT001.Business");
}

// ---------------------------------------------------------------------------------------------
// RewriteOuterJoins: text

TEST(RewriteOuterJoins, MovesTheMarkedTableIntoALeftJoinOnItsPredicates) {
  // (+) on either side, against a literal, an alias; an emptied WHERE disappears.
  EXPECT_EQ(RewriteOuterJoins("SELECT a.x, b.y FROM A a, B b WHERE a.id=b.id(+)"),
            "SELECT a.x, b.y FROM A a LEFT JOIN B b ON a.id=b.id");
  EXPECT_EQ(RewriteOuterJoins("SELECT * FROM T, X WHERE T.col(+) = X.col AND X.k=1"),
            "SELECT * FROM X LEFT JOIN T ON T.col = X.col WHERE X.k=1");
  EXPECT_EQ(RewriteOuterJoins("SELECT * FROM ItemActivity AdjInH, Flags F "
                              "WHERE AdjInH.id=F.id(+) AND AdjInH.k=2 AND f.flag(+)=1"),
            "SELECT * FROM ItemActivity AdjInH LEFT JOIN Flags F ON AdjInH.id=F.id AND "
            "f.flag=1 WHERE AdjInH.k=2");
}

TEST(RewriteOuterJoins, JoinsATableAfterTheOuterTableItHangsOn) {
  // VoucherType is listed first but joined on Voucher, itself outer-joined.
  EXPECT_EQ(RewriteOuterJoins("SELECT * FROM itemactivity, VoucherType, Voucher "
                              "WHERE Voucher.typeId=VoucherType.typeId(+) "
                              "AND itemactivity.v1=voucher.id(+)\nGROUP BY 1"),
            "SELECT * FROM itemactivity LEFT JOIN Voucher ON itemactivity.v1=voucher.id "
            "LEFT JOIN VoucherType ON Voucher.typeId=VoucherType.typeId\nGROUP BY 1");
}

TEST(RewriteOuterJoins, RewritesEverySubqueryOnItsOwn) {
  EXPECT_EQ(RewriteOuterJoins("SELECT q.x FROM (SELECT a.x FROM A a, B b WHERE a.id=b.id(+)) q "
                              "WHERE q.x IN (SELECT c.x FROM C c, D d WHERE c.z=1 AND "
                              "c.k=d.k(+))"),
            "SELECT q.x FROM (SELECT a.x FROM A a LEFT JOIN B b ON a.id=b.id) q "
            "WHERE q.x IN (SELECT c.x FROM C c LEFT JOIN D d ON c.k=d.k WHERE c.z=1)");
  // An outer-joined subquery moves with its own rewriting.
  EXPECT_EQ(RewriteOuterJoins("SELECT * FROM A, (SELECT b.k FROM B b, C c WHERE b.k=c.k(+)) S "
                              "WHERE A.k=S.k(+)"),
            "SELECT * FROM A LEFT JOIN (SELECT b.k FROM B b LEFT JOIN C c ON b.k=c.k) S "
            "ON A.k=S.k");
}

TEST(RewriteOuterJoins, LeavesWhatItCannotPlaceAsWritten) {
  for (const std::string sql : {
           "SELECT '(+)', a.x FROM A a, B b WHERE a.s='b.id(+)' /* b.id(+) */",
           "SELECT * FROM A, B WHERE A.x=B.x(+) OR A.y=1",                          // OR at the top
           "SELECT * FROM A, B WHERE A.x=x(+)",                                     // table unknown
           "SELECT * FROM A, B, C WHERE A.x=B.x(+) AND B.y=C.y(+) AND C.z=B.z(+)",  // a cycle
           "SELECT * FROM A, B WHERE A.x=B.x(+) AND B.y=A.y(+)",                    // both outer
           "SELECT * FROM A JOIN B ON A.x=B.x, C WHERE A.y=C.y(+)",                 // ANSI joins
           "SELECT * FROM A WHERE (A.x=1",                                          // unbalanced
       }) {
    EXPECT_EQ(RewriteOuterJoins(sql), sql);
  }
}

// ---------------------------------------------------------------------------------------------
// RewriteOuterJoins (with the other rules) on SQLite: the rows Oracle returns.

TEST_F(AccountSet, VoucherActivityKeepsDocumentsWithoutVoucherOrVoucherType) {
  db_.Run("INSERT INTO VoucherType VALUES (1, '记')");
  AddVoucher(500, "2005-01-10", 1, 3, 7);
  AddVoucher(501, "2005-01-20", 99, 4, 8);  // type 99 and 98 do not exist
  AddVoucher(502, "2005-01-20", 98, 4, 9);
  AddDocument(1, "2005-01-05", 1, 1, 500, 100, 10, 1);
  AddDocument(2, "2005-01-06", 15, 30, 0, 100, 5);  // receipt type 30 counts twice
  AddDocument(3, "2005-01-07", 1, 1, 501, 100, 2);
  AddDocument(4, "2005-01-07", 1, 1, 502, 100, 3);
  AddDocument(5, "2005-01-08", 7, 1, 0, 100, 100);   // activity type 7 is left out
  AddDocument(6, "2005-01-09", 1, 1, 500, 200, 50);  // not an item of category 1
  AddDocument(7, "2004-12-31", 1, 1, 0, 100, 70);    // before the range
  AddDocument(8, "2005-01-11", 11, 1, 0, 100, 4);
  AddDocument(9, "2005-01-12", 2, 1, 0, 100, 6);

  // Without voucher: empty date and number, source from the activity type; a voucher without
  // type keeps its date and padded number (Oracle drops only the null type name).
  EXPECT_EQ(Translated(VoucherActivityStatement("2005-01-01", "2005-01-31")),
            (std::vector<std::string>{
                " |9| |6",
                " |12| |14",
                "2005-01-10|3|2005-01-10记0007|11",
                "2005-01-20|4|2005-01-200008|2",
                "2005-01-20|4|2005-01-200009|3",
            }));
}

TEST_F(AccountSet, SeveralTablesOuterJoinedToOneKeepEveryBaseRow) {
  db_.Run(R"(
    CREATE TABLE Doc (id INTEGER, posID INTEGER, itemID INTEGER);
    CREATE TABLE Pos (id INTEGER, code TEXT);
    CREATE TABLE Goods (id INTEGER, code TEXT, active INTEGER);
    INSERT INTO Doc VALUES (1, 1, 1), (2, 9, 2), (3, NULL, NULL), (4, 2, 3);
    INSERT INTO Pos VALUES (1, 'P1'), (2, 'P2');
    INSERT INTO Goods VALUES (1, 'G1', 1), (2, 'G2', 0), (3, 'G3', 1);
  )");
  // The literal predicate restricts the join, not the rows: document 2 stays, without goods.
  EXPECT_EQ(Translated("SELECT d.id, p.code, g.code FROM Doc d, Pos p, Goods g "
                       "WHERE d.posID=p.id(+) AND d.itemID=g.id(+) AND g.active(+)=1 "
                       "ORDER BY d.id"),
            (std::vector<std::string>{"1|P1|G1", "2|<null>|<null>", "3|<null>|<null>", "4|P2|G3"}));
}

// ---------------------------------------------------------------------------------------------
// CompareTextWithNumber

TEST(CompareTextWithNumber, CastsTheConcatenatedSideOfAComparisonWithANumber) {
  EXPECT_EQ(CompareTextWithNumber(PeriodStatement("2005.03", "0000.00")),
            "SELECT strStartDate,strEndDate FROM ZT001.AccountPeriod WHERE CAST(intYear || '.' || "
            "LPAD(bytPeriod,2,'0') AS REAL)>=2005.03 AND CAST(intYear || '.' || "
            "LPAD(bytPeriod,2,'0') AS REAL)<=0000.00 ORDER BY intYear,bytPeriod");
  EXPECT_EQ(CompareTextWithNumber("SELECT 1 FROM T WHERE (a||b <> -1) OR 2005.03 < c || d"),
            "SELECT 1 FROM T WHERE (CAST(a||b AS REAL) <> -1) OR 2005.03 < CAST(c || d AS REAL)");
}

TEST(CompareTextWithNumber, LeavesOtherComparisonsAlone) {
  for (const std::string sql : {
           "SELECT 1 FROM T WHERE bytPeriod>=3 AND a || b = '2005.03'",  // no ||, or a text
           "SELECT 1 FROM T WHERE NVL(a || b, 0) > 1",                   // || not at the top
           "SELECT 1 FROM T WHERE a || b = 1 + 2",                       // not a bare number
           "SELECT 'a || b >= 1' FROM T -- a || b >= 1",
       }) {
    EXPECT_EQ(CompareTextWithNumber(sql), sql);
  }
}

TEST_F(AccountSet, PeriodRangeComparesYearAndPeriodAsNumbers) {
  AddPeriod(2004, 12);
  for (int p = 1; p <= 12; ++p) AddPeriod(2005, p);
  const auto starts = [this](const std::string& lower, const std::string& upper) {
    std::vector<std::string> dates;
    for (const std::string& row : Translated(PeriodStatement(lower, upper))) {
      dates.push_back(row.substr(0, 7));
    }
    return dates;
  };
  EXPECT_EQ(starts("0000.00", "2005.02"),
            (std::vector<std::string>{"2004-12", "2005-01", "2005-02"}));
  EXPECT_EQ(starts("2005.09", "2005.11"),
            (std::vector<std::string>{"2005-09", "2005-10", "2005-11"}));
  EXPECT_TRUE(starts("0000.00", "0000.00").empty());
  // SQLite alone ranks any text above any number: the range would be empty.
  EXPECT_TRUE(db_.Rows("SELECT 1 FROM AccountPeriod WHERE intYear || '.' || "
                       "LPAD(bytPeriod,2,'0')<=2005.02")
                  .empty());
}

// ---------------------------------------------------------------------------------------------
// OracleConcatenation

TEST(OracleConcatenation, TreatsNullOperandsAsEmptyAndKeepsTheColumnsName) {
  EXPECT_EQ(OracleConcatenation("SELECT a || b FROM T"),
            "SELECT NULLIF(IFNULL(a,'') || IFNULL(b,''),'') AS \"a || b\" FROM T");
  // Non-empty literals stay bare and make the result never null; aliases are kept.
  EXPECT_EQ(OracleConcatenation("SELECT H.no || 'x' || LPAD(n,4,'0') As ReceiptNo FROM H"),
            "SELECT IFNULL(H.no,'') || 'x' || IFNULL(LPAD(n,4,'0'),'') As ReceiptNo FROM H");
  EXPECT_EQ(OracleConcatenation("SELECT a - 1 || (b - c) n FROM T"),  // Oracle: (a - 1) || ...
            "SELECT NULLIF(IFNULL(a - 1,'') || IFNULL((b - c),''),'') n FROM T");
  EXPECT_EQ(OracleConcatenation("SELECT NVL(a||b,' ') n FROM T GROUP BY a||b"),
            "SELECT NVL(NULLIF(IFNULL(a,'')||IFNULL(b,''),''),' ') n FROM T GROUP BY "
            "NULLIF(IFNULL(a,'')||IFNULL(b,''),'')");
}

TEST(OracleConcatenation, LeavesQuotesCommentsAndAmbiguousChainsAlone) {
  for (const std::string sql : {
           "SELECT 'a || b', \"x||y\" FROM T /* a || b */",
           "SELECT a || b + 1 FROM T",  // Oracle: (a || b) + 1, SQLite: a || (b + 1)
       }) {
    EXPECT_EQ(OracleConcatenation(sql), sql);
  }
}

TEST_F(AccountSet, ConcatenationGivesOraclesValuesUnderSqlitesNames) {
  db_.Run(
      "CREATE TABLE R (s TEXT, n INTEGER); "
      "INSERT INTO R VALUES ('RK', 12), (NULL, 12), (NULL, NULL), ('', NULL)");
  const std::string sql = "SELECT s || n, s || LPAD(n,4,'0') AS code FROM R ORDER BY rowid";
  EXPECT_EQ(db_.Columns(TranslateOracle(sql, "zt001")), db_.Columns(sql));
  EXPECT_EQ(Translated(sql),
            (std::vector<std::string>{"RK12|RK0012", "12|0012", "<null>|<null>", "<null>|<null>"}));
}

// ---------------------------------------------------------------------------------------------
// OracleNullOrdering

TEST(OracleNullOrdering, PutsNullsWhereOracleSortsThem) {
  EXPECT_EQ(OracleNullOrdering("SELECT a FROM T ORDER BY intYear,bytPeriod"),
            "SELECT a FROM T ORDER BY intYear NULLS LAST,bytPeriod NULLS LAST");
  EXPECT_EQ(OracleNullOrdering("SELECT a FROM T order by strDate DESC, NVL(a,0) asc LIMIT 1"),
            "SELECT a FROM T order by strDate DESC NULLS FIRST, NVL(a,0) asc NULLS LAST LIMIT 1");
  EXPECT_EQ(OracleNullOrdering("SELECT * FROM (SELECT a FROM T ORDER BY a) q ORDER BY 1 DESC;"),
            "SELECT * FROM (SELECT a FROM T ORDER BY a NULLS LAST) q ORDER BY 1 DESC NULLS FIRST;");
  EXPECT_EQ(OracleNullOrdering("SELECT SUM(x) OVER (ORDER BY d ROWS UNBOUNDED PRECEDING) FROM T"),
            "SELECT SUM(x) OVER (ORDER BY d NULLS LAST ROWS UNBOUNDED PRECEDING) FROM T");
}

TEST(OracleNullOrdering, LeavesStatedNullsQuotesAndCommentsAlone) {
  for (const std::string sql : {
           "SELECT a FROM T ORDER BY a NULLS FIRST, b DESC NULLS LAST",
           "SELECT 'ORDER BY a' FROM T -- ORDER BY a",
           "SELECT a FROM T WHERE s='it''s ORDER BY a'",
           "SELECT a FROM T WHERE s='never closed ORDER BY a",
       }) {
    EXPECT_EQ(OracleNullOrdering(sql), sql);
  }
}

TEST_F(AccountSet, NullsComeLastAscendingAndFirstDescending) {
  db_.Run("CREATE TABLE V (v INTEGER); INSERT INTO V VALUES (2), (NULL), (1)");
  EXPECT_EQ(Translated("SELECT v FROM V ORDER BY v"),
            (std::vector<std::string>{"1", "2", "<null>"}));
  EXPECT_EQ(Translated("SELECT v FROM V ORDER BY v DESC"),
            (std::vector<std::string>{"<null>", "2", "1"}));
}

// ---------------------------------------------------------------------------------------------
// TranslateOracle: the host's statements as they are sent

TEST_F(AccountSet, HostStatementsPrepareOnSqlite) {
  db_.Run("CREATE TABLE Business (strUserName TEXT, strVer TEXT, strStartDate TEXT)");
  const std::string transfer_pair_check =
      "SELECT  /*+ CHOOSE */  AdjInD.lngActivityDetailID,AdjOutH.strDate,AdjOutH.lngReceiptTypeID,"
      "AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As ReceiptNo,AdjOutD.lngItemID,"
      "AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,"
      "AdjInD.dblAmount+AdjInD.dblCostAmount as dblAvgCostAmount "
      "FROM ItemActivityDetail AdjInD,ItemActivity AdjInH,"
      "ItemActivityDetail AdjOutD,ItemActivity AdjOutH "
      "WHERE AdjInD.lngActivityID=AdjInH.lngActivityID "
      "AND AdjOutH.lngOrderActivityID=AdjInH.lngActivityID "
      "AND AdjOutD.lngActivityID=AdjOutH.lngActivityID AND AdjInD.lngRowID=AdjOutD.lngRowID "
      "AND AdjInH.lngActivityTypeID=27 AND AdjOutH.lngActivityTypeID=28 "
      "AND AdjInH.blnSameGroup=1 AND (AdjInD.dblAvgCostAmount<>AdjOutD.dblAvgCostAmount OR "
      "AdjInD.dblAmount<>0 OR AdjInD.dblCostAmount<>0 OR AdjInD.blnIsManual=1)";
  for (const std::string& sql : {
           VoucherActivityStatement("2005-01-01", "2005-03-31"),
           // ShowDocumentDetail's form of it: no GROUP BY, sums opened, the row's condition.
           std::string("SELECT ItemActivity.strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
                       "Lpad(lngReceiptNO,4,'0'),NVL(VOUCHER.STRDATE,' '),(DBLCOSTAMOUNT) "
                       "DBLAMOUNT FROM ITEMACTIVITY, ITEMACTIVITYDETAIL,VOUCHER WHERE "
                       "ITEMACTIVITY.LNGACTIVITYID = ITEMACTIVITYDETAIL.LNGACTIVITYID AND "
                       "ITEMACTIVITY.LNGVOUCHERID1=VOUCHER.LNGVOUCHERID(+) AND "
                       "VOUCHER.STRDATE=' '"),
           PeriodStatement("0000.00", "2005.03"),
           transfer_pair_check,
           std::string("SELECT strUserName,strVer,strStartDate FROM ZT001.Business"),
       }) {
    EXPECT_EQ(db_.PrepareError(TranslateOracle(sql, "zt001")), "") << sql;
  }
  EXPECT_EQ(db_.Columns(TranslateOracle(transfer_pair_check, "zt001"))[3], "ReceiptNo");
}

TEST_F(AccountSet, LedgerReRegistrationStatementsRun) {
  db_.Run("INSERT INTO PositionDaily VALUES ('2005-03-01', 100, 99), ('2005-02-28', 100, 5)");
  AddDocument(1, "2005-03-02", 1, 1, 0, 100, 10);
  AddDocument(2, "2005-03-02", 1, 1, 0, 100, 2);
  db_.Run(
      TranslateOracle("DELETE FROM POSITIONDAILY NOLOGGING WHERE strDate>='2005-03-01' AND "
                      "strDate<='9999-12-31'",
                      "zt001"));
  db_.Run(TranslateOracle(
      "INSERT INTO /*+ APPEND */ POSITIONDAILY NOLOGGING (STRDATE,LNGITEMID,DBLCOSTAMOUNT) "
      "SELECT STRDATE,LNGITEMID,SUM(DBLCOSTAMOUNT) FROM ITEMACTIVITY,ITEMACTIVITYDETAIL "
      "WHERE ITEMACTIVITY.LNGACTIVITYID=ITEMACTIVITYDETAIL.LNGACTIVITYID "
      " AND strDate>='2005-03-01' AND strDate<='9999-12-31' GROUP BY STRDATE,LNGITEMID",
      "zt001"));
  EXPECT_EQ(db_.Rows("SELECT * FROM PositionDaily ORDER BY strDate"),
            (std::vector<std::string>{"2005-02-28|100|5", "2005-03-02|100|12"}));
}

TEST(TranslateOracle, IsStableWhenAppliedTwiceAndKeepsHintsByteForByte) {
  for (const std::string& sql : {
           VoucherActivityStatement("2005-01-01", "2005-03-31"),
           PeriodStatement("0000.00", "2005.03"),
           std::string("INSERT INTO /*+ APPEND */ ZT001.T NOLOGGING (A) SELECT /*+ CHOOSE */ a "
                       "|| b FROM X ORDER BY 1"),
       }) {
    const std::string once = TranslateOracle(sql, "zt001");
    EXPECT_EQ(TranslateOracle(once, "zt001"), once);
  }
  EXPECT_EQ(TranslateOracle("SELECT /*+ First Rows */ strDate FROM T ORDER BY strDate DESC", "x"),
            "SELECT /*+ First Rows */ strDate FROM T ORDER BY strDate DESC NULLS FIRST");
}

// ---------------------------------------------------------------------------------------------
// The PostgreSQL dialect: text in, text out. (The statements themselves run against a real
// server in the ODBC end-to-end tests.)

TEST(PostgresDialect, DecodeBecomesACaseThatMatchesNullWithNull) {
  EXPECT_EQ(DecodeToCase("SELECT DECODE(t,1,q,2,-q,0) x FROM T"),
            "SELECT CASE WHEN (t)=1 THEN q WHEN (t)=2 THEN -q ELSE 0 END x FROM T");
  // A null (or the empty text, which Oracle holds as null) searches with IS NULL, a column with
  // IS NOT DISTINCT FROM; without a default the CASE gives null, as DECODE does.
  EXPECT_EQ(DecodeToCase("DECODE(a, NULL, 'n', '', 'e', b.c, 'c')"),
            "CASE WHEN (a) IS NULL THEN 'n' WHEN (a) IS NULL THEN 'e' WHEN (a) IS NOT DISTINCT "
            "FROM (b.c) THEN 'c' END");
  // Nested in the key and in a result, and calls inside arguments.
  EXPECT_EQ(DecodeToCase("DECODE(NVL(v,0),0,DECODE(k,1,9,11),s)"),
            "CASE WHEN (NVL(v,0))=0 THEN CASE WHEN (k)=1 THEN 9 ELSE 11 END ELSE s END");
  for (const std::string sql : {
           "SELECT 'DECODE(a,1,2)' FROM T /* DECODE(a,1,2) */",
           "SELECT x.DECODE(a,1,2), DECODE(a,1) FROM T",  // someone's own; too few arguments
           "SELECT DECODE(a,1,2 FROM T",                  // unbalanced
       }) {
    EXPECT_EQ(DecodeToCase(sql), sql);
  }
}

TEST(PostgresDialect, NvlCoalescesAndDualGoes) {
  EXPECT_EQ(NvlToCoalesce("SELECT nvl(a,0), NVL (b, ' '), 'NVL(c,0)', x.nvl(d,1) FROM T"),
            "SELECT COALESCE(a,0), COALESCE (b, ' '), 'NVL(c,0)', x.nvl(d,1) FROM T");
  EXPECT_EQ(DropFromDual("SELECT 1 FROM DUAL"), "SELECT 1");
  EXPECT_EQ(DropFromDual("SELECT (SELECT 2 FROM dual) FROM T WHERE x IN (SELECT 3 FROM DUAL)"),
            "SELECT (SELECT 2) FROM T WHERE x IN (SELECT 3)");
  for (const std::string sql : {"SELECT d.x FROM DUAL d", "SELECT * FROM DUAL.T", "SELECT dual"})
    EXPECT_EQ(DropFromDual(sql), sql);
}

TEST(PostgresDialect, ExpressionColumnsAreNamedByTheirTextAsOracleNamesThem) {
  EXPECT_EQ(
      NameExpressionColumns("SELECT a, T.b, T.*, nvl(p.g,0), SUM(x) dblX, y AS z, count(*) FROM T"),
      "SELECT a, T.b, T.*, nvl(p.g,0) AS \"NVL(P.G,0)\", SUM(x) dblX, y AS z, count(*) "
      "AS \"COUNT(*)\" FROM T");
  // PostgreSQL keeps 63 bytes of a name: the alias is cut there, never inside a character.
  const std::string longColumn = "nvl(" + std::string(60, 'a') + ",'委托')";
  const std::string named = NameExpressionColumns("SELECT " + longColumn + " FROM T");
  const std::string alias =
      named.substr(named.find('"') + 1, named.rfind('"') - named.find('"') - 1);
  EXPECT_LE(alias.size(), 63u);
  EXPECT_EQ(alias, "NVL(" + std::string(59, 'A'));
  // Or, for a caller that reports the names itself, a short label paired with the whole name.
  LongNames names;
  EXPECT_EQ(NameExpressionColumns("SELECT " + longColumn + ", b+1 FROM T", &names),
            "SELECT " + longColumn + " AS \"TV_NAME_1\", b+1 AS \"B+1\" FROM T");
  EXPECT_EQ(names, (LongNames{{"TV_NAME_1", db::UpperAscii(longColumn)}}));
  const std::string wide =
      NameExpressionColumns("SELECT f('" + std::string(58, 'x') + "委托') FROM T");
  EXPECT_NE(wide.find("XXXXX\" FROM"), std::string::npos) << wide;  // 委 (3 bytes) would not fit
}

TEST(PostgresDialect, ConcatenationAndComparisonsKeepOraclesMeaning) {
  // CONCAT skips nulls and takes numbers; the empty result is null as in Oracle.
  EXPECT_EQ(OracleConcatenation("SELECT a || b FROM T", Dialect::kPostgres),
            "SELECT NULLIF(CONCAT(a , b),'') AS \"a || b\" FROM T");
  EXPECT_EQ(
      OracleConcatenation("SELECT intYear || '.' || LPAD(p,2,'0') k FROM T", Dialect::kPostgres),
      "SELECT CONCAT(intYear , '.' , LPAD(p,2,'0')) k FROM T");
  EXPECT_EQ(CompareTextWithNumber("WHERE y || '.' || p>=2005.03", Dialect::kPostgres),
            "WHERE CAST(y || '.' || p AS NUMERIC)>=2005.03");
  // Tables left in the comma list are cross-joined, so that the ON sees all of them.
  EXPECT_EQ(
      RewriteOuterJoins("SELECT * FROM A, B, C WHERE A.v=C.id(+) AND A.k=B.k", Dialect::kPostgres),
      "SELECT * FROM A CROSS JOIN  B LEFT JOIN C ON A.v=C.id WHERE A.k=B.k");
}

TEST(PostgresDialect, HostStatementsTranslateWholeAndStably) {
  const std::string period = TranslateForPostgres(PeriodStatement("0000.00", "2005.03"));
  EXPECT_EQ(period,
            "SELECT strStartDate,strEndDate FROM ZT001.AccountPeriod WHERE CAST(CONCAT(intYear , "
            "'.' , LPAD(bytPeriod,2,'0')) AS NUMERIC)>=0000.00 AND CAST(CONCAT(intYear , '.' , "
            "LPAD(bytPeriod,2,'0')) AS NUMERIC)<=2005.03 ORDER BY intYear,bytPeriod");
  EXPECT_EQ(
      TranslateForPostgres("DELETE FROM POSITIONDAILY NOLOGGING WHERE strDate>='2005-03-01' AND "
                           "strDate<='9999-12-31'"),
      "DELETE FROM POSITIONDAILY WHERE strDate>='2005-03-01' AND strDate<='9999-12-31'");
  for (const std::string& sql : {VoucherActivityStatement("2005-01-01", "2005-03-31"), period}) {
    const std::string once = TranslateForPostgres(sql);
    EXPECT_EQ(once.find("(+)"), std::string::npos) << once;
    std::string unquoted;  // the text without the column names the translation gave
    bool quoted = false;
    for (char c : once) {
      if (c == '"') quoted = !quoted;
      if (!quoted && c != '"') unquoted += c;
    }
    EXPECT_EQ(unquoted.find("DECODE"), std::string::npos) << once;
    EXPECT_EQ(TranslateForPostgres(once), once);
  }
  EXPECT_EQ(Translate(Dialect::kSqlite, "SELECT * FROM ZT001.Business", "zt001"),
            "SELECT * FROM Business");
  EXPECT_EQ(Translate(Dialect::kPostgres, "SELECT * FROM ZT001.Business", "zt001"),
            "SELECT * FROM ZT001.Business");
}

// Texts ordered by their bytes, whatever the database's own collation: the way rows are merged.
TEST(BinaryTextOrder, SaysByteOrderInEachDialectAndLeavesLinguisticSortsAlone) {
  const std::string sql =
      "SELECT k FROM T ORDER BY NLSSORT(NVL(a.k,b.k), 'NLS_SORT=BINARY'), n, "
      "nlssort(c || d,'nls_sort = binary') DESC";
  EXPECT_EQ(
      BinaryTextOrder(sql, Dialect::kPostgres),
      "SELECT k FROM T ORDER BY (NVL(a.k,b.k)) COLLATE \"C\", n, (c || d) COLLATE \"C\" DESC");
  EXPECT_EQ(BinaryTextOrder(sql, Dialect::kSqlite),
            "SELECT k FROM T ORDER BY (NVL(a.k,b.k)), n, (c || d) DESC");
  EXPECT_EQ(TranslateForPostgres(sql),
            "SELECT k FROM T ORDER BY (COALESCE(a.k,b.k)) COLLATE \"C\", n, (NULLIF(CONCAT(c , "
            "d),'')) COLLATE \"C\" DESC");
  EXPECT_EQ(TranslateOracle("SELECT k FROM T ORDER BY NLSSORT(k,'NLS_SORT=BINARY')", "acme"),
            "SELECT k FROM T ORDER BY (k) NULLS LAST");
  for (const std::string kept : {
           "SELECT k FROM T ORDER BY NLSSORT(k, 'NLS_SORT=SCHINESE_PINYIN_M')",
           "SELECT 'NLSSORT(k,''NLS_SORT=BINARY'')' FROM T /* NLSSORT(k,'NLS_SORT=BINARY') */",
           "SELECT x.NLSSORT(k,'NLS_SORT=BINARY'), NLSSORT(k) FROM T",
           "SELECT k FROM T ORDER BY NLSSORT(k,'NLS_SORT=BINARY'",
       }) {
    EXPECT_EQ(BinaryTextOrder(kept, Dialect::kPostgres), kept);
    EXPECT_EQ(BinaryTextOrder(kept, Dialect::kSqlite), kept);
  }
}

// Found by fuzzing: a word written right after a keyword merged with it (WHERE(a)||b became
// WHEREIFNULL(...)), an alias added behind the last column landed inside a string left open, and
// OWNER.OWNER.x lost one qualifier per pass.
TEST(TranslateOracle, NeverMergesWordsNorWritesInsideAnOpenString) {
  EXPECT_EQ(TranslateOracle("SELECT x FROM T WHERE(a)||'.' = 'x'", "acme"),
            "SELECT x FROM T WHERE IFNULL((a),'')||'.' = 'x'");
  EXPECT_EQ(TranslateOracle("SELECT x FROM T WHERE NOT(a)||b = 'x'", "acme").find("NOTNULLIF"),
            std::string::npos);
  for (const std::string open :
       {"SELECT a || b, 'x FROM T", "SELECT a || b /* FROM T", "SELECT a || b, \"x FROM T"}) {
    EXPECT_EQ(TranslateOracle(open, "acme"), open);
  }
}

// The statements a dialect leaves out: Oracle's missing RELEASE, SQLite's missing table locks.
TEST(SavepointReleaseAndTableLock, AreToldFromEveryOtherStatement) {
  for (const std::string sql : {"RELEASE tallyvet_reregister", "release savepoint sp1;",
                                "RELEASE /* done */ SAVEPOINT sp1"}) {
    EXPECT_TRUE(IsSavepointRelease(sql)) << sql;
  }
  for (const std::string sql :
       {"ROLLBACK TO sp1", "RELEASE", "SAVEPOINT sp1", "RELEASE sp1; DELETE FROM T",
        "UPDATE T SET RELEASE=1", "-- RELEASE sp1\nDELETE FROM T"}) {
    EXPECT_FALSE(IsSavepointRelease(sql)) << sql;
  }
  for (const std::string sql : {"LOCK TABLE POSITIONDAILY IN EXCLUSIVE MODE",
                                "lock table srv.ItemDaily1 in share row exclusive mode;"}) {
    EXPECT_TRUE(IsTableLock(sql)) << sql;
  }
  for (const std::string sql : {"LOCK TABLE T IN EXCLUSIVE MODE; DELETE FROM T", "LOCK TABLE T",
                                "SELECT LOCK FROM TABLE_MODES", "UPDATE T SET MODE=1"}) {
    EXPECT_FALSE(IsTableLock(sql)) << sql;
  }
}

}  // namespace
}  // namespace tallyvet::db::sql
