// The data conversions of steps 14 -> 27 on seeded rows, and the indexes
// that the steps and their two questions leave, on every engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collected_data/templates.h"
#include "db/db.h"
#include "fixtures.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::BaselineNodes;
using upgradetest::DatabaseAtVersion;
using upgradetest::UpgradeOutput;
using upgradetest::UpgradeTo;

class Steps14To27 : public ::testing::TestWithParam<std::string> {};

// The upgrade to version through the library with the keys typed at the
// questions (not -f). Returns what it printed.
std::string UpgradeTyping(tvtest::TestDatabase &db, int version, const std::string &keys) {
  db.makeCurrent();
  tvtest::ScopedOptions options;
  ForceRepair = false;
  tvtest::CapturedOutput captured(keys);
  UpgradeDatabaseTo(version);
  return captured.text();
}

// The names of a table's own indexes (not those of its primary key),
// sorted and joined by ",".
std::string IndexNames(tvtest::TestDatabase &db, const std::string &table) {
  std::string query;
  if (db.engine() == "sqlite")
    query = "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='" + table +
            "' AND name NOT LIKE 'sqlite_autoindex%' ORDER BY 1";
  else if (db.engine() == "pgsql")
    query = "SELECT indexname FROM pg_indexes WHERE schemaname=current_schema() AND tablename='" + table +
            "' AND indexname NOT LIKE '%_pkey' ORDER BY 1";
  else
    query =
        "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=database() AND "
        "table_name='" +
        table + "' AND index_name<>'PRIMARY' ORDER BY 1";
  std::string names = db.rows(query);
  for (char &c : names)
    if (c == '\n') c = ',';
  return names;
}

std::string Decoded(std::string text) {
  DecodeSQLString(text.data());
  text.resize(strlen(text.c_str()));
  return text;
}

TEST_P(Steps14To27, PolicyEventsAlarmsAndTrapsKeepTheirEventCodesIn17) {
  auto db = DatabaseAtVersion(GetParam(), 17);
  if (!db) return;
  db->execAll({"INSERT INTO policy_event_list (rule_id,event_id) VALUES (7,12)",
               "INSERT INTO policy_event_list (rule_id,event_id) VALUES (7,4003)",
               "INSERT INTO policy_event_list (rule_id,event_id) VALUES (8,12)",
               "INSERT INTO alarms (alarm_id,source_event_id) VALUES (1,4004)",
               "INSERT INTO nodes (id,is_agent,community) VALUES (100,0,'public')",
               "INSERT INTO nodes (id,is_agent,community) VALUES (101,1,'public')",
               "INSERT INTO event_group_members (group_id,event_id) VALUES (1,17)"});
  UpgradeTo(*db, 18);
  EXPECT_EQ(db->rows("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"),
            "7|12\n7|4003\n8|12");
  EXPECT_EQ(db->rows("SELECT source_event_code,source_event_id FROM alarms"), "4004|0");
  EXPECT_EQ(db->rows("SELECT trap_id,event_code FROM snmp_trap_cfg ORDER BY trap_id"),
            "1|501\n2|502\n3|503\n4|504\n5|505\n6|506");
  EXPECT_EQ(db->rows("SELECT id,agent_version FROM nodes ORDER BY id"), "100|\n101|<unknown>");
  // Every template of the old table, with its text as stored.
  EXPECT_EQ(db->rows("SELECT event_code,event_name,severity,flags,message FROM event_cfg "
                     "WHERE event_code IN (17,503,4004) ORDER BY event_code"),
            "17|SYS_THRESHOLD_REACHED|1|1|Threshold reached\n503|SNMP_LINK_DOWN|3|1|Link is down\n"
            "4004|DC_SERVICE_NOT_RUNNING|3|1|Service #22%6#22 is not running");
  EXPECT_EQ(db->value("SELECT count(*) FROM event_cfg"), "15");
  EXPECT_EQ(db->value("SELECT count(*) FROM event_group_members"), "0");
  EXPECT_EQ(db->value("SELECT count(*) FROM modules"), "0");
}

TEST_P(Steps14To27, SixNodeColumnsBecomeTheFlagWordIn20) {
  auto db = DatabaseAtVersion(GetParam(), 20);
  if (!db) return;
  const struct {
    int id;
    const char *snmp, *agent, *bridge, *router, *localMgmt, *ospf;
    const char *flags;
  } cases[] = {
      {100, "1", "1", "0", "0", "0", "1", "67"},  // 0x43
      {101, "0", "0", "0", "0", "0", "0", "0"},
      {102, "1", "1", "1", "1", "1", "1", "95"},  // 0x5F: 0x20 is no column's bit
      {103, "0", "0", "1", "1", "0", "0", "12"},
      {104, "0", "0", "0", "0", "1", "0", "16"},
      {105, "0", "-1", "0", "0", "0", "7", "66"},  // any value but 0 counts
      {106, "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "0"},
  };
  std::string expected;
  for (const auto &c : cases) {
    db->exec(
        "INSERT INTO nodes (id,is_deleted,community,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,"
        "is_ospf) VALUES (" +
        std::to_string(c.id) + ",1,'public'," + c.snmp + "," + c.agent + "," + c.bridge + "," + c.router +
        "," + c.localMgmt + "," + c.ospf + ")");
    expected += (expected.empty() ? "" : "\n") + std::to_string(c.id) + "|" + c.flags;
  }
  UpgradeTo(*db, 21);
  EXPECT_EQ(db->rows("SELECT id,node_flags FROM nodes ORDER BY id"), expected);
}

// Typed y, -f and typed n at the two questions of 20 -> 21 and 24 -> 25.
// Deleted nodes get no index. The fixed indexes have the names of a
// fresh database, and the stored templates make indexes of their own
// name for one more node.
TEST_P(Steps14To27, IndexQuestionsIndexEveryLiveNodeTable) {
  const BaselineNodes nodes = {.firstNode = 100, .nodes = 3, .itemsPerNode = 2, .rowsPerItem = 1};
  const struct {
    const char *keys;  // null: -f
    bool yes;
  } cases[] = {{"yy", true}, {nullptr, true}, {"nn", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.keys != nullptr ? std::string("typed ") + c.keys : std::string("-f"));
    auto db = DatabaseAtVersion(GetParam(), 14, {.nodes = nodes});
    if (!db) return;
    db->exec("UPDATE nodes SET is_deleted=1 WHERE id=101");
    std::string out = c.keys != nullptr ? UpgradeTyping(*db, 26, c.keys) : UpgradeOutput(*db, 26, true);
    const std::string answer = c.yes ? "Y\nCreating indexes for table \"idata_100\"...\n"
                                       "Creating indexes for table \"idata_102\"...\n"
                                     : "N\n";
    EXPECT_NE(out.find("Upgrading from version 20 to 21\nCreate indexes on existing IDATA tables? (Y/N) " +
                       answer + "Upgrading from version 21 to 22\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Upgrading from version 24 to 25\nCreate indexes on existing IDATA tables? (Y/N) " +
                       answer + "Upgrading from version 25 to 26\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(IndexNames(*db, "idata_100"), c.yes ? "idx_idata_100_item_id,idx_idata_100_timestamp" : "");
    EXPECT_EQ(IndexNames(*db, "idata_101"), "");
    EXPECT_EQ(IndexNames(*db, "idata_102"), c.yes ? "idx_idata_102_item_id,idx_idata_102_timestamp" : "");
    EXPECT_EQ(IndexNames(*db, "thresholds"), "idx_thresholds_item_id,idx_thresholds_sequence");
    EXPECT_EQ(IndexNames(*db, "raw_dci_values"), "idx_raw_dci_values_item_id");
    EXPECT_EQ(db->value("SELECT count(*) FROM raw_dci_values WHERE raw_value='#00' AND last_poll_time=1 AND "
                        "item_id IN (SELECT item_id FROM items)"),
              "6");
    EXPECT_EQ(db->value("SELECT count(*) FROM raw_dci_values"), "6");
    EXPECT_EQ(db->rows("SELECT var_name,is_visible,need_server_restart FROM config WHERE var_name LIKE "
                       "'IDataIndexCreationCommand%' ORDER BY var_name"),
              "IDataIndexCreationCommand_0|0|1\nIDataIndexCreationCommand_1|0|1");

    if (!c.yes) continue;
    std::string table =
        Decoded(db->value("SELECT var_value FROM config WHERE var_name='IDataTableCreationCommand'"));
    std::string byItem =
        Decoded(db->value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_0'"));
    std::string byTime =
        Decoded(db->value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'"));
    EXPECT_EQ(byItem, "CREATE INDEX idx_idata_%d_item_id ON idata_%d(item_id)");
    EXPECT_EQ(byTime, "CREATE INDEX idx_idata_%d_timestamp ON idata_%d(idata_timestamp)");
    EXPECT_TRUE(db->execAll(
        {FormatNodeTemplate(table, 103), FormatNodeTemplate(byItem, 103), FormatNodeTemplate(byTime, 103)}));
    EXPECT_EQ(IndexNames(*db, "idata_103"), "idx_idata_103_item_id,idx_idata_103_timestamp");
  }
}

// 25 -> 26 run by itself on the same database, once per starting state of
// the variables.
TEST_P(Steps14To27, IndexTemplateVariableGetsItsNumberIn25) {
  auto db = DatabaseAtVersion(GetParam(), 25);
  if (!db) return;
  const struct {
    std::vector<std::string> rows;  // config rows before
    const char *zero;               // IDataIndexCreationCommand_0 after
  } cases[] = {
      {{"('IDataIndexCreationCommand','CREATE INDEX i_#25d ON idata_#25d(item_id)',1,0)"},
       "CREATE INDEX i_#25d ON idata_#25d(item_id)|0|1"},
      {{"('IDataIndexCreationCommand','new',0,1)", "('IDataIndexCreationCommand_0','kept',1,0)"}, "kept|1|0"},
      {{}, "<none>"},
  };
  for (const auto &c : cases) {
    db->exec("DELETE FROM config WHERE var_name LIKE 'IDataIndexCreationCommand%'");
    for (const std::string &row : c.rows)
      db->exec("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES " + row);
    db->makeCurrent();
    EXPECT_EQ(RunUpgradeStep(*FindUpgradeStep(25), 25), 1);
    EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config "
                       "WHERE var_name='IDataIndexCreationCommand_0'"),
              c.zero == std::string("<none>") ? "" : c.zero);
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand'"), "<none>");
    EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config "
                       "WHERE var_name='IDataIndexCreationCommand_1'"),
              "CREATE INDEX idx_idata_#25d_timestamp ON idata_#25d(idata_timestamp)|0|1");
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"), "26");
  }
}

// Objects of every class, the three roots with names from config (one
// holding an apostrophe, one missing), an invalid built-in id, ids that no
// table holds (reported in id order among the built-in ones) and an
// object whose attributes are all NULL.
TEST_P(Steps14To27, ObjectPropertiesGatherEveryClassIn26) {
  auto db = DatabaseAtVersion(GetParam(), 26);
  if (!db) return;
  db->execAll({
      "UPDATE config SET var_value='Main#27s network' WHERE var_name='TopologyRootObjectName'",
      "UPDATE config SET var_value='7' WHERE var_name='TopologyRootImageId'",
      "DELETE FROM config WHERE var_name='ServiceRootObjectName'",
      "UPDATE access_options SET inherit_rights=1 WHERE object_id=3",
      "INSERT INTO nodes (id,name,status,is_deleted,image_id,community) VALUES (100,'router#27s',2,0,11,'x')",
      "INSERT INTO interfaces (id,name,status,is_deleted,image_id,node_id) VALUES (200,'eth0',1,1,12,100)",
      "INSERT INTO subnets (id,name,status,is_deleted,image_id) VALUES (300,'10.0.0.0/8',0,0,0)",
      "INSERT INTO templates (id,name,is_deleted,image_id) VALUES (400,'Linux',0,13)",
      "INSERT INTO network_services (id,name,status,is_deleted,node_id,poller_node_id,image_id) "
      "VALUES (500,'HTTP',3,7,100,0,14)",
      "INSERT INTO containers (id,name,status,is_deleted,image_id) VALUES (600,'Servers',4,0,15)",
      "INSERT INTO subnets (id) VALUES (301)",
      // The node of the same id comes first.
      "INSERT INTO containers (id,name,status,is_deleted,image_id) VALUES (100,'not this one',1,1,1)",
  });
  for (const char *access : {"(-4,1)", "(5,1)", "(100,1)", "(200,0)", "(300,1)", "(301,NULL)", "(400,0)",
                             "(500,1)", "(600,0)", "(700,1)"})
    db->exec(std::string("INSERT INTO access_options (object_id,inherit_rights) VALUES ") + access);
  std::string out = UpgradeTo(*db, 27);
  EXPECT_NE(out.find("Upgrading from version 26 to 27\n"
                     "WARNING: object with ID -4 presented in access control tables but cannot be found in "
                     "data tables\nWARNING: Invalid built-in object ID 5\n"
                     "WARNING: object with ID 700 presented in access control tables but cannot be found in "
                     "data tables\nDatabase upgrade succeeded\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(db->rows("SELECT object_id,name,status,is_deleted,image_id,inherit_access_rights "
                     "FROM object_properties ORDER BY object_id"),
            "1|Main's network|5|0|7|0\n"
            "2|All Services|5|0|0|0\n"
            "3|Templates|5|0|0|1\n"
            "100|router#27s|2|0|11|1\n"
            "200|eth0|1|1|12|0\n"
            "300|10.0.0.0/8|0|0|0|1\n"
            "301||0|0|0|0\n"
            "400|Linux|5|0|13|0\n"
            "500|HTTP|3|1|14|1\n"
            "600|Servers|4|0|15|0");
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE last_modified<1600000000"), "0");
  EXPECT_EQ(
      db->value("SELECT count(*) FROM config WHERE var_name IN ('TopologyRootObjectName',"
                "'TopologyRootImageId','ServiceRootImageId','TemplateRootObjectName','TemplateRootImageId')"),
      "0");
  EXPECT_EQ(db->value("SELECT count(*) FROM event_cfg WHERE event_code IN (31,32)"), "2");
}

INSTANTIATE_TEST_SUITE_P(Engines, Steps14To27, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
