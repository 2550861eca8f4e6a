// Steps 47 -> 56: policy time ranges, threshold re-arm events, tool
// confirmations, event-group ranges, the two-column index of the
// collected-data tables, address lists and clusters.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "collected_data/index_catalogue.h"
#include "collected_data/templates.h"
#include "session/globals.h"
#include "session/lock_table.h"
#include "session/sql_exec.h"
#include "session/table_loop.h"
#include "upgrade/helpers.h"
#include "upgrade/node_table_indexes.h"
#include "upgrade/step_actions.h"
#include "upgrade/steps.h"

using namespace step;

namespace {

constexpr Action kStep47[] = {
    AddedColumn{"event_policy", "script", "$SQL:TEXT", "'#00'"},
    CreateTable{"CREATE TABLE policy_time_range_list ("
                "rule_id integer not null,"
                "time_range_id integer not null,"
                "PRIMARY KEY(rule_id,time_range_id))"},
    CreateTable{"CREATE TABLE time_ranges ("
                "time_range_id integer not null,"
                "wday_mask integer not null,"
                "mday_mask integer not null,"
                "month_mask integer not null,"
                "time_range varchar(255) not null,"
                "PRIMARY KEY(time_range_id))"},
};

constexpr Line kStep48Lines[] = {
    AddedColumn{"items", "all_thresholds", "integer", "0"},
    AddedColumn{"thresholds", "rearm_event_code", "integer", "18"},
};

constexpr Action kStep48[] = {
    Part{kStep48Lines},
};

constexpr Action kStep49[] = {
    Batch{
        "ALTER TABLE object_tools ADD confirmation_text varchar(255)\n"
        "UPDATE object_tools SET confirmation_text='#00'\n"
        "UPDATE object_tools SET flags=10 WHERE tool_id=1 OR tool_id=2 OR tool_id=4\n"
        "UPDATE object_tools "
        "SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be shut down. Are you sure?' "
        "WHERE tool_id=1\n"
        "UPDATE object_tools "
        "SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?' "
        "WHERE tool_id=2\n"
        "UPDATE object_tools "
        "SET confirmation_text='Talvex agent on host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. "
        "Are you sure?' "
        "WHERE tool_id=4\n"
        "<END>"},
};

// The statement writes END in upper case; identifiers are not
// case-sensitive, so the UPDATE finds the column.
constexpr Action kStep50[] = {
    Batch{"ALTER TABLE event_groups ADD range_start integer\n"
          "ALTER TABLE event_groups ADD range_END integer\n"
          "UPDATE event_groups SET range_start=0,range_end=0\n"
          "<END>"},
};

// Column 3 moves to 4 before column 2 moves to 3, or the two would merge.
constexpr Action kStep51[] = {
    Batch{
        "UPDATE object_tools "
        "SET tool_data='Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*) (.*)' "
        "WHERE tool_id=12\n"
        "UPDATE object_tools_table_columns SET col_number=4 WHERE col_number=3 AND tool_id=12\n"
        "UPDATE object_tools_table_columns SET col_number=3 WHERE col_number=2 AND tool_id=12\n"
        "UPDATE object_tools_table_columns SET col_substr=5 WHERE col_number=1 AND tool_id=12\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (12,2,'Packet size','',0,4)\n"
        "INSERT INTO object_tools "
        "(tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) "
        "VALUES (16,"
        "'&Info->Active &user sessions',"
        "3,"
        "'Active User Sessions#7FSystem.ActiveUserSessions#7F^\"(.*)\" \"(.*)\" \"(.*)\"',"
        "2,"
        "'',"
        "'Show list of active user sessions',"
        "'#00')\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (16,0,'User','',0,1)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (16,1,'Terminal','',0,2)\n"
        "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
        "VALUES (16,2,'From','',0,3)\n"
        "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (16,-2147483648)\n"
        "<END>"},
    ConfigVariable{"MailEncoding", "iso-8859-1", 1, 0},
};

// The time-stamp index that 24 -> 25 put on a node's table. MySQL and SQL
// Server name an index per table, so the drop must say which table.
constexpr PerDialect kDropTimestampIndex{
    .mysql = "DROP INDEX idx_idata_%d_timestamp ON idata_%d",
    .pgsql = "DROP INDEX IF EXISTS idx_idata_%d_timestamp",
    .mssql = "DROP INDEX idx_idata_%d_timestamp ON idata_%d",
    .oracle = "DROP INDEX idx_idata_%d_timestamp",
    .sqlite = "DROP INDEX IF EXISTS idx_idata_%d_timestamp",
    .other = "DROP INDEX idx_idata_%d_timestamp",
};

// Every %d takes the node id. The sixth engine gets the portable form.
constexpr PerDialect kDataIndexTemplate{
    .mysql = "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
    .pgsql = "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
    .mssql = "CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
    .oracle = "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
    .sqlite = "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
    .other = "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
};

// MySQL/MariaDB commits every schema statement on its own, and the
// journal writes a row before each: a table that still has the old index
// gets the drop and the create as one ALTER TABLE, a table that has the
// new one already gets nothing, and the catalogue says which is which
// (one read for all tables), also for a rerun after an interrupted one.
bool ReplaceIndexOfTable(TableLoop &loop, int32_t id, const std::vector<CatalogueIndex> *indexes,
                         const char *dropIndex, const char *createIndex) {
  const std::string table = "idata_" + std::to_string(id);
  const std::string oldName = "idx_" + table + "_timestamp";
  const std::string create = FormatNodeTemplate(createIndex, id);
  bool old = false;
  bool created = false;
  if (indexes != nullptr)
    for (const CatalogueIndex &index : *indexes) {
      old = old || strcasecmp(index.name.c_str(), oldName.c_str()) == 0;
      created = created || IsIndexOfStatement(index, table, create);
    }
  const std::string drop = FormatNodeTemplate(dropIndex, id);
  if (created) return !old || loop.exec(drop, TableLoop::OnFailure::kSilent);
  const std::string combined = old ? CombinedIndexChange(table, {oldName}, {create}) : std::string();
  if (!combined.empty()) return loop.exec(combined, TableLoop::OnFailure::kReported);
  if (old && !loop.exec(drop, TableLoop::OnFailure::kSilent)) return false;
  return loop.exec(create, TableLoop::OnFailure::kReported);
}

// Without the node list the step ends even under -X: the template stored
// after it would promise indexes no table has; a step too large for
// PostgreSQL's lock table ends the same way before any index. A node
// whose table cannot take the new index is reported and the others still
// get theirs; the old index goes silently, as it may not exist.
bool ReplaceTimestampIndexes() {
  Result count(SelectSql("SELECT count(*) FROM nodes"));
  if (count == nullptr) return false;
  const int64_t nodes = DBGetFieldInt64(count.get(), 0, 0);
  // Locked until the commit: every table, its new index, and the old
  // index where 24 -> 25 made one.
  if (!CheckLockTableRoom("this upgrade step", [nodes](int64_t &locks) {
        Result old(SelectSql(
            "SELECT count(*) FROM pg_class WHERE relkind='i' AND relname ~ '^idx_idata_[0-9]+_timestamp$' AND "
            "pg_table_is_visible(oid)"));
        if (old == nullptr) return false;
        locks = 2 * nodes + DBGetFieldInt64(old.get(), 0, 0);
        return true;
      }))
    return false;
  printf("Reindexing database:\n");
  const char *dropIndex = DialectText(kDropTimestampIndex);
  const char *createIndex = DialectText(kDataIndexTemplate);
  // A block of the node list that fails ends the step as a missing node
  // list does (under -X the walk stops there and the step goes on).
  std::vector<int32_t> ids;
  bool missing;
  if (!ReadStepNodeIds(nullptr, ids) || !NodeTablesMissing(nullptr, missing)) return false;
  IndexCatalogue catalogue;
  bool catalogueRead = false;
  // Under -X a catalogue that cannot be read leaves every table the blind
  // drop and create.
  if (DbSyntax == DB_SYNTAX_MYSQL && !ReadCollectedDataIndexes(catalogue, catalogueRead)) {
    if (StepRule() == TableLoop::OnFailure::kEnds) return false;
    catalogueRead = false;
  }
  RunTableLoop(
      [&](TableLoop &loop) {
        for (int32_t id : ids) {
          loop.startTable("   * idata_" + std::to_string(id));
          if (catalogueRead) {
            if (!ReplaceIndexOfTable(loop, id, IndexesOf(catalogue, "idata_" + std::to_string(id)), dropIndex,
                                     createIndex))
              return false;
          } else if (!loop.exec(FormatNodeTemplate(dropIndex, id), TableLoop::OnFailure::kSilent) ||
                     !loop.exec(FormatNodeTemplate(createIndex, id), TableLoop::OnFailure::kReported)) {
            return false;
          }
        }
        return true;
      },
      {.careful = missing, .spread = catalogueRead});
  return true;
}

// The old template may not exist: its removal goes silently.
bool StoreDataIndexTemplate() {
  SendSql("DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'", QueryEcho::kSilent);
  return AddConfigVariable("IDataIndexCreationCommand_1", DialectText(kDataIndexTemplate), 0, 1, false);
}

constexpr Action kStep52[] = {
    Conversion{.run = ReplaceTimestampIndexes, .endsStepAlways = true},
    Conversion{StoreDataIndexTemplate},
};

constexpr Action kStep53[] = {
    CreateTable{"CREATE TABLE address_lists ("
                "list_type integer not null,"
                "addr_type integer not null,"
                "addr1 varchar(15) not null,"
                "addr2 varchar(15) not null)"},
    Batch{"CREATE INDEX idx_address_lists_list_type ON address_lists(list_type)\n"
          "DELETE FROM config WHERE var_name='EnableAccessControl'\n"
          "DELETE FROM config WHERE var_name='EnableEventAccessControl'\n"
          "<END>"},
    ConfigVariable{"ActiveNetworkDiscovery", "0", 1, 1},
    ConfigVariable{"ActiveDiscoveryInterval", "7200", 1, 1},
    ConfigVariable{"DiscoveryFilterFlags", "0", 1, 0},
};

constexpr Action kStep54[] = {
    Batch{"ALTER TABLE containers DROP COLUMN description\n"
          "ALTER TABLE nodes DROP COLUMN description\n"
          "ALTER TABLE templates DROP COLUMN description\n"
          "ALTER TABLE zones DROP COLUMN description\n"
          "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
          "VALUES (16,'Obj.Cluster','cluster.png','<invalid_hash>','cluster.ico','<invalid_hash>')\n"
          "INSERT INTO default_images (object_class,image_id) VALUES (14,16)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (12,'.1.3.6.1.4.1.45.3.46.*',3,0)\n"
          "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) "
          "VALUES (13,'.1.3.6.1.4.1.45.3.52.*',3,0)\n"
          "<END>"},
    CreateTable{"CREATE TABLE clusters ("
                "id integer not null,"
                "cluster_type integer not null,"
                "PRIMARY KEY(id))"},
    CreateTable{"CREATE TABLE cluster_members ("
                "cluster_id integer not null,"
                "node_id integer not null,"
                "PRIMARY KEY(cluster_id,node_id))"},
    CreateTable{"CREATE TABLE cluster_sync_subnets ("
                "cluster_id integer not null,"
                "subnet_addr varchar(15) not null,"
                "subnet_mask varchar(15) not null,"
                "PRIMARY KEY(cluster_id,subnet_addr))"},
    ConfigVariable{"WindowsConsoleUpgradeURL", "http://www.talvex.org/download/talvex-console-%version%.exe",
                   1, 0},
};

constexpr Line kStep55Lines[] = {
    EventTemplate{38, "SYS_CLUSTER_RESOURCE_MOVED", 1,
                  "Cluster resource \"%2\" moved from node %4 to node %6",
                  "Generated when cluster resource moved between nodes.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Resource ID#0D#0A"
                  "   2) Resource name#0D#0A"
                  "   3) Previous owner node ID#0D#0A"
                  "   4) Previous owner node name#0D#0A"
                  "   5) New owner node ID#0D#0A"
                  "   6) New owner node name",
                  TextForm::kStored},
    EventTemplate{39, "SYS_CLUSTER_RESOURCE_DOWN", 3, "Cluster resource \"%2\" is down (last owner was %4)",
                  "Generated when cluster resource goes down.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Resource ID#0D#0A"
                  "   2) Resource name#0D#0A"
                  "   3) Last owner node ID#0D#0A"
                  "   4) Last owner node name",
                  TextForm::kStored},
    EventTemplate{40, "SYS_CLUSTER_RESOURCE_UP", 0, "Cluster resource \"%2\" is up (new owner is %4)",
                  "Generated when cluster resource goes up.#0D#0A"
                  "Parameters:#0D#0A"
                  "   1) Resource ID#0D#0A"
                  "   2) Resource name#0D#0A"
                  "   3) New owner node ID#0D#0A"
                  "   4) New owner node name",
                  TextForm::kStored},
    EventTemplate{41, "SYS_CLUSTER_DOWN", 4, "Cluster is down",
                  "Generated when cluster goes down.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
    EventTemplate{42, "SYS_CLUSTER_UP", 0, "Cluster is up",
                  "Generated when cluster goes up.#0D#0A"
                  "Parameters:#0D#0A"
                  "   No message-specific parameters",
                  TextForm::kStored},
};

constexpr Action kStep55[] = {
    Part{kStep55Lines},
    CreateTable{"CREATE TABLE cluster_resources ("
                "cluster_id integer not null,"
                "resource_id integer not null,"
                "resource_name varchar(255) not null,"
                "ip_addr varchar(15) not null,"
                "PRIMARY KEY(cluster_id,resource_id))"},
};

constexpr UpgradeStep kRows[] = {
    {47, 48, kStep47}, {48, 49, kStep48}, {49, 50, kStep49}, {50, 51, kStep50}, {51, 52, kStep51},
    {52, 53, kStep52}, {53, 54, kStep53}, {54, 55, kStep54}, {55, 56, kStep55},
};

}  // namespace

extern const std::span<const UpgradeStep> UpgradeSteps47To56 = kRows;
