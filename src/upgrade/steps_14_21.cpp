// Steps 14 -> 21, the oldest versions the tool accepts: SNMP traps, the
// move of the event templates from events to event_cfg, agent packages,
// network services, and the node flag word.
#include <cstdint>
#include <cstdio>

#include "upgrade/event_texts.h"
#include "upgrade/node_table_indexes.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"
#include "upgrade/table_rebuild.h"

using namespace step;

namespace {

constexpr Line kStep14Lines[] = {
    AddedColumn{"items", "instance", "varchar(255)", "''"},
    Batch{"INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
          "VALUES ('SMTPServer','localhost',1,0)\n"
          // The sender address of a fresh installation as well.
          "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
          "VALUES ('SMTPFromAddr','talvexd@localhost',1,0)\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4003, 'DC_AGENT_RESTARTED',\t0, 1,"
          "'Talvex agent was restarted within last 5 minutes',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4004, 'DC_SERVICE_NOT_RUNNING', 3, 1,"
          "'Service #22%6#22 is not running',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "UPDATE events SET description='Generated when threshold value reached for specific data "
          "collection item.#0D#0A"
          "   1) Parameter name#0D#0A"
          "   2) Item description#0D#0A"
          "   3) Threshold value#0D#0A"
          "   4) Actual value#0D#0A"
          "   5) Data collection item ID#0D#0A"
          "   6) Instance' "
          "WHERE event_id=17 OR (event_id>=4000 AND event_id<5000)\n"
          "UPDATE events SET description='Generated when threshold check is rearmed for specific data "
          "collection item.#0D#0A"
          "Parameters:#0D#0A"
          "   1) Parameter name#0D#0A"
          "   2) Item description#0D#0A"
          "   3) Data collection item ID' "
          "WHERE event_id=18\n"
          "<END>"},
};

constexpr Action kStep14[] = {
    Part{kStep14Lines},
};

constexpr Action kStep15[] = {
    Batch{"INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4005,'DC_MAILBOX_TOO_LARGE',1,1,"
          "'Mailbox #22%6#22 exceeds size limit (allowed size: %3; actual size: %4)',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4006,'DC_AGENT_VERSION_CHANGE',0,1,"
          "'Talvex agent version was changed from %3 to %4',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4007,'DC_HOSTNAME_CHANGE',1,1,"
          "'Host name was changed from %3 to %4',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (4008,'DC_FILE_CHANGE',1,1,"
          "'File #22%6#22 was changed',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "<END>"},
};

constexpr Action kStep16[] = {
    Batch{"DROP TABLE locks\n"
          "CREATE TABLE snmp_trap_cfg ("
          "trap_id integer not null,"
          "snmp_oid varchar(255) not null,"
          "event_id integer not null,"
          "description varchar(255),"
          "PRIMARY KEY(trap_id))\n"
          "CREATE TABLE snmp_trap_pmap ("
          "trap_id integer not null,"
          "parameter integer not null,"
          "snmp_oid varchar(255),"
          "description varchar(255),"
          "PRIMARY KEY(trap_id,parameter))\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (500,'SNMP_UNMATCHED_TRAP',0,1,"
          "'SNMP trap received: %1 (Parameters: %2)',"
          "'Generated when system receives an SNMP trap without match in trap configuration table#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID#0D#0A"
          "   2) Trap parameters')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (501,'SNMP_COLD_START',0,1,"
          "'System was cold-started',"
          "'Generated when system receives a coldStart SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (502,'SNMP_WARM_START',0,1,"
          "'System was warm-started',"
          "'Generated when system receives a warmStart SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (503,'SNMP_LINK_DOWN',3,1,"
          "'Link is down',"
          "'Generated when system receives a linkDown SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID#0D#0A"
          "   2) Interface index')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (504,'SNMP_LINK_UP',0,1,"
          "'Link is up',"
          "'Generated when system receives a linkUp SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID#0D#0A"
          "   2) Interface index')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (505,'SNMP_AUTH_FAILURE',1,1,"
          "'SNMP authentication failure',"
          "'Generated when system receives an authenticationFailure SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID')\n"
          "INSERT INTO events (event_id,name,severity,flags,message,description) "
          "VALUES (506,'SNMP_EGP_NEIGHBOR_LOSS',1,1,"
          "'EGP neighbor loss',"
          "'Generated when system receives an egpNeighborLoss SNMP trap#0D#0A"
          "Parameters:#0D#0A"
          "   1) SNMP trap OID')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (1,'.1.3.6.1.6.3.1.1.5.1',501,'Generic coldStart trap')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (2,'.1.3.6.1.6.3.1.1.5.2',502,'Generic warmStart trap')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (3,'.1.3.6.1.6.3.1.1.5.3',503,'Generic linkDown trap')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (4,'.1.3.6.1.6.3.1.1.5.4',504,'Generic linkUp trap')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (5,'.1.3.6.1.6.3.1.1.5.5',505,'Generic authenticationFailure trap')\n"
          "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
          "VALUES (6,'.1.3.6.1.6.3.1.1.5.6',506,'Generic egpNeighborLoss trap')\n"
          "INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) "
          "VALUES (3,1,'.1.3.6.1.2.1.2.2.1.1','Interface index')\n"
          "INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) "
          "VALUES (4,1,'.1.3.6.1.2.1.2.2.1.1','Interface index')\n"
          "<END>"},
    ConfigVariable{"DBLockStatus", "UNLOCKED", 0, 1},
    ConfigVariable{"DBLockInfo", "", 0, 0},
    ConfigVariable{"EnableSNMPTraps", "1", 1, 1},
    ConfigVariable{"SMSDriver", "<none>", 1, 1},
    ConfigVariable{"SMTPServer", "localhost", 1, 0},
    ConfigVariable{"SMTPFromAddr", "talvexd@localhost", 1, 0},
};

// The list's event column becomes event_code: the rows are read, the
// table re-created, and the rows written back.
bool RebuildPolicyEventList() {
  return RebuildTable({.table = "policy_event_list",
                       .query = "SELECT rule_id,event_id FROM policy_event_list",
                       .create = "CREATE TABLE policy_event_list ("
                                 "rule_id integer not null,"
                                 "event_code integer not null,"
                                 "PRIMARY KEY(rule_id,event_code))",
                       .asCreateTable = false},
                      [](db_result_t rules, const char *target) {
                        int rows = DBGetNumRows(rules);
                        for (int row = 0; row < rows; row++) {
                          char statement[256];
                          snprintf(statement, sizeof(statement),
                                   "INSERT INTO %s (rule_id,event_code) VALUES (%d,%d)", target,
                                   static_cast<int32_t>(DBGetFieldULong(rules, row, 0)),
                                   static_cast<int32_t>(DBGetFieldULong(rules, row, 1)));
                          if (!StepSql(statement)) return false;
                        }
                        return true;
                      });
}

// Oracle has no bigint and wants DEFAULT before NOT NULL; the other
// dialects take the statements as they are.
constexpr const char kAddAlarmSourceEventId[] = "ALTER TABLE alarms ADD source_event_id bigint";
constexpr const char kAddAlarmSourceEventIdOracle[] = "ALTER TABLE alarms ADD source_event_id number(20)";
constexpr const char kAddTrapEventCode[] =
    "ALTER TABLE snmp_trap_cfg ADD event_code integer not null default 0";
constexpr const char kAddTrapEventCodeOracle[] =
    "ALTER TABLE snmp_trap_cfg ADD event_code integer default 0 not null";
constexpr const char kCreateEventLog[] =
    "CREATE TABLE event_log ("
    "event_id bigint not null,"
    "event_code integer,"
    "event_timestamp integer,"
    "event_source integer,"
    "event_severity integer,"
    "event_message varchar(255),"
    "root_event_id bigint default 0,"
    "PRIMARY KEY(event_id))";
constexpr const char kCreateEventLogOracle[] =
    "CREATE TABLE event_log ("
    "event_id number(20) not null,"
    "event_code integer,"
    "event_timestamp integer,"
    "event_source integer,"
    "event_severity integer,"
    "event_message varchar(255),"
    "root_event_id number(20) default 0,"
    "PRIMARY KEY(event_id))";
// Batches, for the type macro; no table type suffix.
constexpr const char kCreateModules[] =
    "CREATE TABLE modules ("
    "module_id integer not null,"
    "module_name varchar(63),"
    "exec_name varchar(255),"
    "module_flags integer not null default 0,"
    "description $SQL:TEXT,"
    "license_key varchar(255),"
    "PRIMARY KEY(module_id))\n"
    "<END>";
constexpr const char kCreateModulesOracle[] =
    "CREATE TABLE modules ("
    "module_id integer not null,"
    "module_name varchar(63),"
    "exec_name varchar(255),"
    "module_flags integer default 0 not null,"
    "description $SQL:TEXT,"
    "license_key varchar(255),"
    "PRIMARY KEY(module_id))\n"
    "<END>";

constexpr Line kStep17Lines[] = {
    Batch{"ALTER TABLE nodes DROP COLUMN inherit_access_rights\n"
          "ALTER TABLE nodes ADD agent_version varchar(63)\n"
          "UPDATE nodes SET agent_version='' WHERE is_agent=0\n"
          "UPDATE nodes SET agent_version='<unknown>' WHERE is_agent=1\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "SELECT event_id,name,severity,flags,message,description FROM events\n"
          "DROP TABLE events\n"
          "DROP TABLE event_group_members\n"
          "CREATE TABLE event_group_members ("
          "group_id integer not null,"
          "event_code integer not null,"
          "\tPRIMARY KEY(group_id,event_code))\n"
          "<END>"},
    AddedColumn{"alarms", "source_event_code", "integer", "source_event_id"},
    Batch{"ALTER TABLE alarms DROP COLUMN source_event_id\n"
          "<END>"},
};

constexpr Action kStep17[] = {
    Conversion{RebuildPolicyEventList},
    Batch{"CREATE TABLE event_cfg ("
          "event_code integer not null,"
          "event_name varchar(63) not null,"
          "severity integer,"
          "flags integer,"
          "message varchar(255),"
          "description $SQL:TEXT,"
          "PRIMARY KEY(event_code))\n"
          "<END>"},
    Part{kStep17Lines},
    PerDialect{.mysql = kAddAlarmSourceEventId,
               .pgsql = kAddAlarmSourceEventId,
               .mssql = kAddAlarmSourceEventId,
               .oracle = kAddAlarmSourceEventIdOracle,
               .sqlite = kAddAlarmSourceEventId,
               .other = kAddAlarmSourceEventId},
    Statement{"UPDATE alarms SET source_event_id=0"},
    PerDialect{.mysql = kAddTrapEventCode,
               .pgsql = kAddTrapEventCode,
               .mssql = kAddTrapEventCode,
               .oracle = kAddTrapEventCodeOracle,
               .sqlite = kAddTrapEventCode,
               .other = kAddTrapEventCode},
    Batch{"UPDATE snmp_trap_cfg SET event_code=event_id\n"
          "ALTER TABLE snmp_trap_cfg DROP COLUMN event_id\n"
          "DROP TABLE event_log\n"
          "<END>"},
    PerDialect{.mysql = kCreateEventLog,
               .pgsql = kCreateEventLog,
               .mssql = kCreateEventLog,
               .oracle = kCreateEventLogOracle,
               .sqlite = kCreateEventLog,
               .other = kCreateEventLog},
    PerDialect{.batch = true,
               .mysql = kCreateModules,
               .pgsql = kCreateModules,
               .mssql = kCreateModules,
               .oracle = kCreateModulesOracle,
               .sqlite = kCreateModules,
               .other = kCreateModules},
};

constexpr Action kStep18[] = {
    AddedColumn{"nodes", "platform_name", "varchar(63)", "''"},
    CreateTable{"CREATE TABLE agent_pkg ("
                "pkg_id integer not null,"
                "pkg_name varchar(63),"
                "version varchar(31),"
                "platform varchar(63),"
                "pkg_file varchar(255),"
                "description varchar(255),"
                "PRIMARY KEY(pkg_id))"},
};

constexpr Line kStep19Lines[] = {
    Batch{"ALTER TABLE nodes ADD poller_node_id integer\n"
          "ALTER TABLE nodes ADD is_ospf integer\n"
          "UPDATE nodes SET poller_node_id=0,is_ospf=0\n"
          "<END>"},
    EventTemplate{28, "SYS_NODE_DOWN", 4, "Node down",
                  "Generated when node is not responding to management server.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No event-specific parameters",
                  TextForm::kStored},
    EventTemplate{29, "SYS_NODE_UP", 0, "Node up",
                  "Generated when communication with the node re-established.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No event-specific parameters",
                  TextForm::kStored},
    // The later parameter lines of 25 to 27 are separated by "#0D0A",
    // not "#0D#0A": the stored texts are kept byte for byte.
    EventTemplate{25, "SYS_SERVICE_DOWN", 3, "Network service #22%1#22 is not responding",
                  "Generated when network service is not responding to management server as expected.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Service name#0D0A"
                  "   2) Service object ID#0D0A"
                  "   3) Service type",
                  TextForm::kStored},
    EventTemplate{26, "SYS_SERVICE_UP", 0, "Network service #22%1#22 returned to operational state",
                  "Generated when network service responds as expected after failure.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Service name#0D0A"
                  "   2) Service object ID#0D0A"
                  "   3) Service type",
                  TextForm::kStored},
    EventTemplate{
        27, "SYS_SERVICE_UNKNOWN", 1, "Status of network service #22%1#22 is unknown",
        "Generated when management server is unable to determine state of the network service due to "
        "agent or server-to-agent communication failure.#0D#0A"
        "Parameters:#0D#0A"
        "   1) Service name#0D0A"
        "   2) Service object ID#0D0A"
        "   3) Service type",
        TextForm::kStored},
    Batch{"INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
          "VALUES (12,'Obj.NetworkService','network_service.png','<invalid_hash>','network_service.ico',"
          "'<invalid_hash>')\n"
          "INSERT INTO default_images (object_class,image_id) "
          "VALUES (11,12)\n"
          "<END>"},
};

constexpr Action kStep19[] = {
    Part{kStep19Lines},
    CreateTable{"CREATE TABLE network_services ("
                "id integer not null,"
                "name varchar(63),"
                "status integer,"
                "is_deleted integer,"
                "node_id integer not null,"
                "service_type integer,"
                "ip_bind_addr varchar(15),"
                "ip_proto integer,"
                "ip_port integer,"
                "check_request $SQL:TEXT,"
                "check_responce $SQL:TEXT,"
                "poller_node_id integer not null,"
                "image_id integer not null,"
                "PRIMARY KEY(id))"},
};

// Index names are per schema on PostgreSQL, SQLite and Oracle, so every
// node's table gets a name of its own (the same text is the stored
// template). Step 209 -> 210 drops every index of the idata tables,
// whatever its name.
constexpr const char kItemIdIndexTemplate[] = "CREATE INDEX idx_idata_%d_item_id ON idata_%d(item_id)";

bool CreateItemIdIndexes() { return CreateNodeTableIndexes(kItemIdIndexTemplate); }

constexpr Action kIndexEveryDataTableByItem[] = {Conversion{CreateItemIdIndexes}};

constexpr Line kStep20Lines[] = {
    EventTemplate{30, "SYS_SMS_FAILURE", 1, "Unable to send SMS to phone %1",
                  "Generated when server is unable to send SMS.#0D#0A"
                  "   Parameters:#0D#0A"
                  "   1) Phone number",
                  TextForm::kStored},
    Batch{"ALTER TABLE nodes ADD node_flags integer\n"
          "<END>"},
};

constexpr Action kStep20[] = {
    Part{kStep20Lines},
    // The bits of node_flags for is_snmp, is_agent, is_bridge, is_router,
    // is_local_mgmt and is_ospf (0x20 is not one of them); any value but 0
    // sets its bit, NULL none.
    Statement{"UPDATE nodes SET node_flags="
              "(CASE WHEN is_snmp<>0 THEN 1 ELSE 0 END)+"
              "(CASE WHEN is_agent<>0 THEN 2 ELSE 0 END)+"
              "(CASE WHEN is_bridge<>0 THEN 4 ELSE 0 END)+"
              "(CASE WHEN is_router<>0 THEN 8 ELSE 0 END)+"
              "(CASE WHEN is_local_mgmt<>0 THEN 16 ELSE 0 END)+"
              "(CASE WHEN is_ospf<>0 THEN 64 ELSE 0 END)"},
    // The thresholds index is named for its table: a second idx_item_id
    // (23 -> 24 puts one on raw_dci_values) cannot exist on PostgreSQL or
    // SQLite. The name is the one reindex rebuilds.
    Batch{"ALTER TABLE nodes DROP COLUMN is_snmp\n"
          "ALTER TABLE nodes DROP COLUMN is_agent\n"
          "ALTER TABLE nodes DROP COLUMN is_bridge\n"
          "ALTER TABLE nodes DROP COLUMN is_router\n"
          "ALTER TABLE nodes DROP COLUMN is_local_mgmt\n"
          "ALTER TABLE nodes DROP COLUMN is_ospf\n"
          "CREATE INDEX idx_thresholds_item_id ON thresholds(item_id)\n"
          "<END>"},
    Question{"Create indexes on existing IDATA tables?", kIndexEveryDataTableByItem},
    ConfigVariable{"NumberOfStatusPollers", "10", 1, 1},
    ConfigVariable{"NumberOfConfigurationPollers", "4", 1, 1},
    ConfigVariable{"IDataIndexCreationCommand", kItemIdIndexTemplate, 0, 1},
};

constexpr UpgradeStep kRows[] = {
    {14, 15, kStep14}, {15, 16, kStep15}, {16, 17, kStep16}, {17, 18, kStep17},
    {18, 19, kStep18}, {19, 20, kStep19}, {20, 21, kStep20},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps14To21 = kRows;
