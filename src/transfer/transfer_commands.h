// The export and import commands. Each reports its own failures and
// returns false when the command failed.
#pragma once

// Exports the database to a new SQLite file at path.
bool RunExportCommand(const char *path);
// Replaces the content of the database with the export file at path.
bool RunImportCommand(const char *path);
