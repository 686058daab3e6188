// The document lines behind one ledger row, as statements cut from the item's own recompute
// statement: the ledger's rules are never written a second time, so what the lines add up to is
// what the recompute gives the row.
#pragma once

#include <string>
#include <string_view>

namespace tallyvet {

// The condition with every empty text literal ('') written as one blank (' '), the way the
// ledger stores an empty text. A doubled quote inside a literal is an escaped quote and stays.
std::string EmptyLiteralsAsBlank(std::string_view condition);

// The lines of `selectSql` (an item's SelectSql) under one row's source-side key `condition`:
// the statement up to its first "GROUP BY", every "SUM(" turned into "(" so that each line gives
// its own row, " AND " and the condition (empty literals as one blank), and every "SELECT" given
// `selectPrefix` (which starts with "SELECT " and ends with a comma) in place. A statement without
// "GROUP BY" is taken whole, the condition joined to its WHERE (or starting one) and put before
// its ORDER BY, if any. Item 5 names its second organisation column LNGSOURCEORGANIZATIONID only
// as an alias, which a WHERE cannot see: its condition uses the column behind the alias.
std::string DocumentLinesStatement(std::string_view selectSql, int item, std::string_view condition,
                                   std::string_view selectPrefix);

}  // namespace tallyvet
