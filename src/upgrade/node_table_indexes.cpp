#include "upgrade/node_table_indexes.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "collected_data/index_catalogue.h"
#include "collected_data/templates.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/sql_exec.h"
#include "session/table_loop.h"
#include "upgrade/step_actions.h"

namespace {

constexpr char kLiveNodes[] = "is_deleted=0";

bool HasIndexOf(const IndexCatalogue &catalogue, const std::string &table, const std::string &statement) {
  const std::vector<CatalogueIndex> *indexes = IndexesOf(catalogue, table);
  if (indexes == nullptr) return false;
  for (const CatalogueIndex &index : *indexes)
    if (IsIndexOfStatement(index, table, statement)) return true;
  return false;
}

}  // namespace

bool ReadStepNodeIds(const char *where, std::vector<int32_t> &ids) {
  return StepForEachRow("id", "nodes", where, [&ids](db_result_t nodes, int row) {
    ids.push_back(static_cast<int32_t>(DBGetFieldULong(nodes, row, 0)));
    return true;
  });
}

bool NodeTablesMissing(const char *where, bool &expected) {
  expected = false;
  if (DbSyntax != DB_SYNTAX_PGSQL) return true;
  std::string query =
      "SELECT count(*) FROM nodes n WHERE NOT EXISTS (SELECT 1 FROM pg_class c WHERE c.relname='idata_'||n.id "
      "AND c.relkind='r' AND pg_table_is_visible(c.oid))";
  if (where != nullptr) query += std::string(" AND (") + where + ")";
  bool goOn;
  Result missing = StepSelect(query.c_str(), &goOn);
  if (missing == nullptr) {
    expected = true;
    return goOn;
  }
  expected = DBGetFieldInt64(missing.get(), 0, 0) > 0;
  return true;
}

bool CreateNodeTableIndexes(const char *indexTemplate) {
  // Each new index holds a lock on itself and on its table until the step
  // commits.
  if (!CheckLockTableRoom("this upgrade step", [](int64_t &locks) {
        Result count(SelectSql("SELECT count(*) FROM nodes WHERE is_deleted=0"));
        if (count == nullptr) return false;
        locks = 2 * DBGetFieldInt64(count.get(), 0, 0);
        return true;
      }))
    return false;
  // In id order, so that every run sends the same statements in the same
  // order.
  std::vector<int32_t> ids;
  bool missing;
  if (!ReadStepNodeIds(kLiveNodes, ids) || !NodeTablesMissing(kLiveNodes, missing)) return false;
  // On MySQL/MariaDB, where each index commits as it is made, a rerun
  // after an interrupted run finds some made already: the catalogue says
  // which (one read for all tables).
  IndexCatalogue catalogue;
  bool catalogueRead = false;
  if (DbSyntax == DB_SYNTAX_MYSQL && !ReadCollectedDataIndexes(catalogue, catalogueRead)) {
    if (StepRule() == TableLoop::OnFailure::kEnds) return false;
    catalogueRead = false;
  }
  return RunTableLoop(
      [&ids, &catalogue, indexTemplate](TableLoop &loop) {
        for (int32_t id : ids) {
          const std::string table = "idata_" + std::to_string(id);
          loop.startTable("Creating indexes for table \"" + table + "\"...");
          const std::string statement = FormatNodeTemplate(indexTemplate, id);
          if (HasIndexOf(catalogue, table, statement)) continue;
          if (!loop.exec(statement, StepRule())) return false;
        }
        return true;
      },
      {.careful = missing, .spread = catalogueRead});
}
