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
bool ExecOnFile(sqlite3 *file, const char *statement, std::string &error);

// Unquoted identifiers that every engine reads the same way: a letter or
// underscore, then letters, digits and underscores.
bool IsPlainIdentifier(const char *name);

// The column names a query returns, without running it to the end.
bool ColumnsOfFileQuery(sqlite3 *file, const char *query, std::vector<std::string> &columns,
                        std::string &error);

// The first column of every row of a query; NULL reads as "".
bool ReadFileColumn(sqlite3 *file, const char *query, std::vector<std::string> &values, std::string &error);

// The schema version that the file's metadata records: the leading
// digits of SchemaVersion, 0 when there are none or the row is missing.
bool ReadFileSchemaVersion(sqlite3 *file, long &version, std::string &error);

// Whether path names the file of the connected SQLite database, under
// whatever name or link.
bool IsConnectedDatabase(const char *path);
