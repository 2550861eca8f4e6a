// The backup that an upgrade takes before its first step.
#pragma once

// Exports the database as it stands, whatever its schema version, to a
// new SQLite file at path, with the export's file handling: the file
// takes path's place only once complete. The file holds every table of
// the database with its columns and rows as the source has them (the
// per-node collected-data tables among them), and its metadata says
// the schema version; a tvdbmgr built for that version imports it.
// Returns false after saying why.
bool ExportBackup(const char *path);
