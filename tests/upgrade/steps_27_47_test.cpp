// Steps 27 -> 47 on every engine, from the version-14 baseline with rows
// of its own: the data that the steps move and add, the GUIDs of users
// and groups, and a failed read of 40 -> 41 that the step goes past.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using upgradetest::DatabaseAtVersion;
using upgradetest::UpgradeTo;

class Steps27To47 : public ::testing::TestWithParam<std::string> {};

// Rows of a version-14 server in the tables that 27 -> 47 converts.
const std::vector<std::string> kRowsAt14 = {
    "INSERT INTO users (id,access) VALUES (5,3)",
    "INSERT INTO user_groups (id,access) VALUES (7,12)",
    "INSERT INTO subnets (id,name,status,is_deleted,image_id,ip_addr) VALUES (50,'lan',0,0,0,'10.0.0.0')",
    "INSERT INTO alarms (alarm_id,severity,alarm_timestamp,is_ack,ack_by) VALUES (1,2,1000,0,0)",
    "INSERT INTO alarms (alarm_id,severity,alarm_timestamp,is_ack,ack_by) VALUES (2,4,2000,1,5)",
    "INSERT INTO alarms (alarm_id,severity,alarm_timestamp,is_ack,ack_by) VALUES (3,1,3000,7,9)",
    "INSERT INTO alarm_notes (note_id) VALUES (1)",
    "INSERT INTO thresholds (item_id,sequence_number) VALUES (10000,1)",
    "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
    "('StatusCalculationAlgorithm','7',0,0)",
    "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
    "('RADIUSSecret','own#20secret',0,1)",
};

struct Variable {
  const char *name;
  const char *value;  // as stored
  int isVisible;
  int needServerRestart;
};

// Every variable of 27 -> 47 as it stands at 47. StatusCalculationAlgorithm
// was deleted and added anew by 34 -> 35; RADIUSSecret existed already.
const Variable kVariablesAt47[] = {
    {"AllowedCiphers", "15", 1, 1},
    {"CapabilityExpirationTime", "604800", 1, 0},
    {"ConditionPollingInterval", "60", 1, 1},
    {"DBLockPID", "0", 0, 0},
    {"DefaultCommunityString", "vandor", 1, 0},
    {"DefaultEncryptionPolicy", "1", 1, 1},
    {"DisableVacuum", "0", 1, 0},
    {"DiscoveryFilter", "none", 1, 0},
    {"EnableMultipleDBConnections", "1", 1, 1},
    {"EnableSyslogDaemon", "0", 1, 1},
    {"EnableZoning", "0", 1, 1},
    {"FixedStatusValue", "0", 1, 1},
    {"IcmpPingSize", "46", 1, 1},
    {"KeepAliveInterval", "60", 1, 1},
    {"LockTimeout", "60000", 1, 1},
    {"LogAllSNMPTraps", "0", 1, 1},
    {"NumberOfConditionPollers", "10", 1, 1},
    {"NumberOfDatabaseWriters", "1", 1, 1},
    {"NumberOfRoutingTablePollers", "5", 1, 1},
    {"RADIUSNumRetries", "5", 1, 0},
    {"RADIUSPort", "1645", 1, 0},
    {"RADIUSSecret", "own#20secret", 0, 1},
    {"RADIUSServer", "localhost", 1, 0},
    {"RADIUSTimeout", "3", 1, 0},
    {"RoutingTableUpdateInterval", "300", 1, 1},
    {"SMSDrvConfig", "#00", 1, 1},
    {"StatusCalculationAlgorithm", "1", 1, 1},
    {"StatusPropagationAlgorithm", "1", 1, 1},
    {"StatusShift", "0", 1, 1},
    {"StatusSingleThreshold", "75", 1, 1},
    {"StatusThresholds", "503C2814", 1, 1},
    {"StatusTranslation", "01020304", 1, 1},
    {"SyslogListenPort", "514", 1, 1},
    {"SyslogRetentionTime", "5184000", 1, 0},
};

struct Case {
  const char *query;
  const char *expected;
};

const Case kRowsAt47[] = {
    // 27 -> 28 moves the access rights, 39 -> 40 and 40 -> 41 add the
    // grace logins and the authentication method.
    {"SELECT id,system_access,grace_logins,auth_method FROM users ORDER BY id", "0|65535|5|0\n5|3|5|0"},
    {"SELECT id,system_access FROM user_groups ORDER BY id", "-2147483648|0\n7|12"},
    {"SELECT id,zone_guid,proxy_node FROM nodes ORDER BY id", "100|0|0\n101|0|0"},
    {"SELECT id,zone_guid FROM subnets", "50|0"},
    {"SELECT object_class,image_id FROM default_images WHERE object_class IN (6,12,13) ORDER BY object_class",
     "6|13\n12|14\n13|15"},
    {"SELECT image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico FROM images "
     "WHERE image_id>=13 ORDER BY image_id",
     "13|Obj.Zone|zone.png|<invalid_hash>|zone.ico|<invalid_hash>\n"
     "14|Obj.VPNConnector|vpnc.png|<invalid_hash>|vpnc.ico|<invalid_hash>\n"
     "15|Obj.Condition|condition.png|<invalid_hash>|condition.ico|<invalid_hash>"},
    // 34 -> 35 and 46 -> 47 on every object, the built-in roots among them.
    {"SELECT object_id,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
     "status_single_threshold,status_thresholds,comments FROM object_properties WHERE object_id<=3 "
     "ORDER BY object_id",
     "1|0|0|0|0|01020304|75|503C2814|#00\n2|0|0|0|0|01020304|75|503C2814|#00\n"
     "3|0|0|0|0|01020304|75|503C2814|#00"},
    {"SELECT COUNT(*) FROM object_properties WHERE status_translation IS NULL OR comments IS NULL", "0"},
    {"SELECT COUNT(*) FROM items WHERE adv_schedule=0", "2"},
    // Tools 1 to 15; 35 -> 36 marks the twelve that existed then, and
    // 43 -> 44 removed the seeded tool 8000 with its column and grant.
    {"SELECT COUNT(*),MIN(tool_id),MAX(tool_id) FROM object_tools", "15|1|15"},
    {"SELECT matching_oid,COUNT(*) FROM object_tools GROUP BY matching_oid ORDER BY matching_oid",
     "|3\n#00|12"},
    {"SELECT tool_id,tool_name,tool_type,tool_data,flags,description FROM object_tools "
     "WHERE tool_id IN (3,6,11,12,13) ORDER BY tool_id",
     "3|&Wakeup node|0|wakeup|0|Wakeup node using Wake-On-LAN magic packet\n"
     "6|&Connect->Open &web browser|4|http://%OBJECT_IP_ADDR%|0|Open embedded web browser to node\n"
     "11|&Info->&Agent->Supported &actions|3|Supported actions#7FAgent.ActionList#7F^(.*) (.*) "
     "#22(.*)#22.*|0|Show list of actions supported by agent\n"
     "12|&Info->&Agent->Configured &ICMP targets|3|Configured ICMP targets#7FICMP.TargetList#7F^(.*) "
     "(.*) (.*) (.*)|0|Show list of actions supported by agent\n"
     "13|&Info->&Process list|3|Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)|2|Show list of "
     "currently running processes"},
    {"SELECT COUNT(*),MIN(tool_id),MAX(tool_id),MIN(user_id),MAX(user_id) FROM object_tools_acl",
     "15|1|15|-2147483648|-2147483648"},
    {"SELECT COUNT(*) FROM object_tools_table_columns", "25"},
    {"SELECT tool_id,col_number,col_name,col_oid,col_format,col_substr FROM object_tools_table_columns "
     "WHERE tool_id IN (5,12,15) ORDER BY tool_id,col_number",
     "5|0|MAC Address|.1.3.6.1.2.1.17.4.3.1.1|4|0\n5|1|Port|.1.3.6.1.2.1.17.4.3.1.2|5|0\n"
     "12|0|IP Address||0|1\n12|1|Name||0|4\n12|2|Last RTT||0|2\n12|4|Average RTT||0|3\n"
     "15|0|Device ID|.1.3.6.1.4.1.9.9.23.1.2.1.1.6|0|0\n15|1|IP Address|.1.3.6.1.4.1.9.9.23.1.2.1.1.4|3|0\n"
     "15|2|Platform|.1.3.6.1.4.1.9.9.23.1.2.1.1.8|0|0\n15|3|Version|.1.3.6.1.4.1.9.9.23.1.2.1.1.5|0|0\n"
     "15|4|Port|.1.3.6.1.4.1.9.9.23.1.2.1.1.7|0|0"},
    {"SELECT pair_id,snmp_oid,node_type,node_flags FROM oid_to_type WHERE pair_id IN (1,2,6,11) "
     "ORDER BY pair_id",
     "1|.1.3.6.1.4.1.3224.1.*|2|0\n2|.1.3.6.1.4.1.45.3.26.*|3|0\n6|.1.3.6.1.4.1.45.3.33.*|3|0\n"
     "11|.1.3.6.1.4.1.45.3.61.*|3|0"},
    {"SELECT COUNT(*) FROM oid_to_type WHERE pair_id BETWEEN 1 AND 11", "11"},
    {"SELECT event_code,event_name,severity,flags,message FROM event_cfg WHERE event_code BETWEEN 33 AND 37 "
     "ORDER BY event_code",
     "33|SYS_SCRIPT_ERROR|2|1|Script (%1) execution error: %2\n"
     "34|SYS_CONDITION_ACTIVATED|2|1|Condition \"%2\" activated\n"
     "35|SYS_CONDITION_DEACTIVATED|0|1|Condition \"%2\" deactivated\n"
     "36|SYS_DB_CONN_LOST|4|1|Lost connection with backend database engine\n"
     "37|SYS_DB_CONN_RESTORED|0|1|Connection with backend database engine restored"},
    {"SELECT description FROM event_cfg WHERE event_code=36",
     "Generated if connection with backend database engine is lost.#0D#0AParameters:#0D#0A   No "
     "message-specific parameters"},
    {"SELECT script_id,script_name,script_code FROM script_library WHERE script_id IN (1,3) "
     "ORDER BY script_id",
     "1|Filter::SNMP|sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A\n"
     "3|Filter::AgentOrSNMP|sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A"},
    {"SELECT COUNT(*) FROM script_library", "4"},
    {"SELECT map_id,map_name,description,root_object_id FROM maps", "1|Default|Default network map|1"},
    {"SELECT map_id,user_id,access_rights FROM map_access_lists", "1|-2147483648|1"},
    // 46 -> 47: the alarm life cycle from the acknowledgement flag.
    {"SELECT alarm_id,alarm_state,hd_state,hd_ref,creation_time,last_change_time,original_severity,"
     "current_severity,repeat_count,term_by FROM alarms ORDER BY alarm_id",
     "1|0|0|#00|1000|1000|2|2|1|0\n2|2|0|#00|2000|2000|4|4|1|5\n3|2|0|#00|3000|3000|1|1|1|9"},
    {"SELECT COUNT(*) FROM alarm_notes WHERE note_text IS NULL OR note_text IS NOT NULL", "0"},
    {"SELECT item_id,sequence_number,current_state FROM thresholds", "10000|1|0"},
    {"SELECT COUNT(*) FROM config WHERE var_name='NewNodePollingInterval'", "0"},
};

// What 27 -> 47 drops.
const char *const kGoneAt47[] = {
    "SELECT access FROM users",          "SELECT access FROM user_groups",
    "SELECT discovery_flags FROM nodes", "SELECT status_alg FROM object_properties",
    "SELECT severity FROM alarms",       "SELECT alarm_timestamp FROM alarms",
    "SELECT is_ack FROM alarms",         "SELECT COUNT(*) FROM new_nodes",
};

std::string IndexNames(tvtest::TestDatabase &db) {
  const std::string names =
      "('idx_event_log_event_timestamp','idx_syslog_msg_timestamp','idx_snmp_trap_log_trap_timestamp',"
      "'idx_alarm_notes_alarm_id','idx_alarm_change_log_alarm_id')";
  if (db.engine() == "sqlite")
    return db.rows("SELECT name FROM sqlite_master WHERE type='index' AND name IN " + names + " ORDER BY 1");
  if (db.engine() == "pgsql")
    return db.rows("SELECT indexname FROM pg_indexes WHERE schemaname=current_schema() AND indexname IN " +
                   names + " ORDER BY 1");
  return db.rows(
      "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=database() AND "
      "index_name IN " +
      names + " ORDER BY 1");
}

TEST_P(Steps27To47, MoveAndAddTheDataAsTheStepsSay) {
  auto db = DatabaseAtVersion(GetParam(), 14,
                              {.nodes = {.firstNode = 100, .nodes = 2, .itemsPerNode = 1, .rowsPerItem = 1}});
  if (!db) return;
  ASSERT_TRUE(db->execAll(kRowsAt14));
  std::string out = UpgradeTo(*db, 30);
  // An existing variable keeps its value, until 34 -> 35 replaces it.
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='StatusCalculationAlgorithm'"), "7");
  std::string out43 = UpgradeTo(*db, 43);
  EXPECT_NE(
      out43.find("Upgrading from version 40 to 41\nGenerating GUIDs...\nUpgrading from version 41 to 42\n"),
      std::string::npos)
      << out43;
  ASSERT_TRUE(db->execAll(
      {"INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description,matching_oid) "
       "VALUES (8000,'&Info->&Process list',3,'x',0,'old','#00')",
       "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
       "VALUES (8000,0,'PID','',0,1)",
       "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (8000,5)"}));
  out += out43 + UpgradeTo(*db, 47);
  EXPECT_EQ(out.find("SQL query failed"), std::string::npos) << out;

  for (const Case &c : kRowsAt47) EXPECT_EQ(db->rows(c.query), c.expected) << c.query;
  std::string variables, expected;
  for (const Variable &v : kVariablesAt47) {
    variables += (variables.empty() ? "'" : ",'") + std::string(v.name) + "'";
    expected += (expected.empty() ? "" : "\n") + std::string(v.name) + "|" + v.value + "|" +
                std::to_string(v.isVisible) + "|" + std::to_string(v.needServerRestart);
  }
  EXPECT_EQ(
      db->rows("SELECT var_name,var_value,is_visible,need_server_restart FROM config WHERE var_name IN (" +
               variables + ") ORDER BY var_name"),
      expected);
  for (const char *query : kGoneAt47) EXPECT_EQ(db->value(query).rfind("<error", 0), 0u) << query;
  EXPECT_EQ(IndexNames(*db),
            "idx_alarm_change_log_alarm_id\nidx_alarm_notes_alarm_id\nidx_event_log_event_timestamp\n"
            "idx_snmp_trap_log_trap_timestamp\nidx_syslog_msg_timestamp");

  // Every user and group has a GUID of its own, in the lower-case text form.
  const std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  std::string guids = db->rows("SELECT guid FROM users UNION ALL SELECT guid FROM user_groups");
  std::set<std::string> distinct;
  for (size_t start = 0; start <= guids.size();) {
    size_t end = guids.find('\n', start);
    if (end == std::string::npos) end = guids.size();
    std::string g = guids.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(g, guid)) << g;
    distinct.insert(g);
    start = end + 1;
  }
  EXPECT_EQ(distinct.size(), 4u) << guids;
}

// A failed read of the users is reported and the step goes on: the groups
// get their GUIDs and the step commits, on PostgreSQL too, where a failed
// statement would otherwise end the step's transaction.
TEST_P(Steps27To47, FailedUserReadOfTheGuidStepIsPassed) {
  auto db = DatabaseAtVersion(GetParam(), 40);
  if (!db) return;
  ASSERT_TRUE(db->execAll({"DROP TABLE users",
                           "CREATE TABLE users (user_id integer not null,grace_logins integer,"
                           "PRIMARY KEY(user_id))",
                           "INSERT INTO users (user_id,grace_logins) VALUES (1,5)",
                           "INSERT INTO user_groups (id,system_access) VALUES (7,0)"}));
  std::string out = UpgradeTo(*db, 41);
  EXPECT_NE(out.find("Generating GUIDs...\nSQL query failed ("), std::string::npos) << out;
  EXPECT_NE(out.find("SELECT id FROM users"), std::string::npos) << out;
  EXPECT_NE(out.find("Database upgrade succeeded\n"), std::string::npos) << out;
  EXPECT_EQ(db->value("SELECT COUNT(*) FROM users WHERE guid IS NULL"), "1");
  EXPECT_EQ(db->value("SELECT COUNT(DISTINCT guid) FROM user_groups"), "2");
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='RADIUSTimeout'"), "3");
}

INSTANTIATE_TEST_SUITE_P(Engines, Steps27To47, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
