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
  return StepGoesOn(rebuild.asCreateTable ? CreateTableSql(statement.c_str()) : ExecSql(statement.c_str()));
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

enum class Swap { kPending, kNone, kFailed };

// Fills the copy and drops the table, up to the rename that ends the
// swap. kNone: the table stays as it was and the step goes on (a failed
// read or a failed row that the step rule goes past).
Swap FillCopyAndDropTable(const TableRebuild &rebuild, const RowWriteBack &writeBack,
                          const std::string &copy) {
  const std::string table = rebuild.table;
  bool tableExists = false;
  bool copyExists = false;
  if (!ReadTableExists(table, &tableExists) || !ReadTableExists(copy, &copyExists))
    return StepGoesOn(false) ? Swap::kNone : Swap::kFailed;
  if (copyExists) {
    // The old rows are gone already: the copy holds them all.
    if (!tableExists) return Swap::kPending;
    if (!StepSql(("DROP TABLE " + copy).c_str())) return Swap::kFailed;
  }
  bool goOn;
  Result rows = StepSelect(rebuild.query, &goOn);
  if (rows == nullptr) return goOn ? Swap::kNone : Swap::kFailed;
  std::string create = rebuild.create;
  create.replace(create.find(table), table.size(), copy);
  // The old table goes only when the copy holds every row: under -X a
  // failed statement reads as success, so the reported errors tell.
  const int errorsBefore = ReportedSqlErrors();
  if (!SendCreate(rebuild, create) || !writeBack(rows.get(), copy.c_str())) return Swap::kFailed;
  if (ReportedSqlErrors() != errorsBefore) {
    ExecSql(("DROP TABLE IF EXISTS " + copy).c_str());
    return Swap::kNone;  // only where the step rule went past the failure
  }
  return StepSql(("DROP TABLE " + table).c_str()) ? Swap::kPending : Swap::kFailed;
}

bool RebuildBesideTheTable(const TableRebuild &rebuild, const RowWriteBack &writeBack) {
  const std::string copy = kCopyPrefix + std::string(rebuild.table);
  Swap swap = Swap::kPending;
  {
    // Redone whole by a rerun until the rename: what it sends depends on
    // where an interrupted run stopped. Once the table has its new
    // definition, the reads of the group would fail on it: a rerun passes
    // over a group the journal counts as applied.
    RepeatableStatements group(rebuild.table);
    if (!group.applied()) swap = FillCopyAndDropTable(rebuild, writeBack, copy);
  }
  if (swap != Swap::kPending) return swap == Swap::kNone;
  // Outside the group, so that the journal holds the group as applied
  // before the rename runs; a rerun after the rename finds the copy gone
  // and takes that for done.
  return StepSql(("RENAME TABLE " + copy + " TO " + rebuild.table).c_str());
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
