// The export file: an SQLite database opened directly, not through the
// access layer, since it is a second database next to the connected one.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

struct SqliteFileCloser {
  void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};

// sqlite3_exec of a statement without rows. False with SQLite's error
// text in error.

// Whether path exists as something other than a regular file (after its
// symlinks): a fifo or a device that SQLite would wait on or read
// without end, or a directory.
bool IsNonRegularFile(const char *path);

// A journal that SQLite left beside the file at path (after its
// symlinks) in the middle of a write: a non-empty "-journal" or a "-wal".
// Opened read-only the file cannot be rolled back and would read as a
// fragment. Empty when there is none.
std::string UnfinishedJournalOf(const char *path);

bool ExecOnFile(sqlite3 *file, const char *statement, std::string &error);

// Unquoted identifiers that every engine reads the same way: a letter or
// underscore, then letters, digits and underscores.
bool IsPlainIdentifier(const char *name);

// The column names a query returns, without running it to the end.
bool ColumnsOfFileQuery(sqlite3 *file, const char *query, std::vector<std::string> &columns,
                        std::string &error);

// For each of names, whether the column of that name in the file's table
// has INTEGER or NUMERIC affinity: there an integer bound as such is
// stored exactly as its decimal text would be. Unknown names say no.
bool NumericAffinityColumns(sqlite3 *file, const char *table, const std::vector<std::string> &names,
                            std::vector<bool> &numeric, std::string &error);

// Whether the rows of an INSERT into the file's table must go one per
// statement for a refused row to be known: INSERT ... SELECT reads all
// its rows before the first insert when the table has triggers, and
// checks foreign keys only after the last one.
bool NeedsStatementPerRow(sqlite3 *file, const char *table, bool &needed, std::string &error);

// The first column of every row of a query; NULL reads as "".
bool ReadFileColumn(sqlite3 *file, const char *query, std::vector<std::string> &values, std::string &error);

// The schema version that the file's metadata records: the leading
// digits of SchemaVersion, 0 when there are none or the row is missing.
bool ReadFileSchemaVersion(sqlite3 *file, long &version, std::string &error);

// Whether path names the file of the connected SQLite database, under
// whatever name or link.
bool IsConnectedDatabase(const char *path);
