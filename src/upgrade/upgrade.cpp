#include <cstdio>
#include <string>

#include "session/globals.h"
#include "session/server_lock.h"
#include "session/sql_exec.h"
#include "upgrade/rehearsal.h"
#include "upgrade/rehearsal_copy.h"
#include "upgrade/statement_journal.h"
#include "upgrade/steps.h"
#include "upgrade/upgrade_chain.h"
#include "upgrade/upgrade_command.h"

namespace {

// Runs the step in the open transaction, under its journal where the
// dialect needs one. Returns false when the step must be rolled back.
bool RunStep(const UpgradeStep &step, int version) {
  if (!UpgradeNeedsJournal()) return RunUpgradeStep(step, version) != 0 && !TransactionRolledBackByServer();
  StepJournal journal(version, step.to);
  // A step that went on past a failure (-X) cannot go past the server
  // rolling back its transaction: what it did since its last schema
  // statement is gone.
  return journal.open() && RunUpgradeStep(step, version) != 0 && !TransactionRolledBackByServer() &&
         journal.close();
}

}  // namespace

bool ReadyToUpgrade(int version) {
  if (version == kToolSchemaVersion) {
    printf("Your database format is up to date\n");
    return false;
  }
  if (version > kToolSchemaVersion) {
    ReportNewerDatabase(version);
    return false;
  }
  if (IsLocked()) {
    printf("Database is locked\n");
    return false;
  }
  return true;
}

ChainRun RunUpgradeChain(int version, int target) {
  ChainRun run{.reached = version};
  if (UpgradeNeedsJournal() && !CreateJournalTable()) return run;
  // Only the first step can be a bridge that an interrupted run left
  // past its start; every later one starts where a committed step ended.
  int resumeFrom = UpgradeNeedsJournal() ? InterruptedStepAround(version) : 0;
  while (version < target) {
    const int from = resumeFrom != 0 ? resumeFrom : version;
    resumeFrom = 0;
    const UpgradeStep *step = FindUpgradeStep(from);
    if (step == nullptr) {
      printf("Unable to find upgrade procedure for version %d\n", version);
      break;
    }
    printf("Upgrading from version %d to %d\n", from, step->to);
    fflush(stdout);
    const int errorsBefore = ReportedSqlErrors();
    DBBegin(DbHandle);
    bool ok = RunStep(*step, from);
    // Under -X a step whose version write failed still succeeds; with the
    // version unchanged the same step would be chosen again without end,
    // so such a step counts as failed, before anything is committed. The
    // version read here is the one the commit makes final.
    int reached = ok ? DBGetSchemaVersion(DbHandle) : version;
    if (reached <= version) ok = false;
    if (!ok) {
      printf("Rolling back last stage due to upgrade errors...\n");
      DBRollback(DbHandle);
    } else if (!DBCommit(DbHandle)) {
      // The engine has undone the step; going on would run it again.
      ReportSqlError(DBGetLastError(DbHandle), "COMMIT");
      // The server may have refused it with a rollback; nothing is to be
      // sent in that transaction any more.
      DBRollback(DbHandle);
      ok = false;
    }
    if (!ok) {
      run.failedFrom = from;
      run.failedTo = step->to;
      run.failedWithSqlError = ReportedSqlErrors() > errorsBefore;
      break;
    }
    version = reached;
    run.steps++;
  }
  run.reached = version;
  if (version == target && UpgradeNeedsJournal()) DropJournalTable();
  return run;
}

namespace {

bool Upgrade(int target, const char *backup, BackupWriter writeBackup) {
  printf("Upgrading database...\n");
  const int version = DBGetSchemaVersion(DbHandle);
  if (backup != nullptr && version <= kToolSchemaVersion && !IsLocked() && !writeBackup(backup)) {
    printf("Database upgrade failed: no backup was taken, and the database was not changed\n");
    return false;
  }
  if (!ReadyToUpgrade(version)) {
    // A run killed between its last commit and its end leaves the
    // journal behind.
    if (version == kToolSchemaVersion && UpgradeNeedsJournal()) DropJournalTable();
    return version == kToolSchemaVersion;
  }
  DropLeftRehearsalCopy();  // a failure is reported and stops nothing
  const bool ok = RunUpgradeChain(version, target).reached == target;
  printf("Database upgrade %s\n", ok ? "succeeded" : "failed");
  if (!ok && backup != nullptr)
    printf(
        "The database as it was before this upgrade is in the backup %s; to restore it, run \"tvdbmgr "
        "import %s\" with a tvdbmgr built for schema version %d, on a database initialised at that "
        "version.\n",
        backup, backup, version);
  return ok;
}

}  // namespace

bool RunUpgradeCommand(BackupWriter writeBackup) {
  if (RehearseUpgrade) return RehearseUpgradeTo(kToolSchemaVersion);
  return Upgrade(kToolSchemaVersion, UpgradeBackupFile, writeBackup);
}

bool UpgradeDatabaseTo(int target) { return Upgrade(target, nullptr, nullptr); }
