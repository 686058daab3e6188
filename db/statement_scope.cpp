#include "db/statement_scope.h"

namespace tallyvet::db {

namespace {

thread_local Purpose t_purpose = Purpose::kOther;
thread_local int t_item = 0;

}  // namespace

const char* PurposeName(Purpose purpose) {
  switch (purpose) {
    case Purpose::kOther:
      return "other";
    case Purpose::kDerive:
      return "derive";
    case Purpose::kProbe:
      return "probe";
    case Purpose::kRecompute:
      return "recompute";
    case Purpose::kStored:
      return "stored";
    case Purpose::kCount:
      return "count";
    case Purpose::kCauses:
      return "causes";
    case Purpose::kDocumentList:
      return "document_list";
    case Purpose::kRegister:
      return "register";
    case Purpose::kCorrect:
      return "correct";
    case Purpose::kRebuild:
      return "rebuild";
    case Purpose::kAdjust:
      return "adjust";
    case Purpose::kJournal:
      return "journal";
  }
  return "other";
}

StatementScope::StatementScope(Purpose purpose)
    : previous_purpose_(t_purpose), previous_item_(t_item) {
  t_purpose = purpose;
}

StatementScope::StatementScope(Purpose purpose, int item)
    : previous_purpose_(t_purpose), previous_item_(t_item) {
  t_purpose = purpose;
  t_item = item;
}

StatementScope::~StatementScope() {
  t_purpose = previous_purpose_;
  t_item = previous_item_;
}

Purpose StatementScope::CurrentPurpose() {
  return t_purpose;
}

int StatementScope::CurrentItem() {
  return t_item;
}

}  // namespace tallyvet::db
