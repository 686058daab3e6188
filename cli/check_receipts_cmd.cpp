// tallyvet check-receipts: the receipt cost audit without a screen. It drives the same screen state
// the window shows (the checks behind button 0, then the adjustment behind it), prints the flagged
// lines as a table or as JSON lines, and with --adjust repairs them after a confirmation.
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/host_connection.h"
#include "cli/terminal_message_box.h"
#include "cli/terminal_progress.h"
#include "receipt_audit/adjustment_preview.h"
#include "receipt_audit/check_activity_screen.h"
#include "receipt_audit/finding_output.h"
#include "receipt_audit/receipt_sql.h"
#include "shell/host_context.h"

namespace tallyvet::cli {

namespace {

using receipt_audit::AdjustmentOutcome;
using receipt_audit::CheckActivityScreen;
using receipt_audit::CheckFinding;
using receipt_audit::IntegerOrText;

struct CheckReceiptsOptions {
  HostOptions host;
  bool json = false;
  bool adjust = false;
  bool yes = false;
  bool dryRun = false;
  std::string reportDir;
};

// A period as the screens show it: year, ".", two-digit period.
std::string PeriodText(const std::string& year, const std::string& period) {
  return year + "." + (period.size() == 1 ? "0" + period : period);
}

const CheckFinding* FindingOfRow(const CheckActivityScreen& screen, int gridRow) {
  for (const CheckFinding& f : screen.Findings()) {
    if (f.gridRow == gridRow) return &f;
  }
  return nullptr;
}

void PrintFindings(const CheckActivityScreen& screen, bool json) {
  const auto& findings = screen.Findings();
  if (json) {
    for (const CheckFinding& f : findings)
      std::cout << receipt_audit::FindingJson(f).dump() << "\n";
    return;
  }
  if (findings.empty()) {
    std::cout << "No document line flagged.\n";
    return;
  }
  std::cout << receipt_audit::FindingTableHeader() << "\n";
  for (const CheckFinding& f : findings) {
    std::cout << receipt_audit::FindingTableLine(f) << "\n";
  }
  std::cout << findings.size() << " document line(s) flagged.\n";
}

std::string UpdateOutcomeText(const AdjustmentOutcome::AverageCostUpdate& u, bool preview) {
  if (u.statement.empty()) return "no line";
  if (u.changed) return "changed";
  if (!u.ok) return receipt_audit::kFailedMark;
  return preview ? "would update" : "ok";
}

void PrintOutcome(const CheckActivityScreen& screen, const AdjustmentOutcome& outcome, bool json,
                  bool preview) {
  for (const auto& w : outcome.writeBacks) {
    const CheckFinding* f = FindingOfRow(screen, w.gridRow);
    const std::string id = f ? f->lngActivityDetailID : "";
    const std::string kind = f ? f->kind : "";
    // "changed": the line moved on since the checks read it, and was left as it is.
    const std::string result = w.changed ? std::string("changed")
                               : !w.ok   ? std::string(receipt_audit::kFailedMark)
                               : preview ? "would write"
                                         : "ok";
    if (json) {
      std::cout << nlohmann::json{{"event", "writeBack"},
                                  {"lngActivityDetailID", IntegerOrText(id)},
                                  {"kind", kind},
                                  {"outcome", result},
                                  {"statement", w.statement}}
                       .dump()
                << "\n";
    } else {
      std::cout << "write-back " << id << " " << kind << ": " << result;
      if (preview) std::cout << "\n  " << w.statement;
      std::cout << "\n";
    }
  }
  for (const auto& u : outcome.averageCostUpdates) {
    const std::string result = UpdateOutcomeText(u, preview);
    if (json) {
      std::cout << nlohmann::json{{"event", "averageCost"},
                                  {"intYear", IntegerOrText(u.intYear)},
                                  {"bytPeriod", IntegerOrText(u.bytPeriod)},
                                  {"lngItemID", IntegerOrText(u.lngItemID)},
                                  {"lngPositionGroupID", IntegerOrText(u.lngPositionGroupID)},
                                  {"lngActivityDetailID", IntegerOrText(u.lngActivityDetailID)},
                                  {"strDate", u.strDate},
                                  {"difference", u.difference},
                                  {"outcome", result},
                                  {"statement", u.statement}}
                       .dump()
                << "\n";
    } else {
      std::cout << "average cost " << PeriodText(u.intYear, u.bytPeriod) << " item " << u.lngItemID;
      if (!u.lngPositionGroupID.empty()) std::cout << " group " << u.lngPositionGroupID;
      std::cout << ": " << result;
      if (!u.statement.empty()) {
        std::cout << " (line " << u.lngActivityDetailID << " of " << u.strDate << ", "
                  << receipt_audit::NumberText(u.difference) << ")";
      }
      if (preview && !u.statement.empty()) std::cout << "\n  " << u.statement;
      std::cout << "\n";
    }
  }
  if (json) {
    nlohmann::json j = {{"event", "adjustment"},
                        {"dryRun", preview},
                        {"earliestDate", outcome.earliestDate},
                        {"reregistered", nullptr}};
    if (outcome.reregistered) j["reregistered"] = *outcome.reregistered;
    if (outcome.averageCostError) j["averageCostError"] = *outcome.averageCostError;
    if (outcome.reregistrationError) j["reregistrationError"] = *outcome.reregistrationError;
    if (outcome.rolledBack) j["rolledBack"] = *outcome.rolledBack;
    if (!outcome.journal.empty()) j["journal"] = outcome.journal.string();
    if (!outcome.undoScript.empty()) j["undoScript"] = outcome.undoScript.string();
    std::cout << j.dump() << "\n";
    return;
  }
  std::cout << "earliest date: " << outcome.earliestDate << "\n";
  if (preview) {
    std::cout << "stock ledger: would be re-registered from " << outcome.earliestDate
              << " (dry run: nothing changed)\n";
  } else if (outcome.rolledBack) {
    std::cout << "adjustment rolled back: " << *outcome.rolledBack << "\n";
  } else if (outcome.reregistered.value_or(false)) {
    std::cout << "stock ledger: re-registered from " << outcome.earliestDate << "\n";
  }
  int changed = 0;
  for (const auto& w : outcome.writeBacks) changed += w.changed ? 1 : 0;
  for (const auto& u : outcome.averageCostUpdates) changed += u.changed ? 1 : 0;
  if (changed > 0) {
    std::cout << changed
              << " line(s) changed since the checks read them and were left as they "
                 "are; check again\n";
  }
  if (!outcome.journal.empty()) std::cerr << "journal: " << outcome.journal.string() << "\n";
  if (!outcome.undoScript.empty()) {
    std::cerr << "undo script: " << outcome.undoScript.string() << "\n";
  }
}

int RunCheckReceipts(const CheckReceiptsOptions& o, HostConnection& host) {
  // An adjustment keeps a journal of the stock ledger's rebuild: its folder is checked first.
  const std::filesystem::path journalFolder =
      o.adjust && !o.dryRun ? ReportFolder(o.reportDir) : std::filesystem::path();
  db::Connection& conn = *host.connection();
  HostContext ctx;
  ctx.connection = host.connection();
  ctx.user = o.host.user;

  TerminalProgress progress;
  TerminalMessageBox messages(progress);
  CheckActivityScreen screen(ctx, messages);
  screen.SetRepaintHook([&](CheckActivityScreen::Part part) {
    if (part == CheckActivityScreen::Part::Notes) progress.SetNotes(screen.lblNotes());
    if (part == CheckActivityScreen::Part::Progress) progress.ShowProgress(screen.ProgressValue());
  });
  screen.Form_Load();

  screen.cmdRpt_Click(0);  // the checks
  progress.Finish();
  if (screen.cmdRpt(0).caption != receipt_audit::kCaptionStartAdjust) {
    std::cerr << "tallyvet: check-receipts: " << screen.LastError() << "\n";
    screen.cmdRpt_Click(1);
    return kError;
  }
  PrintFindings(screen, o.json);
  int status = screen.Findings().empty() ? kClean : kFindings;
  if (!o.adjust) {
    screen.cmdRpt_Click(1);
    return status;
  }

  const AdjustmentOutcome* outcome = nullptr;
  AdjustmentOutcome preview;
  if (o.dryRun) {
    preview = receipt_audit::PreviewCostAdjustment(screen, conn);
    outcome = &preview;
  } else {
    if (!o.yes) {
      const std::string question =
          "Write back " + std::to_string(screen.Findings().size()) +
          " flagged line(s), update average costs and re-register the stock ledger from " +
          screen.EarliestDate() + " (or earlier)?";
      if (!messages.AskYesNo(question, "check-receipts")) {
        std::cerr << "tallyvet: check-receipts: adjustment not confirmed; nothing changed\n";
        screen.cmdRpt_Click(1);
        return kError;
      }
    }
    screen.SetJournalFolder(journalFolder);
    screen.cmdRpt_Click(0);  // the adjustment
    outcome = &*screen.LastAdjustment();
  }
  progress.Finish();
  PrintOutcome(screen, *outcome, o.json, o.dryRun);
  // The message box has already put the database's message on standard error.
  if (outcome->rolledBack || outcome->averageCostError || outcome->reregistrationError) {
    status = kError;
  }
  // A line left alone because it changed since the checks: not clean, and the next check shows
  // where it stands.
  for (const auto& w : outcome->writeBacks) {
    if (w.changed && status == kClean) status = kFindings;
  }
  screen.cmdRpt_Click(1);
  return status;
}

}  // namespace

void AddCheckReceiptsCommand(CLI::App& app) {
  auto o = std::make_shared<CheckReceiptsOptions>();
  CLI::App* sub = app.add_subcommand(
      "check-receipts",
      "List document lines whose cost figures disagree; with --adjust, repair them, update "
      "average costs and re-register the stock ledger");
  AddHostOptions(*sub, o->host);
  sub->add_flag("--json", o->json, "one JSON object per line instead of a table");
  CLI::Option* adjust =
      sub->add_flag("--adjust", o->adjust, "adjust every flagged line after the checks");
  CLI::Option* yes = sub->add_flag("--yes", o->yes, "adjust without asking")->needs(adjust);
  sub->add_flag("--dry-run", o->dryRun, "print what the adjustment would write; change nothing")
      ->needs(adjust)
      ->excludes(yes);
  sub->add_option("--report-dir", o->reportDir,
                  "folder of the stock ledger rebuild's journal and undo script, created when "
                  "missing (default: the current folder)");
  sub->callback([o] {
    HostConnection host(o->host);
    ExitStatus() = RunCheckReceipts(*o, host);
    host.Finish();
  });
}

}  // namespace tallyvet::cli
