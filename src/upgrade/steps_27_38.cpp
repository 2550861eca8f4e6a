// Steps 27 -> 38: system access rights, zones, VPN connectors, object
// tools, scheduled collection, syslog, the script library and the SNMP
// trap log.
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

// Oracle reserves ACCESS, so only a quoted identifier can name the old
// column there; it stands in the catalogue's upper case.
constexpr const char kMoveAccessRights[] =
    "ALTER TABLE users ADD system_access integer\n"
    "UPDATE users SET system_access=access\n"
    "ALTER TABLE users DROP COLUMN access\n"
    "ALTER TABLE user_groups ADD system_access integer\n"
    "UPDATE user_groups SET system_access=access\n"
    "ALTER TABLE user_groups DROP COLUMN access\n"
    "<END>";
constexpr const char kMoveAccessRightsOracle[] =
    "ALTER TABLE users ADD system_access integer\n"
    "UPDATE users SET system_access=\"ACCESS\"\n"
    "ALTER TABLE users DROP COLUMN \"ACCESS\"\n"
    "ALTER TABLE user_groups ADD system_access integer\n"
    "UPDATE user_groups SET system_access=\"ACCESS\"\n"
    "ALTER TABLE user_groups DROP COLUMN \"ACCESS\"\n"
    "<END>";

constexpr Action kStep27[] = {
    PerDialect{.batch = true,
               .mysql = kMoveAccessRights,
               .pgsql = kMoveAccessRights,
               .mssql = kMoveAccessRights,
               .oracle = kMoveAccessRightsOracle,
               .sqlite = kMoveAccessRights,
               .other = kMoveAccessRights},
};

constexpr Action kStep28[] = {
    CreateTable{"CREATE TABLE zones ("
                "id integer not null,"
                "zone_guid integer not null,"
                "zone_type integer not null,"
                "controller_ip varchar(15) not null,"
                "description $SQL:TEXT,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE zone_ip_addr_list ("
                "zone_id integer not null,"
                "ip_addr varchar(15) not null,"
                "PRIMARY KEY(zone_id,ip_addr))"},
    Batch{"ALTER TABLE nodes ADD zone_guid integer\n"
          "ALTER TABLE subnets ADD zone_guid integer\n"
          "UPDATE nodes SET zone_guid=0\n"
          "UPDATE subnets SET zone_guid=0\n"
          "INSERT INTO default_images (object_class,image_id) "
          "VALUES (6,13)\n"
          "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
          "VALUES (13,'Obj.Zone','zone.png','<invalid_hash>','zone.ico','<invalid_hash>')\n"
          "<END>"},
    ConfigVariable{"EnableZoning", "0", 1, 1},
};

constexpr Action kStep29[] = {
    AddedColumn{"object_properties", "status_alg", "integer", "-1"},
    ConfigVariable{"StatusCalculationAlgorithm", "0", 1, 1},
    ConfigVariable{"EnableMultipleDBConnections", "1", 1, 1},
    ConfigVariable{"NumberOfDatabaseWriters", "1", 1, 1},
    ConfigVariable{"DefaultEncryptionPolicy", "1", 1, 1},
    ConfigVariable{"AllowedCiphers", "15", 1, 1},
    ConfigVariable{"KeepAliveInterval", "60", 1, 1},
};

constexpr Action kStep30[] = {
    Batch{"INSERT INTO default_images (object_class,image_id) "
          "VALUES (12, 14)\n"
          "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
          "VALUES (14,'Obj.VPNConnector','vpnc.png','<invalid_hash>','vpnc.ico','<invalid_hash>')\n"
          "<END>"},
    CreateTable{"CREATE TABLE vpn_connectors ("
                "id integer not null,"
                "node_id integer not null,"
                "peer_gateway integer not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE vpn_connector_networks ("
                "vpn_id integer not null,"
                "network_type integer not null,"
                "ip_addr varchar(15) not null,"
                "ip_netmask varchar(15) not null,"
                "PRIMARY KEY(vpn_id,ip_addr))"},
    ConfigVariable{"NumberOfRoutingTablePollers", "5", 1, 1},
    ConfigVariable{"RoutingTableUpdateInterval", "300", 1, 1},
};

// The tool rows keep a blank after tool_type (and the column rows one
// after col_format): the rows equal, byte for byte, those of a database
// created at this version.
constexpr Action kStep31[] = {
    CreateTable{"CREATE TABLE object_tools ("
                "tool_id integer not null,"
                "tool_name varchar(255) not null,"
                "tool_type integer not null,"
                "tool_data $SQL:TEXT,"
                "description varchar(255),"
                "flags integer not null,"
                "PRIMARY KEY(tool_id))"},
    CreateTable{"CREATE TABLE object_tools_acl ("
                "tool_id integer not null,"
                "user_id integer not null,"
                "PRIMARY KEY(tool_id,user_id))"},
    Batch{"INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
          "VALUES (1,'&Shutdown system',1 ,'System.Shutdown',0,'Shutdown target node via Talvex agent')\n"
          "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
          "VALUES (2,'&Restart system',1 ,'System.Restart',0,'Restart target node via Talvex agent')\n"
          "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
          "VALUES (3,'&Wakeup node',0 ,'wakeup',0,'Wakeup node using Wake-On-LAN magic packet')\n"
          "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
          "VALUES (4,'Restart &agent',1 ,'Agent.Restart',0,'Restart Talvex agent on target node')\n"
          "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (1,-2147483648)\n"
          "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (2,-2147483648)\n"
          "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (3,-2147483648)\n"
          "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (4,-2147483648)\n"
          "<END>"},
};

// Each tool is followed by its columns; the grants come last. Tool 12
// has no column 3 and shares the description of tool 11.
constexpr Action kStep32[] = {
    CreateTable{"CREATE TABLE object_tools_table_columns ("
                "tool_id integer not null,"
                "col_number integer not null,"
                "col_name varchar(255),"
                "col_oid varchar(255),"
                "col_format integer,"
                "col_substr integer,"
                "PRIMARY KEY(tool_id,col_number))"},
    Batch{
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (5,'&Info->&Switch forwarding database (FDB)',2 ,'Forwarding database',0,"
        "'Show switch forwarding database')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (5,0,'MAC Address','.1.3.6.1.2.1.17.4.3.1.1',4 ,0)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (5,1,'Port','.1.3.6.1.2.1.17.4.3.1.2',1 ,0)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (6,'&Connect->Open &web browser',4 ,'http://%OBJECT_IP_ADDR%',0,"
        "'Open embedded web browser to node')\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (7,'&Connect->Open &web browser (HTTPS)',4 ,'https://%OBJECT_IP_ADDR%',0,"
        "'Open embedded web browser to node using HTTPS')\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (8,'&Info->&Agent->&Subagent list',3 ,"
        "'Subagent List#7FAgent.SubAgentList#7F^(.*) (.*) (.*) (.*)',0,"
        "'Show list of loaded subagents')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (8,0,'Name','',0 ,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (8,1,'Version','',0 ,2)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (8,2,'File','',0 ,4)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (8,3,'Module handle','',0 ,3)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (9,'&Info->&Agent->Supported &parameters',3 ,"
        "'Supported parameters#7FAgent.SupportedParameters#7F^(.*)',0,"
        "'Show list of parameters supported by agent')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (9,0,'Parameter','',0 ,1)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (10,'&Info->&Agent->Supported &enums',3 ,"
        "'Supported enums#7FAgent.SupportedEnums#7F^(.*)',0,"
        "'Show list of enums supported by agent')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (10,0,'Parameter','',0 ,1)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (11,'&Info->&Agent->Supported &actions',3 ,"
        "'Supported actions#7FAgent.ActionList#7F^(.*) (.*) #22(.*)#22.*',0,"
        "'Show list of actions supported by agent')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (11,0,'Name','',0 ,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (11,1,'Type','',0 ,2)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (11,2,'Data','',0 ,3)\n"
        "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
        "VALUES (12,'&Info->&Agent->Configured &ICMP targets',3 ,"
        "'Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*)',0,"
        "'Show list of actions supported by agent')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (12,0,'IP Address','',0 ,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (12,1,'Name','',0 ,4)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (12,2,'Last RTT','',0 ,2)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (12,4,'Average RTT','',0 ,3)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (5,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (6,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (7,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (8,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (9,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (10,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (11,-2147483648)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (12,-2147483648)\n"
        "<END>"},
};

constexpr Action kStep33[] = {
    AddedColumn{"items", "adv_schedule", "integer", "0"},
    CreateTable{"CREATE TABLE dci_schedules ("
                "item_id integer not null,"
                "schedule varchar(255) not null)"},
    CreateTable{"CREATE TABLE syslog ("
                "msg_id $SQL:INT64 not null,"
                "msg_timestamp integer not null,"
                "facility integer not null,"
                "severity integer not null,"
                "source_object_id integer not null,"
                "hostname varchar(127) not null,"
                "msg_tag varchar(32) not null,"
                "msg_text $SQL:TEXT not null,"
                "PRIMARY KEY(msg_id))"},
    ConfigVariable{"IcmpPingSize", "46", 1, 1},
    ConfigVariable{"SMSDrvConfig", "", 1, 1},
    ConfigVariable{"EnableSyslogDaemon", "0", 1, 1},
    ConfigVariable{"SyslogListenPort", "514", 1, 1},
    ConfigVariable{"SyslogRetentionTime", "5184000", 1, 0},
};

// The batch deletes StatusCalculationAlgorithm, so the variable comes
// back with the new algorithm's default whatever it held before.
constexpr Action kStep34[] = {
    Batch{"ALTER TABLE object_properties DROP COLUMN status_alg\n"
          "ALTER TABLE object_properties ADD status_calc_alg integer\n"
          "ALTER TABLE object_properties ADD status_prop_alg integer\n"
          "ALTER TABLE object_properties ADD status_fixed_val integer\n"
          "ALTER TABLE object_properties ADD status_shift integer\n"
          "ALTER TABLE object_properties ADD status_translation varchar(8)\n"
          "ALTER TABLE object_properties ADD status_single_threshold integer\n"
          "ALTER TABLE object_properties ADD status_thresholds varchar(8)\n"
          "UPDATE object_properties SET "
          "status_calc_alg=0,"
          "status_prop_alg=0,"
          "status_fixed_val=0,"
          "status_shift=0,"
          "status_translation='01020304',"
          "status_single_threshold=75,"
          "status_thresholds='503C2814'\n"
          "DELETE FROM config WHERE var_name='StatusCalculationAlgorithm'\n"
          "<END>"},
    ConfigVariable{"StatusCalculationAlgorithm", "1", 1, 1},
    ConfigVariable{"StatusPropagationAlgorithm", "1", 1, 1},
    ConfigVariable{"FixedStatusValue", "0", 1, 1},
    ConfigVariable{"StatusShift", "0", 1, 1},
    ConfigVariable{"StatusTranslation", "01020304", 1, 1},
    ConfigVariable{"StatusSingleThreshold", "75", 1, 1},
    ConfigVariable{"StatusThresholds", "503C2814", 1, 1},
};

constexpr Line kStep35Lines[] = {
    AddedColumn{"nodes", "proxy_node", "integer", "0"},
    AddedColumn{"object_tools", "matching_oid", "varchar(255)", "'#00'"},
};

constexpr Action kStep35[] = {
    Part{kStep35Lines},
    ConfigVariable{"CapabilityExpirationTime", "604800", 1, 0},
};

constexpr Action kStep36[] = {
    CreateTable{"CREATE TABLE script_library ("
                "script_id integer not null,"
                "script_name varchar(63) not null,"
                "script_code $SQL:TEXT not null,"
                "PRIMARY KEY(script_id))"},
    Batch{"DROP TABLE new_nodes\n"
          "DELETE FROM config WHERE var_name='NewNodePollingInterval'\n"
          "INSERT INTO script_library (script_id,script_name,script_code) "
          "VALUES (1,'Filter::SNMP',"
          "'sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A')\n"
          "INSERT INTO script_library (script_id,script_name,script_code) "
          "VALUES (2,'Filter::Agent',"
          "'sub main()#0D#0A{#0D#0A   return $1->isAgent;#0D#0A}#0D#0A')\n"
          "INSERT INTO script_library (script_id,script_name,script_code) "
          "VALUES (3,'Filter::AgentOrSNMP',"
          "'sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A')\n"
          "INSERT INTO script_library (script_id,script_name,script_code) "
          "VALUES (4,'DCI::SampleTransform',"
          "'sub dci_transform()#0D#0A{#0D#0A   return $1 + 1;#0D#0A}#0D#0A')\n"
          "<END>"},
    ConfigVariable{"DefaultCommunityString", "vandor", 1, 0},
    ConfigVariable{"DiscoveryFilter", "none", 1, 0},
};

// Oracle before 12.2 takes identifiers of at most 30 characters; there
// the trap log index has the shorter name that reindex also uses
// (src/maintenance/reindex.cpp), so that reindex finds and rebuilds it.
constexpr Action kStep37[] = {
    CreateTable{"CREATE TABLE snmp_trap_log ("
                "trap_id $SQL:INT64 not null,"
                "trap_timestamp integer not null,"
                "ip_addr varchar(15) not null,"
                "object_id integer not null,"
                "trap_oid varchar(255) not null,"
                "trap_varlist $SQL:TEXT not null,"
                "PRIMARY KEY(trap_id))"},
    Batch{"CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)\n"
          "CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n"
          "<END>"},
    PerDialect{.mysql = "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)",
               .pgsql = "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)",
               .mssql = "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)",
               .oracle = "CREATE INDEX idx_snmp_trap_log_timestamp ON snmp_trap_log(trap_timestamp)",
               .sqlite = "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)",
               .other = "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)"},
    ConfigVariable{"LogAllSNMPTraps", "0", 1, 1},
};

constexpr UpgradeStep kRows[] = {
    {27, 28, kStep27}, {28, 29, kStep28}, {29, 30, kStep29}, {30, 31, kStep30},
    {31, 32, kStep31}, {32, 33, kStep32}, {33, 34, kStep33}, {34, 35, kStep34},
    {35, 36, kStep35}, {36, 37, kStep36}, {37, 38, kStep37},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps27To38 = kRows;
