// Steps 64 -> 73: the wider SNMP community, map link ports, synthetic
// masks, threshold repeats, the audit log, retention times in days,
// required polls, proxy nodes and situations.
#include <cstdio>

#include "session/batch.h"
#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr const char kWidenCommunityInPlace[] = "ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)";

// The column rebuilt beside the old one, for a PostgreSQL server that
// refuses the change in place; it ends up as the last column.
constexpr const char kRebuildCommunity[] =
    "ALTER TABLE nodes ADD new_community varchar(127)\n"
    "UPDATE nodes SET new_community=community\n"
    "ALTER TABLE nodes DROP COLUMN community\n"
    "ALTER TABLE nodes RENAME COLUMN new_community TO community\n"
    "ALTER TABLE nodes ALTER COLUMN community SET NOT NULL\n"
    "<END>";

// The engines without a plain statement for the wider column: PostgreSQL
// tries the change in place silently and rebuilds the column when that
// fails; SQLite does not enforce the length anyway, so it only warns.
// Returns false when the rebuild failed and the step must end.
bool WidenCommunityWithoutModify() {
  switch (DbSyntax) {
    case DB_SYNTAX_MYSQL:
    case DB_SYNTAX_MSSQL:
    case DB_SYNTAX_ORACLE: return true;
    case DB_SYNTAX_PGSQL:
      TraceSql(kWidenCommunityInPlace);
      return SendSql(kWidenCommunityInPlace, QueryEcho::kSilent) ||
             ExecSqlBatch(kRebuildCommunity, StepRule());
    case DB_SYNTAX_SQLITE:
      printf(
          "WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
          "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n");
      return true;
    default: printf("INTERNAL ERROR: Unknown database syntax %d\n", DbSyntax); return true;
  }
}

// MySQL's MODIFY and SQL Server's ALTER COLUMN define the column anew, so
// NOT NULL is said again or the column would turn nullable; Oracle's
// MODIFY keeps it (and would refuse it said twice).
constexpr Action kStep64[] = {
    PerDialect{.mysql = "ALTER TABLE nodes MODIFY community varchar(127) not null",
               .pgsql = "",
               .mssql = "ALTER TABLE nodes ALTER COLUMN community varchar(127) not null",
               .oracle = "ALTER TABLE nodes MODIFY community varchar(127)",
               .sqlite = "",
               .other = ""},
    Conversion{WidenCommunityWithoutModify},
};

constexpr Action kStep65[] = {
    Batch{"ALTER TABLE submap_links ADD port1 varchar(255)\n"
          "ALTER TABLE submap_links ADD port2 varchar(255)\n"
          "UPDATE submap_links SET port1='#00',port2='#00'\n"
          "<END>"},
};

constexpr Line kStep66Lines[] = {
    AddedColumn{"subnets", "synthetic_mask", "integer", "0"},
    AddedColumn{"interfaces", "synthetic_mask", "integer", "0"},
};

constexpr Action kStep66[] = {
    Part{kStep66Lines},
};

constexpr Action kStep67[] = {
    AddedColumn{"thresholds", "repeat_interval", "integer", "-1"},
    ConfigVariable{"ThresholdRepeatInterval", "0", 1, 1},
};

constexpr Action kStep68[] = {
    CreateTable{"CREATE TABLE audit_log ("
                "record_id integer not null,"
                "timestamp integer not null,"
                "subsystem varchar(32) not null,"
                "success integer not null,"
                "user_id integer not null,"
                "workstation varchar(63) not null,"
                "object_id integer not null,"
                "message $SQL:TEXT not null,"
                "PRIMARY KEY(record_id))"},
    ConfigVariable{"EnableAuditLog", "1", 1, 1},
    ConfigVariable{"AuditLogRetentionTime", "90", 1, 0},
};

// The server now counts retention in days: whole days, at least one; a
// missing variable stands for the old default of 60 days. Returns false
// when a write failed and the step must end.
bool ConvertRetentionTimesToDays() {
  for (const char *name : {"EventLogRetentionTime", "SyslogRetentionTime"}) {
    int32_t days = ReadConfigVariable(name, 5184000) / 86400;
    char value[16];
    snprintf(value, sizeof(value), "%d", days < 1 ? 1 : days);
    if (!StepGoesOn(AddConfigVariable(name, value, 1, 0, true))) return false;
  }
  return true;
}

constexpr Line kStep69Lines[] = {
    AddedColumn{"snmp_trap_cfg", "user_tag", "varchar(63)", "'#00'"},
    AddedColumn{"event_log", "user_tag", "varchar(63)", "'#00'"},
};

constexpr Action kStep69[] = {
    Part{kStep69Lines},
    Conversion{ConvertRetentionTimesToDays},
};

constexpr Line kStep70Lines[] = {
    AddedColumn{"nodes", "required_polls", "integer", "0"},
    AddedColumn{"interfaces", "required_polls", "integer", "0"},
    AddedColumn{"network_services", "required_polls", "integer", "0"},
};

constexpr Action kStep70[] = {
    Part{kStep70Lines},
    ConfigVariable{"PollCountForStatusChange", "1", 1, 1},
};

constexpr Action kStep71[] = {
    AddedColumn{"items", "proxy_node", "integer", "0"},
};

constexpr Action kStep72[] = {
    Batch{"ALTER TABLE event_policy ADD situation_id integer\n"
          "ALTER TABLE event_policy ADD situation_instance varchar(255)\n"
          "UPDATE event_policy SET situation_id=0,situation_instance='#00'\n"
          "<END>"},
    CreateTable{"CREATE TABLE policy_situation_attr_list ("
                "rule_id integer not null,"
                "situation_id integer not null,"
                "attr_name varchar(255) not null,"
                "attr_value varchar(255) not null,"
                "PRIMARY KEY(rule_id,situation_id,attr_name))"},
    CreateTable{"CREATE TABLE situations ("
                "id integer not null,"
                "name varchar(127) not null,"
                "comments $SQL:TEXT not null,"
                "PRIMARY KEY(id))"},
    ConfigVariable{"RetainCustomInterfaceNames", "0", 1, 0},
    ConfigVariable{"AllowDirectSMS", "0", 1, 0},
    ConfigVariable{"EventStormThreshold", "0", 1, 1},
};

constexpr UpgradeStep kRows[] = {
    {64, 65, kStep64}, {65, 66, kStep65}, {66, 67, kStep66}, {67, 68, kStep67}, {68, 69, kStep68},
    {69, 70, kStep69}, {70, 71, kStep70}, {71, 72, kStep71}, {72, 73, kStep72},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps64To73 = kRows;
