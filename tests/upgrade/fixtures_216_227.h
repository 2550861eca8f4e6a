// Databases at 216..227 on every engine: a fresh database at the tool's version with the
// later steps undone, as DatabaseAt does from 228 on.
#pragma once

#include <memory>
#include <string>

#include "support/test_db.h"

namespace upgradetest {

// A new database of the engine at version (216..227), or null (the test
// is then skipped or failed by OpenOrSkip). From 227 down it holds the
// old map tables in their full form with the default map that 38 -> 39
// creates, and web_maps.
std::unique_ptr<tvtest::TestDatabase> DatabaseBefore228(const std::string &engine, int version);

}  // namespace upgradetest
