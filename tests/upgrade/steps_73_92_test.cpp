// Steps 73 -> 92 on the real engines, on the baseline brought to 73: the
// table rebuilds, the MySQL text columns, the move of the schema facts to
// metadata, and failed steps around that move.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "db/db.h"
#include "fixtures.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::StepLines;

// The columns that 78 -> 79 makes text not null on MySQL, with the key
// column of their table.
const struct {
  const char *table;
  const char *key;
  const char *column;
} kMySqlTextColumns[] = {
    {"users", "id", "cert_mapping_data"},
    {"user_profiles", "user_id", "var_value"},
    {"object_properties", "object_id", "comments"},
    {"network_services", "id", "check_request"},
    {"network_services", "id", "check_responce"},
    {"conditions", "id", "script"},
    {"container_categories", "category_id", "description"},
    {"items", "item_id", "transformation"},
    {"event_cfg", "event_code", "description"},
    {"actions", "action_id", "action_data"},
    {"event_policy", "rule_id", "comments"},
    {"event_policy", "rule_id", "script"},
    {"alarm_change_log", "change_id", "info_text"},
    {"alarm_notes", "note_id", "note_text"},
    {"object_tools", "tool_id", "tool_data"},
    {"syslog", "msg_id", "msg_text"},
    {"script_library", "script_id", "script_code"},
    {"snmp_trap_log", "trap_id", "trap_varlist"},
    {"maps", "map_id", "description"},
    {"agent_configs", "config_id", "config_file"},
    {"agent_configs", "config_id", "config_filter"},
    {"graphs", "graph_id", "config"},
    {"certificates", "cert_id", "cert_data"},
    {"certificates", "cert_id", "subject"},
    {"certificates", "cert_id", "comments"},
    {"audit_log", "record_id", "message"},
    {"situations", "id", "comments"},
};

// "table.column" -> whether the column takes NULL, from SchemaColumns.
std::map<std::string, bool> Nullability(tvtest::TestDatabase &db) {
  std::map<std::string, bool> nullable;
  std::stringstream lines(upgradetest::SchemaColumns(db));
  for (std::string line; std::getline(lines, line);)
    nullable[line.substr(0, line.find(' '))] = line.ends_with(" 0") || line.ends_with(" YES");
  return nullable;
}

std::string Encoded(const char *plain) {
  char *encoded = EncodeSQLString(plain);
  std::string text = encoded;
  free(encoded);
  return text;
}

std::string Literal(tvtest::TestDatabase &db, const std::string &text) {
  return DBPrepareString(db.handle(), text.c_str()).str();
}

class Steps73To92 : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { makeDatabase(); }

  // A new database at 73, current for the tool's routines; null when the
  // engine cannot be reached.
  void makeDatabase() {
    db = upgradetest::DatabaseAtVersion(GetParam(), 73);
    if (db) db->makeCurrent();
  }

  void setVariable(const std::string &name, const std::string &stored) {
    db->execAll({"DELETE FROM config WHERE var_name='" + name + "'",
                 "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('" + name +
                     "'," + Literal(*db, stored) + ",0,1)"});
  }
  // Runs the upgrade command up to target in this process; returns what
  // it printed.
  std::string upgradeTo(int target) {
    tvtest::CapturedOutput captured;
    UpgradeDatabaseTo(target);
    return captured.text();
  }
  bool exists(const std::string &tableOrColumn) {
    size_t dot = tableOrColumn.find('.');
    std::string query = dot == std::string::npos ? "SELECT count(*) FROM " + tableOrColumn
                                                 : "SELECT " + tableOrColumn.substr(dot + 1) + " FROM " +
                                                       tableOrColumn.substr(0, dot) + " WHERE 1=0";
    return db->value(query).rfind("<error", 0) != 0;
  }

  tvtest::ScopedOptions options;
  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_P(Steps73To92, ReachNinetyTwoWithTheirTablesColumnsAndVariables) {
  if (!db) return;
  db->execAll(
      {"INSERT INTO nodes (id,community) VALUES (901,'public')",
       "INSERT INTO alarms (alarm_id,timeout,timeout_event) VALUES (901,9,9)",
       "INSERT INTO templates (id) VALUES (902)", "INSERT INTO containers (id) VALUES (903)",
       "INSERT INTO cluster_resources (cluster_id,resource_id,resource_name,ip_addr) VALUES (904,1,'r','10.0.0.1')",
       "INSERT INTO items (item_id) VALUES (905)"});
  setVariable("BeaconHosts", "10.0.0.1");
  setVariable("EventStormThreshold", "5");
  setVariable("NumberOfEventProcessors", "2");
  setVariable("RetainCustomInterfaceNames", "1");

  EXPECT_EQ(upgradeTo(92), "Upgrading database...\n" + StepLines(73, 92) + "Database upgrade succeeded\n");
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 92);
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "92");

  // The tables and columns these steps make and drop are the catalogue
  // test's; here the values the steps give.
  EXPECT_EQ(db->rows("SELECT uname,use_ifxtable FROM nodes WHERE id=901"), "#00|0");
  EXPECT_EQ(db->rows("SELECT timeout,timeout_event FROM alarms WHERE alarm_id=901"), "0|43");
  EXPECT_EQ(db->rows("SELECT enable_auto_apply,apply_filter FROM templates WHERE id=902"), "0|#00");
  EXPECT_EQ(db->rows("SELECT enable_auto_bind,auto_bind_filter FROM containers WHERE id=903"), "0|#00");
  EXPECT_EQ(db->value("SELECT current_owner FROM cluster_resources WHERE cluster_id=904"), "0");
  EXPECT_EQ(db->rows("SELECT base_units,unit_multiplier,custom_units_name,perftab_settings FROM items "
                     "WHERE item_id=905"),
            "0|1|#00|#00");
  EXPECT_EQ(db->rows("SELECT event_code,event_name,severity,flags FROM event_cfg WHERE event_code>=48 "
                     "AND event_code<100 ORDER BY event_code"),
            "48|SYS_EVENT_STORM_DETECTED|3|1\n"
            "49|SYS_EVENT_STORM_ENDED|0|1\n"
            "50|SYS_NETWORK_CONN_LOST|4|1\n"
            "51|SYS_NETWORK_CONN_RESTORED|0|1\n"
            "52|SYS_DB_QUERY_FAILED|4|1");
  EXPECT_EQ(
      db->value("SELECT description FROM event_cfg WHERE event_code=52"),
      "Generated when SQL query to backend database failed.#0D#0AParameters:#0D#0A   1) Query#0D#0A   2) "
      "Error message");

  // Existing variables keep value and flags; removed ones are gone.
  EXPECT_EQ(
      db->rows(
          "SELECT var_name,var_value,is_visible,need_server_restart FROM config WHERE var_name IN "
          "('AgentCommandTimeout','AnonymousFileAccess','BeaconHosts','BeaconPollingInterval',"
          "'BeaconTimeout','CheckTrustedNodes','EnableAgentRegistration','EnableEventStormDetection',"
          "'EnableISCListener','EventStormDuration','EventStormEventsPerSecond','ReceiveForwardedEvents',"
          "'SMTPRetryCount','SyncNodeNamesWithDNS','UseIfXTable','UseInterfaceAliases',"
          "'EventStormThreshold','NumberOfEventProcessors','RetainCustomInterfaceNames') ORDER BY var_name"),
      "AgentCommandTimeout|2000|1|1\n"
      "AnonymousFileAccess|0|1|0\n"
      "BeaconHosts|10.0.0.1|0|1\n"
      "BeaconPollingInterval|1000|1|1\n"
      "BeaconTimeout|1000|1|1\n"
      "CheckTrustedNodes|1|1|1\n"
      "EnableAgentRegistration|1|1|0\n"
      "EnableEventStormDetection|0|1|1\n"
      "EnableISCListener|0|1|1\n"
      "EventStormDuration|15|1|1\n"
      "EventStormEventsPerSecond|100|1|1\n"
      "ReceiveForwardedEvents|0|1|0\n"
      "SMTPRetryCount|1|1|0\n"
      "SyncNodeNamesWithDNS|0|1|0\n"
      "UseIfXTable|1|1|0\n"
      "UseInterfaceAliases|0|1|0");
}

TEST_P(Steps73To92, RebuiltTablesKeepEveryRow) {
  if (!db) return;
  const std::string quoted = "it's \\ #1 \xC3\xBC";  // apostrophe, backslash, '#', non-ASCII
  db->execAll({
      "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (7,13,101,0,1)",
      "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (5,11,100,0,1)",
      "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (7,14,101,2,3)",
      "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (5,12,100,1,2)",
      "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (7,15,102,0,5)",
      "INSERT INTO dci_schedules (item_id,schedule) VALUES (3,'*/5 * * * *')",
      "INSERT INTO dci_schedules (item_id,schedule) VALUES (3," + Literal(*db, quoted) + ")",
      "INSERT INTO dci_schedules (item_id,schedule) VALUES (9,'0 0 * * *')",
      "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (1,0,'10.0.0.0','255.0.0.0')",
      "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (1,0,'10.0.0.0','255.0.0.0')",
      "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (2,1,'192.168.1.1','192.168.1.9')",
      "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (2,1," + Literal(*db, "o'b\\#1") +
          ",'x')",
  });
  EXPECT_EQ(upgradeTo(75).substr(0, 21), "Upgrading database...");
  db->exec("UPDATE address_lists SET community_id=3 WHERE list_type=2 AND addr2='x'");
  EXPECT_EQ(upgradeTo(81), "Upgrading database...\n" + StepLines(75, 81) + "Database upgrade succeeded\n");

  const struct {
    const char *query;
    std::string rows;
  } cases[] = {
      // Sequence numbers restart with every condition; the other columns
      // travel with their DCI, whatever order ties came in.
      {"SELECT condition_id,sequence_number FROM cond_dci_map ORDER BY condition_id,sequence_number",
       "5|0\n5|1\n7|0\n7|1\n7|2"},
      {"SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id,dci_id",
       "5|11|100|0|1\n5|12|100|1|2\n7|13|101|0|1\n7|14|101|2|3\n7|15|102|0|5"},
      // Schedule ids are numbered over the whole table.
      {"SELECT schedule_id FROM dci_schedules ORDER BY schedule_id", "1\n2\n3"},
      {"SELECT item_id,schedule FROM dci_schedules ORDER BY item_id,schedule",
       "3|*/5 * * * *\n3|" + quoted + "\n9|0 0 * * *"},
      // An exact copy of a row is kept once; the community travels.
      {"SELECT list_type,community_id,addr_type,addr1,addr2 FROM address_lists ORDER BY list_type,addr1",
       "1|0|0|10.0.0.0|255.0.0.0\n2|0|1|192.168.1.1|192.168.1.9\n2|3|1|o'b\\#1|x"},
  };
  for (const auto &c : cases) EXPECT_EQ(db->rows(c.query), c.rows) << c.query;
}

TEST_P(Steps73To92, MovedVariablesKeepTheirValuesByteForByte) {
  if (!db) return;
  const struct {
    const char *configName;
    const char *metadataName;
    const char *plain;  // stored encoded in config; null: no such variable
  } cases[] = {
      {"IDataTableCreationCommand", "IDataTableCreationCommand",
       "CREATE TABLE idata_%d (item_id integer not null,idata_value varchar(255) default 'n/a')"},
      {"IDataIndexCreationCommand_0", "IDataIndexCreationCommand_0", "it's a \\ back#slash, 'x'; --"},
      {"IDataIndexCreationCommand_1", "IDataIndexCreationCommand_1",
       "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC 100%"},
      {"IDataIndexCreationCommand_2", "IDataIndexCreationCommand_2", ""},
      {"IDataIndexCreationCommand_3", "IDataIndexCreationCommand_3", nullptr},
  };
  db->exec("DELETE FROM config WHERE var_name LIKE 'IData%'");
  for (const auto &c : cases)
    if (c.plain != nullptr) setVariable(c.configName, Encoded(c.plain));
  EXPECT_EQ(Encoded(""), "#00");
  setVariable("Unrelated", "stays");

  EXPECT_EQ(upgradeTo(86).substr(0, 21), "Upgrading database...");
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 86);
  EXPECT_EQ(upgradeTo(87),
            "Upgrading database...\nUpgrading from version 86 to 87\nDatabase upgrade succeeded\n");
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 87);

  for (const auto &c : cases) {
    std::string stored =
        db->value(std::string("SELECT var_value FROM metadata WHERE var_name='") + c.metadataName + "'");
    EXPECT_EQ(stored, c.plain != nullptr ? c.plain : "<none>") << c.metadataName;
    EXPECT_EQ(db->value(std::string("SELECT var_value FROM config WHERE var_name='") + c.configName + "'"),
              "<none>");
  }
  const char *syntax = GetParam() == "pgsql" ? "PGSQL" : GetParam() == "mysql" ? "MYSQL" : "SQLITE";
  EXPECT_EQ(db->rows("SELECT var_name,var_value FROM metadata WHERE var_name IN ('SchemaVersion','Syntax') "
                     "ORDER BY var_name"),
            std::string("SchemaVersion|87\nSyntax|") + syntax);
  EXPECT_EQ(db->value("SELECT count(*) FROM config WHERE var_name IN ('DBFormatVersion','DBSyntax')"), "0");
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='Unrelated'"), "stays");
  EXPECT_EQ(DBGetSyntax(db->handle()), db->syntax());
}

// A NULL in one of the columns must neither fail the step (strict mode)
// nor lose its row.
TEST_P(Steps73To92, TextColumnsHoldingNullKeepTheirRows) {
  if (!db) return;
  // One row per table with every text column NULL that takes it, the
  // other columns that refuse NULL given a value.
  const std::map<std::string, bool> nullable = Nullability(*db);
  std::set<std::string> seeded;
  for (const auto &[table, key, column] : kMySqlTextColumns) {
    if (!seeded.insert(table).second) continue;
    std::string columns = key, values = "77";
    for (const auto &[name, takesNull] : nullable)
      if (!takesNull && name.starts_with(std::string(table) + ".") &&
          name != std::string(table) + "." + key) {
        columns += "," + name.substr(name.find('.') + 1);
        values += ",'0'";
      }
    db->exec(std::string("INSERT INTO ") + table + " (" + columns + ") VALUES (" + values + ")");
  }
  if (GetParam() == "mysql") db->exec("SET SESSION sql_mode='STRICT_ALL_TABLES'");
  EXPECT_EQ(upgradeTo(79), "Upgrading database...\n" + StepLines(73, 79) + "Database upgrade succeeded\n");
  size_t checked = 0;
  for (const auto &[table, key, column] : kMySqlTextColumns) {
    if (!nullable.at(std::string(table) + "." + column)) continue;
    checked++;
    std::string stored =
        db->value(std::string("SELECT ") + column + " FROM " + table + " WHERE " + key + "=77");
    EXPECT_EQ(stored, GetParam() == "mysql" ? "" : "<null>") << table << "." << column;
    if (GetParam() != "mysql") continue;
    EXPECT_EQ(
        db->value(std::string("SELECT concat(data_type,' ',is_nullable) FROM information_schema.columns "
                              "WHERE table_schema=database() AND table_name='") +
                  table + "' AND column_name='" + column + "'"),
        "text NO")
        << table << "." << column;
  }
  // Twelve of the columns take NULL at 73; the others refuse it already,
  // so no database can hold a NULL there.
  EXPECT_EQ(checked, 12u);
}

// The version is read from config before the move and from metadata after
// it, also when the move or the step after it fails and a rerun follows.
TEST_P(Steps73To92, FailedStepsAroundTheMoveKeepTheVersionAndRerun) {
  if (!db) return;
  db->exec("DELETE FROM config WHERE var_name LIKE 'IData%'");
  setVariable("IDataTableCreationCommand", Encoded("CREATE TABLE idata_%d (item_id integer not null)"));
  setVariable("IDataIndexCreationCommand_0", Encoded("CREATE INDEX idx_idata_%d ON idata_%d(item_id)"));
  db->exec("DROP TABLE templates");  // 87 -> 88 fails without it
  // The move fails at its third variable: config refuses to let it go.
  if (GetParam() == "sqlite") {
    db->exec(
        "CREATE TRIGGER keep_template BEFORE DELETE ON config WHEN old.var_name='IDataTableCreationCommand' "
        "BEGIN SELECT RAISE(ABORT,'template kept'); END");
  } else if (GetParam() == "pgsql") {
    db->exec(
        "CREATE FUNCTION keep_template() RETURNS trigger AS $$ BEGIN IF old.var_name='IDataTableCreationCommand' "
        "THEN RAISE EXCEPTION 'template kept'; END IF; RETURN old; END $$ LANGUAGE plpgsql");
    db->exec(
        "CREATE TRIGGER keep_template BEFORE DELETE ON config FOR EACH ROW EXECUTE FUNCTION keep_template()");
  } else {
    db->exec(
        "CREATE TRIGGER keep_template BEFORE DELETE ON config FOR EACH ROW BEGIN IF "
        "old.var_name='IDataTableCreationCommand' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='template kept'; "
        "END IF; END");
  }

  std::string out = upgradeTo(92);
  EXPECT_NE(out.find(StepLines(73, 87) + "SQL query failed ("), std::string::npos) << out;
  EXPECT_NE(out.find("template kept"), std::string::npos) << out;
  EXPECT_NE(out.find("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 86);
  // DDL commits at once on MySQL: the new table stays there.
  EXPECT_EQ(exists("metadata"), GetParam() == "mysql");
  if (GetParam() != "mysql") {
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"), "86");
  }

  db->exec(GetParam() == "pgsql" ? "DROP TRIGGER keep_template ON config" : "DROP TRIGGER keep_template");
  out = upgradeTo(92);
  // MySQL kept the new table: the step's journal says so.
  const std::string resumed86 = GetParam() == "mysql"
                                    ? "Step 86 -> 87 was interrupted at statement 1 of its part 2; "
                                      "what it had applied before is skipped\n"
                                    : "";
  EXPECT_NE(out.find("Upgrading from version 86 to 87\n" + resumed86 +
                     "Upgrading from version 87 to 88\nSQL query failed ("),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 87);
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"), "<none>");

  db->exec("CREATE TABLE templates (id integer not null)");
  // The failed step applied nothing before its failure: a plain rerun.
  EXPECT_EQ(upgradeTo(92), "Upgrading database...\nUpgrading from version 87 to 88\n" + StepLines(88, 92) +
                               "Database upgrade succeeded\n");
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 92);
  EXPECT_EQ(
      db->rows("SELECT var_name,var_value FROM metadata WHERE var_name LIKE 'IData%' ORDER BY var_name"),
      "IDataIndexCreationCommand_0|CREATE INDEX idx_idata_%d ON idata_%d(item_id)\n"
      "IDataTableCreationCommand|CREATE TABLE idata_%d (item_id integer not null)");
  EXPECT_EQ(
      db->value("SELECT count(*) FROM config WHERE var_name LIKE 'IData%' OR var_name LIKE 'DB%Version' OR "
                "var_name='DBSyntax'"),
      "0");
}

// Where each statement after the CREATE commits on its own (MySQL in
// autocommit mode, Oracle), a failed move leaves some variables in
// metadata, one of them possibly in both tables; the rerun completes it.
TEST_P(Steps73To92, RerunCompletesAMovePartlyCommitted) {
  if (!db) return;
  setVariable("IDataTableCreationCommand", Encoded("CREATE TABLE idata_%d (v varchar(9) default 'it''s')"));
  EXPECT_EQ(upgradeTo(86).substr(0, 21), "Upgrading database...");
  db->execAll(
      {"CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,"
       "PRIMARY KEY(var_name))",
       "INSERT INTO metadata (var_name,var_value) VALUES ('SchemaVersion','86')",
       "INSERT INTO metadata (var_name,var_value) VALUES ('Syntax','SQLITE')",
       "INSERT INTO metadata (var_name,var_value) VALUES ('IDataTableCreationCommand','stale')",
       "DELETE FROM config WHERE var_name IN ('DBFormatVersion','DBSyntax')"});
  db->exec("UPDATE metadata SET var_value=" +
           Literal(*db, GetParam() == "pgsql"   ? "PGSQL"
                        : GetParam() == "mysql" ? "MYSQL"
                                                : "SQLITE") +
           " WHERE var_name='Syntax'");
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 86);
  EXPECT_EQ(upgradeTo(92), "Upgrading database...\n" + StepLines(86, 92) + "Database upgrade succeeded\n");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'"),
            "CREATE TABLE idata_%d (v varchar(9) default 'it''s')");
  EXPECT_EQ(db->value("SELECT count(*) FROM config WHERE var_name='IDataTableCreationCommand'"), "0");
  EXPECT_EQ(db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"), "92");
}

// Under -X a rebuild whose table cannot be read is skipped and the step
// goes on, also on PostgreSQL where a failed statement would otherwise
// end the whole transaction.
TEST_P(Steps73To92, UnreadableRebuildIsSkippedUnderIgnoreSqlErrors) {
  if (!db) return;
  for (const char *table : {"cond_dci_map", "dci_schedules", "address_lists"}) {
    SCOPED_TRACE(table);
    if (table != std::string("cond_dci_map")) makeDatabase();
    if (!db) return;
    db->execAll(
        {"INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES (1,2,3,4,5)",
         "INSERT INTO dci_schedules (item_id,schedule) VALUES (6,'x')",
         "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (1,0,'a','b')"});
    EXPECT_EQ(upgradeTo(76).substr(0, 21), "Upgrading database...");
    db->exec(std::string("DROP TABLE ") + table);
    IgnoreSqlErrors = true;
    std::string out = upgradeTo(81);
    IgnoreSqlErrors = false;
    EXPECT_NE(out.find(std::string(" FROM ") + table), std::string::npos)
        << out;  // the failed read, reported
    EXPECT_NE(out.find("Database upgrade succeeded\n"), std::string::npos) << out;
    EXPECT_EQ(DBGetSchemaVersion(db->handle()), 81);
    const struct {
      const char *table;
      const char *query;
      const char *rows;
    } rebuilt[] = {
        {"cond_dci_map", "SELECT condition_id,sequence_number,dci_id FROM cond_dci_map", "1|0|2"},
        {"dci_schedules", "SELECT schedule_id,item_id,schedule FROM dci_schedules", "1|6|x"},
        {"address_lists", "SELECT list_type,community_id,addr_type,addr1,addr2 FROM address_lists",
         "1|0|0|a|b"},
    };
    for (const auto &r : rebuilt) {
      if (strcmp(r.table, table) != 0) {
        EXPECT_EQ(db->rows(r.query), r.rows);
      }
    }
  }
}

// From the version-14 baseline, brought to 73 by the tool's own steps.
class UpgradeFrom73 : public ::testing::TestWithParam<std::string> {};

// SchemaColumns as "table.column" -> "type length nullability".
std::map<std::string, std::string> ColumnShapes(tvtest::TestDatabase &db) {
  std::map<std::string, std::string> shapes;
  std::stringstream lines(upgradetest::SchemaColumns(db));
  for (std::string line; std::getline(lines, line);) {
    size_t blank = line.find(' ');
    shapes[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
  }
  return shapes;
}

// Runs from 73 to 92 in stretches, each from a version a database can
// stand at; the catalogue at 92 is the one at 73 with the changes of
// these steps, in the shapes of a fresh database where the column lives
// on unchanged.
TEST_P(UpgradeFrom73, ReachesNinetyTwoWithTheTablesAndColumnsOfItsSteps) {
  std::map<std::string, std::string> fresh;
  if (auto db = tvtest::OpenOrSkip(GetParam()); db && db->initSchema()) fresh = ColumnShapes(*db);
  if (fresh.empty()) return;
  auto db = upgradetest::DatabaseAtVersion(GetParam(), 73);
  if (!db) return;
  std::map<std::string, std::string> at73 = ColumnShapes(*db);

  const int stops[] = {73, 81, 86, 87, 91, 92};
  for (size_t i = 1; i < std::size(stops); i++) {
    EXPECT_EQ(upgradetest::UpgradeTo(*db, stops[i]),
              "Upgrading database...\n" + StepLines(stops[i - 1], stops[i]) + "Database upgrade succeeded\n");
    // The version is where the database keeps it at that version.
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"),
              stops[i] <= 86 ? std::to_string(stops[i]) : "<none>");
    EXPECT_EQ(
        db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'").rfind("<error", 0) == 0,
        stops[i] <= 86);
    EXPECT_EQ(DBGetSchemaVersion(db->handle()), stops[i]);
  }
  EXPECT_EQ(DBGetSyntax(db->handle()), db->syntax());

  const std::set<std::string> droppedTables = {
      "modules",          "alarm_grops",  "alarm_group_map", "alarm_change_log", "lpp",
      "lpp_associations", "lpp_rulesets", "lpp_rules",       "lpp_groups",       "images",
      "default_images",   "cond_dci_map", "dci_schedules",   "address_lists"};
  const std::set<std::string> madeColumns = {"address_lists.list_type",
                                             "address_lists.community_id",
                                             "address_lists.addr_type",
                                             "address_lists.addr1",
                                             "address_lists.addr2",
                                             "snmp_communities.id",
                                             "snmp_communities.community",
                                             "cond_dci_map.condition_id",
                                             "cond_dci_map.sequence_number",
                                             "cond_dci_map.dci_id",
                                             "cond_dci_map.node_id",
                                             "cond_dci_map.dci_func",
                                             "cond_dci_map.num_polls",
                                             "trusted_nodes.source_object_id",
                                             "trusted_nodes.target_node_id",
                                             "nodes.uname",
                                             "dci_schedules.schedule_id",
                                             "dci_schedules.item_id",
                                             "dci_schedules.schedule",
                                             "object_custom_attributes.object_id",
                                             "object_custom_attributes.attr_name",
                                             "object_custom_attributes.attr_value",
                                             "web_maps.id",
                                             "web_maps.title",
                                             "web_maps.properties",
                                             "web_maps.data",
                                             "config_clob.var_name",
                                             "config_clob.var_value",
                                             "nodes.use_ifxtable",
                                             "metadata.var_name",
                                             "metadata.var_value",
                                             "templates.enable_auto_apply",
                                             "templates.apply_filter",
                                             "containers.enable_auto_bind",
                                             "containers.auto_bind_filter",
                                             "cluster_resources.current_owner",
                                             "items.base_units",
                                             "items.unit_multiplier",
                                             "items.custom_units_name",
                                             "items.perftab_settings",
                                             "userdb_custom_attributes.object_id",
                                             "userdb_custom_attributes.attr_name",
                                             "userdb_custom_attributes.attr_value"};
  std::set<std::string> expected = madeColumns;
  for (const auto &[column, shape] : at73)
    if (!droppedTables.count(column.substr(0, column.find('.')))) expected.insert(column);
  std::map<std::string, std::string> at92 = ColumnShapes(*db);
  for (const std::string &c : expected) EXPECT_TRUE(at92.count(c)) << GetParam() << ": missing " << c;
  for (const auto &[c, shape] : at92) EXPECT_TRUE(expected.count(c)) << GetParam() << ": unexpected " << c;

  std::set<std::string> finalShapes = madeColumns;
  if (GetParam() == "mysql")
    for (const auto &[table, key, column] : kMySqlTextColumns)
      finalShapes.insert(std::string(table) + "." + column);
  for (const std::string &c : finalShapes) {
    if (fresh.count(c) && at92.count(c)) {
      EXPECT_EQ(at92[c], fresh[c]) << GetParam() << ": " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, UpgradeFrom73, ::testing::ValuesIn(tvtest::AllEngines()),
                         [](const auto &info) { return info.param; });

INSTANTIATE_TEST_SUITE_P(Engines, Steps73To92, ::testing::ValuesIn(tvtest::AllEngines()),
                         [](const auto &info) { return info.param; });

}  // namespace
