// The upgrade command.
#pragma once

// Writes the backup of the database to a new file at path; false after
// saying why.
using BackupWriter = bool (*)(const char *path);

// The upgrade, its rehearsal (RehearseUpgrade) or both the backup into
// UpgradeBackupFile, written by writeBackup, and the upgrade. True when
// the database is at the tool's version, or the rehearsal says it would
// get there.
bool RunUpgradeCommand(BackupWriter writeBackup);
