// Rebuilding the indexes of the large log and data tables.
#pragma once

#include <cstdint>

// Drops every index of each per-node collected-data table and creates
// the ones that the metadata templates IDataIndexCreationCommand_0..9
// describe. Failures are reported and the next item follows.
void ReindexCollectedDataTables();

// What ReindexCollectedDataTables locks inside a transaction on
// PostgreSQL: every collected-data table, each of its indexes (dropped)
// and one new index per template. Puts the count into locks; false after
// reporting a failed query.
bool EstimateReindexLocks(int64_t &locks);
