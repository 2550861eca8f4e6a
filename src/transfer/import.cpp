// The import command: replaces the content of the connected database
// with an export file.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/terminal.h"
#include "session/ask.h"
#include "session/globals.h"
#include "session/server_lock.h"
#include "session/sql_exec.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"
#include "transfer/transfer_commands.h"

namespace {

// MySQL in its permissive mode would cut a value that does not fit its
// column and turn a NULL in a multi-row INSERT into a default, both with
// a mere warning. The import must fail instead.
bool MakeMysqlStrict() {
  if (DBGetEngine(DbHandle) != DB_SYNTAX_MYSQL) return true;
  return ExecSql("SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@SESSION.sql_mode,''),'STRICT_ALL_TABLES')");
}

bool ConfirmClearing() {
  WriteToTerminal("\n\n\33[1mWARNING!!!\33[0m\n");
  return AskYesNo(
      "This operation will clear all configuration and collected data from database.\nAre you sure?");
}

bool ImportDatabase(const char *path, sqlite3 *file) {
  // The clearing would empty the file before a single row is read from it.
  if (IsConnectedDatabase(path)) {
    printf("ERROR: import file is the database being replaced\n");
    return false;
  }
  long version;
  std::string error;
  if (!ReadFileSchemaVersion(file, version, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  if (version != kToolSchemaVersion) {
    printf(
        "ERROR: Import file was created for database format version %d, but this tool was compiled for "
        "database format version %d\n",
        static_cast<int>(version), kToolSchemaVersion);
    return false;
  }
  // All or nothing on every engine; how depends on whether the engine
  // can roll back schema statements.
  const bool staged = DBGetEngine(DbHandle) == DB_SYNTAX_MYSQL;
  if (!CheckDatabaseReady() || (staged && !ClearEarlierImport()) || !CheckImportFile(file) ||
      !MakeMysqlStrict() || !ConfirmClearing())
    return false;
  EmptiedNulls emptied;
  bool ok = staged ? ImportThroughStaging(file, emptied) : ImportInOneTransaction(file, emptied);
  if (ok) PrintEmptiedNulls(emptied);
  return ok;
}

}  // namespace

bool ClearingGoesOn(bool succeeded) { return succeeded || IgnoreSqlErrors; }

bool RunImportCommand(const char *path) {
  if (IsNonRegularFile(path)) {
    printf("ERROR: import file %s is not a regular file\nDatabase import failed.\n", path);
    return false;
  }
  if (std::string journal = UnfinishedJournalOf(path); !journal.empty()) {
    printf(
        "ERROR: import file %s was left in the middle of a write (%s exists) and may be incomplete\n"
        "Database import failed.\n",
        path, journal.c_str());
    return false;
  }
  // Read only: the import never changes its file, and a mistyped name
  // does not leave an empty file behind.
  sqlite3 *raw = nullptr;
  if (sqlite3_open_v2(PlainFilePath(path).c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    const int error = raw != nullptr ? sqlite3_system_errno(raw) : 0;
    sqlite3_close_v2(raw);
    printf("ERROR: unable to open import file %s for reading (%s)\nDatabase import failed.\n", path,
           error != 0 ? strerror(error) : "unknown reason");
    return false;
  }
  std::unique_ptr<sqlite3, SqliteFileCloser> file(raw);
  bool ok = ImportDatabase(path, file.get());
  file.reset();
  printf(ok ? "Database import complete.\n" : "Database import failed.\n");
  return ok;
}
