// A statement that fails anywhere in a step, the version write included,
// undoes the whole step: the version, the catalogue and every row are as
// before, and the next run completes the upgrade as if nothing had
// happened. Every step of the table, on the engines whose DDL is
// transactional. Each step is first tried without a fault, with its
// commit turned into a rollback, to count its statements; then a sample
// of them is made to fail in turn (every one with TVDBMGR_FULL_MATRIX=1).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "catalogue.h"
#include "fixtures.h"
#include "scratch_in_memory.h"
#include "session/globals.h"
#include "start_versions.h"
#include "support/failing_db.h"
#include "upgrade/steps.h"

namespace {

using upgradetest::BaselineNodes;

const BaselineNodes kNodes{.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 2};

const std::vector<std::string> &TransactionalEngines() {
  static const std::vector<std::string> engines = {"sqlite", "pgsql"};
  return engines;
}

// Statements whose failure the step goes past on purpose: the readers of
// variables fall back to their default, a missing variable is inserted,
// and a few steps report a failed read or an optional change and go on.
// Each entry is the step's from-version (0: any step) and the start of the
// statement.
bool StepGoesOnPast(int from, const std::string &statement) {
  static const struct {
    int from;
    const char *start;
  } kTolerated[] = {
      // The readers of variables, and the existence test of a variable
      // before it is inserted.
      {0, "SELECT var_value FROM config WHERE var_name="},
      // A failed read of the users or the groups leaves their GUIDs empty.
      {40, "SELECT id FROM users"},
      {40, "SELECT id FROM user_groups"},
      // The old per-node index may not be there, a new one that cannot be
      // made is reported, and the old template is replaced only when it
      // goes.
      {52, "DROP INDEX "},
      {52, "CREATE INDEX idx_idata_"},
      {52, "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'"},
      // When PostgreSQL cannot widen the column in place, a batch rebuilds
      // it.
      {64, "ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)"},
      // The probe for a metadata table left by an earlier run: without it
      // the table is created, and that fails when it is there.
      {86, "SELECT var_name FROM metadata WHERE var_name='SchemaVersion'"},
      {86, "SELECT var_value FROM metadata WHERE var_name='SchemaVersion'"},
      // The reindex of the collected-data tables does not affect the step.
      {209, "SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_"},
      {209, "SELECT id FROM nodes"},
      {209, "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='idata_"},
      {209, "SELECT ci.relname FROM pg_index "},
      {209, "SHOW INDEX FROM idata_"},
      {209, "DROP INDEX "},
      {209, "CREATE INDEX idx_idata_"},
      // Failed reads of the recoding of collected values are reported and
      // skipped.
      {213, "SELECT id FROM nodes"},
      {213, "SELECT item_id,node_id FROM items WHERE (datatype=4)"},
      {213, "SELECT item_id,idata_timestamp,idata_value FROM idata_"},
      // Without the catalogue's list of node tables, or when a read of
      // several node tables at once fails, each table is read on its own.
      {213, "SELECT tablename FROM pg_tables WHERE schemaname=current_schema() AND tablename LIKE 'idata%'"},
      {213, "SELECT name FROM sqlite_master WHERE type='table' AND name LIKE 'idata%'"},
      {213, "(SELECT item_id,idata_timestamp,idata_value,"},
      {213, "SELECT * FROM (SELECT item_id,idata_timestamp,idata_value,"},
      // A failed read of the objects leaves them without GUIDs.
      {215, "SELECT object_id FROM object_properties"},
      // The server works without a tile server.
      {229, "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('TileServerURL'"},
  };
  // The bridges of the older numbering replay steps 207 -> 208 to
  // 215 -> 216 within their own row.
  auto applies = [from](int step) {
    return step == 0 || step == from || (from >= 100 && from <= 105 && step >= 207 && step <= 215);
  };
  for (const auto &t : kTolerated)
    if (applies(t.from) && statement.starts_with(t.start)) return true;
  return false;
}

// The position (from 1) of the last version write among the statements of
// a step; 0 when there is none.
int VersionWrite(const std::vector<std::string> &statements) {
  for (int i = static_cast<int>(statements.size()); i > 0; i--) {
    const std::string &s = statements[i - 1];
    if (s.starts_with("UPDATE config SET var_value=") && s.ends_with("WHERE var_name='DBFormatVersion'"))
      return i;
    if (s.starts_with("UPDATE metadata SET var_value=") && s.ends_with("WHERE var_name='SchemaVersion'"))
      return i;
  }
  return 0;
}

// The statements to fail in a step of last statements: all of them for
// the full matrix, otherwise the first ones, some in between and the last
// two (the version write is the last).
std::vector<int> FaultPositions(int last) {
  std::vector<int> positions;
  if (upgradetest::FullMatrix()) {
    for (int k = 1; k <= last; k++) positions.push_back(k);
    return positions;
  }
  for (int k : {1, 2, last / 3, last / 2, 2 * last / 3, last - 1, last})
    if (k >= 1 && k <= last && std::find(positions.begin(), positions.end(), k) == positions.end())
      positions.push_back(k);
  return positions;
}

struct HandleCloser {
  void operator()(db_handle_t handle) const { DBDisconnect(handle); }
};

// Fails statements of the step from version, one per attempt; each
// attempt must leave the database exactly as it was.
void FailEachStatementOf(tvtest::TestDatabase &db, int from) {
  const UpgradeStep *step = FindUpgradeStep(from);
  ASSERT_NE(step, nullptr);
  SCOPED_TRACE(db.engine() + " step " + std::to_string(from) + " -> " + std::to_string(step->to));
  const upgradetest::DatabaseState before = upgradetest::TakeState(db);
  ASSERT_EQ(before.version, from);

  auto plan = std::make_shared<tvtest::FaultPlan>();
  plan->commitRollsBack = true;
  std::unique_ptr<db_handle_s, HandleCloser> handle(tvtest::OpenFailingHandle(db.handle(), plan));
  std::string out = upgradetest::UpgradeOutputThrough(handle.get(), db.syntax(), step->to);
  ASSERT_EQ(plan->commits, 1) << "the step fails without a fault:\n" << out;
  const std::vector<std::string> statements = plan->statements;
  const int last = VersionWrite(statements);
  ASSERT_GT(last, 0) << "no version write among the statements of the step";
  ASSERT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(db)), "")
      << "a step whose commit was rolled back left changes";

  for (int k : FaultPositions(last)) {
    *plan = tvtest::FaultPlan();
    plan->failAt = k;
    plan->commitRollsBack = true;
    out = upgradetest::UpgradeOutputThrough(handle.get(), db.syntax(), step->to);
    SCOPED_TRACE("statement " + std::to_string(k) + " of " + std::to_string(last) +
                 " failed: " + plan->failed);
    ASSERT_EQ(upgradetest::WithoutGeneratedValues(plan->failed),
              upgradetest::WithoutGeneratedValues(statements[k - 1]))
        << "the step sent other statements than before";
    if (plan->commits == 0) {
      EXPECT_EQ(plan->rollbacks, 1);
      EXPECT_NE(out.find("Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n"),
                std::string::npos)
          << out;
    } else {
      EXPECT_TRUE(StepGoesOnPast(from, plan->failed)) << "the step went on past the failure:\n" << out;
    }
    EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(db)), "") << out;
  }
}

// After the faults, the database equals one that took the same steps
// without them.
void ExpectSameAsUninterrupted(tvtest::TestDatabase &db, tvtest::TestDatabase &uninterrupted) {
  const upgradetest::DatabaseState state = upgradetest::TakeState(db),
                                   expected = upgradetest::TakeState(uninterrupted);
  EXPECT_EQ(state.version, expected.version);
  EXPECT_EQ(upgradetest::CatalogueDifferences(state.catalogue, expected.catalogue), "");
  EXPECT_TRUE(upgradetest::RowsWithoutGeneratedValues(state) ==
              upgradetest::RowsWithoutGeneratedValues(expected))
      << "the rows differ from those of an upgrade without faults";
}

using upgradetest::Segment;

class FailureInjection : public ::testing::TestWithParam<std::tuple<std::string, Segment>> {
  upgradetest::ScratchInMemory scratch_;
};

TEST_P(FailureInjection, EveryStepOfTheMainLineUndoesItselfWhole) {
  const auto &[engine, segment] = GetParam();
  if (std::string missing = upgradetest::MissingStepBetween(14, segment.to); !missing.empty())
    GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion(engine, segment.from, {.nodes = kNodes});
  auto uninterrupted = upgradetest::DatabaseAtVersion(engine, segment.to, {.nodes = kNodes});
  if (!db || !uninterrupted) return;
  for (int version = segment.from; version != segment.to && !HasFatalFailure();) {
    FailEachStatementOf(*db, version);
    version = FindUpgradeStep(version)->to;
    upgradetest::UpgradeTo(*db, version);
  }
  if (HasFatalFailure()) return;
  ExpectSameAsUninterrupted(*db, *uninterrupted);
}

INSTANTIATE_TEST_SUITE_P(Engines, FailureInjection,
                         ::testing::Combine(::testing::ValuesIn(TransactionalEngines()),
                                            ::testing::ValuesIn(upgradetest::kReferenceSegments)),
                         [](const auto &info) {
                           return std::get<0>(info.param) + "_" +
                                  upgradetest::SegmentName(std::get<1>(info.param));
                         });

// The rows off the main line: the bridges of the older numbering and the
// single steps between 232 and 238.
class FailureInjectionOffTheMainLine : public ::testing::TestWithParam<std::tuple<std::string, int>> {
  upgradetest::ScratchInMemory scratch_;
};

TEST_P(FailureInjectionOffTheMainLine, StepUndoesItselfWhole) {
  const auto &[engine, version] = GetParam();
  if (std::string missing = upgradetest::MissingStep(version); !missing.empty()) GTEST_SKIP() << missing;
  auto db = upgradetest::DatabaseAtVersion(engine, version, {.nodes = kNodes});
  auto uninterrupted = upgradetest::DatabaseAtVersion(engine, version, {.nodes = kNodes});
  if (!db || !uninterrupted) return;
  FailEachStatementOf(*db, version);
  if (HasFatalFailure()) return;
  upgradetest::UpgradeTo(*db, kToolSchemaVersion);
  upgradetest::UpgradeTo(*uninterrupted, kToolSchemaVersion);
  ExpectSameAsUninterrupted(*db, *uninterrupted);
}

INSTANTIATE_TEST_SUITE_P(Versions, FailureInjectionOffTheMainLine,
                         ::testing::Combine(::testing::ValuesIn(TransactionalEngines()),
                                            ::testing::Values(93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103,
                                                              104, 105, 233, 234, 235, 236, 237)),
                         [](const auto &info) {
                           return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param));
                         });

}  // namespace
