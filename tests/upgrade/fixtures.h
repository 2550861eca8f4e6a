// Databases at any schema version on every engine: from 14 on, the
// version-14 baseline brought up by the tool's own steps; from 228 on
// also a fresh database at the tool's version with the later steps undone.
#pragma once

#include <memory>
#include <string>

#include "baseline.h"
#include "session/globals.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace upgradetest {

// A new database of the engine at version (228 up to the tool's version):
// a fresh one with the later steps undone, or the baseline brought up to
// version where a later step has no undo here; or null (the test
// is then skipped or failed by OpenOrSkip). A database at 233..237 also
// holds the tables that its own server version created and that only the
// combined step 232 -> 238 creates for a database at 232.
std::unique_ptr<tvtest::TestDatabase> DatabaseAt(const std::string &engine, int version);

// A new database of the engine at version 14 holding the nodes, current
// for the tool's routines (makeCurrent), or null (skipped or failed as by
// OpenOrSkip; a baseline that does not load fails the test).
std::unique_ptr<tvtest::TestDatabase> BaselineDatabase(const std::string &engine,
                                                       const BaselineNodes &nodes = {});

// Runs the upgrade of db up to version with the tool's own step table
// through the library (UpgradeDatabaseTo), answering the questions yes
// as -f does, or no. Returns what the upgrade printed.
std::string UpgradeOutput(tvtest::TestDatabase &db, int version, bool answerYes = true);
// The same through another handle of the database (a test's wrapper
// around its connection) of dialect syntax.
std::string UpgradeOutputThrough(db_handle_t handle, int syntax, int version, bool answerYes = true);
// The same, failing the test when the database did not reach version.
std::string UpgradeTo(tvtest::TestDatabase &db, int version, bool answerYes = true);

// The baseline brought to version (14 or later), or null.
std::unique_ptr<tvtest::TestDatabase> DatabaseAtVersion(const std::string &engine, int version);

// "table.column" lines, sorted, lower case: the shape of the schema.
std::string SchemaColumns(tvtest::TestDatabase &db);

// tvdbmgr with the options and "upgrade" on the database, with the extra
// environment ("NAME=value").
tvtest::RunResult RunUpgrade(tvtest::TestDatabase &db, const std::vector<std::string> &options = {},
                             const std::vector<std::string> &env = {});

// Standard output of a run, without the banner.
std::string WithoutBanner(const std::string &out);

// Upgrades db, which stands at version and differs from fresh, with the
// tool; expects the exact messages, the tool's version and the schema fresh
// (SchemaColumns).
void ExpectUpgradeReachesSchema(tvtest::TestDatabase &db, int version, const std::string &fresh);

// Whether out holds the tool's report of the failed statement, whatever
// the engine's own error text.
testing::AssertionResult ReportsFailure(const std::string &out, const std::string &statement);

// The "Upgrading from version A to B" lines of a run from `from` up to
// `to`, the jumps taken from the step table itself.
std::string StepLines(int from, int to = kToolSchemaVersion);

// The last row of the step table: the step that a database one step
// behind the tool takes.
const UpgradeStep &LastStep();

}  // namespace upgradetest
