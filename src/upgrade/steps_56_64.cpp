// Steps 56 -> 64: resource-bound items and SNMP proxies, graphs,
// certificate mapping, certificates, the SNMP table tools, alarm time-outs
// with the log-processing tables, interface state events and more SNMP
// object-id mappings.
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Line kStep56Lines[] = {
    AddedColumn{"items", "resource_id", "integer", "0"},
    AddedColumn{"nodes", "snmp_proxy", "integer", "0"},
};

constexpr Action kStep56[] = {
    Part{kStep56Lines},
};

constexpr Action kStep57[] = {
    AddedColumn{"object_properties", "is_system", "integer", "0"},
    CreateTable{"CREATE TABLE graphs ("
                "graph_id integer not null,"
                "owner_id integer not null,"
                "name varchar(255) not null,"
                "config $SQL:TEXT not null,"
                "PRIMARY KEY(graph_id))"},
    CreateTable{"CREATE TABLE graph_acl ("
                "graph_id integer not null,"
                "user_id integer not null,"
                "user_rights integer not null,"
                "PRIMARY KEY(graph_id,user_id))"},
};

constexpr Action kStep58[] = {
    Batch{"ALTER TABLE users ADD cert_mapping_method integer\n"
          "ALTER TABLE users ADD cert_mapping_data $SQL:TEXT\n"
          "UPDATE users SET cert_mapping_method=0\n"
          "UPDATE users SET cert_mapping_data='#00'\n"
          "<END>"},
    ConfigVariable{"InternalCA", "0", 1, 1},
};

constexpr Action kStep59[] = {
    CreateTable{"CREATE TABLE certificates ("
                "cert_id integer not null,"
                "cert_type integer not null,"
                "cert_data $SQL:TEXT not null,"
                "subject $SQL:TEXT not null,"
                "comments $SQL:TEXT not null,"
                "PRIMARY KEY(cert_id))"},
    ConfigVariable{"SNMPRequestTimeout", "2000", 1, 1},
};

// Tool 14 is written anew with its columns; its grant row stays as it is,
// so only the three new tools get one.
constexpr Action kStep60[] = {
    Batch{
        "DELETE FROM object_tools WHERE tool_id=14\n"
        "DELETE FROM object_tools_table_columns WHERE tool_id=14\n"
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (14,"
        "'&Info->Topology table (Nortel)',"
        "2,"
        "'Topology table',"
        "1,"
        "' ',"
        "'Show topology table (Nortel protocol)',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,0,'Peer IP','.1.3.6.1.4.1.45.1.6.13.2.1.1.3',3,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,1,'Peer MAC','.1.3.6.1.4.1.45.1.6.13.2.1.1.5',4,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,2,'Slot','.1.3.6.1.4.1.45.1.6.13.2.1.1.1',1,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (14,3,'Port','.1.3.6.1.4.1.45.1.6.13.2.1.1.2',1,0)\n"
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (17,"
        "'&Info->AR&P cache (SNMP)',"
        "2,"
        "'ARP Cache',"
        "1,"
        "' ',"
        "'Show ARP cache',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (17,0,'IP Address','.1.3.6.1.2.1.4.22.1.3',3,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (17,1,'MAC Address','.1.3.6.1.2.1.4.22.1.2',4,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (17,2,'Interface','.1.3.6.1.2.1.4.22.1.1',5,0)\n"
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (18,"
        "'&Info->AR&P cache (Agent)',"
        "3,"
        "'ARP Cache#7FNet.ArpCache#7F(.*) (.*) (.*)',"
        "2,"
        "' ',"
        "'Show ARP cache',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (18,0,'IP Address','.1.3.6.1.2.1.4.22.1.3',0,2)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (18,1,'MAC Address','.1.3.6.1.2.1.4.22.1.2',0,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (18,2,'Interface','.1.3.6.1.2.1.4.22.1.1',5,3)\n"
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (19,"
        "'&Info->&Routing table (SNMP)',"
        "2,"
        "'Routing Table',"
        "1,"
        "' ',"
        "'Show IP routing table',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (19,0,'Destination','.1.3.6.1.2.1.4.21.1.1',3,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (19,1,'Mask','.1.3.6.1.2.1.4.21.1.11',3,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (19,2,'Next hop','.1.3.6.1.2.1.4.21.1.7',3,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (19,3,'Metric','.1.3.6.1.2.1.4.21.1.3',1,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (19,4,'Interface','.1.3.6.1.2.1.4.21.1.2',5,0)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (17,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (18,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (19,-2147483648)\n"
        "<END>"},
    ConfigVariable{"TopologyExpirationTime", "900", 1, 0},
    ConfigVariable{"TopologyDiscoveryRadius", "3", 1, 0},
};

constexpr Line kStep61Lines[] = {
    Batch{"UPDATE event_policy SET alarm_key=alarm_ack_key WHERE alarm_severity=6\n"
          "ALTER TABLE event_policy DROP COLUMN alarm_ack_key\n"
          "ALTER TABLE event_policy ADD alarm_timeout integer\n"
          "ALTER TABLE event_policy ADD alarm_timeout_event integer\n"
          "UPDATE event_policy SET alarm_timeout=0,alarm_timeout_event=43\n"
          "ALTER TABLE alarms ADD timeout integer\n"
          "ALTER TABLE alarms ADD timeout_event integer\n"
          "UPDATE alarms SET timeout=0,timeout_event=43\n"
          "<END>"},
    EventTemplate{43, "SYS_ALARM_TIMEOUT", 1, "Alarm timeout expired (ID: %1; Text: %2)",
                  "Generated when alarm timeout expires.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Alarm ID#0D#0A"
                  "   2) Alarm message#0D#0A"
                  "   3) Alarm key#0D#0A"
                  "   4) Event code",
                  TextForm::kStored},
    EventTemplate{44, "SYS_LOG_RECORD_MATCHED", 1, "Log record matched (Policy: %1; File: %2; Record: %4)",
                  "Default event for log record match.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Policy name#0D#0A"
                  "   2) Log file name#0D#0A"
                  "   3) Matching regular expression#0D#0A"
                  "   4) Matched record#0D#0A"
                  "   5 .. 9) Reserved#0D#0A"
                  "   10 .. 99) Substrings extracted by regular expression",
                  TextForm::kStored},
};

// The acknowledgement key of rules that terminate alarms (severity 6)
// becomes their alarm key before its column goes.
constexpr Action kStep61[] = {
    Part{kStep61Lines},
    CreateTable{"CREATE TABLE lpp_groups ("
                "lpp_group_id integer not null,"
                "lpp_group_name varchar(63) not null,"
                "parent_group integer not null,"
                "PRIMARY KEY(lpp_group_id))"},
    CreateTable{"CREATE TABLE lpp ("
                "lpp_id integer not null,"
                "lpp_group_id integer not null,"
                "lpp_name varchar(63) not null,"
                "lpp_version integer not null,"
                "lpp_flags integer not null,"
                "PRIMARY KEY(lpp_id))"},
    CreateTable{"CREATE TABLE lpp_associations ("
                "lpp_id integer not null,"
                "node_id integer not null,"
                "log_file varchar(255) not null)"},
    CreateTable{"CREATE TABLE lpp_rulesets ("
                "ruleset_id integer not null,"
                "ruleset_name varchar(63),"
                "PRIMARY KEY(ruleset_id))"},
    CreateTable{"CREATE TABLE lpp_rules ("
                "lpp_id integer not null,"
                "rule_number integer not null,"
                "ruleset_id integer not null,"
                "msg_id_start integer not null,"
                "msg_id_end integer not null,"
                "severity integer not null,"
                "source_name varchar(255) not null,"
                "msg_text_regexp varchar(255) not null,"
                "event_code integer not null,"
                "PRIMARY KEY(lpp_id,rule_number))"},
};

constexpr Action kStep62[] = {
    EventTemplate{45, "SYS_IF_UNKNOWN", 1,
                  "Interface \"%2\" changed state to UNKNOWN (IP Addr: %3/%4, IfIndex: %5)",
                  "Generated when interface goes to unknown state.#0D#0A"
                  "Please note that source of event is node, not an interface itself.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Interface object ID#0D#0A"
                  "   2) Interface name#0D#0A"
                  "   3) Interface IP address#0D#0A"
                  "   4) Interface netmask#0D#0A"
                  "   5) Interface index",
                  TextForm::kStored},
    EventTemplate{46, "SYS_IF_DISABLED", 0, "Interface \"%2\" disabled (IP Addr: %3/%4, IfIndex: %5)",
                  "Generated when interface administratively disabled.#0D#0A"
                  "Please note that source of event is node, not an interface itself.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Interface object ID#0D#0A"
                  "   2) Interface name#0D#0A"
                  "   3) Interface IP address#0D#0A"
                  "   4) Interface netmask#0D#0A"
                  "   5) Interface index",
                  TextForm::kStored},
    EventTemplate{47, "SYS_IF_TESTING", 0, "Interface \"%2\" is testing (IP Addr: %3/%4, IfIndex: %5)",
                  "Generated when interface goes to testing state.#0D#0A"
                  "Please note that source of event is node, not an interface itself.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Interface object ID#0D#0A"
                  "   2) Interface name#0D#0A"
                  "   3) Interface IP address#0D#0A"
                  "   4) Interface netmask#0D#0A"
                  "   5) Interface index",
                  TextForm::kStored},
};

constexpr Action kStep63[] = {
    Batch{"INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (15,'.1.3.6.1.4.1.45.3.29.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (16,'.1.3.6.1.4.1.45.3.41.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (17,'.1.3.6.1.4.1.45.3.45.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (18,'.1.3.6.1.4.1.45.3.43.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (19,'.1.3.6.1.4.1.45.3.57.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (20,'.1.3.6.1.4.1.45.3.49.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (21,'.1.3.6.1.4.1.45.3.54.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (22,'.1.3.6.1.4.1.45.3.63.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (23,'.1.3.6.1.4.1.45.3.64.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (24,'.1.3.6.1.4.1.45.3.53.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (25,'.1.3.6.1.4.1.45.3.59.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (26,'.1.3.6.1.4.1.45.3.39.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (27,'.1.3.6.1.4.1.45.3.65.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (28,'.1.3.6.1.4.1.45.3.66.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (29,'.1.3.6.1.4.1.45.3.44.*',4,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (30,'.1.3.6.1.4.1.45.3.47.*',4,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (31,'.1.3.6.1.4.1.45.3.48.*',4,0)\n"
          "<END>"},
};

constexpr UpgradeStep kRows[] = {
    {56, 57, kStep56}, {57, 58, kStep57}, {58, 59, kStep58}, {59, 60, kStep59},
    {60, 61, kStep60}, {61, 62, kStep61}, {62, 63, kStep62}, {63, 64, kStep63},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps56To64 = kRows;
