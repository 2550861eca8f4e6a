// On MySQL and MariaDB a schema statement first commits the open
// transaction, and a cluster may refuse that commit (a replication
// conflict) with a rollback of everything the transaction held, the
// journal's row among it. Each commit of a step, implicit or explicit,
// is made to fail so in turn: the run says the server rolled back its
// transaction and fails, and a rerun finishes the step, equal to a run
// without faults, neither sending an applied statement again nor
// passing over one that was rolled back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalogue.h"
#include "fixtures.h"
#include "session/globals.h"
#include "start_versions.h"
#include "support/failing_db.h"
#include "support/scoped_state.h"
#include "support/test_db.h"
#include "upgrade/steps.h"

namespace {

const upgradetest::BaselineNodes kNodes{.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 2};

struct HandleCloser {
  void operator()(db_handle_t handle) const { DBDisconnect(handle); }
};
using FailingHandle = std::unique_ptr<db_handle_s, HandleCloser>;

// The statements that commit the open transaction before they run, and
// the journal's own commits.
bool Commits(const std::string &s) {
  for (const char *start : {"CREATE ", "ALTER ", "DROP ", "RENAME ", "TRUNCATE "})
    if (s.starts_with(start)) return true;
  return s == "COMMIT";
}

// 17 -> 18 adds columns between data statements and rebuilds a table;
// with TVDBMGR_FULL_MATRIX=1 also 52 -> 53, a procedure with per-node
// work, and 100 -> 214, a bridge that replays other steps.
TEST(MysqlCommitAbort, EveryCommitOfAStepRefusedByTheServerFinishesOnRerun) {
  const std::vector<int> steps =
      upgradetest::FullMatrix() ? std::vector<int>{17, 52, 100} : std::vector<int>{17};
  for (int from : steps) {
    if (std::string missing = upgradetest::MissingStep(from); !missing.empty()) GTEST_SKIP() << missing;
    const int to = FindUpgradeStep(from)->to;
    auto reference = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = kNodes});
    if (!reference) return;
    auto plan = std::make_shared<tvtest::FaultPlan>();
    {
      FailingHandle handle(tvtest::OpenFailingHandle(reference->handle(), plan));
      upgradetest::UpgradeOutputThrough(handle.get(), reference->syntax(), to);
    }
    ASSERT_EQ(DBGetSchemaVersion(reference->handle()), to);
    int commits = 0;
    for (const std::string &s : plan->statements) commits += Commits(s) ? 1 : 0;
    ASSERT_GT(commits, 0);
    for (int k = 1; k <= commits; k++) {
      SCOPED_TRACE("step " + std::to_string(from) + ", commit " + std::to_string(k) + " refused");
      auto db = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = kNodes});
      *plan = tvtest::FaultPlan();
      plan->abortsTransaction = true;
      plan->failWhen = [k, seen = 0](const std::string &s) mutable { return Commits(s) && ++seen == k; };
      std::string out;
      {
        FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
        out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), to);
      }
      ASSERT_FALSE(plan->failed.empty()) << out;
      EXPECT_NE(out.find("ERROR: the transaction was rolled back by the server: Deadlock found"),
                std::string::npos)
          << out;
      EXPECT_TRUE(
          out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
          << out;
      // A bridge may have committed the version of a step it replays.
      const int reached = DBGetSchemaVersion(db->handle());
      ASSERT_TRUE(reached >= from && reached < to) << out;

      out = upgradetest::UpgradeOutput(*db, to);
      EXPECT_EQ(out.find("SQL query failed"), std::string::npos) << plan->failed << "\n" << out;
      ASSERT_EQ(DBGetSchemaVersion(db->handle()), to) << plan->failed << "\n" << out;
      upgradetest::ExpectSameAsReference(*db, *reference);
      if (HasFailure()) return;
    }
  }
}

// -X goes on past a failed statement, never past the server rolling the
// step's transaction back.
TEST(MysqlCommitAbort, IgnoringErrorsDoesNotGoPastTheRollback) {
  if (std::string missing = upgradetest::MissingStep(17); !missing.empty()) GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion("mysql", 17, {.nodes = kNodes});
  auto reference = upgradetest::DatabaseAtVersion("mysql", 18, {.nodes = kNodes});
  if (!db || !reference) return;
  tvtest::ScopedOptions options;
  IgnoreSqlErrors = true;
  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->abortsTransaction = true;
  plan->failWhen = [seen = 0](const std::string &s) mutable { return Commits(s) && ++seen == 3; };
  std::string out;
  {
    FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
    out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 18);
  }
  ASSERT_FALSE(plan->failed.empty()) << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), 17) << out;
  IgnoreSqlErrors = false;
  out = upgradetest::UpgradeOutput(*db, 18);
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), 18) << out;
  upgradetest::ExpectSameAsReference(*db, *reference);
}

// A writer on Galera node 2 changes alarms that 17 -> 18 on node 1 has
// updated in its open transaction: the cluster aborts the step's
// transaction for the replicated write, and the schema statement that
// follows fails with it. The step's updates since its last schema
// statement are gone, node 2's write stays, and the rerun finishes the
// step from where its journal says, the column already added included.
TEST(MysqlCommitAbort, WriterOnAnotherClusterNodeDuringAStep) {
  if (std::string missing = upgradetest::MissingStepBetween(14, 18); !missing.empty())
    GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion(
      "mysql", 17, {.nodes = kNodes, .logs = {.eventLogRows = 10, .alarms = 5}, .onGalera = true});
  if (!db) return;
  const std::string sources = db->rows("SELECT alarm_id,source_event_id FROM alarms ORDER BY 1");
  auto node2 = db->reachedOn(tvtest::GaleraPorts()[1]), node1 = db->reachedOn(tvtest::GaleraPorts()[0]);
  ASSERT_TRUE(node2 && node1);
  node1->exec("SET SESSION wsrep_sync_wait=1");

  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->failWhen = [&](const std::string &s) {
    if (s == "ALTER TABLE alarms DROP COLUMN source_event_id") {
      node2->exec("UPDATE alarms SET message=CONCAT(message,' (node 2)') WHERE alarm_id=1");
      EXPECT_EQ(node1->value("SELECT count(*) FROM alarms WHERE message LIKE '% (node 2)'"), "1");
    }
    return false;
  };
  std::string out;
  {
    FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
    out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 18);
  }
  EXPECT_NE(out.find("ERROR: the transaction was rolled back by the server: Deadlock found"),
            std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), 17) << out;
  EXPECT_EQ(db->value("SELECT count(*) FROM alarms WHERE source_event_code IS NOT NULL"), "0") << out;

  out = upgradetest::UpgradeOutput(*db, 18);
  EXPECT_EQ(out.find("SQL query failed"), std::string::npos) << out;
  ASSERT_EQ(DBGetSchemaVersion(db->handle()), 18) << out;
  EXPECT_EQ(db->rows("SELECT alarm_id,source_event_code FROM alarms ORDER BY 1"), sources);
  EXPECT_EQ(db->value("SELECT count(*) FROM alarms WHERE message LIKE '% (node 2)'"), "1");
}

}  // namespace
