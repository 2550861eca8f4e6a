#include "upgrade/node_table_indexes.h"

#include <cstdint>
#include <cstdio>

#include "transfer/idata_template.h"
#include "upgrade/step_actions.h"

bool CreateNodeTableIndexes(const char *indexTemplate) {
  bool goOn;
  Result nodes = StepSelect("SELECT id FROM nodes WHERE is_deleted=0", &goOn);
  if (nodes == nullptr) return goOn;
  int rows = DBGetNumRows(nodes.get());
  for (int row = 0; row < rows; row++) {
    int32_t id = static_cast<int32_t>(DBGetFieldULong(nodes.get(), row, 0));
    printf("Creating indexes for table \"idata_%d\"...\n", id);
    if (!StepSql(FormatNodeTemplate(indexTemplate, id).c_str())) return false;
  }
  return true;
}
