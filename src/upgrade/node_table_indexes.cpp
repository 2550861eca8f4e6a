#include "upgrade/node_table_indexes.h"

#include <cstdint>
#include <cstdio>

#include "session/lock_table.h"
#include "session/sql_exec.h"
#include "transfer/idata_template.h"
#include "upgrade/key_walk.h"
#include "upgrade/step_actions.h"

namespace {

constexpr char kLiveNodes[] = "is_deleted=0";

}  // namespace

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
  return ForEachRowByKey("id", "nodes", kLiveNodes, [indexTemplate](db_result_t nodes, int row) {
    int32_t id = static_cast<int32_t>(DBGetFieldULong(nodes, row, 0));
    printf("Creating indexes for table \"idata_%d\"...\n", id);
    return StepSql(FormatNodeTemplate(indexTemplate, id).c_str());
  });
}
