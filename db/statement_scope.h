// What the statements a thread starts are for, for the statement trace: the engine sets a scope
// around each of its phases (derive, recompute, register, ...), and a traced connection reads it
// when a statement starts. Kept per thread, since items run on threads of their own.
#pragma once

namespace tallyvet::db {

// What a statement is for.
enum class Purpose {
  kOther,
  kDerive,        // reading the stored source the ledger SQL is cut from
  kProbe,         // a statement restricted to no row, for its result's shape
  kRecompute,     // a ledger recomputed from the documents
  kStored,        // the stored ledger rows
  kCount,         // counting rows
  kCauses,        // the document lines behind a difference
  kDocumentList,  // the documents behind a difference, for the screen
  kRegister,      // a marked difference written into its ledger
  kCorrect,       // a difference corrected during the comparison
  kRebuild,       // a ledger deleted and inserted anew
  kAdjust,        // document costs rewritten
  kJournal,       // rows read for a journal's undo script
};

// "derive", "document_list", ...: the name a trace line carries.
const char* PurposeName(Purpose purpose);

// The purpose (and item) of the statements this thread starts while the scope lives; the one in
// force before comes back when it ends. Scopes nest. Costs two thread-local stores.
class StatementScope {
 public:
  // Keeps the item in force.
  explicit StatementScope(Purpose purpose);
  // `item`: the check item (1 to 6) the statements belong to; 0 for none.
  StatementScope(Purpose purpose, int item);
  ~StatementScope();
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

  // What is in force on the calling thread.
  static Purpose CurrentPurpose();
  static int CurrentItem();

 private:
  Purpose previous_purpose_;
  int previous_item_;
};

}  // namespace tallyvet::db
