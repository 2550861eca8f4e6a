// Steps 21 -> 27: hard disk temperature events, raw collected values, the
// time-stamp indexes of the collected data, and object_properties, which
// gathers the common attributes of every object from the per-class
// tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "runtime/tv_string.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/event_texts.h"
#include "upgrade/helpers.h"
#include "upgrade/node_table_indexes.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Action kStep21[] = {
    Batch{"INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "VALUES (4009,'DC_HDD_TEMP_WARNING',1,1,"
          "'Temperature of hard disk %6 is above warning level of %3 (current: %4)',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "VALUES (4010,'DC_HDD_TEMP_MAJOR',3,1,"
          "'Temperature of hard disk %6 is above %3 (current: %4)',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "VALUES (4011,'DC_HDD_TEMP_CRITICAL',4,1,"
          "'Temperature of hard disk %6 is above critical level of %3 (current: %4)',"
          "'" THRESHOLD_EVENT_DESCRIPTION "')\n"
          "<END>"},
    ConfigVariable{"SMSDriver", "<none>", 1, 1},
    ConfigVariable{"AgentUpgradeWaitTime", "600", 1, 0},
    ConfigVariable{"NumberOfUpgradeThreads", "10", 1, 0},
};

// Named for its table, as reindex names it.
constexpr Action kStep22[] = {
    Batch{"ALTER TABLE items ADD template_item_id integer\n"
          "UPDATE items SET template_item_id=0\n"
          "CREATE INDEX idx_thresholds_sequence ON thresholds(sequence_number)\n"
          "<END>"},
};

// Named for its table: idx_item_id is already the thresholds index, and
// index names are per schema on PostgreSQL and SQLite. Oracle refuses a
// second index on the column list of a primary key.
constexpr const char kIndexRawValues[] = "CREATE INDEX idx_raw_dci_values_item_id ON raw_dci_values(item_id)";

constexpr Action kStep23[] = {
    CreateTable{"CREATE TABLE raw_dci_values ("
                "\titem_id integer not null,"
                "   raw_value varchar(255),"
                "   last_poll_time integer,"
                "   PRIMARY KEY(item_id))"},
    PerDialect{.mysql = kIndexRawValues,
               .pgsql = kIndexRawValues,
               .mssql = kIndexRawValues,
               .oracle = "",
               .sqlite = kIndexRawValues,
               .other = kIndexRawValues},
    // Every data collection item starts with an empty raw value.
    Statement{"INSERT INTO raw_dci_values (item_id,raw_value,last_poll_time) "
              "SELECT item_id,'#00',1 FROM items"},
};

// One name per node table, as for the item id indexes of 20 -> 21. Step
// 52 -> 53 drops idx_idata_<id>_timestamp by this name before it creates
// its own index; 209 -> 210 drops every index of the idata tables.
constexpr const char kTimestampIndexTemplate[] =
    "CREATE INDEX idx_idata_%d_timestamp ON idata_%d(idata_timestamp)";

bool CreateTimestampIndexes() { return CreateNodeTableIndexes(kTimestampIndexTemplate); }

constexpr Action kIndexEveryDataTableByTime[] = {Conversion{CreateTimestampIndexes}};

constexpr Action kStep24[] = {
    Question{"Create indexes on existing IDATA tables?", kIndexEveryDataTableByTime},
};

// IDataIndexCreationCommand becomes IDataIndexCreationCommand_0. A failed
// read never ends the step, and then nothing is deleted.
bool NumberIndexTemplateVariable() {
  std::string value;
  switch (ReadServerVariable("config", "IDataIndexCreationCommand", value, QueryEcho::kTraced, 512)) {
    case VariableRead::kFailed: return true;
    case VariableRead::kMissing: break;
    case VariableRead::kFound:
      DecodeSQLString(value.data());
      if (!AddConfigVariable("IDataIndexCreationCommand_0", value.c_str(), 0, 1, false) && !IgnoreSqlErrors)
        return false;
  }
  return StepSql("DELETE FROM config WHERE var_name='IDataIndexCreationCommand'");
}

constexpr Action kStep25[] = {
    Conversion{NumberIndexTemplateVariable},
    ConfigVariable{"IDataIndexCreationCommand_1", kTimestampIndexTemplate, 0, 1},
};

// The built-in objects 1, 2 and 3: topology, service and template root.
// The template root's default name is the service root's, as the server
// had it.
const struct {
  const char *nameVariable;
  const char *defaultName;
  const char *imageVariable;
} kRootObjects[] = {
    {"TopologyRootObjectName", "Entire Network", "TopologyRootImageId"},
    {"ServiceRootObjectName", "All Services", "ServiceRootImageId"},
    {"TemplateRootObjectName", "All Services", "TemplateRootImageId"},
};

// The per-class tables in the order an object is looked for; templates
// have no status column.
const struct {
  const char *table;
  const char *statusColumn;
} kObjectTables[] = {
    {"nodes", ",status"}, {"interfaces", ",status"},       {"subnets", ",status"},
    {"templates", ""},    {"network_services", ",status"}, {"containers", ",status"},
};

constexpr int kTemplateStatus = 5;  // also the status of the root objects
constexpr int kObjectNameChars = 63;

// The decoded name variable, or the default when it is missing or cannot
// be read (a failed query is reported).
std::string RootObjectName(const char *variable, const char *defaultName) {
  std::string value;
  if (ReadServerVariable("config", variable, value, QueryEcho::kTraced) != VariableRead::kFound)
    return defaultName;
  DecodeSQLString(value.data());
  return value.c_str();
}

struct ObjectAttributes {
  std::string name;  // as stored
  int isDeleted;
  uint32_t imageId;
  uint32_t status;
};

enum class Found { kYes, kNo, kStepFailed };

// Looks the object up table by table. A failed query ends the step
// (kStepFailed) unless IgnoreSqlErrors is set; then the next table is
// tried.
Found FindObject(uint32_t id, ObjectAttributes *object) {
  for (const auto &source : kObjectTables) {
    char query[256];
    snprintf(query, sizeof(query), "SELECT name,is_deleted,image_id%s FROM %s WHERE id=%d",
             source.statusColumn, source.table, static_cast<int32_t>(id));
    bool goOn;
    Result result = StepSelect(query, &goOn);
    if (result == nullptr) {
      if (!goOn) return Found::kStepFailed;
      continue;
    }
    if (DBGetNumRows(result.get()) == 0) continue;
    char *name = DBGetField(result.get(), 0, 0, nullptr, 0);
    object->name = name;
    free(name);
    object->isDeleted = DBGetFieldLong(result.get(), 0, 1) != 0 ? 1 : 0;
    object->imageId = DBGetFieldULong(result.get(), 0, 2);
    object->status = *source.statusColumn != 0 ? DBGetFieldULong(result.get(), 0, 3) : kTemplateStatus;
    return Found::kYes;
  }
  return Found::kNo;
}

// One row per object of access_options. Names are written as quoted
// literals of the dialect, so an apostrophe in a name (the root names come
// decoded from config) cannot break the statement.
bool FillObjectProperties() {
  return StepForEachRow(
      "object_id,inherit_rights", "access_options", nullptr, [](db_result_t access, int row) {
        uint32_t id = DBGetFieldULong(access, row, 0);
        int inheritRights = DBGetFieldLong(access, row, 1) != 0 ? 1 : 0;
        ObjectAttributes object;
        if (id < 10) {
          if (id < 1 || id > 3) {
            printf("WARNING: Invalid built-in object ID %d\n", static_cast<int32_t>(id));
            return true;
          }
          const auto &root = kRootObjects[id - 1];
          object = {RootObjectName(root.nameVariable, root.defaultName), 0,
                    ReadConfigVariableUnsigned(root.imageVariable, 0), kTemplateStatus};
        } else {
          Found found = FindObject(id, &object);
          if (found == Found::kStepFailed) return false;
          if (found == Found::kNo) {
            printf(
                "WARNING: object with ID %d presented in access control tables but cannot be found in data "
                "tables\n",
                static_cast<int32_t>(id));
            return true;
          }
        }
        String statement;
        statement.addFormattedString(
            "INSERT INTO object_properties "
            "(object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) "
            "VALUES (%d,%s,%d,%d,%d,%d,%ld)",
            static_cast<int32_t>(id), DBPrepareString(DbHandle, object.name.c_str(), kObjectNameChars).cstr(),
            static_cast<int32_t>(object.status), object.isDeleted, static_cast<int32_t>(object.imageId),
            inheritRights, static_cast<long>(time(nullptr)));
        return StepSql(statement);
      });
}

constexpr Action kStep26[] = {
    CreateTable{"CREATE TABLE object_properties ("
                "object_id integer not null,"
                "name varchar(63) not null,"
                "status integer not null,"
                "is_deleted integer not null,"
                "image_id integer,"
                "last_modified integer not null,"
                "inherit_access_rights integer not null,"
                "PRIMARY KEY(object_id))"},
    CreateTable{"CREATE TABLE user_profiles ("
                "user_id integer not null,"
                "var_name varchar(255) not null,"
                "var_value $SQL:TEXT,"
                "PRIMARY KEY(user_id,var_name))"},
    Conversion{FillObjectProperties},
    Batch{"ALTER TABLE nodes DROP COLUMN name\n"
          "ALTER TABLE nodes DROP COLUMN status\n"
          "ALTER TABLE nodes DROP COLUMN is_deleted\n"
          "ALTER TABLE nodes DROP COLUMN image_id\n"
          "ALTER TABLE interfaces DROP COLUMN name\n"
          "ALTER TABLE interfaces DROP COLUMN status\n"
          "ALTER TABLE interfaces DROP COLUMN is_deleted\n"
          "ALTER TABLE interfaces DROP COLUMN image_id\n"
          "ALTER TABLE subnets DROP COLUMN name\n"
          "ALTER TABLE subnets DROP COLUMN status\n"
          "ALTER TABLE subnets DROP COLUMN is_deleted\n"
          "ALTER TABLE subnets DROP COLUMN image_id\n"
          "ALTER TABLE network_services DROP COLUMN name\n"
          "ALTER TABLE network_services DROP COLUMN status\n"
          "ALTER TABLE network_services DROP COLUMN is_deleted\n"
          "ALTER TABLE network_services DROP COLUMN image_id\n"
          "ALTER TABLE containers DROP COLUMN name\n"
          "ALTER TABLE containers DROP COLUMN status\n"
          "ALTER TABLE containers DROP COLUMN is_deleted\n"
          "ALTER TABLE containers DROP COLUMN image_id\n"
          "ALTER TABLE templates DROP COLUMN name\n"
          "ALTER TABLE templates DROP COLUMN is_deleted\n"
          "ALTER TABLE templates DROP COLUMN image_id\n"
          "DROP TABLE access_options\n"
          "DELETE FROM config WHERE var_name='TopologyRootObjectName'\n"
          "DELETE FROM config WHERE var_name='TopologyRootImageId'\n"
          "DELETE FROM config WHERE var_name='ServiceRootObjectName'\n"
          "DELETE FROM config WHERE var_name='ServiceRootImageId'\n"
          "DELETE FROM config WHERE var_name='TemplateRootObjectName'\n"
          "DELETE FROM config WHERE var_name='TemplateRootImageId'\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "VALUES (31,'SYS_SNMP_OK',0,1,"
          "'Connectivity with SNMP agent restored',"
          "'Generated when connectivity with node#27s SNMP agent restored.#0D#0A"
          "Parameters:#0D#0A"
          "   No message-specific parameters')\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
          "VALUES (32,'SYS_AGENT_OK',0,1,"
          "'Connectivity with native agent restored',"
          "'Generated when connectivity with node#27s native agent restored.#0D#0A"
          "Parameters:#0D#0A"
          "   No message-specific parameters')\n"
          "<END>"},
};

constexpr UpgradeStep kRows[] = {
    {21, 22, kStep21}, {22, 23, kStep22}, {23, 24, kStep23},
    {24, 25, kStep24}, {25, 26, kStep25}, {26, 27, kStep26},
};

}  // namespace

const std::span<const UpgradeStep> UpgradeSteps21To27 = kRows;
