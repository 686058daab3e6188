#include "ledger_engine/comparison.h"

#include <exception>
#include <memory>
#include <optional>

#include "db/row_pipe.h"
#include "db/text.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"
#include "ledger_engine/server_comparison.h"

namespace tallyvet {

namespace {

constexpr const char* kCrLf = "\r\n";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads 1 to `maxDigits` digits at `p`; false when there is none.
bool ReadNumber(std::string_view s, std::size_t& p, std::size_t maxDigits, int& value) {
  const std::size_t start = p;
  value = 0;
  while (p < s.size() && IsDigit(s[p]) && p - start < maxDigits) {
    value = value * 10 + (s[p] - '0');
    ++p;
  }
  return p > start;
}

// The two results of an item read at once, each from its own pipe, taking whichever side has rows
// (one step per row, as StepThrough). A result is made only when its first rows are there: making
// it takes its first row, and the recompute gives none until it has done most of its work.
struct BothSides {
  std::unique_ptr<db::Recordset> recomputed, stored;
};

BothSides ReadBothSides(db::RowPipe& recomputedPipe, const std::string& recomputedSql,
                        db::RowPipe& storedPipe, const std::string& storedSql,
                        std::size_t spillThreshold, const db::PipeSignal& signal,
                        ProgressStepper& stepper) {
  BothSides both;
  struct Side {
    db::RowPipe& pipe;
    const std::string& sql;
    std::unique_ptr<db::Recordset>& rs;
    bool done = false;
  };
  Side sides[] = {{storedPipe, storedSql, both.stored},
                  {recomputedPipe, recomputedSql, both.recomputed}};
  constexpr int kRowsPerTurn = 256;  // then the other side gets its turn
  while (!sides[0].done || !sides[1].done) {
    const std::uint64_t seen = signal.Events();
    bool moved = false;
    for (Side& side : sides) {
      for (int n = 0; n < kRowsPerTurn && !side.done && side.pipe.Ready(); ++n) {
        if (side.rs == nullptr) {
          side.rs = std::make_unique<db::Recordset>(side.pipe.Reader(), spillThreshold, side.sql);
        } else {
          side.rs->MoveNext();
        }
        if (!side.rs->Eof()) stepper.Step();
        side.done = side.rs->Eof();
        moved = true;
      }
    }
    if (!moved) signal.WaitPast(seen);
  }
  return both;
}

}  // namespace

bool IsValidDate(std::string_view untrimmed) {
  const std::string text = db::TrimBlanks(untrimmed);
  std::size_t p = 0;
  int year = 0, month = 0, day = 0;
  if (!ReadNumber(text, p, 4, year) || p != 4) return false;
  if (p >= text.size() || (text[p] != '-' && text[p] != '/')) return false;
  const char separator = text[p++];
  if (!ReadNumber(text, p, 2, month)) return false;
  if (p >= text.size() || text[p] != separator) return false;
  ++p;
  if (!ReadNumber(text, p, 2, day) || p != text.size()) return false;
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = month == 2 && leap ? 29 : kDays[month - 1];
  return day <= last;
}

int KeyCountFromPositions(std::string_view positions) {
  const std::size_t n = positions.size();
  if (n >= 2 && IsDigit(positions[n - 2]) && IsDigit(positions[n - 1])) {
    return (positions[n - 2] - '0') * 10 + (positions[n - 1] - '0');
  }
  if (n >= 1 && IsDigit(positions[n - 1])) return positions[n - 1] - '0';
  return 0;
}

std::string DateConditionBeforeGroupBy(int item, const std::string& startDate,
                                       const std::string& endDate) {
  const std::string column = item == 6 ? "NVL(ItemActivity.strDate,' ')" : "strDate";
  return " AND " + DateRangeCondition(column, startDate, endDate) + " GROUP BY";
}

std::string RecomputeStatement(std::string_view selectSql, std::string_view positions, int item,
                               const std::string& startDate, const std::string& endDate) {
  std::string sql(selectSql);
  if (sql.find("ORDER BY") == std::string::npos) {
    sql += " ORDER BY ";
    sql += positions;
  }
  return RecomputeBody(sql, item, startDate, endDate);
}

std::string RecomputeBody(std::string_view selectSql, int item, const std::string& startDate,
                          const std::string& endDate) {
  return db::ReplaceAll(db::UpperAscii(selectSql), "GROUP BY",
                        DateConditionBeforeGroupBy(item, startDate, endDate));
}

std::string StoredBody(std::string_view insertColumns, std::string_view ledgerTable,
                       const std::string& startDate, const std::string& endDate) {
  return "SELECT " + std::string(insertColumns) + " FROM " + std::string(ledgerTable) + " WHERE " +
         DateRangeCondition("strDate", startDate, endDate);
}

std::string StoredStatement(std::string_view insertColumns, std::string_view ledgerTable,
                            const std::string& startDate, const std::string& endDate,
                            std::string_view positions) {
  return StoredBody(insertColumns, ledgerTable, startDate, endDate) + " ORDER BY " +
         std::string(positions);
}

std::string CountStatement(std::string_view ledgerTable, const std::string& startDate,
                           const std::string& endDate) {
  return "SELECT COUNT(*) FROM " + std::string(ledgerTable) + " WHERE " +
         DateRangeCondition("strDate", startDate, endDate);
}

std::string SectionHeading(std::string_view caption) {
  const std::string rule(10, '=');
  return rule + "差额明细（" + std::string(caption) + ")" + rule;
}

TextReportSink::TextReportSink(const ReportFile& report, ProgressScreen& screen)
    : report_(report), screen_(screen) {
  if (const auto* list = screen_.List1()) listBefore_ = *list;
}

std::string TextReportSink::DifferenceLine(const DifferenceRecord& record) {
  return "    " + OneLineKeyDescription(record.keyDescription) + "  " + record.columnCaption +
         "  汇总数：" + db::RoundedText(record.storedValue) + "  明细数：" +
         db::RoundedText(record.recomputedValue) + "  差额：" +
         db::RoundedText(ExactDifference(record.storedValue, record.recomputedValue)) + kCrLf;
}

void TextReportSink::RecordDifference(const DifferenceRecord& record, bool /*firstInRow*/) {
  report_.AppendReportText(DifferenceLine(record));
}

void TextReportSink::EndItem(int /*item*/) {
  const auto* list = screen_.List1();
  if (list == nullptr) return;
  // The list runs on over the items of a run: the section gets what this item added or changed.
  std::string text;
  for (std::size_t k = 0; k < list->size(); ++k) {
    if (k >= listBefore_.size() || (*list)[k] != listBefore_[k]) text += (*list)[k] + kCrLf;
  }
  listBefore_ = *list;
  if (!text.empty()) report_.AppendReportText(text);
}

std::int32_t CountLedgerRows(HostContext& ctx, int item, const std::string& startDate,
                             const std::string& endDate) {
  const db::StatementScope counting(db::Purpose::kCount, item);
  const std::string& table = ctx.CheckItems.LedgerTable[CheckItemTable::Index(item)];
  auto rs = ctx.conn().OpenResultset(CountStatement(table, startDate, endDate), 3);
  std::int32_t count = 0;
  if (!rs->Eof()) count = static_cast<std::int32_t>(rs->Fields()[0].Value().AsInteger());
  rs->Close();
  return count;
}

bool CompareLedger(HostContext& ctx, ProgressScreen& screen, const ReportFile& report, int item,
                   std::string startDate, const std::string& endDate, bool writeReport,
                   bool correct, const std::vector<DifferenceSink*>& sinks, std::string* error,
                   db::Connection* storedSide) {
  if (error != nullptr) error->clear();
  const db::StatementScope comparing(db::Purpose::kOther, item);

  std::optional<TextReportSink> textSink;
  std::vector<DifferenceSink*> runSinks;
  if (writeReport) {
    textSink.emplace(report, screen);
    runSinks.push_back(&*textSink);
  }
  runSinks.insert(runSinks.end(), sinks.begin(), sinks.end());

  bool headingWritten = false;
  const auto writeHeading = [&] {
    report.AppendReportText(SectionHeading(screen.ItemCaption(item - 1)));
    headingWritten = true;
    report.AppendReportText(kCrLf);
  };

  bool agreed = false;
  try {
    ProgressStepper stepper(screen);
    stepper.Reset();
    screen.SetNotes("正在准备数据.....");

    CheckItemTable& items = ctx.CheckItems;
    const std::size_t index = CheckItemTable::Index(item);
    const std::string ledgerTable = db::UpperAscii(items.LedgerTable[index]);
    if (item == 4 && !IsValidDate(startDate)) startDate = ctx.AccountStartDate;
    // A statement the derivation refused is never run: its message says what the source lacks.
    RequireRunnableStatement(items, item);

    std::string keyColumns, positions;
    GetKeyColumns(items, item, keyColumns, positions);
    const int keyCount = KeyCountFromPositions(positions);

    const std::string recomputeSql =
        RecomputeStatement(items.SelectSql[index], positions, item, startDate, endDate);
    std::unique_ptr<db::Recordset> recomputed, stored;
    std::string unused;
    // A column left out is a column not compared: the summary list (and so the report and the
    // command's output) says which.
    const auto noticeColumnsLeftOut = [&](const db::Recordset& shape) {
      const auto left = ColumnsLeftOut(shape, items.InsertColumns[index]);
      if (left.empty()) return;
      const std::string notice = ColumnsLeftOutNotice(item, left, "comparison");
      if (auto* list = screen.List1()) {
        list->push_back(notice);
        screen.RefreshList1();
      }
      for (DifferenceSink* sink : sinks) {
        if (sink != nullptr) sink->Notice(item, notice);
      }
    };
    // A statement takes its purpose when it starts; its rows are read after the scope ends.
    const auto as = [](db::Purpose purpose, auto&& open) {
      const db::StatementScope scope(purpose);
      return open();
    };
    // On a server the server merges first: only the rows the merge could count come back. An
    // item it cannot take is merged here as everywhere, to the same result.
    bool onServer = false;
    std::size_t storedRows = 0;
    if (ComparesOnServer(ctx)) {
      ServerSides server = as(db::Purpose::kRecompute, [&] {
        return ReadSidesOnServer(ctx, screen, stepper, item, keyCount, startDate, endDate);
      });
      onServer = server.recomputed != nullptr;
      if (onServer) {
        noticeColumnsLeftOut(*db::Recordset::FromRows(server.recomputedShape, {}));
        recomputed = std::move(server.recomputed);
        stored = std::move(server.stored);
        storedRows = server.storedRows;
      } else {
        for (DifferenceSink* sink : sinks) {
          if (sink != nullptr) sink->ClientMerge(item, server.reason);
        }
        screen.SetNotes("正在准备数据.....");
      }
    }
    if (!onServer && storedSide == nullptr) {
      // Both sides from one committed state: read apart, a document posted and its ledger row
      // registered by the host between the two would show as a difference that is none, and a
      // registration would then "correct" a right row.
      const db::ReadView view(ctx.conn());
      recomputed =
          as(db::Purpose::kRecompute, [&] { return ctx.conn().OpenResultset(recomputeSql, 3, 3); });
      StepThrough(*recomputed, stepper);
      items.InsertColumns[index] = MatchInsertColumns(*recomputed, items, item, unused);
      noticeColumnsLeftOut(*recomputed);
      stored = as(db::Purpose::kStored, [&] {
        return ctx.conn().OpenResultset(
            StoredStatement(items.InsertColumns[index], ledgerTable, startDate, endDate, positions),
            3, 3);
      });
      StepThrough(*stored, stepper);
    } else if (!onServer) {
      // The stored statement's columns follow the recompute's, which are known once it is
      // prepared: both start before either gives a row.
      const auto signal = std::make_shared<db::PipeSignal>();
      db::RowPipe recomputedPipe(
          as(db::Purpose::kRecompute, [&] { return ctx.conn().OpenRowSource(recomputeSql); }),
          signal);
      const auto shape = db::Recordset::FromRows(recomputedPipe.Columns(), {});
      items.InsertColumns[index] = MatchInsertColumns(*shape, items, item, unused);
      noticeColumnsLeftOut(*shape);
      const std::string storedSql =
          StoredStatement(items.InsertColumns[index], ledgerTable, startDate, endDate, positions);
      db::RowPipe storedPipe(
          as(db::Purpose::kStored, [&] { return storedSide->OpenRowSource(storedSql); }), signal);
      BothSides both = ReadBothSides(recomputedPipe, recomputeSql, storedPipe, storedSql,
                                     ctx.conn().SpillThreshold(), *signal, stepper);
      recomputed = std::move(both.recomputed);
      stored = std::move(both.stored);
      // ctx's connection is used again below: its reading thread must be over.
      recomputedPipe.Join();
      storedPipe.Join();
    }
    recomputed->MoveFirst();
    stored->MoveFirst();

    if (writeReport) writeHeading();
    screen.SetNotes("检查明细数据差异.....");

    DifferenceRecord record;
    record.item = static_cast<std::int16_t>(item);
    record.spare = 0;
    // The progress figure's denominator: the stored rows the merge will walk.
    std::int32_t storedRowCount = onServer ? static_cast<std::int32_t>(storedRows)
                                           : CountLedgerRows(ctx, item, startDate, endDate);
    agreed = CompareRows(ctx, screen, *recomputed, *stored, keyCount, item, storedRowCount,
                         writeReport, correct, record, runSinks);
    recomputed->Close();
    stored->Close();
  } catch (const std::exception& e) {
    // A run that stops is not clean, and unlike a run with differences it says why: in the
    // item's section of the report and to the caller.
    agreed = false;
    if (error != nullptr) *error = e.what();
    if (writeReport) {
      try {
        if (!headingWritten) writeHeading();
        report.AppendReportText(std::string("    对账出错：") + e.what() + kCrLf);
      } catch (const std::exception&) {
        // The report cannot take the message either; the caller still has it in `error`.
      }
    }
  }

  for (DifferenceSink* sink : runSinks) {
    if (sink == nullptr) continue;
    try {
      sink->EndItem(item);
    } catch (const std::exception& e) {
      // A sink that cannot close its item leaves the run unfinished in its output.
      agreed = false;
      if (error != nullptr && error->empty()) *error = e.what();
    }
  }
  return agreed;
}

bool RunComparison(HostContext& ctx, ProgressScreen& screen, const ReportFile& report, int item,
                   const std::string& startDate, const std::string& endDate, bool writeReport,
                   bool correct, const std::vector<DifferenceSink*>& sinks, std::string* error) {
  if (!writeReport) {
    return CompareLedger(ctx, screen, report, item, startDate, endDate, false, correct, sinks,
                         error);
  }
  report.WriteReportHeader(ctx);
  const bool agreed =
      CompareLedger(ctx, screen, report, item, startDate, endDate, true, correct, sinks, error);
  report.WriteReportFooter();
  return agreed;
}

}  // namespace tallyvet
