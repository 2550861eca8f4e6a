// The parts of the import command: checking the file, copying one table.
#pragma once

#include <sqlite3.h>

// Checks, before anything is cleared, everything the import will need:
// the file is an intact SQLite database, every listed table and the
// collected-data table of every node in it are there, and every column
// it names is a plain identifier of the target table. Prints why not.
bool CheckImportFile(sqlite3 *file);

// Prints "Importing table <table>", copies the file's table into the
// connected database in a transaction of its own and commits it; a
// failure is reported and rolls that transaction back.
bool ImportTableInTransaction(sqlite3 *file, const char *table);
