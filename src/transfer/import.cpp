// The import command: replaces the content of the connected database
// with an export file.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "external/terminal.h"
#include "frontend/ask.h"
#include "frontend/commands.h"
#include "frontend/globals.h"
#include "frontend/sql_exec.h"
#include "transfer/export_table_list.h"
#include "transfer/idata_template.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"

namespace {

struct ResultFree {
  void operator()(db_result_t r) const { DBFreeResult(r); }
};

bool DropDataTables() {
  std::unique_ptr<db_result_s, ResultFree> nodes(SelectSql("SELECT id FROM nodes"));
  if (nodes == nullptr) return IgnoreSqlErrors != 0;
  for (int row = 0; row < DBGetNumRows(nodes.get()); row++) {
    std::string drop = "DROP TABLE idata_" + std::to_string(DBGetFieldLong(nodes.get(), row, 0));
    if (!ExecSql(drop.c_str()) && !IgnoreSqlErrors) return false;
  }
  return true;
}

bool ClearTables() {
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    if (!ExecSql((std::string("DELETE FROM ") + *table).c_str()) && !IgnoreSqlErrors) return false;
  return true;
}

bool WipeDatabase() {
  WriteToTerminal("\n\n\33[1mWARNING!!!\33[0m\n");
  if (!AskYesNo(
          "This operation will clear all configuration and collected data from database.\nAre you sure?"))
    return false;
  if (!DBBegin(DbHandle)) {
    printf("ERROR: cannot start transaction\n");
    return false;
  }
  if (!DropDataTables() || !ClearTables()) {
    DBRollback(DbHandle);
    return false;
  }
  if (!DBCommit(DbHandle)) {
    printf("ERROR: cannot commit transaction\n");
    return false;
  }
  printf("Database successfully cleared\n");
  return true;
}

bool ImportDataTables(sqlite3 *file) {
  std::string tableTemplate;
  if (!SelectMetadataValue("IDataTableCreationCommand", tableTemplate)) {
    printf("ERROR: unable to determine correct query for idata tables creation\n");
    return false;
  }
  std::vector<std::string> indexTemplates;
  for (int n = 0; n < 4; n++) {
    std::string value;
    if (!SelectMetadataValue(("IDataIndexCreationCommand_" + std::to_string(n)).c_str(), value)) break;
    indexTemplates.push_back(value);
  }
  std::unique_ptr<db_result_s, ResultFree> nodes(SelectSql("SELECT id FROM nodes"));
  if (nodes == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(nodes.get()); row++) {
    int32_t id = DBGetFieldLong(nodes.get(), row, 0);
    if (!ExecSql(FormatNodeTemplate(tableTemplate, id).c_str())) return false;
    for (const std::string &index : indexTemplates)
      if (!ExecSql(FormatNodeTemplate(index, id).c_str())) return false;
    if (!ImportTableInTransaction(file, ("idata_" + std::to_string(id)).c_str())) return false;
  }
  return true;
}

// MySQL in its permissive mode would cut a value that does not fit its
// column and turn a NULL in a multi-row INSERT into a default, both with
// a mere warning. The import must fail instead.
bool MakeMysqlStrict() {
  if (DBGetEngine(DbHandle) != DB_SYNTAX_MYSQL) return true;
  return ExecSql("SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@SESSION.sql_mode,''),'STRICT_ALL_TABLES')");
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
  if (!CheckDatabaseReady() || !CheckImportFile(file) || !MakeMysqlStrict() || !WipeDatabase()) return false;
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    if (!ImportTableInTransaction(file, *table)) return false;
  return ImportDataTables(file);
}

}  // namespace

void RunImportCommand(const char *path) {
  // Read only: the import never changes its file, and a mistyped name
  // does not leave an empty file behind.
  sqlite3 *raw = nullptr;
  if (sqlite3_open_v2(path, &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(raw);
    printf("ERROR: unable to open output file\nDatabase import failed.\n");
    return;
  }
  std::unique_ptr<sqlite3, SqliteFileCloser> file(raw);
  bool ok = ImportDatabase(path, file.get());
  file.reset();
  printf(ok ? "Database import complete.\n" : "Database import failed.\n");
}
