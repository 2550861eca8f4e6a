// Steps 47 -> 73 on the real engines: the two-column index of the
// collected-data tables, the wider community column and the retention
// times in days, each on the baseline brought to the step with the rows
// its step touches, run through the upgrade driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace {

bool EndsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Lines sorted by byte, whatever the engine's collation did.
std::string SortedLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string &line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

// The index names of a table, sorted by byte.
std::string IndexNames(tvtest::TestDatabase &db, const std::string &table) {
  if (db.engine() == "sqlite")
    return SortedLines(
        db.rows("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='" + table + "'"));
  if (db.engine() == "pgsql")
    return SortedLines(db.rows(
        "SELECT indexname FROM pg_indexes WHERE schemaname=current_schema() AND tablename='" + table + "'"));
  return SortedLines(db.rows(
      "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=database() AND "
      "table_name='" +
      table + "'"));
}

// "type nullable" of nodes.community in the engine's catalogue words.
std::string CommunityColumn(tvtest::TestDatabase &db) {
  if (db.engine() == "sqlite")
    return db.value(
        "SELECT lower(type)||' '||\"notnull\" FROM pragma_table_info('nodes') WHERE name='community'");
  if (db.engine() == "pgsql")
    return db.value(
        "SELECT data_type||' '||character_maximum_length||' '||is_nullable FROM information_schema.columns "
        "WHERE table_schema=current_schema() AND table_name='nodes' AND column_name='community'");
  return db.value(
      "SELECT concat(column_type,' ',is_nullable) FROM information_schema.columns "
      "WHERE table_schema=database() AND table_name='nodes' AND column_name='community'");
}

class Steps47To73 : public ::testing::TestWithParam<std::string> {
 protected:
  // The baseline at version with the statements run on it, current for
  // the tool's routines. False when the engine is not there.
  bool open(int version, const std::vector<std::string> &statements) {
    current.reset();
    db = upgradetest::DatabaseAtVersion(GetParam(), version);
    if (!db || !db->execAll(statements)) return false;
    current = std::make_unique<tvtest::ScopedCurrentDatabase>(db->handle(), db->syntax());
    return true;
  }
  // The upgrade command's output up to target.
  std::string upgradeTo(int target) {
    tvtest::CapturedOutput captured;
    UpgradeDatabaseTo(target);
    return captured.text();
  }
  std::string version() { return db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"); }
  std::string indexNames(const std::string &table) { return IndexNames(*db, table); }
  std::string communityColumn() { return CommunityColumn(*db); }
  tvtest::ScopedOptions options;
  std::unique_ptr<tvtest::TestDatabase> db;
  std::unique_ptr<tvtest::ScopedCurrentDatabase> current;
};

INSTANTIATE_TEST_SUITE_P(Engines, Steps47To73, ::testing::ValuesIn(tvtest::AllEngines()));

constexpr const char kDataTable[] =
    "(item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))";

const std::vector<std::string> kThreeNodes = {"INSERT INTO nodes (id,community) VALUES (1,'public')",
                                              "INSERT INTO nodes (id,community) VALUES (2,'public')",
                                              "INSERT INTO nodes (id,community) VALUES (3,'public')"};

// Node 1 has both indexes of the older steps, node 2 none (their question
// was answered no), node 3 no table at all.
TEST_P(Steps47To73, TimestampIndexOfEveryNodeBecomesTheTwoColumnIndex) {
  std::vector<std::string> statements = kThreeNodes;
  statements.insert(statements.end(),
                    {std::string("CREATE TABLE idata_1 ") + kDataTable,
                     "CREATE INDEX idx_idata_1_item_id ON idata_1(item_id)",
                     "CREATE INDEX idx_idata_1_timestamp ON idata_1(idata_timestamp)",
                     "INSERT INTO idata_1 (item_id,idata_timestamp,idata_value) VALUES (5,1000,'x')",
                     std::string("CREATE TABLE idata_2 ") + kDataTable,
                     "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'",
                     "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                     "('IDataIndexCreationCommand_1','CREATE INDEX idx_idata_#25d_timestamp ON "
                     "idata_#25d(idata_timestamp)',0,1)"});
  if (!open(52, statements)) return;
  const bool timestampFirst = GetParam() != "mysql";
  const std::string suffix = timestampFirst ? "_timestamp_id" : "_id_timestamp";
  const std::string columns = timestampFirst ? "(idata_timestamp,item_id)" : "(item_id,idata_timestamp)";

  std::string out = upgradeTo(53);

  const std::string head =
      "Upgrading database...\nUpgrading from version 52 to 53\nReindexing database:\n"
      "   * idata_1\n   * idata_2\n   * idata_3\nSQL query failed (";
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_NE(out.find("CREATE INDEX idx_idata_3" + suffix + " ON idata_3" + columns), std::string::npos)
      << out;
  EXPECT_TRUE(EndsWith(out, "Database upgrade succeeded\n")) << out;
  EXPECT_EQ(version(), "53");
  EXPECT_EQ(indexNames("idata_1"), SortedLines("idx_idata_1" + suffix + "\nidx_idata_1_item_id"));
  EXPECT_EQ(indexNames("idata_2"), "idx_idata_2" + suffix);
  EXPECT_EQ(db->rows("SELECT item_id,idata_timestamp,idata_value FROM idata_1"), "5|1000|x");
  EXPECT_EQ(db->rows("SELECT var_value,is_visible,need_server_restart FROM config "
                     "WHERE var_name='IDataIndexCreationCommand_1'"),
            "CREATE INDEX idx_idata_#25d" + suffix + " ON idata_#25d" + columns + "|0|1");
}

// MySQL/MariaDB reads the indexes of every table first and sends only
// what changes one: the old index and the new go in one ALTER TABLE, a
// table with the new index keeps it (no failed CREATE), a left-over old
// index beside it goes alone, and a table with neither gets the CREATE.
TEST_P(Steps47To73, OnMysqlOnlyTheTablesThatLackTheNewIndexChange) {
  if (GetParam() != "mysql") GTEST_SKIP() << "the other engines send the same statements to every table";
  std::vector<std::string> statements;
  for (int id = 1; id <= 4; id++) {
    const std::string table = "idata_" + std::to_string(id);
    statements.push_back("INSERT INTO nodes (id,community) VALUES (" + std::to_string(id) + ",'public')");
    statements.push_back("CREATE TABLE " + table + " " + kDataTable);
    statements.push_back("INSERT INTO " + table +
                         " (item_id,idata_timestamp,idata_value) VALUES (5,1000,'x')");
  }
  statements.insert(statements.end(),
                    {"CREATE INDEX idx_idata_1_timestamp ON idata_1(idata_timestamp)",
                     "CREATE INDEX idx_idata_2_timestamp ON idata_2(idata_timestamp)",
                     "CREATE INDEX idx_idata_2_id_timestamp ON idata_2(item_id,idata_timestamp)",
                     "CREATE INDEX idx_idata_3_id_timestamp ON idata_3(item_id,idata_timestamp)"});
  if (!open(52, statements)) return;
  TraceMode = true;
  std::string out = upgradeTo(53);

  EXPECT_EQ(out.find("SQL query failed"), std::string::npos) << out;
  EXPECT_NE(
      out.find("ALTER TABLE idata_1 DROP INDEX idx_idata_1_timestamp,ADD INDEX idx_idata_1_id_timestamp "
               "(item_id,idata_timestamp)"),
      std::string::npos)
      << out;
  EXPECT_EQ(out.find("idata_3("), std::string::npos) << out;
  EXPECT_NE(out.find("CREATE INDEX idx_idata_4_id_timestamp ON idata_4(item_id,idata_timestamp)"),
            std::string::npos)
      << out;
  EXPECT_TRUE(EndsWith(out, "Database upgrade succeeded\n")) << out;
  EXPECT_EQ(version(), "53");
  for (int id = 1; id <= 4; id++) {
    const std::string table = "idata_" + std::to_string(id);
    EXPECT_EQ(indexNames(table), "idx_" + table + "_id_timestamp") << table;
    EXPECT_EQ(db->rows("SELECT item_id,idata_timestamp,idata_value FROM " + table), "5|1000|x") << table;
  }
}

// A failure that the catalogue did not foretell (a name that an index of
// another table holds) ends as in the careful form: reported once, after
// the lines of the tables before it, and the other tables get their
// index. On PostgreSQL the loop ran without a savepoint per statement up
// to it, and then again in the careful form.
TEST_P(Steps47To73, UnforeseenIndexFailureIsReportedOnceAndTheOtherTablesAreIndexed) {
  if (GetParam() == "mysql") GTEST_SKIP() << "index names are per table";
  std::vector<std::string> statements = kThreeNodes;
  statements.insert(statements.end(), {std::string("CREATE TABLE idata_1 ") + kDataTable,
                                       std::string("CREATE TABLE idata_2 ") + kDataTable,
                                       std::string("CREATE TABLE idata_3 ") + kDataTable,
                                       "CREATE INDEX idx_idata_2_timestamp_id ON idata_1(item_id)"});
  if (!open(52, statements)) return;
  std::string out = upgradeTo(53);
  const std::string head =
      "Upgrading database...\nUpgrading from version 52 to 53\nReindexing database:\n"
      "   * idata_1\n   * idata_2\nSQL query failed (";
  EXPECT_EQ(out.substr(0, head.size()), head) << out;
  EXPECT_EQ(out.find("SQL query failed", head.size()), std::string::npos) << out;
  EXPECT_NE(out.find("   * idata_3\n", head.size()), std::string::npos) << out;
  EXPECT_EQ(out.find("   * idata_1\n", out.find("   * idata_1\n") + 1), std::string::npos) << out;
  EXPECT_TRUE(EndsWith(out, "Database upgrade succeeded\n")) << out;
  EXPECT_EQ(indexNames("idata_1"), SortedLines("idx_idata_1_timestamp_id\nidx_idata_2_timestamp_id"));
  EXPECT_EQ(indexNames("idata_2"), "");
  EXPECT_EQ(indexNames("idata_3"), "idx_idata_3_timestamp_id");
}

// Without the node list the step cannot claim the new index template, not
// even under -X.
TEST_P(Steps47To73, IndexSwapWithoutANodeListEndsTheStep) {
  if (!open(52, {"DROP TABLE nodes"})) return;
  const std::string storedTemplate =
      db->value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'");
  IgnoreSqlErrors = true;
  std::string out = upgradeTo(53);
  EXPECT_NE(out.find("FROM nodes\x1b"), std::string::npos) << out;
  EXPECT_TRUE(EndsWith(out, "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  EXPECT_EQ(version(), "52");
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'"),
            storedTemplate);
}

TEST_P(Steps47To73, IndexSwapWithoutNodesOnlyStoresTheTemplate) {
  if (!open(52, {})) return;
  EXPECT_EQ(upgradeTo(53),
            "Upgrading database...\nUpgrading from version 52 to 53\nReindexing database:\n"
            "Database upgrade succeeded\n");
  EXPECT_EQ(db->value("SELECT count(*) FROM config WHERE var_name='IDataIndexCreationCommand_1'"), "1");
}

const std::vector<std::string> kCommunities = {"public", "", "it's", "x#27y", std::string(32, 'c')};

std::vector<std::string> NodesAt64() {
  std::vector<std::string> statements;
  for (size_t i = 0; i < kCommunities.size(); i++) {
    std::string quoted;
    for (char c : kCommunities[i]) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    statements.push_back("INSERT INTO nodes (id,community) VALUES (" + std::to_string(i + 1) + ",'" + quoted +
                         "')");
  }
  return statements;
}

std::string CommunityRows() {
  std::string rows;
  for (size_t i = 0; i < kCommunities.size(); i++)
    rows += (i ? "\n" : "") + std::to_string(i + 1) + "|" + kCommunities[i];
  return rows;
}

// The column keeps its values and NOT NULL on every engine; SQLite keeps
// its declaration and says so.
TEST_P(Steps47To73, CommunityWidensWithValuesAndNotNull) {
  if (!open(64, NodesAt64())) return;
  const struct {
    const char *engine;
    const char *column;
    const char *message;
  } cases[] = {
      {"sqlite", "varchar(32) 1",
       "WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
       "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n"},
      {"pgsql", "character varying 127 NO", ""},
      {"mysql", "varchar(127) NO", ""},
  };
  for (const auto &c : cases) {
    if (GetParam() != c.engine) continue;
    EXPECT_EQ(upgradeTo(65), std::string("Upgrading database...\nUpgrading from version 64 to 65\n") +
                                 c.message + "Database upgrade succeeded\n");
    EXPECT_EQ(communityColumn(), c.column);
  }
  EXPECT_EQ(version(), "65");
  EXPECT_EQ(db->rows("SELECT id,community FROM nodes ORDER BY id"), CommunityRows());
}

// A PostgreSQL server that refuses the change in place (here because
// another table holds rows of the nodes type) gets the column rebuilt
// silently. When the rebuild fails too, the step ends, unless -X lets it
// go on to its version.
TEST_P(Steps47To73, CommunityRebuildOnPostgreSQLGoesOnInsideTheStep) {
  if (GetParam() != "pgsql") return;
  const struct {
    const char *blocker;
    bool ignoreErrors;
    const char *tail;
    const char *version;
    const char *column;
  } cases[] = {
      {"CREATE TABLE node_snapshots (n nodes)", false, "Database upgrade succeeded\n", "65",
       "character varying 127 NO"},
      {"CREATE VIEW node_communities AS SELECT community FROM nodes", false,
       "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n", "64",
       "character varying 32 NO"},
      {"CREATE VIEW node_communities AS SELECT community FROM nodes", true, "Database upgrade succeeded\n",
       "65", "character varying 32 NO"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> statements = NodesAt64();
    statements.push_back(c.blocker);
    if (!open(64, statements)) return;
    IgnoreSqlErrors = c.ignoreErrors;
    std::string out = upgradeTo(65);
    const std::string head = "Upgrading database...\nUpgrading from version 64 to 65\n";
    EXPECT_EQ(out.substr(0, head.size()), head) << c.blocker;
    EXPECT_EQ(out.find("ALTER COLUMN community TYPE"), std::string::npos) << out;
    EXPECT_TRUE(EndsWith(out, c.tail)) << out;
    EXPECT_EQ(version(), c.version) << c.blocker;
    EXPECT_EQ(communityColumn(), c.column) << c.blocker;
    EXPECT_EQ(db->rows("SELECT id,community FROM nodes ORDER BY id"), CommunityRows()) << c.blocker;
  }
}

// The cases go two to a database, one in each variable; the last one
// is a variable that keeps its flags.
TEST_P(Steps47To73, RetentionTimesBecomeWholeDays) {
  const struct {
    const char *stored;  // null: no variable
    const char *flags;   // is_visible,need_server_restart of a stored one
    const char *expected;
  } cases[] = {
      {"5184000", "1,0", "60|1|0"}, {"100000", "1,0", "1|1|0"}, {"0", "1,0", "1|1|0"},
      {"172800", "1,0", "2|1|0"},   {"259199", "1,0", "2|1|0"}, {"0x15180", "1,0", "1|1|0"},
      {"-864000", "1,0", "1|1|0"},  {"abc", "1,0", "1|1|0"},    {nullptr, "", "60|1|0"},
      {"864000", "0,1", "10|0|1"},
  };
  const char *const names[] = {"EventLogRetentionTime", "SyslogRetentionTime"};
  for (size_t first = 0; first < std::size(cases); first += 2) {
    std::vector<std::string> statements = {"DELETE FROM config WHERE var_name LIKE '%RetentionTime'",
                                           "INSERT INTO event_log (event_id) VALUES (901)"};
    for (size_t i = 0; i < 2; i++)
      if (cases[first + i].stored != nullptr)
        statements.push_back(
            std::string("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('") +
            names[i] + "','" + cases[first + i].stored + "'," + cases[first + i].flags + ")");
    if (!open(69, statements)) return;
    EXPECT_EQ(upgradeTo(70),
              "Upgrading database...\nUpgrading from version 69 to 70\nDatabase upgrade succeeded\n");
    for (size_t i = 0; i < 2; i++) {
      const auto &c = cases[first + i];
      EXPECT_EQ(db->rows(std::string(
                             "SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='") +
                         names[i] + "'"),
                c.expected)
          << names[i] << " stored as " << (c.stored ? c.stored : "nothing");
    }
    EXPECT_EQ(db->value("SELECT user_tag FROM event_log WHERE event_id=901"), "#00");
  }
}

// The lines of a schema listing (SchemaColumns) that describe the tables,
// and the column nodes.community.
std::string ColumnsOf(const std::string &schema, const std::vector<std::string> &tables) {
  std::istringstream in(schema);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    bool wanted = line.rfind("nodes.community ", 0) == 0;
    for (const std::string &table : tables) wanted = wanted || line.rfind(table + ".", 0) == 0;
    if (wanted) out += line + "\n";
  }
  return out;
}

class Steps47To73FromBaseline : public ::testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(Engines, Steps47To73FromBaseline, ::testing::ValuesIn(tvtest::AllEngines()));

// A version-14 database with nodes, brought to 47 by the older steps and
// then through 47 -> 73: the messages, the data the steps convert, and the
// tables they create that no later step changes, as the fresh schema
// declares them.
TEST_P(Steps47To73FromBaseline, NetworkAt47ReachesVersion73) {
  std::string fresh;
  if (auto db = tvtest::OpenOrSkip(GetParam()); db && db->initSchema())
    fresh = upgradetest::SchemaColumns(*db);
  if (fresh.empty()) return;
  auto db = upgradetest::DatabaseAtVersion(
      GetParam(), 47, {.nodes = {.firstNode = 100, .nodes = 3, .itemsPerNode = 2, .rowsPerItem = 2}});
  if (!db) return;
  // A rule that terminates alarms and one that does not; tool 14 deleted
  // with its grant by the operator; a retention time of two days.
  db->execAll(
      {"INSERT INTO event_policy (rule_id,alarm_severity,alarm_key,alarm_ack_key) VALUES (901,6,'k1','ack1')",
       "INSERT INTO event_policy (rule_id,alarm_severity,alarm_key,alarm_ack_key) VALUES (902,2,'k2','ack2')",
       "DELETE FROM object_tools WHERE tool_id=14", "DELETE FROM object_tools_table_columns WHERE tool_id=14",
       "DELETE FROM object_tools_acl WHERE tool_id=14",
       "UPDATE config SET var_value='172800' WHERE var_name='EventLogRetentionTime'",
       "DELETE FROM config WHERE var_name='SyslogRetentionTime'"});
  const std::string nodes = db->rows("SELECT id FROM nodes");
  const std::string communities = db->rows("SELECT id,community FROM nodes ORDER BY id");

  std::string expected = "Upgrading database...\n";
  for (int v = 47; v < 73; v++) {
    expected += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
    if (v == 52) {
      expected += "Reindexing database:\n";
      std::istringstream ids(nodes);
      for (std::string id; std::getline(ids, id);) expected += "   * idata_" + id + "\n";
    }
    if (v == 64 && GetParam() == "sqlite")
      expected +=
          "WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
          "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n";
  }
  expected += "Database upgrade succeeded\n";
  EXPECT_EQ(upgradetest::UpgradeTo(*db, 73), expected);
  if (GetParam() == "mysql") db->reconnect();

  const std::string suffix = GetParam() == "mysql" ? "_id_timestamp" : "_timestamp_id";
  EXPECT_EQ(IndexNames(*db, "idata_100"), SortedLines("idx_idata_100" + suffix + "\nidx_idata_100_item_id"));
  EXPECT_EQ(db->rows("SELECT col_number,col_name,col_substr FROM object_tools_table_columns "
                     "WHERE tool_id=12 ORDER BY col_number"),
            "0|IP Address|1\n1|Name|5\n2|Packet size|4\n3|Last RTT|2\n4|Average RTT|3");
  EXPECT_EQ(
      db->rows(
          "SELECT col_number,col_name FROM object_tools_table_columns WHERE tool_id=14 ORDER BY col_number"),
      "0|Peer IP\n1|Peer MAC\n2|Slot\n3|Port");
  EXPECT_EQ(
      db->rows("SELECT tool_id FROM object_tools_acl WHERE tool_id IN (14,16,17,18,19) ORDER BY tool_id"),
      "16\n17\n18\n19");
  EXPECT_EQ(db->rows("SELECT rule_id,alarm_key FROM event_policy WHERE rule_id>900 ORDER BY rule_id"),
            "901|ack1\n902|k2");
  EXPECT_EQ(db->rows("SELECT id,community FROM nodes ORDER BY id"), communities);
  EXPECT_EQ(
      db->rows(
          "SELECT var_name,var_value FROM config WHERE var_name LIKE '%RetentionTime' ORDER BY var_name"),
      "AuditLogRetentionTime|90\nEventLogRetentionTime|2\nSyslogRetentionTime|60");
  const std::vector<std::string> created = {"time_ranges",     "policy_time_range_list",

                                            "cluster_members", "cluster_sync_subnets",

                                            "graphs",          "graph_acl",
                                            "certificates",    "audit_log",
                                            "situations",      "policy_situation_attr_list"};
  EXPECT_EQ(ColumnsOf(upgradetest::SchemaColumns(*db), created), ColumnsOf(fresh, created));
}

}  // namespace
