// The indexes of every per-node collected-data table, read from the
// catalogue in one query instead of one per table, and the test whether
// an index is the one an index template creates.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CatalogueIndex {
  std::string name;
  bool unique = false;
  // A b-tree on plain columns, without a condition: the kind of index a
  // template "CREATE [UNIQUE] INDEX name ON table(columns)" makes.
  bool plain = false;
  std::string columns;  // in key order, comma separated
};

// By table name.
using IndexCatalogue = std::map<std::string, std::vector<CatalogueIndex>>;

// Reads the indexes of the tables idata_<n> (a primary key left out) on
// PostgreSQL, MySQL/MariaDB and SQLite; sets read to false, reading
// nothing, on the dialects without such a query. Returns false when the
// query failed (reported).
bool ReadCollectedDataIndexes(IndexCatalogue &catalogue, bool &read);

// Whether index, on table, is the index that statement (a filled
// template) creates: the same name, table, uniqueness and columns, names
// compared without case. A statement of another form never matches.
bool IsIndexOfStatement(const CatalogueIndex &index, const std::string &table, const std::string &statement);
