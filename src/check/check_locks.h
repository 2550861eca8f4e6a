// The locks of the check's transaction on PostgreSQL, where the collected-
// data check reads every node's table in it.
#pragma once

#include <cstdint>

// What the check's transaction locks when it counts the collected data:
// every table the check reads and every collected-data table, each with
// its indexes. False after reporting a failed query.
bool EstimateCheckLocks(int64_t &locks);
