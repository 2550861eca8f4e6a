#include "upgrade/table_rebuild.h"

#include <string>

#include "session/batch.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "session/statement_watch.h"
#include "upgrade/step_actions.h"

namespace {

// Reserved for the tool, beside the import's own staging names.
constexpr char kCopyPrefix[] = "tvdbmgr_rebuilt_";

bool SendCreate(const TableRebuild &rebuild, const std::string &statement) {
  return (rebuild.asCreateTable ? CreateTableSql(statement.c_str()) : ExecSql(statement.c_str())) ||
         IgnoreSqlErrors;
}

// Whether a table of that name is in the database (MySQL); false after
// reporting a failed query.
bool ReadTableExists(const std::string &name, bool *exists) {
  Result count(SelectSql(("SELECT count(*) FROM information_schema.tables WHERE table_schema=DATABASE() AND "
                          "table_name='" +
                          name + "'")
                             .c_str()));
  if (count == nullptr) return false;
  *exists = DBGetFieldLong(count.get(), 0, 0) > 0;
  return true;
}

bool RebuildBesideTheTable(const TableRebuild &rebuild, const RowWriteBack &writeBack) {
  // Redone whole by a rerun: what it sends depends on where an
  // interrupted run stopped.
  RepeatableStatements group(rebuild.table);
  const std::string table = rebuild.table;
  const std::string copy = kCopyPrefix + table;
  bool tableExists = false;
  bool copyExists = false;
  if (!ReadTableExists(table, &tableExists) || !ReadTableExists(copy, &copyExists)) return IgnoreSqlErrors;
  if (copyExists) {
    // The old rows are gone already: the copy holds them all.
    if (!tableExists) return StepSql(("RENAME TABLE " + copy + " TO " + table).c_str());
    if (!StepSql(("DROP TABLE " + copy).c_str())) return false;
  }
  bool goOn;
  Result rows = StepSelect(rebuild.query, &goOn);
  if (rows == nullptr) return goOn;
  std::string create = rebuild.create;
  create.replace(create.find(table), table.size(), copy);
  // The old table goes only when the copy holds every row: under -X a
  // failed statement reads as success, so the reported errors tell.
  const int errorsBefore = ReportedSqlErrors();
  if (!SendCreate(rebuild, create) || !writeBack(rows.get(), copy.c_str())) return false;
  if (ReportedSqlErrors() != errorsBefore) {
    ExecSql(("DROP TABLE IF EXISTS " + copy).c_str());
    return true;  // only under IgnoreSqlErrors: the step goes on, the table as it was
  }
  return StepSql(("DROP TABLE " + table).c_str()) &&
         StepSql(("RENAME TABLE " + copy + " TO " + table).c_str());
}

}  // namespace

bool RebuildTable(const TableRebuild &rebuild, const RowWriteBack &writeBack) {
  if (DbSyntax == DB_SYNTAX_MYSQL) return RebuildBesideTheTable(rebuild, writeBack);
  bool goOn;
  Result rows = StepSelect(rebuild.query, &goOn);
  if (rows == nullptr) return goOn;
  return StepSql((std::string("DROP TABLE ") + rebuild.table).c_str()) &&
         SendCreate(rebuild, rebuild.create) && writeBack(rows.get(), rebuild.table);
}
