// A table big enough that exporting or importing it takes a while, for
// the tests that interrupt, kill or watch a transfer half-way.
#pragma once

#include "support/test_db.h"

namespace tvtest {

// Adds rows syslog messages (ids 1..rows) to a database at the tool's version in one
// statement made by the engine itself (SQLite or PostgreSQL); a failure
// fails the test.
void FillSyslog(TestDatabase &db, int rows);

}  // namespace tvtest
