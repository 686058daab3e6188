#include "ledger_engine/compare_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "db/text.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

namespace {

constexpr const char* kListIndent = "    ";
constexpr const char* kAmountLabel = "差额：";

// The list's amounts are sums of cent amounts: fifteen significant digits, as the host's own
// number-to-text conversion writes them, keep binary noise ("0.30000000000000004") out of the
// list while every real digit stays.
std::string ListAmountText(double amount) {
  if (amount == 0) return "0";
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", amount);
  return text;
}

std::string ListLine(std::string_view text, double amount) {
  return std::string(kListIndent) + std::string(text) + "\t" + kAmountLabel +
         ListAmountText(amount);
}

// Key positions compare as typed values; a null on either side matches anything.
int CompareKeys(const db::Value& recomputed, const db::Value& stored) {
  if (recomputed.IsNull() || stored.IsNull()) return 0;
  return Compare(recomputed, stored);  // found by argument lookup
}

bool IsCharacterType(int type) {
  return type == db::adVarChar || type == db::adChar;
}

// Whether minuend - subtrahend rounds to 0 at two decimals (halves to even). Only a difference
// near half a cent needs the decimal arithmetic; the binary difference decides every other case,
// its error being far below the margin for amounts a ledger can hold to the cent.
bool DifferenceRoundsToZero(double minuend, double subtrahend) {
  const double binary = minuend - subtrahend;
  if (binary == 0) return true;
  const double margin = 0.001 + (std::fabs(minuend) + std::fabs(subtrahend)) * 1e-15;
  const double size = std::fabs(binary);
  if (size < 0.005 - margin) return true;
  if (size > 0.005 + margin) return false;
  return RoundHalfEven(ExactDifference(minuend, subtrahend), 2) == 0;
}

// The caption of a value column by the name `preferred` side gives it; when the dictionary has
// none for that name (the host's function selects one ledger column under a misspelt alias), by
// the stored side's name, which is the ledger's own. Only a column neither name finds stops the
// comparison.
const std::string& ValueCaption(const HostContext& ctx, const std::string& preferred,
                                const std::string& stored) {
  try {
    return ctx.dictionary.Caption(db::UpperAscii(FieldBaseName(preferred)));
  } catch (const DictionaryError&) {
    return ctx.dictionary.Caption(db::UpperAscii(FieldBaseName(stored)));
  }
}

enum class Mark { Matched, A, B };

// The ledger rows under a condition; a count that cannot be read counts as none.
std::int64_t RowsUnder(db::Connection& conn, const std::string& table,
                       const std::string& condition) {
  try {
    auto rs = conn.OpenResultset(
        "SELECT COUNT(*) FROM " + table + (condition.empty() ? "" : " WHERE " + condition), 3);
    const std::int64_t n = rs->Eof() ? 0 : rs->Fields()[0].Value().AsInteger();
    rs->Close();
    return n;
  } catch (const db::Error&) {
    // Deliberately absorbed: the correction is listed either way, only under the plainer text.
    return 0;
  }
}

void LoadRow(const db::Recordset& rs, std::vector<db::Value>& row) {
  const auto& fields = rs.Fields();
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = fields[i].Value();
}

// A finite double as digits times a power of ten, from its shortest decimal text.
struct DecimalValue {
  __int128 digits = 0;
  int exponent = 0;
};

bool ToDecimal(double v, DecimalValue& out) {
  if (!std::isfinite(v)) return false;
  char buffer[64];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific);
  if (written.ec != std::errc()) return false;
  const std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const auto e = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                  exponent);
  __int128 digits = 0;
  int fractionDigits = 0;
  bool afterPoint = false;
  for (char c : text.substr(0, e)) {
    if (c == '.') {
      afterPoint = true;
    } else if (c >= '0' && c <= '9') {
      digits = digits * 10 + (c - '0');
      if (afterPoint) ++fractionDigits;
    }
  }
  out.digits = text.front() == '-' ? -digits : digits;
  out.exponent = exponent - fractionDigits;
  return true;
}

__int128 PowerOfTen(int n) {
  __int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

}  // namespace

bool IsComparedColumn(int item, std::string_view storedNameUpper) {
  if (item == 3) return storedNameUpper.find("ENTRUSTIN") == std::string_view::npos;
  if (item == 4) return storedNameUpper.find("UNVOUCHER") == std::string_view::npos;
  return true;
}

const char* RowSideName(RowSide side) {
  switch (side) {
    case RowSide::kRecomputedOnly:
      return "recomputed_only";
    case RowSide::kStoredOnly:
      return "stored_only";
    case RowSide::kBoth:
      break;
  }
  return "both";
}

double ExactDifference(double minuend, double subtrahend) {
  DecimalValue a, b;
  if (!ToDecimal(minuend, a) || !ToDecimal(subtrahend, b)) return minuend - subtrahend;
  const int exponent = std::min(a.exponent, b.exponent);
  // Shortest texts have at most 17 digits; 20 more places stay within 128 bits.
  if (a.exponent - exponent > 20 || b.exponent - exponent > 20) return minuend - subtrahend;
  __int128 difference =
      a.digits * PowerOfTen(a.exponent - exponent) - b.digits * PowerOfTen(b.exponent - exponent);
  const bool negative = difference < 0;
  if (negative) difference = -difference;
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(difference % 10)));
    difference /= 10;
  } while (difference != 0);
  if (negative) text.insert(text.begin(), '-');
  text.push_back('e');
  text.append(std::to_string(exponent));
  double result = 0;
  std::from_chars(text.data(), text.data() + text.size(), result);
  return result;
}

std::string OneLineKeyDescription(std::string_view keyDescription) {
  std::string out;
  std::size_t start = 0;
  while (start < keyDescription.size()) {
    auto end = keyDescription.find("\r\n", start);
    if (end == std::string_view::npos) end = keyDescription.size();
    if (end > start) {
      if (!out.empty()) out.push_back(' ');
      out.append(keyDescription.substr(start, end - start));
    }
    start = end + 2;
  }
  return out;
}

void RecordDifference(const std::vector<DifferenceSink*>& sinks, const DifferenceRecord& record,
                      bool firstInRow) {
  for (DifferenceSink* sink : sinks) {
    if (sink != nullptr) sink->RecordDifference(record, firstInRow);
  }
}

void AddDifferenceLine(ProgressScreen& screen, std::string_view text, double amount) {
  try {
    std::vector<std::string>* list = screen.List1();
    if (list == nullptr) return;  // a screen without a summary list: the lines go nowhere
    if (amount == 0) {
      list->push_back(std::string(kListIndent) + std::string(text));
    } else {
      bool found = false;
      for (auto entry = list->rbegin(); entry != list->rend(); ++entry) {
        const std::string& line = *entry;
        if (line.rfind(kListIndent, 0) != 0) continue;
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        if (db::TrimBlanks(std::string_view(line).substr(0, tab)) != text) continue;
        const std::size_t from = db::Utf8Advance(line, tab + 1, 3);
        const std::size_t to = db::Utf8Advance(line, from, 30);
        const double before = db::Value(line.substr(from, to - from)).AsDouble();
        *entry = ListLine(text, before + amount);
        found = true;
        break;
      }
      if (!found) list->push_back(ListLine(text, amount));
    }
    screen.RefreshList1();
  } catch (const std::exception&) {
    // The summary list is a convenience for the user; losing a line must not stop a comparison.
  }
}

bool CompareRows(HostContext& ctx, ProgressScreen& screen, db::Recordset& recomputed,
                 db::Recordset& stored, int keyCount, int item, std::int32_t& storedRowCount,
                 bool writeReport, bool correct, DifferenceRecord& record,
                 const std::vector<DifferenceSink*>& sinks) {
  if (storedRowCount == 0) storedRowCount = 100;

  const auto& recFields = recomputed.Fields();
  const auto& stoFields = stored.Fields();
  const std::size_t keys = static_cast<std::size_t>(std::max(keyCount, 0));
  const std::size_t columns = std::min(recFields.Count(), stoFields.Count());
  const bool mayCorrect = correct && (item == 1 || item == 2 || item == 4);
  const std::string& ledgerTable = ctx.CheckItems.LedgerTable[CheckItemTable::Index(item)];

  // Names do not change from row to row: the relevance test once per column.
  std::vector<bool> relevant(columns, true);
  for (std::size_t i = keys; i < columns; ++i) {
    relevant[i] = IsComparedColumn(item, db::UpperAscii(stoFields[i].Name()));
  }

  // Only the current row of each side is held.
  std::vector<db::Value> recRow(recFields.Count());
  std::vector<db::Value> stoRow(stoFields.Count());

  std::int32_t differences = 0;
  std::int32_t steps = 0;

  while (true) {
    const bool recEnd = recomputed.Eof();
    const bool stoEnd = stored.Eof();
    if (recEnd && stoEnd) break;
    if (!recEnd) LoadRow(recomputed, recRow);
    if (!stoEnd) LoadRow(stored, stoRow);

    record.keyDescription.clear();
    record.condition.clear();
    record.keys.clear();
    record.keyCount = static_cast<std::int16_t>(keyCount);
    std::string condition;
    bool conditionBuilt = false;
    bool conditionSplit = false;
    std::string keyColumnList, keyValueList;
    bool rowRecorded = false;
    bool rowInserted = false;  // this run's correction inserted the row

    ++steps;
    if (steps > storedRowCount) storedRowCount += 100;
    screen.ShowProgress(static_cast<double>(steps) / storedRowCount * 100);

    // A side at its end decides the mark before any key is read, also when there are no keys.
    Mark mark = Mark::Matched;
    if (recEnd || stoEnd) {
      mark = recEnd ? Mark::B : Mark::A;
    } else {
      for (std::size_t j = 0; j < keys; ++j) {
        const int c = CompareKeys(recRow.at(j), stoRow.at(j));
        if (c != 0) {
          mark = c < 0 ? Mark::A : Mark::B;
          break;
        }
      }
    }

    for (std::size_t i = keys; i < columns; ++i) {
      const db::Value& rv = recRow[i];
      const db::Value& sv = stoRow[i];
      bool roundsToZero = true;
      if (mark == Mark::Matched) {
        if (rv.IsNull() || sv.IsNull()) continue;
        roundsToZero = DifferenceRoundsToZero(rv.AsDouble(), sv.AsDouble());
      } else if (mark == Mark::A) {
        if (rv.IsNull()) continue;
        roundsToZero = DifferenceRoundsToZero(rv.AsDouble(), 0);
      } else {
        if (sv.IsNull()) continue;
        roundsToZero = DifferenceRoundsToZero(sv.AsDouble(), 0);
      }
      if (roundsToZero || !relevant[i]) continue;
      ++differences;

      if (!conditionBuilt) {
        conditionBuilt = true;
        record.side = mark == Mark::A   ? RowSide::kRecomputedOnly
                      : mark == Mark::B ? RowSide::kStoredOnly
                                        : RowSide::kBoth;
        for (std::size_t j = 0; j < keys; ++j) {
          const db::Field stoKey = stoFields[j];
          const db::Field keyField = mark == Mark::A ? recFields[j] : stoKey;
          const db::Value& value = mark == Mark::A ? recRow.at(j) : stoRow.at(j);
          record.keys.push_back({db::UpperAscii(stoKey.Name()), value});
          if (writeReport) {
            std::string nameArgument = mark == Mark::A ? stoKey.Name() : std::string();
            record.keyDescription +=
                ctx.dictionary.Caption(db::UpperAscii(stoKey.Name())) + "=" +
                ctx.dictionary.GetFieldText(ctx.conn(), keyField, nameArgument).AsText() + "\r\n";
          }
          const std::string column = QualifyKeyColumn(ctx.CheckItems, recFields[j].Name(), item);
          std::string term;
          // A text value is always quoted, whatever the stored column's type says: written bare
          // it would be read as SQL.
          if (IsCharacterType(stoKey.Type()) || value.IsText()) {
            term = column + "=" + QuoteSqlText(value.AsText());
          } else if (value.AsDouble() != 0 || item != 5) {
            term = column + "=" + value.AsText();
          } else {
            continue;  // item 5: a zero numeric key gives no term
          }
          if (!condition.empty()) condition += " AND ";
          condition += term;
        }
      }

      if (writeReport) {
        record.condition = condition;
        record.columnName = stoFields[i].Name();
        const std::string& captionName =
            mark == Mark::Matched ? recFields[i].Name() : stoFields[i].Name();
        record.columnCaption = ValueCaption(ctx, captionName, stoFields[i].Name());
        record.storedValue = mark == Mark::A ? 0 : sv.AsDouble();
        record.recomputedValue = mark == Mark::B ? 0 : rv.AsDouble();
        record.columnIndex = static_cast<std::int16_t>(i);
        RecordDifference(sinks, record, !rowRecorded);
      }

      if (mayCorrect) {
        const db::StatementScope correcting(db::Purpose::kCorrect);
        if (!conditionSplit) {
          condition = SplitCondition(condition, keyColumnList, keyValueList);
          conditionSplit = true;
        }
        const std::string& column = stoFields[i].Name();
        // Every correction carries what the comparison read as its guard, so that it changes
        // nothing where the host has written the row since: an UPDATE only while the column still
        // holds the value compared, an INSERT only while no row under the keys exists. A later
        // column of a row this run inserted finds that row holding the column's default.
        std::string statement;
        double listedAmount = 0;
        const std::string where = condition.empty() ? "" : condition + " AND ";
        if (mark == Mark::Matched) {
          statement = "UPDATE " + ledgerTable + " SET " + column + "=" + rv.AsText() + " WHERE " +
                      where + StillHoldsCondition(column, sv.AsDouble());
          listedAmount = ExactDifference(sv.AsDouble(), rv.AsDouble());
        } else if (mark == Mark::B) {
          statement = "UPDATE " + ledgerTable + " SET " + column + "=" + "0" + " WHERE " + where +
                      StillHoldsCondition(column, sv.AsDouble());
          listedAmount = sv.AsDouble();
        } else if (!rowInserted) {
          statement = InsertWhereAbsentSql(ledgerTable, keyColumnList + "," + column,
                                           keyValueList + "," + rv.AsText(),
                                           condition.empty() ? "1=1" : condition);
          listedAmount = -rv.AsDouble();
        } else {
          statement = "UPDATE " + ledgerTable + " SET " + column + "=" + rv.AsText() + " WHERE " +
                      where + StillHoldsCondition(column, 0);
          listedAmount = -rv.AsDouble();
        }
        const bool ran = ExecuteSql(ctx, statement);
        const bool stands = ran && ctx.conn().RowsAffected() != 0;
        if (stands && mark == Mark::A) rowInserted = true;
        if (!stands) {
          const std::string& caption = ValueCaption(ctx, recFields[i].Name(), stoFields[i].Name());
          // A guard that held the statement back is no failed correction: the row moved on since
          // it was read, and is listed apart. Only a statement that found no row at all under
          // its keys is listed as the correction that did not stand.
          const bool changed =
              ran && (mark == Mark::A || RowsUnder(ctx.conn(), ledgerTable, condition) > 0);
          AddDifferenceLine(screen,
                            changed ? caption + std::string(kChangedSinceCompared) : caption,
                            RoundHalfEven(listedAmount, 2));
        }
      }
      rowRecorded = true;
    }

    if (mark != Mark::B) recomputed.MoveNext();
    if (mark != Mark::A) stored.MoveNext();
  }

  if (differences > 0) {
    AddDifferenceLine(screen, "检查并更新" + std::to_string(differences) + "笔差异!", 0);
  }
  return differences == 0;
}

}  // namespace tallyvet
