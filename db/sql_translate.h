// Translation of the host's Oracle SQL into SQL that another database runs with the same result:
// the embedded SQLite database, or PostgreSQL with the orafce extension. Each rule is a small
// function of its own; none of them touches the inside of a quoted string, a quoted identifier or
// a comment (optimizer hints are comments and stay).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallyvet::db::sql {

// The databases the host's SQL is translated for. Oracle itself takes it verbatim.
enum class Dialect {
  kSqlite,
  kPostgres,
};

// Drops NOLOGGING where it stands after the table name of a DELETE or INSERT (Oracle parses it
// as a table alias; SQLite would refuse it):
//   DELETE FROM T NOLOGGING WHERE ...      -> DELETE FROM T WHERE ...
//   INSERT INTO /*+ APPEND */ T NOLOGGING (a,b) SELECT ... -> INSERT INTO /*+ APPEND */ T (a,b) ...
std::string DropNologging(const std::string& sql);

// Turns Oracle outer-join predicates "a.x=b.y(+)" (or "b.y(+)=a.x") of a comma-joined FROM list
// into LEFT JOINs: the (+)-marked table leaves the comma list and is joined after it with all its
// (+) predicates as the ON condition; a table outer-joined on to another outer-joined table is
// joined after that one. Applies to every SELECT of the statement, subqueries included. For
// PostgreSQL the tables left in the comma list are joined with CROSS JOIN instead, since there
// a comma binds looser than JOIN and an ON would not see them.
std::string RewriteOuterJoins(const std::string& sql, Dialect dialect = Dialect::kSqlite);

// Removes the qualifier `owner.` (case-insensitive) in front of a table name; the embedded file
// holds exactly one account set, the owner's.
std::string StripOwner(const std::string& sql, const std::string& owner);

// A comparison of a text expression (an operand that contains ||) with a bare numeric literal is
// done on numbers, as Oracle converts the text:
//   a || b >= 2005.03  ->  CAST(a || b AS REAL) >= 2005.03      (SQLite)
//                      ->  CAST(a || b AS NUMERIC) >= 2005.03   (PostgreSQL: REAL is 4 bytes
//                                                                 there, too coarse for periods)
std::string CompareTextWithNumber(const std::string& sql, Dialect dialect = Dialect::kSqlite);

// Concatenation with Oracle's nulls: a null operand of || counts as empty text, and an empty
// result is null (Oracle keeps no empty text), where SQLite and PostgreSQL make the whole result
// null:
//   a || b  ->  NULLIF(IFNULL(a,'') || IFNULL(b,''),'')    (SQLite)
//   a || b  ->  NULLIF(CONCAT(a,b),'')                       (PostgreSQL: CONCAT skips nulls and
//                                                            takes operands of any type)
// Operands that are non-empty literals stay bare (and then the result is never null). A
// select-list column whose text this changes gets its old text as alias, so its name stays.
// A chain with a + or - after its first operand is left alone (the dialects group it
// differently).
std::string OracleConcatenation(const std::string& sql, Dialect dialect = Dialect::kSqlite);

// Ascending ORDER BY terms get NULLS LAST and descending ones NULLS FIRST, Oracle's default order
// (SQLite sorts nulls first ascending). Terms that already say NULLS are left alone.
std::string OracleNullOrdering(const std::string& sql);

// DECODE(e, s1, r1, ..., [d]) as a CASE, for PostgreSQL, where orafce's DECODE wants every
// argument of one type (a bigint column against the literal 1 finds no function):
//   DECODE(e,1,a,NULL,b,c)  ->  CASE WHEN (e)=1 THEN a WHEN (e) IS NULL THEN b ELSE c END
// A search value that is not a literal is compared with IS NOT DISTINCT FROM, since DECODE
// matches a null with a null. DECODEs inside the arguments are rewritten too.
std::string DecodeToCase(const std::string& sql);

// NVL(a, b) -> COALESCE(a, b), for PostgreSQL: orafce's NVL wants both arguments of one type.
std::string NvlToCoalesce(const std::string& sql);

// NLSSORT(e, 'NLS_SORT=BINARY'), Oracle's order of a text by its bytes whatever the session's
// sort, as the other databases say it:
//   NLSSORT(e,'NLS_SORT=BINARY')  ->  (e) COLLATE "C"   (PostgreSQL, whatever the database's own
//                                                       collation)
//                                 ->  e                 (SQLite, whose texts compare by their
//                                                       bytes already)
// An NLSSORT with another sort (a linguistic one) is left as written.
std::string BinaryTextOrder(const std::string& sql, Dialect dialect);

// SELECT ... FROM DUAL -> SELECT ...: SQLite and PostgreSQL select without a FROM and have no
// DUAL (a guarded INSERT ... SELECT ... FROM DUAL WHERE NOT EXISTS (...) selects one row or none).
std::string DropFromDual(const std::string& sql);

// Gives each select-list column that is an expression without alias its text, upper-cased and cut
// to PostgreSQL's 63 bytes, as a quoted alias: Oracle names such a column by its text, and callers
// read it by that name, where PostgreSQL would call it after its function ("coalesce") or
// "?column?". Plain column references and * keep the names the database gives them.
//
// A name longer than that goes into `long_names` instead, when given: the alias is then a short
// label (TV_NAME_1, ...) paired there with the whole name, for the connection to report.
using LongNames = std::vector<std::pair<std::string, std::string>>;  // label, name
std::string NameExpressionColumns(const std::string& sql, LongNames* long_names = nullptr);

// All rules in order: StripOwner, DropNologging, DropFromDual, RewriteOuterJoins,
// CompareTextWithNumber, OracleConcatenation, OracleNullOrdering, BinaryTextOrder.
//
// None of the rules throws on odd input: text a rule cannot make sense of (unbalanced
// parentheses, an outer join it cannot place) is left as written, for SQLite to refuse with its
// own message.
std::string TranslateOracle(const std::string& sql, const std::string& owner);

// The host's SQL for PostgreSQL with orafce (LPAD, INSTR) in the session's search path. The owner
// stays as the schema name; nulls already sort as Oracle sorts them. Rules in order:
// NameExpressionColumns, DropNologging, DropFromDual, RewriteOuterJoins, CompareTextWithNumber,
// OracleConcatenation, NvlToCoalesce, DecodeToCase, BinaryTextOrder.
std::string TranslateForPostgres(const std::string& sql, LongNames* long_names = nullptr);

// Whether `sql` is "RELEASE [SAVEPOINT] name": Oracle has no such statement (a savepoint ends
// with its transaction there), so an Oracle connection leaves it out.
bool IsSavepointRelease(const std::string& sql);

// Whether `sql` is "LOCK TABLE name IN ... MODE": SQLite locks whole files, not tables (a
// transaction that writes takes the file's write lock at its start), so a SQLite connection leaves
// it out; Oracle and PostgreSQL take it as written.
bool IsTableLock(const std::string& sql);

// A data-changing statement with its literals taken out, for a connection that keeps prepared
// statements by their shape: `shape` holds "?" where each number or text literal stood, and
// `literals` holds them in order (a text literal without its quotes, doubled quotes undone; a
// number as written). Registrations and corrections send thousands of statements that differ in
// their literals alone.
struct StatementShape {
  struct Literal {
    bool text = false;
    std::string value;
  };
  std::string shape;
  std::vector<Literal> literals;
};
// The shape of an UPDATE or DELETE that holds no SELECT (a literal there may be a position, as in
// ORDER BY 1), no parameter marker and no blob literal; nothing for any other statement, which
// is then prepared as written.
std::optional<StatementShape> LiteralsAsParameters(const std::string& sql);

// The translation `dialect` needs: TranslateOracle or TranslateForPostgres.
std::string Translate(Dialect dialect, const std::string& sql, const std::string& owner);

}  // namespace tallyvet::db::sql
