// Databases at any schema version from 228 to 245, on every engine: a
// fresh 245 database with the later steps undone.
#pragma once

#include <memory>
#include <string>

#include "support/test_db.h"

namespace upgradetest {

// A new database of the engine at version (228..245), or null (the test
// is then skipped or failed by OpenOrSkip). A database at 233..237 also
// holds the tables that its own server version created and that only the
// combined step 232 -> 238 creates for a database at 232.
std::unique_ptr<tvtest::TestDatabase> DatabaseAt(const std::string &engine, int version);

// "table.column" lines, sorted, lower case: the shape of the schema.
std::string SchemaColumns(tvtest::TestDatabase &db);

// tvdbmgr with the options and "upgrade" on the database.
tvtest::RunResult RunUpgrade(tvtest::TestDatabase &db, const std::vector<std::string> &options = {});

// Standard output of a run, without the banner.
std::string WithoutBanner(const std::string &out);

}  // namespace upgradetest
