#include "transfer/sqlite_file.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "frontend/globals.h"

bool ExecOnFile(sqlite3 *file, const char *statement, std::string &error) {
  char *message = nullptr;
  if (sqlite3_exec(file, statement, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message != nullptr ? message : sqlite3_errmsg(file);
  sqlite3_free(message);
  return false;
}

bool IsPlainIdentifier(const char *name) {
  if (!isalpha(static_cast<unsigned char>(*name)) && *name != '_') return false;
  size_t length = 0;
  for (const char *p = name; *p != 0; p++, length++)
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_') return false;
  return length <= 63;  // the shortest limit among the engines
}

bool ColumnsOfFileQuery(sqlite3 *file, const char *query, std::vector<std::string> &columns,
                        std::string &error) {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(file, query, -1, &raw, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(file);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt(raw);
  columns.clear();
  for (int i = 0; i < sqlite3_column_count(raw); i++) columns.emplace_back(sqlite3_column_name(raw, i));
  return true;
}

bool ReadFileColumn(sqlite3 *file, const char *query, std::vector<std::string> &values, std::string &error) {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(file, query, -1, &raw, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(file);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt(raw);
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    const unsigned char *text = sqlite3_column_text(raw, 0);
    values.emplace_back(text != nullptr ? reinterpret_cast<const char *>(text) : "");
  }
  if (rc == SQLITE_DONE) return true;
  error = sqlite3_errmsg(file);
  return false;
}

bool ReadFileSchemaVersion(sqlite3 *file, long &version, std::string &error) {
  std::vector<std::string> versions;
  if (!ReadFileColumn(file, "SELECT var_value FROM metadata WHERE var_name='SchemaVersion'", versions, error))
    return false;
  version = 0;
  for (const std::string &v : versions) version = strtol(v.c_str(), nullptr, 10);
  return true;
}

bool IsConnectedDatabase(const char *path) {
  if (DBGetEngine(DbHandle) != DB_SYNTAX_SQLITE) return false;
  std::unique_ptr<db_result_s, decltype(&DBFreeResult)> list(
      DBSelect(DbHandle, "SELECT file FROM pragma_database_list WHERE name='main'"), DBFreeResult);
  if (list == nullptr || DBGetNumRows(list.get()) == 0) return false;
  std::unique_ptr<char, decltype(&free)> connected(DBGetField(list.get(), 0, 0, nullptr, 0), free);
  struct stat a, b;
  return stat(connected.get(), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
