// Steps 73 -> 81: event storm detection, SNMP communities, beacon
// probing, trusted nodes, long text columns on MySQL, and the rebuilds of
// cond_dci_map, dci_schedules and address_lists under their new keys.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "runtime/tv_string.h"
#include "session/batch.h"
#include "session/globals.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"
#include "upgrade/table_rebuild.h"

using namespace step;

namespace {

constexpr Action kStep73[] = {
    EventTemplate{48, "SYS_EVENT_STORM_DETECTED", 3, "Event storm detected (Events per second: %1)",
                  "Generated when system detects an event storm.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Events per second#0D#0A"
                  "   2) Duration#0D#0A"
                  "   3) Threshold",
                  TextForm::kStored},
    EventTemplate{49, "SYS_EVENT_STORM_ENDED", 0, "Event storm ended",
                  "Generated when system clears event storm condition.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Events per second#0D#0A"
                  "   2) Duration#0D#0A"
                  "   3) Threshold",
                  TextForm::kStored},
    Batch{"DELETE FROM config WHERE var_name='NumberOfEventProcessors'\n"
          "DELETE FROM config WHERE var_name='EventStormThreshold'\n"
          "<END>"},
    ConfigVariable{"EnableEventStormDetection", "0", 1, 1},
    ConfigVariable{"EventStormEventsPerSecond", "100", 1, 1},
    ConfigVariable{"EventStormDuration", "15", 1, 1},
};

constexpr Action kStep74[] = {
    AddedColumn{"address_lists", "community_id", "integer", "0"},
    CreateTable{"CREATE TABLE snmp_communities ("
                "id integer not null,"
                "community varchar(255) not null,"
                "PRIMARY KEY(id))"},
    ConfigVariable{"UseInterfaceAliases", "0", 1, 0},
    ConfigVariable{"SyncNodeNamesWithDNS", "0", 1, 0},
};

constexpr Action kStep75[] = {
    EventTemplate{50, "SYS_NETWORK_CONN_LOST", 4, "Talvex server network connectivity lost",
                  "Generated when system detects loss of network connectivity based on beacon probing.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Number of beacons",
                  TextForm::kStored},
    EventTemplate{
        51, "SYS_NETWORK_CONN_RESTORED", 0, "Talvex server network connectivity restored",
        "Generated when system detects restoration of network connectivity based on beacon probing.#0D#0A"
        "Parameters:#0D#0A"
        "   1) Number of beacons",
        TextForm::kStored},
    ConfigVariable{"AgentCommandTimeout", "2000", 1, 1},
    ConfigVariable{"BeaconHosts", "", 1, 1},
    ConfigVariable{"BeaconTimeout", "1000", 1, 1},
    ConfigVariable{"BeaconPollingInterval", "1000", 1, 1},
};

// A value read whole, so that a rebuild copies it uncut.
using WholeText = std::unique_ptr<char, decltype(&free)>;

// The map's new key numbers the DCIs of each condition from 0, in the
// order the old rows come. Returns false when the step must end.
bool RebuildCondDciMap() {
  return RebuildTable(
      {.table = "cond_dci_map",
       .query =
           "SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id",
       .create = "CREATE TABLE cond_dci_map ("
                 "condition_id integer not null,"
                 "sequence_number integer not null,"
                 "dci_id integer not null,"
                 "node_id integer not null,"
                 "dci_func integer not null,"
                 "num_polls integer not null,"
                 "PRIMARY KEY(condition_id,sequence_number))",
       .asCreateTable = true},
      [](db_result_t rows, const char *target) {
        int sequence = 0;
        uint32_t previous = 0;
        for (int row = 0; row < DBGetNumRows(rows); row++) {
          uint32_t condition = DBGetFieldULong(rows, row, 0);
          sequence = row > 0 && condition == previous ? sequence + 1 : 0;
          previous = condition;
          char statement[256];
          snprintf(statement, sizeof(statement),
                   "INSERT INTO %s (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) "
                   "VALUES (%d,%d,%d,%d,%d,%d)",
                   target, condition, sequence, DBGetFieldULong(rows, row, 1), DBGetFieldULong(rows, row, 2),
                   DBGetFieldULong(rows, row, 3), DBGetFieldULong(rows, row, 4));
          if (!StepSql(statement)) return false;
        }
        return true;
      });
}

constexpr Action kStep76[] = {Conversion{RebuildCondDciMap}};

constexpr Action kStep77[] = {
    CreateTable{"CREATE TABLE trusted_nodes ("
                "source_object_id integer not null,"
                "target_node_id integer not null,"
                "PRIMARY KEY(source_object_id,target_node_id))"},
    ConfigVariable{"CheckTrustedNodes", "1", 1, 1},
};

// A NULL would make MODIFY ... not null fail in strict mode and become ''
// in the permissive one; setting it first gives the same rows in every
// sql_mode.
#define TEXT_NOT_NULL(table, column) \
  "UPDATE " table " SET " column     \
  "=''"                              \
  " WHERE " column                   \
  " IS NULL\n"                       \
  "ALTER TABLE " table " MODIFY COLUMN " column " text not null\n"

constexpr Action kStep78[] = {
    Batch{"DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'\n"
          "DROP TABLE modules\n"
          "<END>"},
    PerDialect{.batch = true,
               .mysql = TEXT_NOT_NULL("users", "cert_mapping_data")  //
               TEXT_NOT_NULL("user_profiles", "var_value")           //
               TEXT_NOT_NULL("object_properties", "comments")        //
               TEXT_NOT_NULL("network_services", "check_request")    //
               TEXT_NOT_NULL("network_services", "check_responce")   //
               TEXT_NOT_NULL("conditions", "script")                 //
               TEXT_NOT_NULL("container_categories", "description")  //
               TEXT_NOT_NULL("items", "transformation")              //
               TEXT_NOT_NULL("event_cfg", "description")             //
               TEXT_NOT_NULL("actions", "action_data")               //
               TEXT_NOT_NULL("event_policy", "comments")             //
               TEXT_NOT_NULL("event_policy", "script")               //
               TEXT_NOT_NULL("alarm_change_log", "info_text")        //
               TEXT_NOT_NULL("alarm_notes", "note_text")             //
               TEXT_NOT_NULL("object_tools", "tool_data")            //
               TEXT_NOT_NULL("syslog", "msg_text")                   //
               TEXT_NOT_NULL("script_library", "script_code")        //
               TEXT_NOT_NULL("snmp_trap_log", "trap_varlist")        //
               TEXT_NOT_NULL("maps", "description")                  //
               TEXT_NOT_NULL("agent_configs", "config_file")         //
               TEXT_NOT_NULL("agent_configs", "config_filter")       //
               TEXT_NOT_NULL("graphs", "config")                     //
               TEXT_NOT_NULL("certificates", "cert_data")            //
               TEXT_NOT_NULL("certificates", "subject")              //
               TEXT_NOT_NULL("certificates", "comments")             //
               TEXT_NOT_NULL("audit_log", "message")                 //
               TEXT_NOT_NULL("situations", "comments")               //
               "<END>",
               .pgsql = "",
               .mssql = "",
               .oracle = "",
               .sqlite = "",
               .other = ""},
};

#undef TEXT_NOT_NULL

constexpr Action kStep79[] = {
    AddedColumn{"nodes", "uname", "varchar(255)", "'#00'"},
};

// Schedules are numbered over the whole table, not per item. Texts go
// back as the dialect's literals: a schedule may hold a quote. Returns
// false when the step must end.
bool RebuildDciSchedules() {
  return RebuildTable({.table = "dci_schedules",
                       .query = "SELECT item_id,schedule FROM dci_schedules",
                       .create = "CREATE TABLE dci_schedules ("
                                 "schedule_id integer not null,"
                                 "item_id integer not null,"
                                 "schedule varchar(255) not null,"
                                 "PRIMARY KEY(item_id,schedule_id))",
                       .asCreateTable = true},
                      [](db_result_t rows, const char *target) {
                        for (int row = 0; row < DBGetNumRows(rows); row++) {
                          WholeText schedule(DBGetField(rows, row, 1, nullptr, 0), free);
                          String statement;
                          statement.addFormattedString(
                              "INSERT INTO %s (item_id,schedule_id,schedule) VALUES(%d,%d,%s)", target,
                              DBGetFieldULong(rows, row, 0), row + 1,
                              DBPrepareString(DbHandle, schedule.get()).cstr());
                          if (!StepSql(statement)) return false;
                        }
                        return true;
                      });
}

// The new key takes in the whole row, so rows that are exact copies of
// each other (the old table had no key) are read once: a second copy
// would fail the insert, and with it the step. Returns false when the
// step must end.
bool RebuildAddressLists() {
  return RebuildTable(
      {.table = "address_lists",
       .query = "SELECT DISTINCT list_type,community_id,addr_type,addr1,addr2 FROM address_lists",
       .create = "CREATE TABLE address_lists ("
                 "list_type integer not null,"
                 "community_id integer not null,"
                 "addr_type integer not null,"
                 "addr1 varchar(15) not null,"
                 "addr2 varchar(15) not null,"
                 "PRIMARY KEY(list_type,community_id,addr_type,addr1,addr2))",
       .asCreateTable = true},
      [](db_result_t rows, const char *target) {
        for (int row = 0; row < DBGetNumRows(rows); row++) {
          WholeText addr1(DBGetField(rows, row, 3, nullptr, 0), free);
          WholeText addr2(DBGetField(rows, row, 4, nullptr, 0), free);
          String statement;
          statement.addFormattedString(
              "INSERT INTO %s (list_type,community_id,addr_type,addr1,addr2) "
              "VALUES(%d,%d,%d,%s,%s)",
              target, DBGetFieldULong(rows, row, 0), DBGetFieldULong(rows, row, 1),
              DBGetFieldULong(rows, row, 2), DBPrepareString(DbHandle, addr1.get()).cstr(),
              DBPrepareString(DbHandle, addr2.get()).cstr());
          if (!StepSql(statement)) return false;
        }
        return true;
      });
}

constexpr Action kStep80[] = {
    Conversion{RebuildDciSchedules},
    Conversion{RebuildAddressLists},
    CreateTable{"CREATE TABLE object_custom_attributes ("
                "object_id integer not null,"
                "attr_name varchar(127) not null,"
                "attr_value $SQL:TEXT not null,"
                "PRIMARY KEY(object_id,attr_name))"},
    CreateTable{"CREATE TABLE web_maps ("
                "id integer not null,"
                "title varchar(63) not null,"
                "properties $SQL:TEXT not null,"
                "data $SQL:TEXT not null,"
                "PRIMARY KEY(id))"},
};

constexpr UpgradeStep kRows[] = {
    {73, 74, kStep73}, {74, 75, kStep74}, {75, 76, kStep75}, {76, 77, kStep76},
    {77, 78, kStep77}, {78, 79, kStep78}, {79, 80, kStep79}, {80, 81, kStep80},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps73To81 = kRows;
