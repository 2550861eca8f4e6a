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
void RunUpgradeCommand();
