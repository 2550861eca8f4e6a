// The locks of the check's transaction on PostgreSQL, where the collected-
// data check reads every node's table in it.
#pragma once

#include <cstdint>

#include "db/db.h"

// On PostgreSQL, the connection that counts the collected data for the
// check: a second one to the same database, read-only and in autocommit,
// so that no lock outlives its count and the check's transaction touches
// only the tables it repairs. Null elsewhere, or when it cannot be opened
// (then the counts run in the check's transaction, which must hold a lock
// on every table). Free it with DBDisconnect.
db_handle_t OpenCollectedDataCounter();

// What the check's transaction locks when it counts the collected data:
// every table the check reads and every collected-data table, each with
// its indexes. False after reporting a failed query.
bool EstimateCheckLocks(int64_t &locks);
