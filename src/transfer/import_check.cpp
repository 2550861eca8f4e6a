// What the import verifies before it clears the database: a file that
// would make it fail half way must leave the database untouched.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "collected_data/templates.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "transfer/export_table_list.h"
#include "transfer/import_steps.h"
#include "transfer/sqlite_file.h"

namespace {

struct CaseInsensitiveLess {
  bool operator()(const std::string &a, const std::string &b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};
// Unquoted identifiers mean the same in any case on every engine.
using NameSet = std::set<std::string, CaseInsensitiveLess>;

// A truncated or damaged file would otherwise show up only when its
// broken pages are read, after the clearing.
bool CheckFileIntact(sqlite3 *file) {
  std::vector<std::string> verdict;
  std::string error;
  bool read = ReadFileColumn(file, "PRAGMA quick_check", verdict, error);
  if (read && !verdict.empty() && verdict.front() == "ok") return true;
  // The check may name the damage before it trips over it.
  printf("ERROR: import file is damaged (%s)\n", !verdict.empty() ? verdict.front().c_str()
                                                 : read           ? "no verdict"
                                                                  : error.c_str());
  return false;
}

bool TargetColumns(const char *table, NameSet &columns) {
  std::string query = std::string("SELECT * FROM ") + table + " WHERE 1=0";
  AsyncResult result(SelectSqlUnbuffered(query.c_str()));
  if (result == nullptr) return false;
  for (int c = 0; c < DBGetColumnCountAsync(result.get()); c++) {
    char *name = DBGetColumnNameAsync(result.get(), c, nullptr, 0);
    columns.insert(name);
    free(name);
  }
  while (DBFetch(result.get())) {
  }
  return true;
}

// Every column the file's table names must exist in the target: the
// names become the column list of each INSERT.
bool CheckFileColumns(sqlite3 *file, const NameSet &fileTables, const char *table, const NameSet &target) {
  if (fileTables.count(table) == 0) {
    printf("ERROR: table %s is missing in import file\n", table);
    return false;
  }
  std::vector<std::string> columns;
  std::string error;
  if (!ColumnsOfFileQuery(file, (std::string("SELECT * FROM ") + table).c_str(), columns, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  for (const std::string &column : columns) {
    if (!IsPlainIdentifier(column.c_str())) {
      printf("ERROR: column \"%s\" of table %s in import file is not a valid column name\n", column.c_str(),
             table);
      return false;
    }
    if (target.count(column) == 0) {
      printf("ERROR: column %s of table %s in import file does not exist in the database\n", column.c_str(),
             table);
      return false;
    }
  }
  return true;
}

// The columns a CREATE TABLE statement creates: the first word of each
// item of its column list, other than the table constraints.
NameSet TemplateColumns(const std::string &text) {
  static const NameSet kConstraints = {"CONSTRAINT", "PRIMARY", "UNIQUE", "FOREIGN", "CHECK", "KEY", "INDEX"};
  NameSet columns;
  size_t open = text.find('(');
  if (open == std::string::npos) return columns;
  int depth = 0;
  bool itemStart = true;
  std::string word;
  for (size_t i = open + 1; i < text.size() && depth >= 0; i++) {
    const char ch = text[i];
    if (isalnum(static_cast<unsigned char>(ch)) || ch == '_') {
      word += ch;
      continue;
    }
    if (!word.empty() && itemStart && depth == 0 && kConstraints.count(word) == 0) columns.insert(word);
    if (!word.empty()) itemStart = false;
    word.clear();
    if (ch == '(') depth++;
    if (ch == ')') depth--;
    if (ch == ',' && depth == 0) itemStart = true;
  }
  return columns;
}

bool ParseNodeId(const std::string &text, long &id) {
  if (text.empty()) return false;
  char *end;
  errno = 0;
  id = strtol(text.c_str(), &end, 10);
  return *end == 0 && errno == 0 && id >= INT32_MIN && id <= INT32_MAX;
}

bool CheckDataTables(sqlite3 *file, const NameSet &fileTables) {
  std::vector<std::string> ids;
  std::string error;
  if (!ReadFileColumn(file, "SELECT id FROM nodes", ids, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  std::string tableTemplate;
  if (ReadServerVariable("metadata", "IDataTableCreationCommand", tableTemplate, QueryEcho::kTraced) !=
      VariableRead::kFound) {
    printf("ERROR: unable to determine correct query for idata tables creation\n");
    return false;
  }
  const NameSet created = TemplateColumns(tableTemplate);
  for (const std::string &text : ids) {
    long id;
    if (!ParseNodeId(text, id)) {
      printf("ERROR: invalid node id \"%s\" in import file\n", text.c_str());
      return false;
    }
    if (!CheckFileColumns(file, fileTables, ("idata_" + std::to_string(id)).c_str(), created)) return false;
  }
  return true;
}

}  // namespace

bool CheckImportFile(sqlite3 *file) {
  if (!CheckFileIntact(file)) return false;
  std::vector<std::string> names;
  std::string error;
  if (!ReadFileColumn(file, "SELECT name FROM sqlite_master WHERE type='table'", names, error)) {
    printf("ERROR: SQL query failed (%s)\n", error.c_str());
    return false;
  }
  const NameSet fileTables(names.begin(), names.end());
  for (const char *const *table = ExportTableList; *table != nullptr; table++) {
    NameSet target;
    if (!TargetColumns(*table, target) || !CheckFileColumns(file, fileTables, *table, target)) return false;
  }
  return CheckDataTables(file, fileTables);
}
