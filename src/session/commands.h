// The command handlers. Each reports its own failures; the driver does
// not look at the outcome.
#pragma once

bool RunBatchCommand(const char *path);
void RunCheckCommand();
void RunExportCommand(const char *file);
void RunImportCommand(const char *file);
void RunInitCommand(const char *path);
void RunReindexCommand();
void RunUnlockCommand();
// The upgrade, its rehearsal (RehearseUpgrade) or both the backup
// (UpgradeBackupFile) and the upgrade. True when the database is at the
// tool's version, or the rehearsal says it would get there.
bool RunUpgradeCommand();
