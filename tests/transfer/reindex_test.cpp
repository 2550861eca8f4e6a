// Reindex on each engine: the fixed indexes and the per-node ones are
// rebuilt, missing ones are created, and nothing reports an error.
#include <gtest/gtest.h>

#include "maintenance/maintenance_commands.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/recording_db.h"
#include "support/scoped_state.h"
#include "transfer_fixture.h"

namespace {

using tvtest::kBanner;
const std::string kFixed =
    "Reindexing table raw_dci_values by (item_id)...\n"
    "Reindexing table event_log by (event_timestamp)...\n"
    "Reindexing table thresholds by (item_id)...\n"
    "Reindexing table thresholds by (sequence_number)...\n"
    "Reindexing table alarm_notes by (alarm_id)...\n"
    "Reindexing table syslog by (msg_timestamp)...\n"
    "Reindexing table snmp_trap_log by (trap_timestamp)...\n"
    "Reindexing table address_lists by (list_type)...\n";

class Reindex : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db || !tvtest::InitSchemaFast(*db)) db.reset();
  }
  // Index names of a table, sorted.
  std::string indexes(const std::string &table) {
    std::string query = GetParam() == "sqlite"
                            ? "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='" + table + "'"
                        : GetParam() == "pgsql"
                            ? "SELECT indexname FROM pg_indexes WHERE tablename='" + table + "'"
                            : "SELECT DISTINCT index_name FROM information_schema.statistics WHERE "
                              "table_schema=DATABASE() AND "
                              "table_name='" +
                                  table + "' AND index_name<>'PRIMARY'";
    std::vector<tvtest::Row> rows = tvtest::Rows(*db, query + " ORDER BY 1");
    std::string names;
    for (const tvtest::Row &r : rows) names += (names.empty() ? "" : ",") + *r[0];
    return names;
  }
  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_P(Reindex, RebuildsFixedAndPerNodeIndexes) {
  if (!db) return;
  const std::string dropSyslogIndex = GetParam() == "mysql" ? "DROP INDEX idx_syslog_msg_timestamp ON syslog"
                                                            : "DROP INDEX idx_syslog_msg_timestamp";
  db->execAll({dropSyslogIndex, "INSERT INTO nodes (id,community) VALUES (12,'public')",
               "INSERT INTO nodes (id,community) VALUES (13,'public')",
               "CREATE TABLE idata_12 (item_id integer not null,idata_timestamp integer not null,idata_value "
               "varchar(255))",
               "CREATE TABLE idata_13 (item_id integer not null,idata_timestamp integer not null,idata_value "
               "varchar(255))",
               "CREATE INDEX idx_stray_12 ON idata_12(idata_value)"});
  std::string templateIndex =
      db->value("SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_0'");
  templateIndex = templateIndex.substr(13, templateIndex.find(' ', 13) - 13);  // after "CREATE INDEX "
  auto named = [&](const std::string &id) {
    std::string name = templateIndex;
    for (size_t p; (p = name.find("%d")) != std::string::npos;) name.replace(p, 2, id);
    return name;
  };
  // Twice: the second run finds the two-column template indexes in place.
  for (int run = 0; run < 2; run++) {
    tvtest::RunResult r = tvtest::Tool(*db, {"reindex"});
    EXPECT_EQ(r.out, kBanner + kFixed +
                         "Reindexing table idata_12\nReindexing table idata_13\n"
                         "Database reindexing complete.\n");
  }
  db->reconnect();
  EXPECT_EQ(indexes("idata_12"), named("12"));
  EXPECT_EQ(indexes("idata_13"), named("13"));
  EXPECT_NE(indexes("syslog").find("idx_syslog_msg_timestamp"), std::string::npos);
  EXPECT_NE(indexes("thresholds").find("idx_thresholds_item_id,idx_thresholds_sequence"), std::string::npos);

  // With -t the fixed drops stay silent; listings, reads and creates show.
  tvtest::RunResult r = tvtest::Tool(*db, {"-t", "reindex"}, "", {"NO_COLOR=1"});
  EXPECT_EQ(r.out.find(">>> DROP INDEX idx_syslog"), std::string::npos);
  EXPECT_NE(r.out.find("Reindexing table syslog by (msg_timestamp)...\n"
                       ">>> CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(">>> SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_9'\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(">>> DROP INDEX " + named("13")), std::string::npos) << r.out;
}

TEST_P(Reindex, NotReadyDatabaseIsLeftAlone) {
  if (!db) return;
  db->exec("UPDATE config SET var_value='srv' WHERE var_name='DBLockStatus'");
  EXPECT_EQ(tvtest::Tool(*db, {"-t", "reindex"}, "", {"NO_COLOR=1"}).out,
            kBanner + tvtest::TracedToolLock(GetParam()) + "Database is locked by server srv []\n");
  EXPECT_NE(indexes("syslog"), "");
}

// The dialects that cannot run here: the statements as sent, for a
// database with one node whose table has one index.
TEST(ReindexRecorded, StatementsPerDialect) {
  const std::string kTemplate = "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)";
  const struct {
    int syntax;
    std::string dropForm;  // "%i" index, "%t" table
    std::string listing, listedName;
  } cases[] = {
      {DB_SYNTAX_MSSQL, "DROP INDEX %i ON %t",
       "SELECT i.name FROM sys.indexes AS i JOIN sys.tables AS t ON t.object_id=i.object_id WHERE "
       "t.object_id=OBJECT_ID(N'idata_12','U')",
       "idx_old"},
      {DB_SYNTAX_ORACLE, "DROP INDEX %i",
       "SELECT index_name FROM user_indexes WHERE table_name=upper('idata_12')", "IDX_OLD"},
      {DB_SYNTAX_DB2, "DROP INDEX %i", "", ""},
  };
  for (const auto &c : cases) {
    auto recording = std::make_shared<tvtest::Recording>();
    recording->answers = {{"'SchemaVersion'", {{std::to_string(kToolSchemaVersion)}}},
                          {"FROM nodes", {{"12"}}},
                          {"'IDataIndexCreationCommand_0'", {{kTemplate}}}};
    if (!c.listing.empty()) recording->answers.push_back({c.listing, {{c.listedName}}});
    auto drop = [&](const std::string &index, const std::string &table) {
      std::string s = c.dropForm;
      s.replace(s.find("%i"), 2, index);
      if (size_t t = s.find("%t"); t != std::string::npos) s.replace(t, 2, table);
      return s;
    };
    std::vector<std::string> expected = {"SELECT var_value FROM metadata WHERE var_name='SchemaVersion'",
                                         "SELECT var_value FROM config WHERE var_name='DBLockStatus'"};
    const struct {
      const char *index, *table, *columns;
    } fixed[] = {{"idx_raw_dci_values_item_id", "raw_dci_values", "item_id"},
                 {"idx_event_log_event_timestamp", "event_log", "event_timestamp"},
                 {"idx_thresholds_item_id", "thresholds", "item_id"},
                 {"idx_thresholds_sequence", "thresholds", "sequence_number"},
                 {"idx_alarm_notes_alarm_id", "alarm_notes", "alarm_id"},
                 {"idx_syslog_msg_timestamp", "syslog", "msg_timestamp"},
                 {"idx_snmp_trap_log_trap_timestamp", "snmp_trap_log", "trap_timestamp"},
                 {"idx_address_lists_list_type", "address_lists", "list_type"}};
    for (const auto &f : fixed) {
      // Oracle already indexes the primary key column of raw_dci_values.
      if (c.syntax == DB_SYNTAX_ORACLE && std::string(f.table) == "raw_dci_values") continue;
      // Oracle before 12.2 takes no name longer than 30 characters.
      std::string index = f.index;
      if (c.syntax == DB_SYNTAX_ORACLE && index == "idx_snmp_trap_log_trap_timestamp")
        index = "idx_snmp_trap_log_timestamp";
      expected.push_back(drop(index, f.table));
      expected.push_back("CREATE INDEX " + index + " ON " + f.table + "(" + f.columns + ")");
    }
    expected.push_back("SELECT id FROM nodes ORDER BY id");
    // The templates are read once, before the first table.
    for (int n = 0; n < 10; n++)
      expected.push_back("SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_" +
                         std::to_string(n) + "'");
    if (!c.listing.empty()) {
      expected.push_back(c.listing);
      expected.push_back(drop(c.listedName, "idata_12"));
    }
    expected.push_back("CREATE INDEX idx_idata_12_id_timestamp ON idata_12(item_id,idata_timestamp)");

    db_handle_t handle = tvtest::OpenRecordingHandle(c.syntax, recording);
    std::string out;
    {
      tvtest::ScopedCurrentDatabase current(handle, c.syntax);
      tvtest::CapturedOutput captured;
      RunReindexCommand();
      out = captured.text();
    }
    DBDisconnect(handle);
    EXPECT_EQ(recording->statements, expected) << c.syntax;
    EXPECT_TRUE(out.ends_with("Reindexing table idata_12\nDatabase reindexing complete.\n")) << out;
    EXPECT_EQ(out.find("raw_dci_values") == std::string::npos, c.syntax == DB_SYNTAX_ORACLE) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Reindex, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
