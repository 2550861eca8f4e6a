#include "transfer/import_locks.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "session/lock_table.h"
#include "transfer/export_table_list.h"
#include "transfer/sqlite_file.h"

bool EstimateImportLocks(sqlite3 *file, size_t indexTemplates, int64_t &locks) {
  std::vector<std::string> nodes;
  std::string error;
  if (!ReadFileColumn(file, "SELECT count(*) FROM nodes", nodes, error) || nodes.empty()) {
    printf("ERROR: SQL query failed (%s)\n", error.empty() ? "no row" : error.c_str());
    return false;
  }
  std::string listed = "t.relname IN (";
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    listed += std::string(table == ExportTableList ? "'" : ",'") + *table + "'";
  listed += ")";
  RelationCount listedTables, dataTables;
  if (!CountTableRelations(listed, listedTables) || !CountTableRelations(kDataTableCondition, dataTables))
    return false;
  // A dropped table takes its row type and that type's array type along,
  // each locked as an object of its own.
  const int64_t dropped = dataTables.relations + 2 * dataTables.tables;
  const int64_t created =
      strtoll(nodes.front().c_str(), nullptr, 10) * (1 + static_cast<int64_t>(indexTemplates));
  locks = listedTables.relations + dropped + created;
  return true;
}
