// The comparison of one item inside the database that holds it. On a server every row of both
// sides would otherwise cross the network for the merge to find a handful of differences; here the
// item's own two statements, the recompute and the stored-ledger read, become two subqueries under
// a FULL OUTER JOIN on the key columns, and the server sends only the rows the merge could count,
// each with both sides' columns, in the order the merge reads keys. The caller splits them into
// the two sides, each with its own column names and types, and merges those as ever
// (CompareRows): the report, the table and JSON, the marks, the corrections and the causes are
// what the merge of the whole sides gives, to the byte.
//
// Why the rows kept are enough. The merge pairs rows of equal keys; a pair it finds equal in every
// compared column counts nothing, and taking such a pair out of both sides leaves every other
// step of the merge as it was, provided the pair is one the merge itself would have made. That
// holds when every key is non-null and no key repeats on a side: then the merge's pairs are
// exactly the join's. So the statement keeps
//   - a pair in which some compared column's difference could round to a cent (the test is a
//     little wider than the merge's own, never narrower),
//   - a row of one side only with some compared value that could round to a cent,
//   - every row with a null key, and every row whose key repeats on its side (or, for the stored
//     side, one row saying that keys repeat),
// and a null or repeated key among the rows that come back sends the item to the merge of the
// whole sides (a null key matches anything in the merge, and repeated keys pair in whatever order
// the database gives them: no join says the same). Rows are ordered by number, texts by their
// bytes, as the merge compares them.
//
// The statement is the host's SQL (Oracle: WITH, FULL OUTER JOIN, NVL, NLSSORT); the connection's
// translation carries it to the other databases.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/recordset.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// The columns of one side as the connection reports them for that side's own statement: the names
// give the merge its captions, conditions and qualifiers, the types its quoting and display texts.
// A server states every type; SQLite, which types values one by one, states none for an
// expression (0): the side then takes it from its first row, as the recordset of the whole side
// does.
using SideColumns = std::vector<db::ColumnInfo>;

// Whether the comparisons of `ctx` run on the server: as ctx.comparePlace asks; by default when
// the account set lives on a database server (db::Connection::ServerHost).
// Requires a connection in ctx unless the place is asked for.
bool ComparesOnServer(const HostContext& ctx);

// The recompute statement (without its ORDER BY, as RecomputeBody gives it) restricted to no row
// before every GROUP BY: its columns, read without reading data.
std::string RecomputeProbe(std::string_view recomputeBody);
// "SELECT " + insertColumns + " FROM " + ledgerTable + " WHERE 1=0".
std::string StoredProbe(std::string_view insertColumns, std::string_view ledgerTable);

// What keeps the item's statements from becoming one on the server, or empty. From the text:
// a SelectSql that orders its rows itself (the merge then reads that order, not the keys'), one
// without GROUP BY (nothing restricts it to no row for its probe), no key columns.
std::string StatementRefusal(std::string_view selectSql, int keyCount);
// From the sides' columns: a side with fewer columns than keys; a key column that is text on one
// side and a number on the other (the merge orders every number before every text, a join
// compares them as one type); a compared value column that is text (the merge reads its leading
// number, a server would refuse the arithmetic). A type of 0 (SQLite's untyped expressions) is
// taken for either.
std::string ShapeRefusal(int item, int keyCount, const SideColumns& recomputed,
                         const SideColumns& stored);

// Whether the recompute statement `selectSql` cannot give two rows of one key: a single SELECT
// whose GROUP BY groups by nothing but its first `keyCount` columns (aliases and blanks aside).
// False whenever the text leaves a doubt (a key the GROUP BY does not name as written, NVL(x,0)
// for x, a set operator, a comment): the statement then counts the keys it gives.
bool KeysAreGroups(std::string_view selectSql, int keyCount);

// The one statement of the item. Its columns: the recomputed side's key count (TV_RN: how often
// the row's key occurs on the recomputed side, null when the side has no such row; 1 for every
// recomputed row when `recomputedUnique`, which KeysAreGroups proves), the recomputed side's
// columns R1..Rn, the stored side's TV_SN, its columns S1..Sm. Rows as described above, ordered by
// NVL(Rj,Sj) for each key j, texts (and keys of no stated type) by NLSSORT(...,'NLS_SORT=BINARY').
// The stored side's keys are counted apart, by a GROUP BY of their own: when some repeat, one more
// row says so (TV_SN above 1, everything else null), where the join's rows give 1 (or, with
// `firstRows`, their count). With `firstRows` it also keeps the first row of each side in key
// order (with the other side's row of its key), from which columns of no stated type take theirs;
// ReadSidesOnServer asks for them when a column has none.
// Requires keyCount >= 1 and both sides with at least keyCount columns (ShapeRefusal empty).
std::string JoinedComparisonStatement(std::string_view recomputeBody, std::string_view storedBody,
                                      int item, int keyCount, const SideColumns& recomputed,
                                      const SideColumns& stored, bool recomputedUnique,
                                      bool firstRows);

// The two sides of the statement's rows, each a recordset of its own columns (names and types as
// given; a type of 0 is taken from the side's first row) in the statement's order, rows beyond
// `spillThreshold` kept in a file as any result's. `refusal` is set instead when a row has a null
// key or a repeated one on its side. Leaves `joined` at its end. Throws db::Error from reading.
struct JoinedSides {
  std::unique_ptr<db::Recordset> recomputed;
  std::unique_ptr<db::Recordset> stored;
  std::size_t storedRows = 0;
  std::string refusal;
};
JoinedSides SplitJoinedRows(db::Recordset& joined, int keyCount, const SideColumns& recomputed,
                            const SideColumns& stored, std::size_t spillThreshold);

// The item's two sides read on the server, as CompareLedger merges them: both statements probed
// on ctx's connection (which gives the item's InsertColumns, set here as MatchInsertColumns makes
// them), the one statement run on a thread of its own while `screen` gets ShowServerStatement
// about every 0.1 s and `stepper` its steps, and its rows split.
// Guarantees: either both sides are set, on their first rows, with `recomputedShape` the
// recompute's columns; or neither, with `reason` saying why the item must be merged on the client
// (the item's statements refused, keys the join cannot pair, a driver that types the values of a
// column by a statement's first row (db::Connection::TypesColumnsByFirstRow), or the database's
// own error; the client's run then meets that error itself). Nothing is written to the screen's
// list or any sink either way. Requires what CompareLedger requires; keyCount and the dates as
// CompareLedger has them.
struct ServerSides {
  std::unique_ptr<db::Recordset> recomputed;
  std::unique_ptr<db::Recordset> stored;
  std::size_t storedRows = 0;
  SideColumns recomputedShape;
  std::string reason;
};
ServerSides ReadSidesOnServer(HostContext& ctx, ProgressScreen& screen, ProgressStepper& stepper,
                              int item, int keyCount, const std::string& startDate,
                              const std::string& endDate);

}  // namespace tallyvet
