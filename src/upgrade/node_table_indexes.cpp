#include "upgrade/node_table_indexes.h"

#include <cstdint>
#include <cstdio>

#include "session/lock_table.h"
#include "transfer/idata_template.h"
#include "upgrade/step_actions.h"

bool CreateNodeTableIndexes(const char *indexTemplate) {
  bool goOn;
  Result nodes = StepSelect("SELECT id FROM nodes WHERE is_deleted=0", &goOn);
  if (nodes == nullptr) return goOn;
  int rows = DBGetNumRows(nodes.get());
  // Each new index holds a lock on itself and on its table until the step
  // commits.
  if (!CheckLockTableRoom("this upgrade step", [rows](int64_t &locks) {
        locks = 2 * static_cast<int64_t>(rows);
        return true;
      }))
    return false;
  for (int row = 0; row < rows; row++) {
    int32_t id = static_cast<int32_t>(DBGetFieldULong(nodes.get(), row, 0));
    printf("Creating indexes for table \"idata_%d\"...\n", id);
    if (!StepSql(FormatNodeTemplate(indexTemplate, id).c_str())) return false;
  }
  return true;
}
