#include "transfer/sqlite_file.h"

#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "session/globals.h"

bool IsNonRegularFile(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && !S_ISREG(st.st_mode);
}

std::string UnfinishedJournalOf(const char *path) {
  std::vector<std::string> names = {path};
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path, nullptr), free);
  if (resolved != nullptr) names.emplace_back(resolved.get());
  for (const std::string &name : names) {
    struct stat st;
    if (stat((name + "-journal").c_str(), &st) == 0 && st.st_size > 0) return name + "-journal";
    if (stat((name + "-wal").c_str(), &st) == 0) return name + "-wal";
  }
  return "";
}

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

namespace {

// SQLite's rules for the affinity of a declared type, in their order.
bool IsNumericAffinity(const char *declared) {
  std::string type;
  for (const char *p = declared; *p != 0; p++)
    type += static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  if (type.find("INT") != std::string::npos) return true;
  for (const char *text : {"CHAR", "CLOB", "TEXT", "BLOB", "REAL", "FLOA", "DOUB"})
    if (type.find(text) != std::string::npos) return false;
  return !type.empty();
}

}  // namespace

bool NumericAffinityColumns(sqlite3 *file, const char *table, const std::vector<std::string> &names,
                            std::vector<bool> &numeric, std::string &error) {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(file, "SELECT name,type FROM pragma_table_info(?)", -1, &raw, nullptr) !=
      SQLITE_OK) {
    error = sqlite3_errmsg(file);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt(raw);
  sqlite3_bind_text(raw, 1, table, -1, SQLITE_STATIC);
  numeric.assign(names.size(), false);
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    const char *name = reinterpret_cast<const char *>(sqlite3_column_text(raw, 0));
    const char *type = reinterpret_cast<const char *>(sqlite3_column_text(raw, 1));
    for (size_t i = 0; i < names.size(); i++)
      if (name != nullptr && strcasecmp(names[i].c_str(), name) == 0)
        numeric[i] = IsNumericAffinity(type ? type : "");
  }
  if (rc == SQLITE_DONE) return true;
  error = sqlite3_errmsg(file);
  return false;
}

bool NeedsStatementPerRow(sqlite3 *file, const char *table, bool &needed, std::string &error) {
  sqlite3_stmt *raw = nullptr;
  const char *query =
      "SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type='trigger' AND tbl_name=?1 COLLATE NOCASE "
      "UNION ALL SELECT 1 FROM sqlite_temp_master WHERE type='trigger' AND tbl_name=?1 COLLATE NOCASE) "
      "OR (SELECT foreign_keys FROM pragma_foreign_keys)";
  if (sqlite3_prepare_v2(file, query, -1, &raw, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(file);
    return false;
  }
  std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> stmt(raw);
  sqlite3_bind_text(raw, 1, table, -1, SQLITE_STATIC);
  if (sqlite3_step(raw) != SQLITE_ROW) {
    error = sqlite3_errmsg(file);
    return false;
  }
  needed = sqlite3_column_int(raw, 0) != 0;
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
  Result list(DBSelect(DbHandle, "SELECT file FROM pragma_database_list WHERE name='main'"));
  if (list == nullptr || DBGetNumRows(list.get()) == 0) return false;
  std::unique_ptr<char, decltype(&free)> connected(DBGetField(list.get(), 0, 0, nullptr, 0), free);
  struct stat a, b;
  return stat(connected.get(), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}
