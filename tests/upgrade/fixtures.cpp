#include "fixtures.h"

#include <map>
#include <vector>

#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "upgrade/steps.h"

namespace upgradetest {
namespace {

// What to run on a database at version v + 1 (or 238 for 232) to bring it
// back to v. The undone tables and columns that the upgrade drops again
// only need a plausible form.
const std::map<int, std::vector<std::string>> &UndoSteps() {
  static const std::map<int, std::vector<std::string>> steps = {
      {244, {"ALTER TABLE nodes DROP COLUMN runtime_flags"}},
      {243,
       {"ALTER TABLE interfaces DROP COLUMN dot1x_pae_state",
        "ALTER TABLE interfaces DROP COLUMN dot1x_backend_state",
        "DELETE FROM event_cfg WHERE event_code>=57 AND event_code<=61"}},
      {242,
       {"ALTER TABLE items DROP COLUMN flags", "ALTER TABLE items DROP COLUMN snmp_raw_value_type",
        "ALTER TABLE items ADD adv_schedule integer", "ALTER TABLE items ADD all_thresholds integer"}},
      {241,
       {"ALTER TABLE dashboards DROP COLUMN options",
        "CREATE TABLE business_service_templates (service_id integer not null,template_id integer not null,"
        "PRIMARY KEY(service_id,template_id))"}},
      {240,
       {"ALTER TABLE slm_checks DROP COLUMN template_id",
        "ALTER TABLE slm_checks DROP COLUMN current_ticket"}},
      {239, {"ALTER TABLE raw_dci_values DROP COLUMN transformed_value"}},
      {238, {"DELETE FROM event_cfg WHERE event_code=56"}},
      {237,
       {"DROP TABLE slm_service_history",
        "CREATE TABLE slm_check_templates (id integer not null,PRIMARY KEY(id))",
        "CREATE TABLE node_link_checks (id integer not null,PRIMARY KEY(id))"}},
      {236,
       {"ALTER TABLE business_services ADD name varchar(63)",
        "ALTER TABLE business_services ADD parent_id integer",
        "ALTER TABLE business_services ADD status integer", "ALTER TABLE slm_checks ADD name varchar(63)"}},
      {235, {"DROP TABLE report_results"}},
      {234, {"DROP TABLE reports"}},
      {233,
       {"DROP TABLE job_history", "DELETE FROM config WHERE var_name='JobHistoryRetentionTime'",
        "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
        "(18,'SYS_THRESHOLD_REARMED',0,1,'Threshold rearmed','old text')"}},
      {232,
       {"DROP TABLE business_services", "DROP TABLE business_service_templates", "DROP TABLE node_links",
        "DROP TABLE slm_agreements", "DROP TABLE organizations", "DROP TABLE persons",
        "DROP TABLE slm_checks", "DROP TABLE slm_tickets", "DROP TABLE slm_check_templates",
        "DROP TABLE node_link_checks"}},
      {231,
       {"ALTER TABLE object_properties DROP COLUMN submap_id", "CREATE TABLE maps (map_id integer not null)",
        "CREATE TABLE map_access_lists (map_id integer not null,user_id integer not null)",
        "CREATE TABLE submaps (map_id integer not null,submap_id integer not null)",
        "CREATE TABLE submap_object_positions (map_id integer not null,submap_id integer not null)",
        "CREATE TABLE submap_links (map_id integer not null,submap_id integer not null)"}},
      {230, {"ALTER TABLE nodes DROP COLUMN bridge_base_addr"}},
      {229,
       {"ALTER TABLE network_maps DROP COLUMN bg_latitude",
        "ALTER TABLE network_maps DROP COLUMN bg_longitude", "ALTER TABLE network_maps DROP COLUMN bg_zoom",
        "ALTER TABLE dashboard_elements DROP COLUMN layout_data",
        "ALTER TABLE dashboard_elements ADD horizontal_span integer",
        "ALTER TABLE dashboard_elements ADD vertical_span integer",
        "ALTER TABLE dashboard_elements ADD horizontal_alignment integer",
        "ALTER TABLE dashboard_elements ADD vertical_alignment integer",
        "DELETE FROM config WHERE var_name='TileServerURL'"}},
      {228, {"DROP TABLE dashboard_elements", "DROP TABLE dashboards"}},
  };
  return steps;
}

}  // namespace

std::unique_ptr<tvtest::TestDatabase> BaselineDatabase(const std::string &engine,
                                                       const BaselineNodes &nodes) {
  std::unique_ptr<tvtest::TestDatabase> db = tvtest::OpenOrSkip(engine);
  if (db == nullptr) return nullptr;
  db->makeCurrent();
  std::string error;
  if (!LoadBaseline(error) || (nodes.nodes > 0 && !AddBaselineNodes(nodes, error))) {
    ADD_FAILURE() << engine << " baseline: " << error;
    return nullptr;
  }
  return db;
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

std::unique_ptr<tvtest::TestDatabase> DatabaseAtVersion(const std::string &engine, int version) {
  std::unique_ptr<tvtest::TestDatabase> db = BaselineDatabase(engine);
  if (db == nullptr) return nullptr;
  UpgradeTo(*db, version);
  if (DBGetSchemaVersion(db->handle()) != version) return nullptr;
  return db;
}

std::unique_ptr<tvtest::TestDatabase> DatabaseAt(const std::string &engine, int version) {
  for (int v = LastStep().from; v >= version; v--)
    if (!UndoSteps().contains(v)) return DatabaseAtVersion(engine, version);
  std::unique_ptr<tvtest::TestDatabase> db = tvtest::OpenOrSkip(engine);
  if (db == nullptr || !db->initSchema()) return nullptr;
  for (int v = LastStep().from; v >= version; v--) {
    if (!db->execAll(UndoSteps().at(v))) return nullptr;
  }
  db->exec("UPDATE metadata SET var_value='" + std::to_string(version) + "' WHERE var_name='SchemaVersion'");
  if (engine == "mysql") db->reconnect();
  return db;
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
