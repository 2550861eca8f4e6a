// What the import in one transaction locks on PostgreSQL, so that an
// import that cannot fit in the server's lock table is refused before the
// database is cleared.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>

// Estimates the tables and indexes the import of file locks in one
// transaction on the connected PostgreSQL database: the listed tables
// with their indexes (emptied and loaded), every collected-data table
// there now with its indexes and types (dropped), and for every node of
// the file a new collected-data table with indexTemplates indexes. False
// after reporting a failed query.
bool EstimateImportLocks(sqlite3 *file, size_t indexTemplates, int64_t &locks);
