// Steps 200 -> 209: SNMPv3 credentials, plain storage of alarm, object and
// log texts (the logs after a question), the LLDP topology tool, location
// and connection pool settings, external audit and password policy.
#include "upgrade/helpers.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Action kStep200[] = {
    Batch{"ALTER TABLE nodes ADD usm_auth_password varchar(127)\n"
          "ALTER TABLE nodes ADD usm_priv_password varchar(127)\n"
          "ALTER TABLE nodes ADD usm_methods integer\n"
          "UPDATE nodes SET "
          "usm_auth_password='#00',"
          "usm_priv_password='#00',"
          "usm_methods=0\n"
          "<END>"},
};

// Oracle refuses to relax a column that is nullable already (hd_ref was
// added nullable by 46 -> 47); MakeColumnNullable lets that pass, where a
// bare MODIFY would end the step.
constexpr Action kStep201[] = {
    NullableColumn{"alarms", "message", "varchar(255)"},
    NullableColumn{"alarms", "alarm_key", "varchar(255)"},
    NullableColumn{"alarms", "hd_ref", "varchar(63)"},
    RecodedColumn{"alarms", "alarm_id", "message"},
    RecodedColumn{"alarms", "alarm_id", "alarm_key"},
    RecodedColumn{"alarms", "alarm_id", "hd_ref"},
};

constexpr Action kStep202[] = {
    Batch{
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (20,"
        "'&Info->Topology table (LLDP)',"
        "2,"
        "'Topology Table',"
        "1,"
        "' ',"
        "'Show topology table (LLDP)',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,0,'Chassis ID','.1.0.8802.1.1.2.1.4.1.1.5',0,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,1,'Local port','.1.0.8802.1.1.2.1.4.1.1.2',5,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,2,'System name','.1.0.8802.1.1.2.1.4.1.1.9',0,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,3,'System description','.1.0.8802.1.1.2.1.4.1.1.10',0,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,4,'Remote port ID','.1.0.8802.1.1.2.1.4.1.1.7',4,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (20,5,'Remote port description','.1.0.8802.1.1.2.1.4.1.1.8',0,0)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (20,-2147483648)\n"
        "<END>"},
};

// comments was added nullable by 46 -> 47: see kStep201.
constexpr Action kStep203[] = {
    Batch{"ALTER TABLE object_properties ADD location_type integer\n"
          "ALTER TABLE object_properties ADD latitude varchar(20)\n"
          "ALTER TABLE object_properties ADD longitude varchar(20)\n"
          "UPDATE object_properties SET location_type=0\n"
          "ALTER TABLE object_properties DROP COLUMN image_id\n"
          "<END>"},
    ConfigVariable{"ConnectionPoolBaseSize", "5", 1, 1},
    ConfigVariable{"ConnectionPoolMaxSize", "20", 1, 1},
    ConfigVariable{"ConnectionPoolCooldownTime", "300", 1, 1},
    PlainTextColumn{"object_properties", "object_id", "comments", "$SQL:TEXT"},
};

constexpr Action kStep204[] = {
    CreateTable{"CREATE TABLE usm_credentials ("
                "id integer not null,"
                "user_name varchar(255) not null,"
                "auth_method integer not null,"
                "priv_method integer not null,"
                "auth_password varchar(255),"
                "priv_password varchar(255),"
                "PRIMARY KEY(id))"},
};

constexpr Action kClearLogs[] = {
    Statement{"DELETE FROM audit_log"},
    Statement{"DELETE FROM event_log"},
    Statement{"DELETE FROM syslog"},
    Statement{"DELETE FROM snmp_trap_log"},
};

constexpr Action kRecodeLogs[] = {
    RecodedColumn{"event_log", "event_id", "event_message"},
    RecodedColumn{"event_log", "event_id", "user_tag"},
    RecodedColumn{"audit_log", "record_id", "message"},
    RecodedColumn{"syslog", "msg_id", "msg_text"},
    RecodedColumn{"snmp_trap_log", "trap_id", "trap_varlist"},
};

// event_message and user_tag were created nullable (17 -> 18, 69 -> 70):
// see kStep201.
constexpr Action kStep205[] = {
    NullableColumn{"audit_log", "message", "$SQL:TEXT"},
    NullableColumn{"event_log", "event_message", "varchar(255)"},
    NullableColumn{"event_log", "user_tag", "varchar(63)"},
    NullableColumn{"syslog", "hostname", "varchar(127)"},
    NullableColumn{"syslog", "msg_tag", "varchar(32)"},
    NullableColumn{"syslog", "msg_text", "$SQL:TEXT"},
    NullableColumn{"snmp_trap_log", "trap_varlist", "$SQL:TEXT"},
    Question{"This database upgrade requires log conversion. This can take significant amount of time "
             "(up to few hours for large databases). If preserving all log records is not very important, "
             "it is recommended to clear logs befor conversion. Clear logs?",
             kClearLogs, kRecodeLogs},
};

constexpr Action kStep206[] = {
    ConfigVariable{"RADIUSSecondaryServer", "none", 1, 0},
    ConfigVariable{"RADIUSSecondarySecret", "kobrin", 1, 0},
    ConfigVariable{"RADIUSSecondaryPort", "1645", 1, 0},
    ConfigVariable{"ExternalAuditServer", "none", 1, 1},
    ConfigVariable{"ExternalAuditPort", "514", 1, 1},
    ConfigVariable{"ExternalAuditFacility", "13", 1, 1},
    ConfigVariable{"ExternalAuditSeverity", "5", 1, 1},
    ConfigVariable{"ExternalAuditTag", "talvexd-audit", 1, 1},
};

constexpr Action kStep207[] = {Statement{"ALTER TABLE items ADD system_tag varchar(255)"}};

constexpr Action kStep208[] = {
    Batch{"ALTER TABLE users ADD auth_failures integer\n"
          "ALTER TABLE users ADD last_passwd_change integer\n"
          "ALTER TABLE users ADD min_passwd_length integer\n"
          "ALTER TABLE users ADD disabled_until integer\n"
          "ALTER TABLE users ADD last_login integer\n"
          "ALTER TABLE users ADD password_history $SQL:TEXT\n"
          "UPDATE users SET "
          "auth_failures=0,"
          "last_passwd_change=0,"
          "min_passwd_length=-1,"
          "disabled_until=0,"
          "last_login=0\n"
          "<END>"},
    ConfigVariable{"PasswordHistoryLength", "0", 1, 0},
    ConfigVariable{"IntruderLockoutThreshold", "0", 1, 0},
    ConfigVariable{"IntruderLockoutTime", "30", 1, 0},
    ConfigVariable{"MinPasswordLength", "0", 1, 0},
    ConfigVariable{"PasswordComplexity", "0", 1, 0},
    ConfigVariable{"PasswordExpiration", "0", 1, 0},
    ConfigVariable{"BlockInactiveUserAccounts", "0", 1, 0},
};

// The legacy bridges run 207 -> 208 and 208 -> 209 themselves.
constexpr UpgradeStep kRows[] = {
    {200, 201, kStep200}, {201, 202, kStep201}, {202, 203, kStep202},
    {203, 204, kStep203}, {204, 205, kStep204}, {205, 206, kStep205},
    {206, 207, kStep206}, {207, 208, kStep207}, {208, 209, kStep208},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps200To209 = kRows;
