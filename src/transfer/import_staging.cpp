// The import on MySQL/MariaDB. A schema statement commits at once there,
// so a transaction cannot hold the clearing and the load together.
// Instead every table is built beside the live one, as tvdbmgr_new_<t>,
// and loaded and checked in full; nothing live has changed up to then.
// One RENAME TABLE, which the server carries out as a whole, then moves
// the live tables aside as tvdbmgr_old_<t> and the new ones into their
// places, and the old ones are dropped. Tables of these two prefixes
// belong to the import: a killed import leaves them behind, and the next
// one clears them away first.
#include <cctype>
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

namespace {

const std::string kNew = "tvdbmgr_new_";
const std::string kOld = "tvdbmgr_old_";

std::string DataTableName(int32_t id) { return "idata_" + std::to_string(id); }

bool StartsWith(const std::string &text, const std::string &prefix) { return text.rfind(prefix, 0) == 0; }

// Every table of the connected database. False after reporting.
bool ReadTableNames(std::set<std::string> &names) {
  Result result(SelectSql("SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE()"));
  if (result == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(result.get()); row++) {
    char *name = DBGetField(result.get(), row, 0, nullptr, 0);
    names.insert(name);
    free(name);
  }
  return true;
}

bool DropTables(const std::vector<std::string> &names) {
  if (names.empty()) return true;
  std::string drop = "DROP TABLE IF EXISTS ";
  for (size_t i = 0; i < names.size(); i++) drop += (i > 0 ? "," : "") + names[i];
  return ExecSql(drop.c_str());
}

}  // namespace

bool ClearEarlierImport() {
  std::set<std::string> tables;
  if (!ReadTableNames(tables)) return false;
  std::vector<std::string> leftovers;
  for (const std::string &name : tables) {
    if (StartsWith(name, kNew)) leftovers.push_back(name);
    if (!StartsWith(name, kOld)) continue;
    const std::string live = name.substr(kOld.size());
    if (tables.count(live) != 0) {
      leftovers.push_back(name);
      continue;
    }
    if (!ExecSql(("RENAME TABLE " + name + " TO " + live).c_str())) return false;
    printf("Table %s, set aside by an interrupted import, was put back\n", live.c_str());
  }
  return DropTables(leftovers);
}

namespace {

// The statement with every occurrence of table as a whole name (not as
// part of a longer one such as an index name) renamed to stage. False
// when there is none.
bool RenameInStatement(std::string &statement, const std::string &table, const std::string &stage) {
  auto namePart = [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; };
  bool found = false;
  for (size_t p = statement.find(table); p != std::string::npos; p = statement.find(table, p)) {
    const size_t end = p + table.size();
    if ((p > 0 && namePart(statement[p - 1])) || (end < statement.size() && namePart(statement[end]))) {
      p = end;
      continue;
    }
    statement.replace(p, table.size(), stage);
    p += stage.size();
    found = true;
  }
  return found;
}

// A statement of a collected-data template, run for the node's staging
// table instead of its live one.
bool ExecForStage(const std::string &text, int32_t id) {
  std::string statement = FormatNodeTemplate(text, id);
  const std::string name = DataTableName(id);
  if (!RenameInStatement(statement, name, kNew + name)) {
    printf("ERROR: statement \"%s\" does not name table %s\n", statement.c_str(), name.c_str());
    return false;
  }
  return ExecSql(statement.c_str());
}

// Loads one staging table in a transaction of its own: the rows are
// committed in one go, and none of them is live yet.
bool LoadStage(sqlite3 *file, const std::string &table, EmptiedNulls &emptied) {
  if (!DBBegin(DbHandle)) {
    printf("ERROR: unable to start transaction in target database\n");
    return false;
  }
  if (!LoadTable(file, table.c_str(), (kNew + table).c_str(), emptied)) {
    DBRollback(DbHandle);
    return false;
  }
  if (DBCommit(DbHandle)) return true;
  if (!TransactionRolledBackByServer())
    printf("ERROR: cannot commit transaction (%s)\n", DBGetLastError(DbHandle));
  DBRollback(DbHandle);
  return false;
}

// Builds and loads every staging table; their names go to staged as soon
// as they exist. False after reporting.
bool Stage(sqlite3 *file, std::vector<std::string> &staged, std::vector<int32_t> &newIds,
           EmptiedNulls &emptied) {
  for (const char *const *table = ExportTableList; *table != nullptr; table++) {
    const std::string stage = kNew + *table;
    if (!ExecSql(("CREATE TABLE " + stage + " LIKE " + *table).c_str())) return false;
    staged.push_back(stage);
    if (!LoadStage(file, *table, emptied)) return false;
  }
  DataTableTemplates templates;
  if (!ReadDataTableTemplates(templates) || !ReadNodeIds((kNew + "nodes").c_str(), newIds)) return false;
  for (int32_t id : newIds) {
    const std::string name = DataTableName(id);
    if (!ExecForStage(templates.table, id)) return false;
    staged.push_back(kNew + name);
    for (const std::string &index : templates.indexes)
      if (!ExecForStage(index, id)) return false;
    if (!LoadStage(file, name, emptied)) return false;
  }
  return true;
}

// One RENAME TABLE moves every live table aside and every staging table
// into its place. The collected-data tables that go aside are those of
// the nodes before the import and any stale one in the way of a new
// node's; replaced lists them.
bool Swap(const std::vector<int32_t> &oldIds, const std::vector<int32_t> &newIds,
          std::vector<std::string> &replaced) {
  std::set<std::string> tables;
  if (!ReadTableNames(tables)) return false;
  std::string rename;
  auto add = [&](const std::string &from, const std::string &to) {
    rename += (rename.empty() ? "RENAME TABLE " : ",") + from + " TO " + to;
  };
  for (const char *const *table = ExportTableList; *table != nullptr; table++) {
    add(*table, kOld + *table);
    replaced.push_back(kOld + *table);
    add(kNew + *table, *table);
  }
  std::set<int32_t> ids(oldIds.begin(), oldIds.end());
  ids.insert(newIds.begin(), newIds.end());
  for (int32_t id : ids) {
    const std::string name = DataTableName(id);
    if (tables.count(name) == 0) continue;
    add(name, kOld + name);
    replaced.push_back(kOld + name);
  }
  for (int32_t id : newIds) add(kNew + DataTableName(id), DataTableName(id));
  return ExecSql(rename.c_str());
}

}  // namespace

bool ImportThroughStaging(sqlite3 *file, EmptiedNulls &emptied) {
  std::vector<int32_t> oldIds, newIds;
  std::vector<std::string> staged, replaced;
  if (!ClearingGoesOn(ReadNodeIds("nodes", oldIds))) return false;
  if (!Stage(file, staged, newIds, emptied) || !Swap(oldIds, newIds, replaced)) {
    if (DropTables(staged)) {
      printf("The import was abandoned before any table was replaced: the database is as it was before\n");
    } else {
      printf(
          "ERROR: the tables of the import could not be removed. If the server stopped while the tables "
          "were being swapped, the database may hold old and new tables side by side: run the same import "
          "again, which first puts back every table set aside as %s<table> and then replaces the whole "
          "content\n",
          kOld.c_str());
    }
    return false;
  }
  printf("Database successfully cleared\n");
  if (!DropTables(replaced))
    printf("WARNING: the replaced tables remain as %s<table>; the next import removes them\n", kOld.c_str());
  return true;
}
