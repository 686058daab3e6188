// How the command line lists flagged lines and adjustment outcomes: an aligned text table for
// people, or one JSON object per line for programs.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "db/text.h"
#include "receipt_audit/check_activity_screen.h"

namespace tallyvet::receipt_audit {

// {"kind","lngActivityDetailID","strDate","receiptType","receiptNo","item","position",
//  "costAmount","secondAmount","difference"}; the id as IntegerOrText gives it.
nlohmann::json FindingJson(const CheckFinding& finding);

// The table's header line and one line per finding, columns aligned by display width (a Chinese
// character takes two columns). No trailing newline.
std::string FindingTableHeader();
std::string FindingTableLine(const CheckFinding& finding);

// `text` padded with blanks to `width` display columns (never cut).
std::string PadToWidth(const std::string& text, std::size_t width);
// Display columns of a UTF-8 text: two for East Asian wide characters, one otherwise.
using db::DisplayWidth;

// An id, year or period read back as text, as a JSON number when the whole text is a plain
// integer, as the text itself otherwise (an empty text stays text).
nlohmann::json IntegerOrText(const std::string& text);

}  // namespace tallyvet::receipt_audit
