// Reindex on each engine: the fixed indexes and the per-node ones are
// rebuilt, missing ones are created, and nothing reports an error.
#include <gtest/gtest.h>

#include "transfer_fixture.h"

namespace {

const std::string kBanner = "Talvex Database Manager Version 1.1.9\n\n";
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
    std::string query =
        GetParam() == "sqlite" ? "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='" + table + "'"
        : GetParam() == "pgsql"
            ? "SELECT indexname FROM pg_indexes WHERE tablename='" + table + "'"
            : "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=DATABASE() AND "
              "table_name='" + table + "' AND index_name<>'PRIMARY'";
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
    EXPECT_EQ(r.out, kBanner + kFixed + "Reindexing table idata_12\nReindexing table idata_13\n"
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
  EXPECT_EQ(tvtest::Tool(*db, {"-t", "reindex"}).out, kBanner + "Database is locked by server srv []\n");
  EXPECT_NE(indexes("syslog"), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, Reindex, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
