// Steps 38 -> 47: network maps, GUIDs and authentication methods of
// users and groups, conditions, agent configurations, more object tools
// and the alarm life cycle.
#include <uuid/uuid.h>

#include <cstdint>
#include <cstdio>

#include "runtime/runtime.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Line kStep38Lines[] = {
    Batch{"INSERT INTO maps (map_id,map_name,description,root_object_id) "
          "VALUES (1,'Default','Default network map',1)\n"
          "INSERT INTO map_access_lists (map_id,user_id,access_rights) "
          "VALUES (1,-2147483648,1)\n"
          "<END>"},
    EventTemplate{33, "SYS_SCRIPT_ERROR", 2, "Script (%1) execution error: %2",
                  "Generated when server encounters TVSL script execution error.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Script name#0D#0A"
                  "   2) Error text#0D#0A"
                  "   3) DCI ID if script is DCI transformation script, or 0 otherwise",
                  TextForm::kStored},
};

constexpr Action kStep38[] = {
    CreateTable{"CREATE TABLE maps\t("
                "map_id integer not null,"
                "map_name varchar(255) not null,"
                "description $SQL:TEXT not null,"
                "root_object_id integer not null,"
                "PRIMARY KEY(map_id))"},
    CreateTable{"CREATE TABLE map_access_lists ("
                "map_id integer not null,"
                "user_id integer not null,"
                "access_rights integer not null,"
                "PRIMARY KEY(map_id,user_id))"},
    CreateTable{"CREATE TABLE submaps ("
                "map_id integer not null,"
                "submap_id integer not null,"
                "attributes integer not null,"
                "PRIMARY KEY(map_id,submap_id))"},
    CreateTable{"CREATE TABLE submap_object_positions ("
                "map_id integer not null,"
                "submap_id integer not null,"
                "object_id integer not null,"
                "x integer not null,"
                "y integer not null,"
                "PRIMARY KEY(map_id,submap_id,object_id))"},
    CreateTable{"CREATE TABLE submap_links ("
                "map_id integer not null,"
                "submap_id integer not null,"
                "object_id1 integer not null,"
                "object_id2 integer not null,"
                "link_type integer not null,"
                "PRIMARY KEY(map_id,submap_id,object_id1,object_id2))"},
    Part{kStep38Lines},
    ConfigVariable{"LockTimeout", "60000", 1, 1},
    ConfigVariable{"DisableVacuum", "0", 1, 0},
};

constexpr Action kStep39[] = {
    AddedColumn{"users", "grace_logins", "integer", "5"},
};

// Gives every row of the table a new GUID. A failed read is reported and
// leaves the table's GUIDs empty without ending the step, with or
// without -X. Returns false when an update failed and the step must end.
bool GiveRowsNewGuids(const char *table) {
  char query[256];
  snprintf(query, sizeof(query), "SELECT id FROM %s", table);
  Result rows(SelectSql(query));
  if (rows == nullptr) return true;
  int count = DBGetNumRows(rows.get());
  for (int row = 0; row < count; row++) {
    // Ids are unsigned in the server; the statement shows them signed, as
    // the built-in group's -2147483648.
    int32_t id = static_cast<int32_t>(DBGetFieldULong(rows.get(), row, 0));
    uuid_t guid;
    uuid_generate(guid);
    char guidText[37];
    uuid_to_string(guid, guidText);
    char statement[256];
    snprintf(statement, sizeof(statement), "UPDATE %s SET guid='%s' WHERE id=%d", table, guidText, id);
    if (!StepSql(statement)) return false;
  }
  return true;
}

bool GiveUsersAndGroupsGuids() {
  printf("Generating GUIDs...\n");
  fflush(stdout);
  return GiveRowsNewGuids("users") && GiveRowsNewGuids("user_groups");
}

constexpr Action kStep40[] = {
    Batch{"ALTER TABLE users ADD guid varchar(36)\n"
          "ALTER TABLE users ADD auth_method integer\n"
          "ALTER TABLE user_groups ADD guid varchar(36)\n"
          "UPDATE users SET auth_method=0\n"
          "<END>"},
    Conversion{GiveUsersAndGroupsGuids},
    ConfigVariable{"RADIUSServer", "localhost", 1, 0},
    ConfigVariable{"RADIUSSecret", "kobrin", 1, 0},
    ConfigVariable{"RADIUSNumRetries", "5", 1, 0},
    ConfigVariable{"RADIUSTimeout", "3", 1, 0},
};

constexpr Line kStep41Lines[] = {
    Batch{"INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
          "VALUES (15,'Obj.Condition','condition.png','<invalid_hash>','condition.ico','<invalid_hash>')\n"
          "INSERT INTO default_images (object_class,image_id) "
          "VALUES (13, 15)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (1,'.1.3.6.1.4.1.3224.1.*',2,0)\n"
          "<END>"},
    EventTemplate{34, "SYS_CONDITION_ACTIVATED", 2, "Condition \"%2\" activated",
                  "Default event for condition activation.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Condition object ID#0D#0A"
                  "   2) Condition object name#0D#0A"
                  "   3) Previous condition status#0D#0A"
                  "   4) Current condition status",
                  TextForm::kStored},
    EventTemplate{35, "SYS_CONDITION_DEACTIVATED", 0, "Condition \"%2\" deactivated",
                  "Default event for condition deactivation.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Condition object ID#0D#0A"
                  "   2) Condition object name#0D#0A"
                  "   3) Previous condition status#0D#0A"
                  "   4) Current condition status",
                  TextForm::kStored},
};

constexpr Action kStep41[] = {
    CreateTable{"CREATE TABLE conditions\t("
                "id integer not null,"
                "activation_event integer not null,"
                "deactivation_event integer not null,"
                "source_object integer not null,"
                "active_status integer not null,"
                "inactive_status integer not null,"
                "script $SQL:TEXT not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE cond_dci_map ("
                "condition_id integer not null,"
                "dci_id integer not null,"
                "node_id integer not null,"
                "dci_func integer not null,"
                "num_polls integer not null,"
                "PRIMARY KEY(condition_id,dci_id))"},
    Part{kStep41Lines},
    ConfigVariable{"NumberOfConditionPollers", "10", 1, 1},
    ConfigVariable{"ConditionPollingInterval", "60", 1, 1},
};

constexpr Action kStep42[] = {
    ConfigVariable{"RADIUSPort", "1645", 1, 0},
};

constexpr Action kStep43[] = {
    CreateTable{"CREATE TABLE agent_configs ("
                "config_id integer not null,"
                "config_name varchar(255) not null,"
                "config_file $SQL:TEXT not null,"
                "config_filter $SQL:TEXT not null,"
                "sequence_number integer not null,"
                "PRIMARY KEY(config_id))"},
    Batch{
        "DELETE FROM object_tools WHERE tool_id=8000\n"
        "DELETE FROM object_tools_table_columns WHERE tool_id=8000\n"
        "DELETE FROM object_tools_acl WHERE tool_id=8000\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description) "
        "VALUES (13,'&Info->&Process list',3,"
        "'Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)',2,'',"
        "'Show list of currently running processes')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (13,0,'PID','',0,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (13,1,'Name','',0,2)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (13,-2147483648)\n"
        "<END>"},
    ConfigVariable{"DBLockPID", "0", 0, 0},
};

constexpr Action kStep44[] = {
    EventTemplate{36, "SYS_DB_CONN_LOST", 4, "Lost connection with backend database engine",
                  "Generated if connection with backend database engine is lost.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
    EventTemplate{37, "SYS_DB_CONN_RESTORED", 0, "Connection with backend database engine restored",
                  "Generated when connection with backend database engine restored.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
};

// The tool and column rows keep a blank after tool_type and col_format:
// the rows equal, byte for byte, those of a database created at this
// version.
constexpr Action kStep45[] = {
    Batch{
        "UPDATE object_tools_table_columns SET col_format=5 WHERE tool_id=5 AND col_number=1\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (2,'.1.3.6.1.4.1.45.3.26.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (3,'.1.3.6.1.4.1.45.3.30.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (4,'.1.3.6.1.4.1.45.3.31.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (5,'.1.3.6.1.4.1.45.3.32.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (6,'.1.3.6.1.4.1.45.3.33.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (7,'.1.3.6.1.4.1.45.3.34.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (8,'.1.3.6.1.4.1.45.3.35.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (9,'.1.3.6.1.4.1.45.3.36.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (10,'.1.3.6.1.4.1.45.3.40.*',3,0)\n"
        "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
        "VALUES (11,'.1.3.6.1.4.1.45.3.61.*',3,0)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description) "
        "VALUES (14,'&Info->Topology table (Nortel)',2 ,'Topology table',1,'',"
        "'Show topology table (Nortel protocol)')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,0,'Peer IP','.1.3.6.1.4.1.45.1.6.13.2.1.1.3',3 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,1,'Peer MAC','.1.3.6.1.4.1.45.1.6.13.2.1.1.5',4 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,2,'Port','.1.3.6.1.4.1.45.1.6.13.2.1.1.2',5 ,0)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (14,-2147483648)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description) "
        "VALUES (15,'&Info->Topology table (CDP)',2 ,'Topology table',1,'',"
        "'Show topology table (CDP)')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (15,0,'Device ID','.1.3.6.1.4.1.9.9.23.1.2.1.1.6',0 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (15,1,'IP Address','.1.3.6.1.4.1.9.9.23.1.2.1.1.4',3 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (15,2,'Platform','.1.3.6.1.4.1.9.9.23.1.2.1.1.8',0 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (15,3,'Version','.1.3.6.1.4.1.9.9.23.1.2.1.1.5',0 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (15,4,'Port','.1.3.6.1.4.1.9.9.23.1.2.1.1.7',0 ,0)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (15,-2147483648)\n"
        "<END>"},
};

constexpr Line kStep46Lines[] = {
    AddedColumn{"object_properties", "comments", "$SQL:TEXT", "'#00'"},
    Batch{"ALTER TABLE nodes DROP COLUMN discovery_flags\n"
          "DROP TABLE alarm_notes\n"
          "ALTER TABLE alarms ADD alarm_state integer\n"
          "ALTER TABLE alarms ADD hd_state integer\n"
          "ALTER TABLE alarms ADD hd_ref varchar(63)\n"
          "ALTER TABLE alarms ADD creation_time integer\n"
          "ALTER TABLE alarms ADD last_change_time integer\n"
          "ALTER TABLE alarms ADD original_severity integer\n"
          "ALTER TABLE alarms ADD current_severity integer\n"
          "ALTER TABLE alarms ADD repeat_count integer\n"
          "ALTER TABLE alarms ADD term_by integer\n"
          "UPDATE alarms SET "
          "hd_state=0,"
          "hd_ref='#00',"
          "creation_time=alarm_timestamp,"
          "last_change_time=alarm_timestamp,"
          "original_severity=severity,"
          "current_severity=severity,"
          "repeat_count=1,"
          "term_by=ack_by\n"
          "UPDATE alarms SET alarm_state=0 WHERE is_ack=0\n"
          "UPDATE alarms SET alarm_state=2 WHERE is_ack<>0\n"
          "ALTER TABLE alarms DROP COLUMN severity\n"
          "ALTER TABLE alarms DROP COLUMN alarm_timestamp\n"
          "ALTER TABLE alarms DROP COLUMN is_ack\n"
          "<END>"},
    AddedColumn{"thresholds", "current_state", "integer", "0"},
};

// Alarms move from acknowledged/not to a life cycle: an acknowledged
// alarm starts as state 2, the rest as 0. The old notes table goes and
// comes back empty in its new form.
constexpr Action kStep46[] = {
    Part{kStep46Lines},
    CreateTable{"CREATE TABLE alarm_notes ("
                "note_id integer not null,"
                "alarm_id integer not null,"
                "change_time integer not null,"
                "user_id integer not null,"
                "note_text $SQL:TEXT not null,"
                "PRIMARY KEY(note_id))"},
    CreateTable{"CREATE TABLE alarm_change_log\t("
                "change_id $SQL:INT64 not null,"
                "change_time integer not null,"
                "alarm_id integer not null,"
                "opcode integer not null,"
                "user_id integer not null,"
                "info_text $SQL:TEXT not null,"
                "PRIMARY KEY(change_id))"},
    // The name is misspelt on purpose: 85 -> 86 drops the table by this name.
    CreateTable{"CREATE TABLE alarm_grops ("
                "alarm_group_id integer not null,"
                "group_name varchar(255) not null,"
                "PRIMARY KEY(alarm_group_id))"},
    CreateTable{"CREATE TABLE alarm_group_map ("
                "alarm_group_id integer not null,"
                "alarm_id integer not null,"
                "PRIMARY KEY(alarm_group_id,alarm_id))"},
    Batch{"CREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id)\n"
          "CREATE INDEX idx_alarm_change_log_alarm_id ON alarm_change_log(alarm_id)\n"
          "<END>"},
};

constexpr UpgradeStep kRows[] = {
    {38, 39, kStep38}, {39, 40, kStep39}, {40, 41, kStep40}, {41, 42, kStep41}, {42, 43, kStep42},
    {43, 44, kStep43}, {44, 45, kStep44}, {45, 46, kStep45}, {46, 47, kStep46},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps38To47 = kRows;
