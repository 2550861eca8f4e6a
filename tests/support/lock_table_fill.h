// PostgreSQL's lock table as the tests that fill it see it: its size, and
// collected-data tables with an index each, made inside the server.
#pragma once

#include <cstdint>
#include <string>

#include "session/lock_table.h"
#include "support/test_db.h"

namespace tvtest {

// The lock table of db's server (a failed read fails the test).
LockTableSize ServerLockTable(TestDatabase &db);

// What the refusal adds after "and restart the server" on a server with
// standbys.
std::string StandbyAdvice(const LockTableSize &size);

// Tables idata_1000001 .. idata_<1000000 + count>, each with an index on
// item_id, made 500 at a time by DO blocks.
void AddIndexedDataTables(TestDatabase &db, int64_t count);

}  // namespace tvtest
