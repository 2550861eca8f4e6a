// Steps 21 -> 27: hard disk temperature events, raw collected values, the
// time-stamp indexes of the collected data, and object_properties, which
// gathers the common attributes of every object from the per-class
// tables.
#include <cstdint>
#include <cstdio>
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
    EventTemplate{4009, "DC_HDD_TEMP_WARNING", 1,
                  "Temperature of hard disk %6 is above warning level of %3 (current: %4)",
                  THRESHOLD_EVENT_DESCRIPTION, TextForm::kStored},
    EventTemplate{4010, "DC_HDD_TEMP_MAJOR", 3, "Temperature of hard disk %6 is above %3 (current: %4)",
                  THRESHOLD_EVENT_DESCRIPTION, TextForm::kStored},
    EventTemplate{4011, "DC_HDD_TEMP_CRITICAL", 4,
                  "Temperature of hard disk %6 is above critical level of %3 (current: %4)",
                  THRESHOLD_EVENT_DESCRIPTION, TextForm::kStored},
    ConfigVariable{"SMSDriver", "<none>", 1, 1},
    ConfigVariable{"AgentUpgradeWaitTime", "600", 1, 0},
    ConfigVariable{"NumberOfUpgradeThreads", "10", 1, 0},
};

constexpr Line kStep22Lines[] = {
    AddedColumn{"items", "template_item_id", "integer", "0"},
    Batch{"CREATE INDEX idx_thresholds_sequence ON thresholds(sequence_number)\n"
          "<END>"},
};

// Named for its table, as reindex names it.
constexpr Action kStep22[] = {
    Part{kStep22Lines},
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
      if (!StepGoesOn(AddConfigVariable("IDataIndexCreationCommand_0", value.c_str(), 0, 1, false)))
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

// The per-class tables in the order an object is looked for, with what
// each gives for the status: templates have no status column and get 5,
// as the root objects do.
const struct {
  const char *table;
  const char *status;
} kObjectTables[] = {
    {"nodes", "COALESCE(o.status,0)"},
    {"interfaces", "COALESCE(o.status,0)"},
    {"subnets", "COALESCE(o.status,0)"},
    {"templates", "5"},
    {"network_services", "COALESCE(o.status,0)"},
    {"containers", "COALESCE(o.status,0)"},
};

constexpr int kRootObjectStatus = 5;
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

// The objects of one class that no class before it holds, in one
// statement: the name as stored, cut to the column's characters; NULL
// counts as 0 and any other flag value as 1.
bool CopyClassObjects(const char *table, const char *status, long now) {
  const char *substring = DbSyntax == DB_SYNTAX_MSSQL ? "SUBSTRING" : "SUBSTR";
  String statement;
  statement.addFormattedString(
      "INSERT INTO object_properties "
      "(object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) "
      "SELECT a.object_id,"
      "COALESCE(%s(o.name,1,%d),''),"
      "%s,"
      "CASE WHEN o.is_deleted<>0 THEN 1 ELSE 0 END,"
      "COALESCE(o.image_id,0),"
      "CASE WHEN a.inherit_rights<>0 THEN 1 ELSE 0 END,"
      "%ld "
      "FROM access_options a JOIN %s o ON o.id=a.object_id "
      // Ids 0 to 9 are the built-in objects' (the three roots and invalid
      // ones); every other id, negative ones too, is looked for here.
      "WHERE (a.object_id<0 OR a.object_id>=10) "
      "AND NOT EXISTS (SELECT 1 FROM object_properties p WHERE p.object_id=a.object_id)",
      substring, kObjectNameChars, status, now, table);
  return StepSql(statement);
}

// The root objects get their names and images from config; the other
// built-in ids and the ids that no class holds are only reported.
bool AddBuiltInObjectsAndReportTheRest() {
  return StepForEachRow(
      "object_id,inherit_rights", "access_options",
      "(object_id>=0 AND object_id<10) OR "
      "NOT EXISTS (SELECT 1 FROM object_properties p WHERE p.object_id=access_options.object_id)",
      [](db_result_t access, int row) {
        uint32_t id = DBGetFieldULong(access, row, 0);
        if (id >= 10) {
          printf(
              "WARNING: object with ID %d presented in access control tables but cannot be found in data "
              "tables\n",
              static_cast<int32_t>(id));
          return true;
        }
        if (id < 1 || id > 3) {
          printf("WARNING: Invalid built-in object ID %d\n", static_cast<int32_t>(id));
          return true;
        }
        const auto &root = kRootObjects[id - 1];
        const std::string name = RootObjectName(root.nameVariable, root.defaultName);
        const uint32_t imageId = ReadConfigVariableUnsigned(root.imageVariable, 0);
        // Names are written as quoted literals of the dialect, so that an
        // apostrophe in a decoded name cannot break the statement.
        String statement;
        statement.addFormattedString(
            "INSERT INTO object_properties "
            "(object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) "
            "VALUES (%d,%s,%d,0,%d,%d,%ld)",
            static_cast<int32_t>(id), DBPrepareString(DbHandle, name.c_str(), kObjectNameChars).cstr(),
            kRootObjectStatus, static_cast<int32_t>(imageId), DBGetFieldLong(access, row, 1) != 0 ? 1 : 0,
            static_cast<long>(time(nullptr)));
        return StepSql(statement);
      });
}

// One row per object of access_options, a statement per class table
// rather than a lookup per object. Every id other than a built-in one that
// no class holds is reported in id order among the built-in ones, as an
// object-by-object walk would report them.
bool FillObjectProperties() {
  const long now = static_cast<long>(time(nullptr));
  for (const auto &source : kObjectTables)
    if (!CopyClassObjects(source.table, source.status, now)) return false;
  return AddBuiltInObjectsAndReportTheRest();
}

constexpr Line kStep26Lines[] = {
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
          "<END>"},
    EventTemplate{31, "SYS_SNMP_OK", 0, "Connectivity with SNMP agent restored",
                  "Generated when connectivity with node#27s SNMP agent restored.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
    EventTemplate{32, "SYS_AGENT_OK", 0, "Connectivity with native agent restored",
                  "Generated when connectivity with node#27s native agent restored.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
};

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
    Part{kStep26Lines},
};

constexpr UpgradeStep kRows[] = {
    {21, 22, kStep21}, {22, 23, kStep22}, {23, 24, kStep23},
    {24, 25, kStep24}, {25, 26, kStep25}, {26, 27, kStep26},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps21To27 = kRows;
