// The steps that lock every collected-data table in their one transaction
// refuse to start that work on PostgreSQL when the server's lock table
// cannot hold the locks: the step is rolled back, the upgrade stops where
// it was, and nothing of the per-node work was sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "db/db.h"
#include "fixtures.h"
#include "session/lock_table.h"
#include "support/lock_table_fill.h"
#include "support/scoped_state.h"

namespace {

using upgradetest::DatabaseAtVersion;
using upgradetest::UpgradeOutput;
using upgradetest::UpgradeTo;

// The baseline with one node, brought to version.
std::unique_ptr<tvtest::TestDatabase> OneNodeAt(int version) {
  return DatabaseAtVersion("pgsql", version,
                           {.nodes = {.firstNode = 100, .nodes = 1, .itemsPerNode = 1, .rowsPerItem = 1}});
}

// Node rows copied from the one node, without collected-data tables: the
// steps that index per node count the locks by the node list.
void AddNodeRows(tvtest::TestDatabase &db, int64_t count) {
  db.exec("CREATE TEMP TABLE one AS SELECT * FROM nodes WHERE id=100");
  db.exec("ALTER TABLE one DROP COLUMN id");
  db.exec("INSERT INTO nodes SELECT g,one.* FROM one,generate_series(1000," + std::to_string(999 + count) +
          ") g");
  db.exec("DROP TABLE one");
}

void ExpectRefused(const std::string &out, int from) {
  EXPECT_NE(
      out.find("Upgrading from version " + std::to_string(from) + " to " + std::to_string(from + 1) + "\n"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("ERROR: this upgrade step locks about "), std::string::npos) << out;
  EXPECT_NE(out.find("; raise max_locks_per_transaction to at least "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
}

TEST(StepLocks, IndexQuestionAnsweredYesIsRefusedWhereTheIndexesDoNotFit) {
  auto db = OneNodeAt(20);
  if (!db) return;
  // Each index locks itself and its table.
  AddNodeRows(*db, tvtest::ServerLockTable(*db).locks() / 2);
  const std::string out = UpgradeOutput(*db, 21, true);
  ExpectRefused(out, 20);
  EXPECT_EQ(out.find("Creating indexes"), std::string::npos);
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 20);
  EXPECT_EQ(db->value("SELECT count(*) FROM information_schema.columns WHERE table_name='nodes' AND "
                      "column_name='node_flags'"),
            "0");
  // Answered no, the step has nothing to lock per node.
  UpgradeTo(*db, 21, false);
}

TEST(StepLocks, TimestampReindexIsRefusedWhereTheIndexesDoNotFit) {
  auto db = OneNodeAt(52);
  if (!db) return;
  AddNodeRows(*db, tvtest::ServerLockTable(*db).locks() / 2);
  const std::string out = UpgradeOutput(*db, 53);
  ExpectRefused(out, 52);
  EXPECT_EQ(out.find("Reindexing database:"), std::string::npos);
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 52);
}

TEST(StepLocks, ReindexOfEveryTableIsRefusedWhereTheIndexesDoNotFit) {
  auto db = OneNodeAt(209);
  if (!db) return;
  const std::string templates = db->rows("SELECT var_name,var_value FROM metadata ORDER BY var_name");
  // A table, its index and the index of the template: three locks each.
  const int64_t tables = tvtest::ServerLockTable(*db).locks() / 3 + 1;
  if (tables > 10000) GTEST_SKIP() << tables << " tables would be needed to fill the server's lock table";
  tvtest::AddIndexedDataTables(*db, tables);
  const std::string out = UpgradeOutput(*db, 210);
  ExpectRefused(out, 209);
  EXPECT_EQ(out.find("Reindexing table"), std::string::npos);
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), 209);
  EXPECT_EQ(db->rows("SELECT var_name,var_value FROM metadata ORDER BY var_name"), templates);
}

}  // namespace
