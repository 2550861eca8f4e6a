#include <cstdio>
#include <string>

#include "session/commands.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/statement_journal.h"
#include "upgrade/steps.h"

namespace {

// Compared as stored, without decoding.
bool IsLocked() {
  std::string status;
  return ReadServerVariable("config", "DBLockStatus", status, QueryEcho::kSilent, 256) ==
             VariableRead::kFound &&
         status != "UNLOCKED";
}

// Runs the step in the open transaction, under its journal where the
// dialect needs one. Returns false when the step must be rolled back.
bool RunStep(const UpgradeStep &step, int version) {
  if (!UpgradeNeedsJournal()) return RunUpgradeStep(step, version) != 0;
  StepJournal journal(version, step.to);
  return journal.open() && RunUpgradeStep(step, version) != 0 && journal.close();
}

}  // namespace

void RunUpgradeCommand() { UpgradeDatabaseTo(kToolSchemaVersion); }

void UpgradeDatabaseTo(int target) {
  printf("Upgrading database...\n");
  int version = DBGetSchemaVersion(DbHandle);
  if (version == kToolSchemaVersion) {
    // A run killed between its last commit and its end leaves the
    // journal behind.
    if (UpgradeNeedsJournal()) DropJournalTable();
    printf("Your database format is up to date\n");
    return;
  }
  if (version > kToolSchemaVersion) {
    printf(
        "Your database has format version %d, this tool is compiled for version %d.\n"
        "You need to upgrade your server before using this database.\n",
        version, kToolSchemaVersion);
    return;
  }
  if (IsLocked()) {
    printf("Database is locked\n");
    return;
  }
  if (UpgradeNeedsJournal() && !CreateJournalTable()) {
    printf("Database upgrade failed\n");
    return;
  }

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
      break;
    }
    if (!DBCommit(DbHandle)) {
      // The engine has undone the step; going on would run it again.
      ReportSqlError(DBGetLastError(DbHandle), "COMMIT");
      break;
    }
    version = reached;
  }
  if (version == target && UpgradeNeedsJournal()) DropJournalTable();
  printf("Database upgrade %s\n", version == target ? "succeeded" : "failed");
}
