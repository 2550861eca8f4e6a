// Conversions that give a table a new definition read its rows, replace
// the table and write the rows back. Where schema statements commit at
// once (MySQL, MariaDB), dropping the table first would lose its rows to
// any failure or kill before they are written back: there the rows go
// into a copy of the new definition beside the old table, which is then
// dropped and the copy renamed, so that the database always holds one
// whole set of the rows, and a rerun finishes an interrupted swap.
#pragma once

#include <functional>

#include "db/db.h"

struct TableRebuild {
  const char *table;
  const char *query;   // reads the rows to write back
  const char *create;  // "CREATE TABLE <table> (...)"
  // Sent through CreateTableSql (type macros, MySQL table type); otherwise
  // as it stands.
  bool asCreateTable;
};

// Writes the rows back into the table named target; false when the step
// must end.
using RowWriteBack = std::function<bool(db_result_t rows, const char *target)>;

// Reads the rows with query, replaces the table and writes them back.
// Every statement runs under the step rule. A failed read is reported and
// leaves the table as it is; the step ends then unless IgnoreSqlErrors is
// set. Returns false when the step must end.
bool RebuildTable(const TableRebuild &rebuild, const RowWriteBack &writeBack);
