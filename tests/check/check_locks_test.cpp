// The collected-data check on PostgreSQL counts every node's table over a
// connection of its own, so that a check of more tables than the server's
// lock table holds runs. Where that connection cannot be opened (here: a
// connection the tests made), the counts run in the check's transaction,
// which keeps a lock on each table and index it read until the end: the
// estimate of those locks holds against what the transaction really
// holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "check/check_command.h"
#include "check/check_locks.h"
#include "check/check_stage.h"
#include "session/lock_table.h"
#include "support/captured_output.h"
#include "support/failing_db.h"
#include "support/lock_table_fill.h"
#include "support/scoped_state.h"
#include "support/test_db.h"

namespace {

// The tables and indexes that the connection's transaction holds locks
// on, system catalogues left out: an entry of the lock table each.
const char kHeldLocks[] =
    "SELECT count(*) FROM (SELECT DISTINCT relation FROM pg_locks WHERE pid=pg_backend_pid() AND "
    "locktype='relation' AND relation>=16384) s";

const char kCheckedTables[] =
    "t.relname IN ('zones','nodes','object_properties','interfaces','network_services','nsmap','subnets',"
    "'container_members','cluster_members','acl','dct_node_map','policy_source_list','policy_event_list',"
    "'event_cfg','event_groups','policy_action_list','actions','raw_dci_values')";

class CheckLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip("pgsql");
    if (db && !db->initSchema()) db.reset();
  }

  // A live node linked to a subnet, with its collected-data table.
  void node(int id, int64_t timestamp) {
    const std::string n = std::to_string(id);
    db->exec("INSERT INTO nodes (id,primary_ip,community) VALUES (" + n + ",'10.0.0.1','public')");
    db->exec(
        "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,inherit_access_rights,"
        "comments) VALUES (" +
        n + ",'node-" + n + "',0,0,1262304000,1,'')");
    db->exec("INSERT INTO nsmap (subnet_id,node_id) VALUES (1," + n + ")");
    db->exec("CREATE TABLE idata_" + n +
             " (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))");
    db->exec("CREATE INDEX idx_idata_" + n + "_item ON idata_" + n + "(item_id)");
    db->exec("INSERT INTO idata_" + n + " VALUES (1," + std::to_string(timestamp) + ",'v')");
  }

  int64_t estimate() {
    tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
    int64_t locks = -1;
    EXPECT_TRUE(EstimateCheckLocks(locks));
    return locks;
  }

  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_F(CheckLocks, EstimateCoversWhatTheCheckHoldsAtItsCommit) {
  if (!db) return;
  db->exec("INSERT INTO subnets (id,ip_addr) VALUES (1,'10.0.0.0')");
  for (int id = 100; id < 120; id++) node(id, id == 105 ? 2100000000 : 1000);
  db->exec("CREATE INDEX idx_second ON idata_101(idata_timestamp)");
  const int64_t estimated = estimate();

  auto plan = std::make_shared<tvtest::FaultPlan>();
  int64_t held = -1;
  plan->beforeCommit = [&] { held = std::stoll(db->value(kHeldLocks)); };
  db_handle_t watched = tvtest::OpenFailingHandle(db->handle(), plan);
  {
    tvtest::ScopedCurrentDatabase current(watched, db->syntax());
    tvtest::ScopedOptions options;
    ForceRepair = true;
    CheckCollectedData = true;
    tvtest::CapturedOutput captured;
    RunCheckCommand();
    const std::string out = captured.text();
    EXPECT_NE(out.find("Changes was successfully committed to database\n"), std::string::npos) << out;
  }
  DBDisconnect(watched);
  EXPECT_EQ(db->value("SELECT count(*) FROM idata_105"), "0");
  // Every collected-data table and index counts; what a check reads of its
  // own tables depends on what it finds, so the estimate takes them all.
  RelationCount own;
  {
    tvtest::ScopedCurrentDatabase current(db->handle(), db->syntax());
    ASSERT_TRUE(CountTableRelations(kCheckedTables, own));
  }
  EXPECT_GE(estimated, held);
  EXPECT_GE(held, 20 * 2 + 1);
  EXPECT_LE(estimated, held + own.relations) << "held " << held;
}

// The counts go over a connection of their own, outside the check's
// transaction: a check of more tables than the server's lock table could
// hold in one transaction runs, and repairs what it finds. With
// TVDBMGR_LONG_TESTS=1, 10,000 nodes at least.
TEST_F(CheckLocks, CheckLargerThanTheLockTableCountsOutsideItsTransaction) {
  if (!db) return;
  const LockTableSize size = tvtest::ServerLockTable(*db);
  ASSERT_FALSE(HasFailure());
  // A table and its index each.
  const char *longTests = getenv("TVDBMGR_LONG_TESTS");
  const int64_t tables = std::max<int64_t>(size.locks() / 2 + 1,
                                           longTests != nullptr && strcmp(longTests, "1") == 0 ? 10000 : 0);
  if (tables > 10000 && (longTests == nullptr || strcmp(longTests, "1") != 0))
    GTEST_SKIP() << tables << " tables would be needed to fill the server's lock table";
  tvtest::AddIndexedDataTables(*db, tables);
  db->exec(
      "INSERT INTO nodes (id,primary_ip,community) SELECT 1000000+g,'0.0.0.0','public' FROM "
      "generate_series(1," +
      std::to_string(tables) + ") g");
  // Defects that -f repairs: stale properties, and data from the future
  // in the table of a node that passes the other checks.
  db->exec(
      "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,inherit_access_rights,"
      "comments) VALUES (77,'stale',0,1,0,1,'')");
  db->exec("INSERT INTO subnets (id,ip_addr) VALUES (1,'10.0.0.0')");
  node(900, 2100000000);
  ASSERT_GT(estimate(), size.locks());

  tvtest::RunResult r = tvtest::RunTool({"-f", "-d", "-c", db->configPath(), "check"});
  EXPECT_NE(r.out.find("Changes was successfully committed to database\n"), std::string::npos) << r.out;
  EXPECT_TRUE(r.out.ends_with("Database check completed\n")) << r.out;
  EXPECT_NE(db->value("SELECT last_modified FROM object_properties WHERE object_id=77"), "0");
  EXPECT_EQ(db->value("SELECT count(*) FROM idata_900"), "0");
}

}  // namespace
