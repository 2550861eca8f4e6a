// The export command: the whole database into a new SQLite file built
// from the server installation's SQLite schema script.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "collected_data/templates.h"
#include "runtime/runtime.h"
#include "session/cluster_lock.h"
#include "session/globals.h"
#include "session/server_lock.h"
#include "session/sql_exec.h"
#include "transfer/backup.h"
#include "transfer/export_table_list.h"
#include "transfer/output_file.h"
#include "transfer/schema_script.h"
#include "transfer/source_rows.h"
#include "transfer/sqlite_file.h"
#include "transfer/table_progress.h"
#include "transfer/transfer_commands.h"

namespace {

// The statement of one row as an operator would type it, for the report
// of a row that the file refused.
std::string RowStatement(const std::string &head, db_async_result_t rows, int columns) {
  std::string statement = head;
  for (int c = 0; c < columns; c++) {
    size_t length;
    const char *value = DBGetFieldAsyncData(rows, c, &length);
    statement += c > 0 ? "," : "";
    if (value == nullptr) {
      statement += "NULL";
      continue;
    }
    statement += '\'';
    for (size_t i = 0; i < length; i++)
      statement += value[i] == '\'' ? std::string("''") : std::string(1, value[i]);
    statement += '\'';
  }
  return statement + ")";
}

// One table on its way from the source query into the file.
struct TableCopy {
  sqlite3 *file;
  db_async_result_t rows;
  int columns;
  std::string into;     // "INSERT INTO <table> (<columns>)"
  std::string marks{};  // "?,?,...": one per column
  std::vector<bool> numeric{};
  TableProgress &progress;
};

void ReportRefusedRow(const TableCopy &copy) {
  printf("ERROR: SQLite query failed: %s\n   Query: %s\n", sqlite3_errmsg(copy.file),
         RowStatement(copy.into + " VALUES (", copy.rows, copy.columns).c_str());
}

// The rows from the current one on, one INSERT ... SELECT for all.
bool InsertAllRows(TableCopy &copy) {
  SourceRows source{copy.rows, copy.columns, copy.numeric, copy.progress};
  SourceRowsTable sourceTable(copy.file, source);
  std::string error;
  if (!sourceTable.ready(error)) {
    printf("ERROR: SQLite query failed: %s\n", error.c_str());
    return false;
  }
  std::string query = copy.into + " SELECT * FROM " + kSourceRowsTable;
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(copy.file, query.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    ReportRefusedRow(copy);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> insert(raw);
  if (sqlite3_step(raw) == SQLITE_DONE) return true;
  // A failure after the last row belongs to no row of its own.
  if (source.ended)
    printf("ERROR: SQLite query failed: %s\n   Query: %s\n", sqlite3_errmsg(copy.file), query.c_str());
  else
    ReportRefusedRow(copy);
  return false;
}

// The rows from the current one on, one prepared INSERT each.
bool InsertRowByRow(TableCopy &copy) {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(copy.file, (copy.into + " VALUES (" + copy.marks + ")").c_str(), -1, &raw,
                         nullptr) != SQLITE_OK) {
    ReportRefusedRow(copy);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> insert(raw);
  do {
    for (int c = 0; c < copy.columns; c++) {
      int64_t integer;
      if (copy.numeric[c] && DBGetFieldAsyncInteger(copy.rows, c, &integer)) {
        sqlite3_bind_int64(raw, c + 1, integer);
        continue;
      }
      size_t length;
      const char *value = DBGetFieldAsyncData(copy.rows, c, &length);
      // The value stays valid until the next fetch, after the step.
      if (value == nullptr)
        sqlite3_bind_null(raw, c + 1);
      else
        sqlite3_bind_text64(raw, c + 1, value, length, SQLITE_STATIC, SQLITE_UTF8);
    }
    if (sqlite3_step(raw) != SQLITE_DONE) {
      ReportRefusedRow(copy);
      return false;
    }
    sqlite3_reset(raw);
    copy.progress.row();
  } while (DBFetch(copy.rows));
  return true;
}

// The rows get the same values and the same column affinity as a quoted
// literal per value would give them. The INSERT is compiled at the
// first row, so a table without rows never needs it. With createInFile
// the table is made in the file first, with the source's column names
// and no declared types, so that every value is stored as the source
// gave it.
bool CopyRows(sqlite3 *file, const char *table, bool createInFile, TableProgress &progress) {
  std::string query = std::string("SELECT * FROM ") + table;
  AsyncResult rows(SelectSqlUnbuffered(query.c_str()));
  if (rows == nullptr) return false;
  TableCopy copy{.file = file,
                 .rows = rows.get(),
                 .columns = DBGetColumnCountAsync(rows.get()),
                 .into = std::string("INSERT INTO ") + table + " (",
                 .progress = progress};
  std::vector<std::string> names;
  for (int c = 0; c < copy.columns; c++) {
    char name[256];
    DBGetColumnNameAsync(rows.get(), c, name, sizeof(name));
    if (!IsPlainIdentifier(name)) {
      printf("ERROR: column \"%s\" of table %s cannot be named in a statement\n", name, table);
      return false;
    }
    copy.into += std::string(c > 0 ? "," : "") + name;
    copy.marks += c > 0 ? ",?" : "?";
    names.emplace_back(name);
  }
  copy.into += ")";
  std::string error;
  if (createInFile) {
    std::string create = copy.into;
    create.replace(0, 11, "CREATE TABLE");  // "INSERT INTO"
    if (!ExecOnFile(file, create.c_str(), error)) {
      printf("ERROR: SQLite query failed: %s\n   Query: %s\n", error.c_str(), create.c_str());
      return false;
    }
  }
  // Where the file's column turns a decimal text into an integer anyway,
  // an integer the source holds as one goes over as one: the same stored
  // value without converting it to text and back. All rows go in one
  // statement unless a refused row could then not be named.
  bool rowByRow = false;
  if (!NumericAffinityColumns(file, table, names, copy.numeric, error) ||
      !NeedsStatementPerRow(file, table, rowByRow, error)) {
    printf("ERROR: SQLite query failed: %s\n", error.c_str());
    return false;
  }
  if (DBFetch(rows.get()) && !(rowByRow ? InsertRowByRow(copy) : InsertAllRows(copy))) return false;
  // A read that broke off must not pass for the end of the table.
  if (const char *readError = DBGetAsyncError(rows.get())) {
    ReportSqlError(readError, query.c_str());
    return false;
  }
  return true;
}

bool ExportTable(sqlite3 *file, const char *table, bool createInFile = false) {
  TableProgress progress("Exporting", table);
  std::string error;
  if (!ExecOnFile(file, "BEGIN", error)) {
    printf("ERROR: Cannot start transaction: %s", error.c_str());
    return false;
  }
  if (CopyRows(file, table, createInFile, progress)) {
    if (ExecOnFile(file, "COMMIT", error)) {
      progress.finish();
      return true;
    }
    printf("ERROR: Cannot commit transaction: %s", error.c_str());
    return false;
  }
  if (!ExecOnFile(file, "ROLLBACK", error)) printf("ERROR: Cannot rollback transaction: %s", error.c_str());
  return false;
}

bool ApplySchemaScript(sqlite3 *file) {
  std::string path;
  if (!FindSchemaScript(path)) {
    printf("ERROR: unable to determine path to schema file\n");
    return false;
  }
  uint32_t size;
  std::unique_ptr<char, decltype(&free)> script(LoadFileA(path.c_str(), &size), free);
  if (script == nullptr) {
    printf("ERROR: cannot load schema file \"%s\"\n", path.c_str());
    return false;
  }
  std::string error;
  if (ExecOnFile(file, script.get(), error)) return true;
  printf("ERROR: unable to apply database schema: %s\n", error.c_str());
  return false;
}

bool ExportDataTables(sqlite3 *file) {
  std::vector<std::string> templates;
  std::string error;
  if (!ReadFileColumn(file, "SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'",
                      templates, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  if (templates.empty()) {
    printf("ERROR: dbschema_sqlite.sql does not define IDataTableCreationCommand\n");
    return false;
  }
  Result nodes(SelectSql("SELECT id FROM nodes"));
  if (nodes == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(nodes.get()); row++) {
    int32_t id = DBGetFieldLong(nodes.get(), row, 0);
    std::string create = FormatNodeTemplate(templates.front(), id);
    if (!ExecOnFile(file, create.c_str(), error)) {
      printf("ERROR: SQL query failed: %s (%s)\n", create.c_str(), error.c_str());
      return false;
    }
    if (!ExportTable(file, ("idata_" + std::to_string(id)).c_str())) return false;
  }
  return true;
}

bool ExportDatabase(sqlite3 *file) {
  if (!ApplySchemaScript(file)) return false;
  long fileVersion;
  std::string error;
  if (!ReadFileSchemaVersion(file, fileVersion, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  if (fileVersion != DBGetSchemaVersion(DbHandle)) {
    printf(
        "ERROR: Schema version mismatch between dbschema_sqlite.sql and your database. Please check that "
        "Talvex server installed correctly.\n");
    return false;
  }
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    if (!ExportTable(file, *table)) return false;
  return ExportDataTables(file);
}

// Every table of the database as it is, whatever its schema version, in
// catalogue order.
std::string SourceTablesQuery() {
  switch (DBGetEngine(DbHandle)) {
    case DB_SYNTAX_SQLITE:
      return "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%' ORDER BY name";
    case DB_SYNTAX_PGSQL:
      return "SELECT tablename FROM pg_tables WHERE schemaname=current_schema() ORDER BY tablename";
    case DB_SYNTAX_MYSQL:
      return "SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE() AND "
             "table_type='BASE TABLE' ORDER BY table_name";
    case DB_SYNTAX_MSSQL:
      return "SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_TYPE='BASE TABLE' AND "
             "TABLE_SCHEMA=SCHEMA_NAME() ORDER BY TABLE_NAME";
    case DB_SYNTAX_ORACLE: return "SELECT table_name FROM user_tables ORDER BY table_name";
    default:
      return "SELECT table_name FROM information_schema.tables WHERE table_type='BASE TABLE' ORDER BY "
             "table_name";
  }
}

// Every table as the source has it, then the version its tables are of
// where the file's metadata would have it (metadata itself is copied
// when the source has one).
bool BackupDatabase(sqlite3 *file) {
  Result tables(SelectSql(SourceTablesQuery().c_str()));
  if (tables == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(tables.get()); row++) {
    char table[256];
    DBGetField(tables.get(), row, 0, table, sizeof(table));
    // The lock of this very run, no table of the server's.
    if (strcmp(table, kClusterLockTable) == 0) continue;
    if (!IsPlainIdentifier(table)) {
      printf("ERROR: table \"%s\" cannot be named in a statement\n", table);
      return false;
    }
    if (!ExportTable(file, table, true)) return false;
  }
  const std::string version = std::to_string(DBGetSchemaVersion(DbHandle));
  const std::string record =
      "CREATE TABLE IF NOT EXISTS metadata (var_name,var_value);"
      "INSERT INTO metadata (var_name,var_value) SELECT 'SchemaVersion','" +
      version + "' WHERE NOT EXISTS (SELECT 1 FROM metadata WHERE var_name='SchemaVersion')";
  std::string error;
  if (ExecOnFile(file, record.c_str(), error)) return true;
  printf("ERROR: SQLite query failed: %s\n", error.c_str());
  return false;
}

// The export's file handling: written under a temporary name and put in
// place of path only once complete. Says "Database export complete." or
// "failed."
bool WriteExportFile(const char *path, bool (*write)(sqlite3 *)) {
  // Replacing the output file must never replace the database being read.
  if (IsConnectedDatabase(path)) {
    printf("ERROR: output file is the database being exported\n");
    return false;
  }
  std::string target;
  if (!ResolveOutputPath(path, target)) return false;
  TemporaryOutputFile output;
  if (!output.create(target)) {
    printf("ERROR: unable to open output file\n");
    return false;
  }
  sqlite3 *raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(PlainFilePath(output.path()).c_str(), &raw, flags, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(raw);
    printf("ERROR: unable to open output file\n");
    return false;
  }
  std::unique_ptr<sqlite3, SqliteFileCloser> file(raw);
  // A fresh file that is useless until complete needs no sync per
  // statement of the schema script and per table; one sync before it
  // takes the target's place makes it durable.
  std::string error;
  ExecOnFile(file.get(), "PRAGMA synchronous=OFF", error);
  bool ok = write(file.get());
  file.reset();
  if (ok) ok = output.replaceTarget();
  printf(ok ? "Database export complete.\n" : "Database export failed.\n");
  return ok;
}

}  // namespace

bool RunExportCommand(const char *path) {
  return CheckDatabaseReady() && WriteExportFile(path, ExportDatabase);
}

bool ExportBackup(const char *path) {
  printf("Taking a backup of the database into %s\n", path);
  return WriteExportFile(path, BackupDatabase);
}
