// Translation of the host's Oracle SQL into SQL that the embedded SQLite database runs with the
// same result. Each rule is a small function of its own; none of them touches the inside of a
// quoted string, a quoted identifier or a comment (optimizer hints are comments and stay).
#pragma once

#include <string>

namespace tallyvet::db::sql {

// Drops NOLOGGING where it stands after the table name of a DELETE or INSERT (Oracle parses it
// as a table alias; SQLite would refuse it):
//   DELETE FROM T NOLOGGING WHERE ...      -> DELETE FROM T WHERE ...
//   INSERT INTO /*+ APPEND */ T NOLOGGING (a,b) SELECT ... -> INSERT INTO /*+ APPEND */ T (a,b) ...
std::string DropNologging(const std::string& sql);

// Turns Oracle outer-join predicates "a.x=b.y(+)" (or "b.y(+)=a.x") of a comma-joined FROM list
// into LEFT JOINs: the (+)-marked table leaves the comma list and is joined after it with all its
// (+) predicates as the ON condition; a table outer-joined on to another outer-joined table is
// joined after that one. Applies to every SELECT of the statement, subqueries included.
std::string RewriteOuterJoins(const std::string& sql);

// Removes the qualifier `owner.` (case-insensitive) in front of a table name; the embedded file
// holds exactly one account set, the owner's.
std::string StripOwner(const std::string& sql, const std::string& owner);

// A comparison of a text expression (an operand that contains ||) with a bare numeric literal is
// done on numbers, as Oracle converts the text:
//   a || b >= 2005.03  ->  CAST(a || b AS REAL) >= 2005.03
std::string CompareTextWithNumber(const std::string& sql);

// Concatenation with Oracle's nulls: a null operand of || counts as empty text, and an empty
// result is null (Oracle keeps no empty text), where SQLite makes the whole result null:
//   a || b  ->  NULLIF(IFNULL(a,'') || IFNULL(b,''),'')
// Operands that are non-empty literals stay bare (and then the result is never null). A
// select-list column whose text this changes gets its old text as alias, so its name stays.
// A chain with a + or - after its first operand is left alone (the two dialects group it
// differently).
std::string OracleConcatenation(const std::string& sql);

// Ascending ORDER BY terms get NULLS LAST and descending ones NULLS FIRST, Oracle's default order
// (SQLite sorts nulls first ascending). Terms that already say NULLS are left alone.
std::string OracleNullOrdering(const std::string& sql);

// All rules in order: StripOwner, DropNologging, RewriteOuterJoins, CompareTextWithNumber,
// OracleConcatenation, OracleNullOrdering.
//
// None of the rules throws on odd input: text a rule cannot make sense of (unbalanced
// parentheses, an outer join it cannot place) is left as written, for SQLite to refuse with its
// own message.
std::string TranslateOracle(const std::string& sql, const std::string& owner);

}  // namespace tallyvet::db::sql
