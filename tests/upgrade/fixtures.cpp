#include "fixtures.h"

#include <variant>
#include <vector>

#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "upgrade/steps.h"

namespace upgradetest {
namespace {

bool OlderNumbering(int version) { return version > 92 && version <= 105; }

bool BetweenTheSingleSteps(int version) { return version > 232 && version < 238; }

// The main-line version that a database at version is made from.
int MadeFrom(int version) {
  if (OlderNumbering(version)) return version < 100 ? version + 108 : 207;
  if (BetweenTheSingleSteps(version)) return 232;
  return version;
}

// Where the steps from 209 that a database of the older numbering at
// version (100..105) had taken led.
int HeldStepsEnd(int version) { return version == 105 ? 214 : 110 + version; }

// A new database of the engine at version 14 with the options' rows, or
// null (skipped or failed as by OpenOrSkip).
std::unique_ptr<tvtest::TestDatabase> BaselineDatabase(const std::string &engine,
                                                       const DatabaseOptions &options) {
  std::unique_ptr<tvtest::TestDatabase> db =
      options.onGalera ? tvtest::OpenOnGaleraOrSkip() : tvtest::OpenOrSkip(engine);
  if (db == nullptr) return nullptr;
  db->makeCurrent();
  std::string error;
  if (!LoadBaseline(error) || (options.nodes.nodes > 0 && !AddBaselineNodes(options.nodes, error)) ||
      (options.logs.eventLogRows > 0 && !AddBaselineLogs(options.logs, error))) {
    ADD_FAILURE() << engine << " baseline: " << error;
    return nullptr;
  }
  return db;
}

// Upgrades db to version; false (the test failed) when it did not get there.
bool Reaches(tvtest::TestDatabase &db, int version) {
  UpgradeTo(db, version);
  return DBGetSchemaVersion(db.handle()) == version;
}

void SetVersion(tvtest::TestDatabase &db, int version) {
  db.exec("UPDATE metadata SET var_value='" + std::to_string(version) + "' WHERE var_name='SchemaVersion'");
}

// Turns the main line's MadeFrom(version) into the older numbering's
// version: the steps of the 2xx line that the older line already had, run
// by the upgrade itself from where they start, and no policy tables.
bool ToOlderNumbering(tvtest::TestDatabase &db, int version) {
  if (version >= 100) {
    SetVersion(db, 209);
    if (!Reaches(db, HeldStepsEnd(version))) return false;
    if (version == 105) {
      SetVersion(db, 216);
      if (!Reaches(db, 217)) return false;
    }
  }
  if (!db.execAll({"DROP TABLE ap_common", "DROP TABLE ap_bindings", "DROP TABLE ap_config_files"}))
    return false;
  SetVersion(db, version);
  return true;
}

// The tables of 232 -> 238 that a single step between 233 and 238 creates
// itself.
bool MadeByASingleStep(const char *createTable) {
  for (const char *table : {"job_history", "reports", "report_results", "slm_service_history"})
    if (std::string(createTable).starts_with(std::string("CREATE TABLE ") + table + " (")) return true;
  return false;
}

// Turns the main line's 232 into version (233..237): the SLM tables as a
// server at 233 kept them, made by the combined step's own statements,
// then the single steps up to version.
bool ToBetweenTheSingleSteps(tvtest::TestDatabase &db, int version) {
  std::vector<step::Action> kept;
  for (const step::Action &action : FindUpgradeStep(232)->actions)
    if (const auto *create = std::get_if<step::CreateTable>(&action);
        create != nullptr && !MadeByASingleStep(create->statement))
      kept.push_back(action);
  if (!RunActions(kept)) {
    ADD_FAILURE() << db.engine() << ": the tables of a server at 233 were not created";
    return false;
  }
  if (!db.execAll({"ALTER TABLE business_services ADD name varchar(63)",
                   "ALTER TABLE business_services ADD parent_id integer",
                   "ALTER TABLE business_services ADD status integer",
                   "ALTER TABLE slm_checks ADD name varchar(63)",
                   "CREATE TABLE slm_check_templates (id integer not null,PRIMARY KEY(id))",
                   "CREATE TABLE node_link_checks (id integer not null,PRIMARY KEY(id))"}))
    return false;
  SetVersion(db, 233);
  return Reaches(db, version);
}

}  // namespace

std::unique_ptr<tvtest::TestDatabase> DatabaseAtVersion(const std::string &engine, int version,
                                                        const DatabaseOptions &options) {
  std::unique_ptr<tvtest::TestDatabase> db = BaselineDatabase(engine, options);
  if (db == nullptr || !Reaches(*db, MadeFrom(version))) return nullptr;
  if (OlderNumbering(version) && !ToOlderNumbering(*db, version)) return nullptr;
  if (BetweenTheSingleSteps(version) && !ToBetweenTheSingleSteps(*db, version)) return nullptr;
  return db;
}

bool OffMainLine(int version) { return OlderNumbering(version) || BetweenTheSingleSteps(version); }

std::string MissingStepBetween(int from, int to) {
  for (int version = from; version != to;) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) return "this build has no step from version " + std::to_string(version);
    if (step->to > to && version < to)
      return "the steps from " + std::to_string(from) + " pass " + std::to_string(to);
    version = step->to;
  }
  return "";
}

std::string MissingStep(int version) {
  std::string missing = MissingStepBetween(14, MadeFrom(version));
  if (missing.empty() && OlderNumbering(version) && version >= 100)
    missing = MissingStepBetween(209, HeldStepsEnd(version));
  if (missing.empty() && version == 105) missing = MissingStepBetween(216, 217);
  if (missing.empty() && BetweenTheSingleSteps(version)) missing = MissingStepBetween(233, version);
  return missing.empty() ? MissingStepBetween(version, kToolSchemaVersion) : missing;
}

std::string UpgradeOutput(tvtest::TestDatabase &db, int version, bool answerYes) {
  db.makeCurrent();
  return UpgradeOutputThrough(db.handle(), db.syntax(), version, answerYes);
}

std::string UpgradeOutputThrough(db_handle_t handle, int syntax, int version, bool answerYes) {
  tvtest::ScopedCurrentDatabase current(handle, syntax);
  tvtest::ScopedOptions options;
  ForceRepair = answerYes;
  tvtest::CapturedOutput captured;
  UpgradeDatabaseTo(version);
  return captured.text();
}

std::string UpgradeTo(tvtest::TestDatabase &db, int version, bool answerYes) {
  std::string out = UpgradeOutput(db, version, answerYes);
  int reached = DBGetSchemaVersion(db.handle());
  EXPECT_EQ(reached, version) << db.engine() << " upgrade to " << version << " stopped:\n" << out;
  return out;
}

std::string SchemaColumns(tvtest::TestDatabase &db) {
  // Types and nullability too: the steps must build what the init scripts
  // declare, not only the same names.
  std::string query;
  if (db.engine() == "sqlite")
    query =
        "SELECT lower(m.name)||'.'||lower(p.name)||' '||lower(p.type)||' '||p.\"notnull\" "
        "FROM sqlite_master m JOIN pragma_table_info(m.name) p WHERE m.type='table' ORDER BY 1";
  else if (db.engine() == "pgsql")
    query =
        "SELECT lower(table_name)||'.'||lower(column_name)||' '||data_type||' '||"
        "coalesce(character_maximum_length::text,'')||' '||is_nullable FROM information_schema.columns "
        "WHERE table_schema=current_schema() ORDER BY 1";
  else
    query =
        "SELECT concat(lower(table_name),'.',lower(column_name),' ',column_type,' ',is_nullable) AS c "
        "FROM information_schema.columns WHERE table_schema=database() ORDER BY 1";
  return db.rows(query);
}

tvtest::RunResult RunUpgrade(tvtest::TestDatabase &db, const std::vector<std::string> &options,
                             const std::vector<std::string> &env) {
  std::vector<std::string> args = options;
  args.insert(args.end(), {"-c", db.configPath(), "upgrade"});
  std::vector<std::string> environment = env;
  environment.emplace_back("NO_COLOR=1");
  tvtest::RunResult r = tvtest::RunTool(args, "", environment);
  if (db.engine() == "mysql") db.reconnect();
  return r;
}

std::string WithoutBanner(const std::string &out) {
  return out.starts_with(tvtest::kBanner) ? out.substr(tvtest::kBanner.size()) : out;
}

void ExpectUpgradeReachesSchema(tvtest::TestDatabase &db, int version, const std::string &fresh) {
  ASSERT_NE(SchemaColumns(db), fresh) << version;
  tvtest::RunResult r = RunUpgrade(db);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(WithoutBanner(r.out),
            "Upgrading database...\n" + StepLines(version) + "Database upgrade succeeded\n")
      << "from " << version;
  EXPECT_EQ(db.value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"),
            std::to_string(kToolSchemaVersion));
  EXPECT_EQ(SchemaColumns(db), fresh) << "from " << version;
}

testing::AssertionResult ReportsFailure(const std::string &out, const std::string &statement) {
  size_t at = out.find("SQL query failed (");
  if (at == std::string::npos) return testing::AssertionFailure() << "no error report in:\n" << out;
  if (out.find("):\n" + statement + "\n", at) == std::string::npos)
    return testing::AssertionFailure() << "report does not name " << statement << ":\n" << out;
  return testing::AssertionSuccess();
}

const UpgradeStep &LastStep() { return UpgradeStepTable().back(); }

std::string StepLines(int from, int to) {
  std::string lines;
  for (int version = from; version < to;) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) break;
    lines += "Upgrading from version " + std::to_string(version) + " to " + std::to_string(step->to) + "\n";
    version = step->to;
  }
  return lines;
}

}  // namespace upgradetest
