// The indexes of every per-node collected-data table, read from the
// catalogue in one query instead of one per table, the test whether an
// index is the one an index template creates, and the one statement that
// changes several indexes of a table on MySQL/MariaDB.
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

// The indexes of table; null when the catalogue holds none of it.
const std::vector<CatalogueIndex> *IndexesOf(const IndexCatalogue &catalogue, const std::string &table);

// Reads the indexes of the tables idata_<n> (a primary key left out) on
// PostgreSQL, MySQL/MariaDB and SQLite; sets read to false, reading
// nothing, on the dialects without such a query. Returns false when the
// query failed (reported).
bool ReadCollectedDataIndexes(IndexCatalogue &catalogue, bool &read);

// Whether index, on table, is the index that statement (a filled
// template) creates: the same name, table, uniqueness and columns, names
// compared without case. A statement of another form never matches.
bool IsIndexOfStatement(const CatalogueIndex &index, const std::string &table, const std::string &statement);

// On MySQL/MariaDB, where every schema statement commits on its own and
// pays for it (and the upgrade's journal writes a row before each): the
// one ALTER TABLE that drops the indexes named in drops
// and adds those that creates (filled templates) make. Empty when a
// create is not of the form "CREATE [UNIQUE] INDEX name ON table(columns)"
// on this table: its text then has to run as it stands.
std::string CombinedIndexChange(const std::string &table, const std::vector<std::string> &drops,
                                const std::vector<std::string> &creates);
