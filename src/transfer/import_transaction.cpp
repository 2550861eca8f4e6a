// The import on PostgreSQL and SQLite: both roll back schema statements,
// so the clearing, the listed tables and the collected-data tables with
// their CREATE TABLE and CREATE INDEX statements form one transaction.
// Until its COMMIT nothing of the import is visible, and a refused row,
// a lost connection or a killed process leaves the database as it was.
#include <cstdio>
#include <string>
#include <vector>

#include "collected_data/templates.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/sql_exec.h"
#include "transfer/export_table_list.h"
#include "transfer/import_locks.h"
#include "transfer/import_steps.h"

namespace {

std::string DataTableName(int32_t id) { return "idata_" + std::to_string(id); }

// The collected-data tables of the nodes present before the import. A
// node without its table is no reason to stop: it is to go anyway.
bool DropDataTables() {
  std::vector<int32_t> ids;
  if (!ReadNodeIds("nodes", ids)) return ClearingGoesOn(false);
  for (int32_t id : ids)
    if (!ClearingGoesOn(ExecSql(("DROP TABLE IF EXISTS " + DataTableName(id)).c_str()))) return false;
  return true;
}

bool ClearTables() {
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    if (!ClearingGoesOn(ExecSql((std::string("DELETE FROM ") + *table).c_str()))) return false;
  return true;
}

bool LoadListedTables(sqlite3 *file, EmptiedNulls &emptied) {
  for (const char *const *table = ExportTableList; *table != nullptr; table++)
    if (!LoadTable(file, *table, *table, emptied)) return false;
  return true;
}

// Created fresh for the imported nodes: a table of the same name that a
// deleted node left behind goes first.
bool LoadDataTables(sqlite3 *file, const DataTableTemplates &templates, EmptiedNulls &emptied) {
  std::vector<int32_t> ids;
  if (!ReadNodeIds("nodes", ids)) return false;
  for (int32_t id : ids) {
    const std::string name = DataTableName(id);
    if (!ExecSql(("DROP TABLE IF EXISTS " + name).c_str()) ||
        !ExecSql(FormatNodeTemplate(templates.table, id).c_str()))
      return false;
    for (const std::string &index : templates.indexes)
      if (!ExecSql(FormatNodeTemplate(index, id).c_str())) return false;
    if (!LoadTable(file, name.c_str(), name.c_str(), emptied)) return false;
  }
  return true;
}

bool ReplaceContent(sqlite3 *file, const DataTableTemplates &templates, EmptiedNulls &emptied) {
  if (!DropDataTables() || !ClearTables()) return false;
  // Cleared inside the transaction: visible to nobody until the end.
  printf("Database successfully cleared\n");
  return LoadListedTables(file, emptied) && LoadDataTables(file, templates, emptied);
}

}  // namespace

bool ImportInOneTransaction(sqlite3 *file, EmptiedNulls &emptied) {
  // Read before the transaction, for the lock estimate of PostgreSQL: a
  // transaction too large for its lock table would fail only at the table
  // where the room ran out, after the clearing and every table before.
  DataTableTemplates templates;
  if (!ReadDataTableTemplates(templates) || !CheckLockTableRoom("this import", [&](int64_t &locks) {
        return EstimateImportLocks(file, templates.indexes.size(), locks);
      }))
    return false;
  if (!DBBegin(DbHandle)) {
    printf("ERROR: cannot start transaction\n");
    return false;
  }
  bool loaded = ReplaceContent(file, templates, emptied);
  if (loaded && DBCommit(DbHandle)) return true;
  // A commit the server refused with a rollback of its own says so.
  if (loaded && !TransactionRolledBackByServer())
    printf("ERROR: cannot commit transaction (%s)\n", DBGetLastError(DbHandle));
  // After a refused COMMIT too: SQLite keeps the transaction open when
  // the file is busy.
  if (DBRollback(DbHandle))
    printf("The import was rolled back: the database is as it was before\n");
  else
    printf("ERROR: cannot roll back transaction (%s)\n", DBGetLastError(DbHandle));
  return false;
}
