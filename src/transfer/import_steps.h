// The parts of the import command: checking the file, loading one table,
// and the two ways of replacing the database's content as a whole.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Checks, before anything is cleared, everything the import will need:
// the file is an intact SQLite database, every listed table and the
// collected-data table of every node in it are there, and every column
// it names is a plain identifier of the target table. Prints why not.
bool CheckImportFile(sqlite3 *file);

// Per table, how many NULL values of the file went into NOT NULL text
// columns as the empty text. Tables without any are left out.
using EmptiedNulls = std::vector<std::pair<std::string, uint64_t>>;

// One line per table of counts: "Table <t>: <n> NULL values stored as
// empty text in NOT NULL columns".
void PrintEmptiedNulls(const EmptiedNulls &counts);

// Prints "Importing table <table>" and copies the file's table of that
// name into the connected database's table target (the same name, or a
// staging table standing in for it), inside the caller's transaction,
// which target holds no rows of yet. A NULL bound for a NOT NULL text
// column is stored as the empty text and counted in emptied; a value
// holding a NUL byte is refused. False after reporting why; whatever was
// inserted stays in the caller's transaction for it to roll back.
bool LoadTable(sqlite3 *file, const char *table, const char *target, EmptiedNulls &emptied);

// The statement templates of the collected-data tables, from the
// connected database's metadata: the table's, and the index templates
// consecutive from suffix 0. False, with the message printed, when the
// table's is missing.
struct DataTableTemplates {
  std::string table;
  std::vector<std::string> indexes;
};
bool ReadDataTableTemplates(DataTableTemplates &templates);

// The columns of the connected database's table that are NOT NULL and
// hold text, as the engine's catalogue describes them. False after
// reporting a failed query.
bool ReadNotNullTextColumns(const char *table, std::vector<std::string> &columns);

// The import's failure policy for the clearing of the old content (the
// read of the old node list, the DROP of an old collected-data table, the
// DELETE of a listed table), whose failure has been reported: under -X
// the clearing goes on past it and the load decides, otherwise the
// import ends there. Every failure of the load ends the import. Returns
// true when the clearing goes on.
bool ClearingGoesOn(bool succeeded);

// The ids of the rows of the connected database's table (nodes or its
// staging copy). False after reporting a failed query.
bool ReadNodeIds(const char *table, std::vector<int32_t> &ids);

// PostgreSQL and SQLite, whose schema statements are transactional: the
// clearing and the whole load in one transaction, committed at the end.
// A failure rolls everything back. False after reporting.
bool ImportInOneTransaction(sqlite3 *file, EmptiedNulls &emptied);

// MySQL/MariaDB: what an interrupted import left is cleared away, before
// the file is checked against the tables. Its staging tables are
// dropped; a table set aside whose live table is missing (only a server
// that went down in the middle of the swap leaves that) is put back, so
// that every table exists again. False after reporting.
bool ClearEarlierImport();

// MySQL/MariaDB, where a schema statement commits at once: every table is
// loaded into a staging copy first, then all are swapped in with one
// RENAME TABLE. A failure before the swap leaves the database as it was.
// False after reporting.
bool ImportThroughStaging(sqlite3 *file, EmptiedNulls &emptied);
