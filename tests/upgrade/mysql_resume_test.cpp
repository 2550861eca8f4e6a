// On MySQL and MariaDB a schema statement commits at once, so a step that
// fails half-way keeps what it did up to its last schema statement. Each
// step of the main line is made to fail at several of its statements in
// turn, every rerun taking up where the one before stopped, and a last
// rerun without -X finishes the step; at the end the database equals one
// upgraded without faults. A rerun that answers a question otherwise than
// the interrupted run stops and changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "catalogue.h"
#include "fixtures.h"
#include "session/globals.h"
#include "start_versions.h"
#include "support/failing_db.h"
#include "support/scoped_state.h"
#include "upgrade/statement_journal.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::BaselineNodes;

const BaselineNodes kNodes{.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 2};

struct HandleCloser {
  void operator()(db_handle_t handle) const { DBDisconnect(handle); }
};
using FailingHandle = std::unique_ptr<db_handle_s, HandleCloser>;

bool IsVersionWrite(const std::string &s) {
  return (s.starts_with("UPDATE config SET var_value=") && s.ends_with("WHERE var_name='DBFormatVersion'")) ||
         (s.starts_with("UPDATE metadata SET var_value=") && s.ends_with("WHERE var_name='SchemaVersion'"));
}

// The statements made to fail: those that change the database. A failed
// read, and the few changes a step goes past on purpose, leave a result
// that differs from an upgrade without faults by the step's own rule
// (the failure injection test on the transactional engines covers them).
bool Faultable(int from, const std::string &s) {
  if (s.starts_with("SELECT ") || s.starts_with("SHOW ")) return false;
  if (from == 52 || from == 209)
    for (const char *start : {"DROP INDEX ", "CREATE INDEX idx_idata_", "ALTER TABLE idata_",
                              "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'"})
      if (s.starts_with(start)) return false;
  return !(from == 229 && s.find("'TileServerURL'") != std::string::npos);
}

// Fails the k-th statement of a run that Faultable allows.
std::function<bool(const std::string &)> FailFaultable(int from, int k) {
  return [from, k, seen = 0](const std::string &s) mutable { return Faultable(from, s) && ++seen == k; };
}

// The statements to fail, one per run, counted in each run's own
// statements: a rerun skips what is applied, so the same number falls
// further into the step each time. Every number up to the step's length
// with TVDBMGR_FULL_MATRIX=1.
std::vector<int> FaultPositions(int length) {
  std::vector<int> positions;
  if (upgradetest::FullMatrix()) {
    for (int k = 1; k <= length; k++) positions.push_back(k);
    return positions;
  }
  for (int k : {2, length / 2, length})
    if (k >= 1 && (positions.empty() || k > positions.back())) positions.push_back(k);
  return positions;
}

int VersionOf(tvtest::TestDatabase &db) { return DBGetSchemaVersion(db.handle()); }

// Takes reference through the step without a fault and db through it
// with faults, then once more without: db must arrive at the step's end.
void FailAndResume(tvtest::TestDatabase &db, tvtest::TestDatabase &reference, int from) {
  const UpgradeStep *step = FindUpgradeStep(from);
  ASSERT_NE(step, nullptr);
  SCOPED_TRACE("step " + std::to_string(from) + " -> " + std::to_string(step->to));
  auto plan = std::make_shared<tvtest::FaultPlan>();
  std::string out;
  {
    FailingHandle handle(tvtest::OpenFailingHandle(reference.handle(), plan));
    out = upgradetest::UpgradeOutputThrough(handle.get(), reference.syntax(), step->to);
  }
  ASSERT_EQ(VersionOf(reference), step->to) << out;
  const int length = static_cast<int>(
      std::count_if(plan->statements.begin(), plan->statements.end(),
                    [from](const std::string &statement) { return Faultable(from, statement); }));

  FailingHandle handle(tvtest::OpenFailingHandle(db.handle(), plan));
  // First the version write: the whole step is done but for its commit.
  std::vector<std::function<void(tvtest::FaultPlan &)>> faults = {
      [](tvtest::FaultPlan &p) { p.failWhen = IsVersionWrite; }};
  for (int k : FaultPositions(length))
    faults.push_back([from, k](tvtest::FaultPlan &p) { p.failWhen = FailFaultable(from, k); });
  for (const auto &fault : faults) {
    *plan = tvtest::FaultPlan();
    fault(*plan);
    out = upgradetest::UpgradeOutputThrough(handle.get(), db.syntax(), step->to);
    SCOPED_TRACE("failed: " + plan->failed);
    EXPECT_EQ(out.find("ERROR: step"), std::string::npos) << out;
    // A failure the step goes past, or a number past the rerun's end.
    if (VersionOf(db) == step->to) return;
    // A bridge cut short may have committed the version of a step it
    // replays; the rerun resumes the bridge.
    ASSERT_TRUE(VersionOf(db) >= from && VersionOf(db) < step->to) << VersionOf(db) << "\n" << out;
  }
  *plan = tvtest::FaultPlan();
  out = upgradetest::UpgradeOutputThrough(handle.get(), db.syntax(), step->to);
  ASSERT_EQ(VersionOf(db), step->to) << "the rerun did not finish the step:\n" << out;
  EXPECT_EQ(out.find("SQL query failed"), std::string::npos) << out;
}

using upgradetest::Segment;

class MysqlResume : public ::testing::TestWithParam<Segment> {};

TEST_P(MysqlResume, EveryStepOfTheMainLineFinishesOnRerun) {
  const Segment segment = GetParam();
  if (std::string missing = upgradetest::MissingStepBetween(14, segment.to); !missing.empty())
    GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion("mysql", segment.from, {.nodes = kNodes});
  auto reference = upgradetest::DatabaseAtVersion("mysql", segment.from, {.nodes = kNodes});
  if (!db || !reference) return;
  for (int version = segment.from; version != segment.to && !HasFatalFailure();
       version = FindUpgradeStep(version)->to)
    FailAndResume(*db, *reference, version);
  if (HasFatalFailure()) return;
  upgradetest::ExpectSameAsReference(*db, *reference);
  EXPECT_EQ(upgradetest::TableNames(*db).count(kJournalTable), 0u);
}

INSTANTIATE_TEST_SUITE_P(Segments, MysqlResume, ::testing::ValuesIn(upgradetest::kReferenceSegments),
                         [](const auto &info) { return upgradetest::SegmentName(info.param); });

// Under -X a failed row reads as success; the old table must not be
// dropped for a copy that lacks the row.
TEST(MysqlResumeRebuild, IgnoredFailureKeepsTheOldTable) {
  if (std::string missing = upgradetest::MissingStepBetween(14, 81); !missing.empty())
    GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion("mysql", 80);
  if (!db) return;
  ASSERT_TRUE(db->exec("INSERT INTO dci_schedules (item_id,schedule) VALUES (10,'a'),(11,'b'),(12,'c')"));
  tvtest::ScopedOptions options;
  IgnoreSqlErrors = true;
  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->failWhen = [](const std::string &s) {
    return s.starts_with("INSERT INTO tvdbmgr_rebuilt_dci_schedules ");
  };
  FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
  const std::string out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 81);
  ASSERT_FALSE(plan->failed.empty()) << out;
  EXPECT_EQ(db->rows("SELECT item_id,schedule FROM dci_schedules ORDER BY 1"), "10|a\n11|b\n12|c") << out;
  EXPECT_EQ(upgradetest::TableNames(*db).count("tvdbmgr_rebuilt_dci_schedules"), 0u);
}

// The bridges from the old numbering replay steps of the 2xx line inside
// their own row; a failure anywhere in them is finished by a rerun too.
TEST(MysqlResumeBridges, EveryBridgeFinishesOnRerun) {
  for (int from : {92, 99, 100, 104, 105, 233}) {
    if (std::string missing = upgradetest::MissingStep(from); !missing.empty()) GTEST_SKIP() << missing;
    auto db = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = kNodes});
    auto reference = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = kNodes});
    if (!db || !reference) return;
    FailAndResume(*db, *reference, from);
    if (HasFatalFailure()) return;
    upgradetest::ExpectSameAsReference(*db, *reference);
    EXPECT_EQ(upgradetest::TableNames(*db).count(kJournalTable), 0u) << from;
  }
}

// 20 -> 21 indexes every collected-data table when its question is
// answered yes. A run that stopped after those indexes cannot be finished
// by one that answers no: it stops, says what to do, and changes nothing;
// answered yes, it finishes.
TEST(MysqlResumeQuestion, ARerunAnsweredOtherwiseStopsAndChangesNothing) {
  if (std::string missing = upgradetest::MissingStepBetween(14, 21); !missing.empty())
    GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion("mysql", 20, {.nodes = kNodes});
  if (!db) return;
  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->failWhen = IsVersionWrite;
  FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
  std::string out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 21);
  ASSERT_EQ(VersionOf(*db), 20) << out;
  const upgradetest::DatabaseState before = upgradetest::TakeState(*db);

  *plan = tvtest::FaultPlan();
  out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 21, false);
  EXPECT_NE(out.find("ERROR: step 20 -> 21 now goes another way than the interrupted run"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Run the upgrade again answering its questions as the interrupted run was answered"),
            std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"))
      << out;
  EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(*db)), "");

  out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), 21, true);
  EXPECT_NE(out.find("Step 20 -> 21 was interrupted at statement "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Database upgrade succeeded\n")) << out;
  EXPECT_EQ(VersionOf(*db), 21);
}

// The steps that re-create a table write its rows into a new table beside
// the old one and swap the two. Whichever statement of the swap fails, the
// rows stay whole (in the old table, or in the copy when the old one is
// dropped already), and the rerun finishes with every row.
TEST(MysqlResumeRebuild, RebuiltTablesKeepTheirRows) {
  const struct {
    int from;
    const char *table;
    const char *seed;
    const char *read;
    const char *expected;
  } cases[] = {
      {17, "policy_event_list", "INSERT INTO policy_event_list (rule_id,event_id) VALUES (1,5),(1,6),(2,5)",
       "SELECT rule_id,event_code FROM policy_event_list ORDER BY 1,2", "1|5\n1|6\n2|5"},
      {76, "cond_dci_map",
       "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) "
       "VALUES (1,10,100,0,1),(1,11,100,0,2),(2,12,100,0,3)",
       "SELECT condition_id,sequence_number,dci_id,num_polls FROM cond_dci_map ORDER BY 1,2",
       "1|0|10|1\n1|1|11|2\n2|0|12|3"},
      {80, "dci_schedules",
       "INSERT INTO dci_schedules (item_id,schedule) VALUES (10,'*/5 * * * *'),(11,'it''s'),(12,'#')",
       "SELECT item_id,schedule FROM dci_schedules ORDER BY 1", "10|*/5 * * * *\n11|it's\n12|#"},
  };
  for (const auto &c : cases) {
    if (std::string missing = upgradetest::MissingStepBetween(14, c.from + 1); !missing.empty())
      GTEST_SKIP() << missing;
    const std::string table = c.table;
    const std::string copy = "tvdbmgr_rebuilt_" + table;
    // The first row written back (into whichever table), the drop of the
    // old table, the rename of the copy.
    const std::function<bool(const std::string &)> failures[] = {
        [&](const std::string &s) {
          return s.starts_with("INSERT INTO " + table + " ") || s.starts_with("INSERT INTO " + copy + " ");
        },
        [&](const std::string &s) { return s == "DROP TABLE " + table; },
        [&](const std::string &s) { return s.starts_with("RENAME TABLE "); },
    };
    for (const auto &failing : failures) {
      SCOPED_TRACE(table + ", failure " + std::to_string(&failing - failures + 1));
      auto db = upgradetest::DatabaseAtVersion("mysql", c.from);
      if (!db) return;
      ASSERT_TRUE(db->exec(c.seed));
      auto plan = std::make_shared<tvtest::FaultPlan>();
      plan->failWhen = failing;
      FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
      std::string out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), c.from + 1);
      ASSERT_EQ(VersionOf(*db), c.from) << out;
      ASSERT_FALSE(plan->failed.empty()) << out;
      // All three rows, in the old table or, once that is dropped, in the copy.
      const std::set<std::string> tables = upgradetest::TableNames(*db);
      EXPECT_EQ(
          db->value("SELECT count(*) FROM " + (tables.count(c.table) != 0 ? std::string(c.table) : copy)),
          "3");

      *plan = tvtest::FaultPlan();
      out = upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), c.from + 1);
      ASSERT_EQ(VersionOf(*db), c.from + 1) << out;
      EXPECT_EQ(db->rows(c.read), c.expected);
      EXPECT_EQ(upgradetest::TableNames(*db).count(copy), 0u);
    }
  }
}

// Kills the tool just after the engine applied the k-th statement of
// step from that counts says count, reruns the step and compares the
// database with reference. False when the step has fewer such
// statements.
bool KilledAndRerun(int from, const BaselineNodes &nodes, tvtest::TestDatabase &reference,
                    const std::function<bool(const std::string &)> &counts, int k) {
  const int to = FindUpgradeStep(from)->to;
  SCOPED_TRACE("step " + std::to_string(from) + ", killed after changing statement " + std::to_string(k));
  auto db = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = nodes});
  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->diesAfter = true;
  plan->failWhen = [&counts, k, seen = 0](const std::string &s) mutable { return counts(s) && ++seen == k; };
  {
    FailingHandle handle(tvtest::OpenFailingHandle(db->handle(), plan));
    upgradetest::UpgradeOutputThrough(handle.get(), db->syntax(), to);
  }
  if (plan->failed.empty()) return false;
  DBRollback(db->handle());
  const std::string out = upgradetest::UpgradeOutput(*db, to);
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << plan->failed << "\n" << out;
  EXPECT_EQ(VersionOf(*db), to) << plan->failed << "\n" << out;
  upgradetest::ExpectSameAsReference(*db, reference);
  return true;
}

}  // namespace

// A tool killed just after the engine applied one of the changing
// statements of a step leaves a journal row from which a rerun finishes
// the step, equal to a run without faults: the first statements of
// steps with per-node work, of a procedure step (52 -> 53, the
// bridges) and of a table rebuild (17 -> 18), every statement of every
// step with TVDBMGR_FULL_MATRIX=1.
TEST(MysqlResumeKill, DeathAfterAStatementFinishesOnRerun) {
  const bool full = upgradetest::FullMatrix();
  const std::vector<int> steps =
      full ? upgradetest::StartVersions() : std::vector<int>{17, 20, 52, 92, 100, 209};
  const auto changing = [](const std::string &s) {
    return !s.starts_with("SELECT ") && !s.starts_with("SHOW ");
  };
  for (int from : steps) {
    if (std::string missing = upgradetest::MissingStep(from); !missing.empty()) GTEST_SKIP() << missing;
    auto reference = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = kNodes});
    if (!reference) return;
    upgradetest::UpgradeTo(*reference, FindUpgradeStep(from)->to);
    // 17 -> 18 renames its rebuilt table at the sixth.
    for (int k = 1; full || k <= (from == 17 ? 7 : 3); k++)
      if (!KilledAndRerun(from, kNodes, *reference, changing, k) || HasFailure()) break;
    if (HasFailure()) return;
  }
}

// The per-node index loops send their tables' statements over several
// connections at once; wherever among them the tool dies (at the
// journal's row, its commit, or a table's statement), the rerun finishes
// the step.
TEST(MysqlResumeKill, SpreadIndexLoopsFinishOnRerunWhereverKilled) {
  const BaselineNodes nodes{.firstNode = 100, .nodes = 5, .itemsPerNode = 1, .rowsPerItem = 1};
  const bool full = upgradetest::FullMatrix();
  const auto ofTheLoop = [](const std::string &s) {
    return !s.starts_with("SELECT ") && (s == "COMMIT" || s.find(" idata_") != std::string::npos ||
                                         s.find(kJournalTable) != std::string::npos);
  };
  // The journal's row, its commit, the first, a middle and the last
  // table; every statement of the loop with TVDBMGR_FULL_MATRIX=1.
  const std::set<int> sampled{1, 2, 3, 5, 7};
  for (int from : full ? std::vector<int>{20, 24, 52, 209} : std::vector<int>{20, 209}) {
    if (std::string missing = upgradetest::MissingStep(from); !missing.empty()) GTEST_SKIP() << missing;
    auto reference = upgradetest::DatabaseAtVersion("mysql", from, {.nodes = nodes});
    if (!reference) return;
    upgradetest::UpgradeTo(*reference, FindUpgradeStep(from)->to);
    for (int k = 1; full || k <= *sampled.rbegin(); k++)
      if ((full || sampled.count(k) != 0) &&
          (!KilledAndRerun(from, nodes, *reference, ofTheLoop, k) || HasFailure()))
        break;
    if (HasFailure()) return;
  }
}
