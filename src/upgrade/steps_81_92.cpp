// Steps 81 -> 92: config_clob, agent registration, ifXTable, the removal
// of the alarm groups, log parser and image tables, automatic template
// and container binding, and at 86 -> 87 the move of the schema facts
// from config into the new metadata table.
#include <cstdlib>
#include <memory>

#include "runtime/tv_string.h"
#include "session/batch.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Action kStep81[] = {
    CreateTable{"CREATE TABLE config_clob ("
                "var_name varchar(63) not null,"
                "var_value $SQL:TEXT not null,"
                "PRIMARY KEY(var_name))"},
};

constexpr Action kStep82[] = {Statement{"UPDATE alarms SET timeout=0,timeout_event=43"}};

constexpr Action kStep83[] = {
    ConfigVariable{"EnableAgentRegistration", "1", 1, 0},
    ConfigVariable{"AnonymousFileAccess", "0", 1, 0},
    ConfigVariable{"EnableISCListener", "0", 1, 1},
    ConfigVariable{"ReceiveForwardedEvents", "0", 1, 0},
};

constexpr Action kStep84[] = {
    AddedColumn{"nodes", "use_ifxtable", "integer", "0"},
    ConfigVariable{"UseIfXTable", "1", 1, 0},
    ConfigVariable{"SMTPRetryCount", "1", 1, 0},
};

constexpr Action kStep85[] = {
    Batch{"DROP TABLE alarm_grops\n"
          "DROP TABLE alarm_group_map\n"
          "DROP TABLE alarm_change_log\n"
          "DROP TABLE lpp\n"
          "DROP TABLE lpp_associations\n"
          "DROP TABLE lpp_rulesets\n"
          "DROP TABLE lpp_rules\n"
          "DROP TABLE lpp_groups\n"
          "<END>"},
};

// Where DDL commits at once (MySQL), a failed run of step 86 -> 87 leaves
// the table, and whatever it had moved, behind; the database then reads
// its version from there, and the rerun carries on with the table instead
// of failing to create it again. Returns false when the table is missing
// and cannot be created.
bool CreateMetadataTable() {
  std::string probe;
  if (ReadServerVariable("metadata", "SchemaVersion", probe, QueryEcho::kSilent) != VariableRead::kFailed)
    return true;
  return CreateTableSql(
      "CREATE TABLE metadata ("
      "var_name varchar(63) not null,"
      "var_value varchar(255) not null,"
      "PRIMARY KEY(var_name))");
}

// Moves one variable, decoded, from config into metadata: nothing to do
// when config does not hold it. The config row goes only once the
// metadata row is in, and a metadata row left by a failed earlier run
// gives way to the config value, which is still the current one. Returns
// false at the first failed statement (reported).
bool MoveConfigToMetadata(const char *configName, const char *metadataName) {
  std::string value;
  switch (ReadServerVariable("config", configName, value, QueryEcho::kTraced)) {
    case VariableRead::kFailed: return false;
    case VariableRead::kMissing: return true;
    case VariableRead::kFound: break;
  }
  DecodeSQLString(value.data());

  String clear, insert, remove;
  clear.addFormattedString("DELETE FROM metadata WHERE var_name='%s'", metadataName);
  insert.addFormattedString("INSERT INTO metadata (var_name,var_value) VALUES ('%s',%s)", metadataName,
                            DBPrepareString(DbHandle, value.c_str()).cstr());
  remove.addFormattedString("DELETE FROM config WHERE var_name='%s'", configName);
  return ExecSql(clear) && ExecSql(insert) && ExecSql(remove);
}

constexpr struct {
  const char *configName;
  const char *metadataName;
} kMetadataVariables[] = {
    {"DBFormatVersion", "SchemaVersion"},
    {"DBSyntax", "Syntax"},
    {"IDataTableCreationCommand", "IDataTableCreationCommand"},
    {"IDataIndexCreationCommand_0", "IDataIndexCreationCommand_0"},
    {"IDataIndexCreationCommand_1", "IDataIndexCreationCommand_1"},
    {"IDataIndexCreationCommand_2", "IDataIndexCreationCommand_2"},
    {"IDataIndexCreationCommand_3", "IDataIndexCreationCommand_3"},
};

// Returns false when a variable failed to move and the step must end.
bool MoveVariablesToMetadata() {
  for (const auto &variable : kMetadataVariables)
    if (!StepGoesOn(MoveConfigToMetadata(variable.configName, variable.metadataName))) return false;
  return true;
}

// The version is written into metadata from here on (VersionStoreTable
// says so for every version above 86).
constexpr Action kStep86[] = {
    Conversion{CreateMetadataTable},
    Conversion{MoveVariablesToMetadata},
};

constexpr Action kStep87[] = {
    Batch{"ALTER TABLE templates ADD enable_auto_apply integer\n"
          "ALTER TABLE templates ADD apply_filter $SQL:TEXT\n"
          "UPDATE templates SET enable_auto_apply=0,apply_filter='#00'\n"
          "<END>"},
};

constexpr Line kStep88Lines[] = {
    Batch{"ALTER TABLE containers ADD enable_auto_bind integer\n"
          "ALTER TABLE containers ADD auto_bind_filter $SQL:TEXT\n"
          "UPDATE containers SET enable_auto_bind=0,auto_bind_filter='#00'\n"
          "<END>"},
    AddedColumn{"cluster_resources", "current_owner", "integer", "0"},
    EventTemplate{52, "SYS_DB_QUERY_FAILED", 4, "Database query failed (Query: %1; Error: %2)",
                  "Generated when SQL query to backend database failed.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Query#0D#0A"
                  "   2) Error message",
                  TextForm::kStored},
};

constexpr Action kStep88[] = {
    Part{kStep88Lines},
};

constexpr Action kStep89[] = {
    Batch{"ALTER TABLE items ADD base_units integer\n"
          "ALTER TABLE items ADD unit_multiplier integer\n"
          "ALTER TABLE items ADD custom_units_name varchar(63)\n"
          "ALTER TABLE items ADD perftab_settings $SQL:TEXT\n"
          "UPDATE items SET "
          "base_units=0,"
          "unit_multiplier=1,"
          "custom_units_name='#00',"
          "perftab_settings='#00'\n"
          "<END>"},
};

constexpr Action kStep90[] = {
    CreateTable{"CREATE TABLE userdb_custom_attributes ("
                "object_id integer not null,"
                "attr_name varchar(255) not null,"
                "attr_value $SQL:TEXT not null,"
                "PRIMARY KEY(object_id,attr_name))"},
};

constexpr Action kStep91[] = {
    Batch{"DROP TABLE images\n"
          "DROP TABLE default_images\n"
          "<END>"},
};

constexpr UpgradeStep kRows[] = {
    {81, 82, kStep81}, {82, 83, kStep82}, {83, 84, kStep83}, {84, 85, kStep84},
    {85, 86, kStep85}, {86, 87, kStep86}, {87, 88, kStep87}, {88, 89, kStep88},
    {89, 90, kStep89}, {90, 91, kStep90}, {91, 92, kStep91},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps81To92 = kRows;
