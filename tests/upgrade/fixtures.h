// Databases at any schema version the upgrade accepts, on every engine:
// the version-14 baseline brought up by the tool's own steps.
#pragma once

#include <memory>
#include <string>

#include "baseline.h"
#include "session/globals.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace upgradetest {

// What a database of DatabaseAtVersion holds besides the baseline's own
// rows, and where it lives.
struct DatabaseOptions {
  // The monitored nodes and the history, put in at version 14.
  BaselineNodes nodes = {};
  BaselineLogs logs = {};
  // Engine "mysql" only: on node 1 of the Galera cluster, which gives the
  // database to every node, instead of the single server.
  bool onGalera = false;
};

// A new database of the engine at version (14 up to the tool's version,
// or one of the older numbering's 93..105), current for the tool's
// routines (makeCurrent); or null, skipped or failed as by OpenOrSkip (a
// baseline that does not load or a step that fails on the way fails the
// test).
//
// On the main line it is the baseline with the options' rows, brought to
// version by the upgrade (UpgradeTo). A version off the main line holds
// what a server of that version kept that no step of this line makes:
// - 92 + k (k = 1..7) is the main line's 200 + k without the agent policy
//   tables, which only the bridges create (92 itself is the main line's:
//   the bridge 92 -> 200 adds nothing but those tables);
// - 100 + j (j = 0..4) is 207 without them, with the steps 209 -> 210 up
//   to 209 + j -> 210 + j already taken; 105 with 209 -> 214 and
//   216 -> 217 taken;
// - 233 is 232 with the SLM tables of 232 -> 238 that no single step
//   233 -> 238 creates, in their older form (business_services with name,
//   parent_id and status, slm_checks with name, slm_check_templates and
//   node_link_checks); 234..237 are 233 with the single steps up to them
//   taken.
std::unique_ptr<tvtest::TestDatabase> DatabaseAtVersion(const std::string &engine, int version,
                                                        const DatabaseOptions &options = {});

// Whether DatabaseAtVersion makes version off the main line.
bool OffMainLine(int version);

// Empty when this build has every step that DatabaseAtVersion needs to
// make a database at version and that the upgrade needs to take it to
// the tool's version; otherwise says which step is missing.
std::string MissingStep(int version);

// Empty when the steps from `from` lead to `to`; otherwise the missing
// step.
std::string MissingStepBetween(int from, int to);

// Runs the upgrade of db up to version with the tool's own step table
// through the library (UpgradeDatabaseTo), answering the questions yes
// as -f does, or no. Returns what the upgrade printed.
std::string UpgradeOutput(tvtest::TestDatabase &db, int version, bool answerYes = true);
// The same through another handle of the database (a test's wrapper
// around its connection) of dialect syntax.
std::string UpgradeOutputThrough(db_handle_t handle, int syntax, int version, bool answerYes = true);
// The same, failing the test when the database did not reach version.
std::string UpgradeTo(tvtest::TestDatabase &db, int version, bool answerYes = true);

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
