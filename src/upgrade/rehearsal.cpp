#include "upgrade/rehearsal.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "session/globals.h"
#include "session/lock_table.h"
#include "session/sql_exec.h"
#include "upgrade/rehearsal_copy.h"
#include "upgrade/upgrade_chain.h"

namespace {

// In one transaction every table the chain touches stays locked until
// the end, and so do the indexes that steps create on the collected-data
// tables next to those they replace.
bool EstimateChainLocks(int64_t &locks) {
  RelationCount all, data;
  if (!CountTableRelations("true", all) || !CountTableRelations(kDataTableCondition, data)) return false;
  locks = all.relations + 2 * data.tables;
  return true;
}

// The chain in one transaction that is rolled back at the end.
ChainRun RunUndone(int version, int target, bool &ran) {
  ran = CheckLockTableRoom("the rehearsal of this upgrade", EstimateChainLocks);
  if (!ran) return ChainRun{.reached = version};
  if (!DBBeginEnclosing(DbHandle)) {
    ReportSqlError(DBGetLastError(DbHandle), "BEGIN");
    ran = false;
    return ChainRun{.reached = version};
  }
  ChainRun run = RunUpgradeChain(version, target);
  // A rollback that fails leaves the transaction to end with the
  // connection, undone all the same.
  if (!DBRollbackEnclosing(DbHandle)) ReportSqlError(DBGetLastError(DbHandle), "ROLLBACK");
  return run;
}

// The chain on a scratch copy that is dropped at the end.
ChainRun RunOnCopy(int version, int target, bool &ran) {
  RehearsalCopy copy;
  ran = copy.make();
  if (!ran) return ChainRun{.reached = version};
  return RunUpgradeChain(version, target);
}

}  // namespace

bool RehearseUpgradeTo(int target) {
  printf("Upgrading database...\n");
  if (DbSyntax == DB_SYNTAX_ORACLE) {
    printf(
        "ERROR: an upgrade cannot be rehearsed on Oracle: its schema statements commit at once, and "
        "nothing could undo them. Nothing was changed.\n");
    return false;
  }
  const int version = DBGetSchemaVersion(DbHandle);
  if (!ReadyToUpgrade(version)) return version == kToolSchemaVersion;
  const auto started = std::chrono::steady_clock::now();
  bool ran = false;
  const ChainRun run =
      DbSyntax == DB_SYNTAX_MYSQL ? RunOnCopy(version, target, ran) : RunUndone(version, target, ran);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  if (!ran) {
    printf("Rehearsal: the upgrade could not be rehearsed. Nothing was changed.\n");
    return false;
  }
  if (run.reached == target) {
    printf(
        "Rehearsal: the upgrade from version %d to %d would succeed (%d steps, %.1f s). Nothing was changed.\n",
        version, target, run.steps, seconds.count());
    return true;
  }
  if (run.failedFrom == 0) {
    printf("Rehearsal: the upgrade from version %d would stop at version %d. Nothing was changed.\n", version,
           run.reached);
    return false;
  }
  printf("Rehearsal: step %d -> %d would fail:\n", run.failedFrom, run.failedTo);
  if (run.failedWithSqlError) RepeatLastSqlErrorReport();
  printf("Nothing was changed.\n");
  return false;
}
