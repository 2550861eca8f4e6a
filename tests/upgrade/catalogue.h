// What the upgrade tests compare: the catalogue of a database (tables,
// columns with type and nullability, indexes) and, where a test needs
// "exactly as before", the rows of every table.
#pragma once

#include <map>
#include <set>
#include <string>

#include "support/test_db.h"

namespace upgradetest {

// One line per column ("table.column type ... nullability", as
// SchemaColumns) and per index ("index table name unique columns"), lower
// case. Primary keys and unique constraints are named by their columns,
// since each engine makes up its own name for them.
std::set<std::string> Catalogue(tvtest::TestDatabase &db);

// The catalogue of a fresh "tvdbmgr init" database of the engine, with a
// collected-data table and its index (from the stored templates) for
// each node id; empty (with the test failed or skipped) when none can be
// made.
std::set<std::string> FreshCatalogue(const std::string &engine, const std::set<int> &nodeIds);

// The lines of a fresh database that an upgraded one lacks because
// docs/schema.md says so (indexes that no step creates).
std::set<std::string> DocumentedMissingLines();

// Empty when upgraded equals fresh but for the lines it may lack;
// otherwise the differing lines, "-" for missing and "+" for extra ones.
std::string CatalogueDifferences(const std::set<std::string> &upgraded, const std::set<std::string> &fresh,
                                 const std::set<std::string> &mayLack = {});

// The state a failed step must leave untouched: the schema version, the
// catalogue and every row of every table (rows sorted, so that the order
// an engine returns them in does not count).
struct DatabaseState {
  int version = 0;
  std::set<std::string> catalogue;
  std::map<std::string, std::string> rows;  // table -> its rows
  bool operator==(const DatabaseState &) const = default;
};
DatabaseState TakeState(tvtest::TestDatabase &db);

// The lines of the first state that the second lacks ("-") or has
// extra ("+"), for a failure message.
std::string StateDifferences(const DatabaseState &before, const DatabaseState &after);

// The text with what each run generates anew blanked out: GUIDs and
// times (ten-digit numbers).
std::string WithoutGeneratedValues(const std::string &text);

// The rows of each table of the state with the generated values blanked
// out: what two runs of the same upgrade share.
std::map<std::string, std::string> RowsWithoutGeneratedValues(const DatabaseState &state);

// Adds a test failure for every way db differs from reference, a
// database that took the same steps without faults: the version, the
// catalogue, and the rows of each table but for generated values.
void ExpectSameAsReference(tvtest::TestDatabase &db, tvtest::TestDatabase &reference);

// Table names of the database, lower case, sorted.
std::set<std::string> TableNames(tvtest::TestDatabase &db);

}  // namespace upgradetest
