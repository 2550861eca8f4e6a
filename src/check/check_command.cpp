#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "check/check_command.h"
#include "check/check_locks.h"
#include "check/check_stage.h"
#include "session/ask.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/server_lock.h"
#include "session/sql_exec.h"

namespace {

// A lock left behind by a crashed server would block the check forever,
// so the operator may break it here; it is removed outside the check's
// transaction so that it stays removed whatever happens to the repairs.
bool LockCleared() {
  UnlockOutcome outcome = OfferUnlock();
  return outcome == UnlockOutcome::kNotLocked || outcome == UnlockOutcome::kRemoved;
}

// The server may roll the check's transaction back on its own (a
// deadlock, a cluster's replication conflict): nothing of the repairs is
// kept then, and a summary or a commit would claim otherwise.
bool CheckAborted() {
  if (!TransactionRolledBackByServer()) return false;
  DBRollback(DbHandle);
  printf("Database check %s\n", "aborted");
  return true;
}

// True when the database is left without the defects found: none were
// found, or all were repaired and the repairs committed. A commit that
// the server refused with a rollback sets aborted.
bool FinishTransaction(bool &aborted) {
  if (ErrorsFound == 0) {
    printf("Database doesn't contain any errors\n");
    if (!DBCommit(DbHandle)) aborted = TransactionRolledBackByServer();
    return !aborted;
  }
  printf("%d errors was found, %d errors was corrected\n", ErrorsFound, ErrorsFixed);
  printf(ErrorsFound == ErrorsFixed ? "All errors in database was fixed\n"
                                    : "Database still contain errors\n");
  if (ErrorsFixed <= 0) {
    DBRollback(DbHandle);
    return false;
  }
  if (AskYesNo("Commit changes?")) {
    printf("Committing changes...\n");
    if (!DBCommit(DbHandle)) {
      aborted = TransactionRolledBackByServer();
      return false;
    }
    printf("Changes was successfully committed to database\n");
    return ErrorsFound == ErrorsFixed;
  }
  printf("Rolling back changes...\n");
  if (DBRollback(DbHandle)) printf("All changes made to database was cancelled\n");
  return false;
}

struct HandleCloser {
  void operator()(db_handle_t handle) const { DBDisconnect(handle); }
};

}  // namespace

bool RunCheckCommand() {
  printf("Checking database (%s collected data):\n", CheckCollectedData ? "including" : "excluding");
  std::unique_ptr<db_handle_s, HandleCloser> counter(CheckCollectedData ? OpenCollectedDataCounter()
                                                                        : nullptr);
  if (!CheckSchemaVersionIsCurrent() || !LockCleared() ||
      (CheckCollectedData && counter == nullptr && !CheckLockTableRoom("this check", EstimateCheckLocks))) {
    printf("Database check %s\n", "aborted");
    return false;
  }

  // A stage that could not read what it checks leaves defects unknown.
  const int sqlErrorsAtStart = ReportedSqlErrors();
  DBBegin(DbHandle);
  const std::function<void()> checks[] = {
      CheckZones,
      CheckNodes,
      [] { CheckComponents("interface", "interfaces"); },
      [] { CheckComponents("network service", "network_services"); },
      CheckClusters,
      CheckTemplateNodeMapping,
      CheckObjectProperties,
      CheckEventPolicy,
      [&counter] {
        if (CheckCollectedData) CheckDataTimestamps(counter != nullptr ? counter.get() : DbHandle);
      },
  };
  for (const auto &check : checks) {
    check();
    if (CheckAborted()) return false;
  }

  bool aborted = false;
  const bool clean = FinishTransaction(aborted);
  if (aborted) {
    DBRollback(DbHandle);
    printf("Database check %s\n", "aborted");
    return false;
  }
  printf("Database check %s\n", "completed");
  return clean && ReportedSqlErrors() == sqlErrorsAtStart;
}
