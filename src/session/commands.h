// The command handlers. Each reports its own failures and returns false
// when the command failed: it stopped before doing its work, a statement
// of its work failed, or it left the database with defects or a lock
// that the operator wanted gone. The driver turns that into the exit
// code only when asked to (TVDBMGR_STRICT_EXIT=1).
#pragma once

bool RunBatchCommand(const char *path);
bool RunCheckCommand();
bool RunExportCommand(const char *file);
bool RunImportCommand(const char *file);
bool RunInitCommand(const char *path);
bool RunReindexCommand();
bool RunUnlockCommand();
// The upgrade, its rehearsal (RehearseUpgrade) or both the backup
// (UpgradeBackupFile) and the upgrade. True when the database is at the
// tool's version, or the rehearsal says it would get there.
bool RunUpgradeCommand();
