// The rows of a source query as a table of the export file, so that one
// INSERT ... SELECT copies a whole table. A statement per row would
// open, seek and close the file's table once for every row.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "db/db.h"
#include "transfer/table_progress.h"

// The name the rows go by in the file's statements.
extern const char kSourceRowsTable[];

struct SourceRows {
  db_async_result_t rows;  // its first row already fetched
  int columns;
  // Columns whose integers are handed over as integers rather than text.
  const std::vector<bool> &numeric;
  TableProgress &progress;  // counts each row once the file has taken it
  bool ended = false;       // the rows ran out (or a read broke off)
  bool read = false;
};

// While it exists, kSourceRowsTable reads source on file, once, from the
// current row to the end. Statements that read it must be finalised
// before it goes.
class SourceRowsTable {
 public:
  SourceRowsTable(sqlite3 *file, SourceRows &source);
  ~SourceRowsTable();
  SourceRowsTable(const SourceRowsTable &) = delete;
  SourceRowsTable &operator=(const SourceRowsTable &) = delete;
  // False with SQLite's error text when the table could not be set up.
  bool ready(std::string &error) const;

 private:
  sqlite3 *file_;
  int rc_;
};
