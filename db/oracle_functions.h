// The Oracle functions the host's SQL calls, registered on a SQLite connection:
//   NVL(a, b)                       b when a is null, else a
//   DECODE(e, s1, r1, ..., [d])     the first ri whose si equals e (a null si matches a null e),
//                                   else d, else null
//   LPAD(s, n [, pad]) / RPAD(...)  s padded on the left / right with pad (default one blank) to
//                                   n characters, or cut to its first n characters; null when
//                                   n < 1 or an argument is null
// Lengths count characters (UTF-8), not bytes. INSTR, LTRIM, ABS, ROUND, UPPER are SQLite's own.
#pragma once

struct sqlite3;

namespace tallyvet::db {

void RegisterOracleFunctions(sqlite3* db);

}  // namespace tallyvet::db
