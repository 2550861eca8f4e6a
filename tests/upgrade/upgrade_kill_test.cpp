// kill -9 of an upgrade at random moments: the killed run leaves the
// database at the last version it committed (on MariaDB, whose DDL
// commits at once, with what the step's journal says it applied), the
// next run finishes the upgrade, and the result equals an upgrade that
// was never interrupted (tables, columns, indexes and
// every row, but for the GUIDs and times each run generates). The
// database holds a network of nodes with collected data, so that the
// upgrade takes a few seconds. TVDBMGR_UPGRADE_KILLS sets the number of
// kills (default 20), TVDBMGR_UPGRADE_KILL_SEED the random sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "catalogue.h"
#include "fixtures.h"
#include "scratch_in_memory.h"
#include "session/globals.h"
#include "start_versions.h"

namespace {

int EnvNumber(const char *name, int fallback) {
  const char *value = getenv(name);
  return value != nullptr && *value != 0 ? atoi(value) : fallback;
}

// A few seconds of upgrade on each engine here; MariaDB's schema
// statements are slow, and each node has four of them.
upgradetest::BaselineNodes Network(const std::string &engine) {
  const int nodes = engine == "sqlite" ? 600 : engine == "pgsql" ? 300 : 20;
  return {.firstNode = 100, .nodes = nodes, .itemsPerNode = 4, .rowsPerItem = 10};
}

// A database at 14 with the network, and collected texts in the old
// escaped form: decoding them twice would change them again.
std::unique_ptr<tvtest::TestDatabase> NetworkDatabase(const std::string &engine) {
  auto db = upgradetest::DatabaseAtVersion(engine, 14, {.nodes = Network(engine)});
  if (db == nullptr) return nullptr;
  const upgradetest::BaselineNodes network = Network(engine);
  for (int id = network.firstNode; id < network.firstNode + 3; id++)
    db->exec("UPDATE idata_" + std::to_string(id) + " SET idata_value='x#2341#0D#0A' WHERE item_id=" +
             std::to_string(id * 100 + network.itemsPerNode - 1));
  return db;
}

// What two runs of the same upgrade share.
std::pair<std::set<std::string>, std::map<std::string, std::string>> Comparable(tvtest::TestDatabase &db) {
  const upgradetest::DatabaseState state = upgradetest::TakeState(db);
  return {state.catalogue, upgradetest::RowsWithoutGeneratedValues(state)};
}

class UpgradeKill : public ::testing::TestWithParam<std::string> {
  upgradetest::ScratchInMemory scratch_;
};

TEST_P(UpgradeKill, RerunFinishesAsIfUninterrupted) {
  const std::string engine = GetParam();
  if (std::string missing = upgradetest::MissingStepBetween(14, kToolSchemaVersion); !missing.empty())
    GTEST_SKIP() << missing;

  // The uninterrupted upgrade, and how long it takes.
  auto uninterrupted = NetworkDatabase(engine);
  if (!uninterrupted) return;
  const auto start = std::chrono::steady_clock::now();
  tvtest::RunResult r = upgradetest::RunUpgrade(*uninterrupted, {"-f"});
  const auto took =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(r.out.ends_with("Database upgrade succeeded\n")) << r.out;
  const auto expected = Comparable(*uninterrupted);
  uninterrupted.reset();

  const int kills = EnvNumber("TVDBMGR_UPGRADE_KILLS", 20);
  const unsigned seed = static_cast<unsigned>(EnvNumber("TVDBMGR_UPGRADE_KILL_SEED", std::random_device{}()));
  SCOPED_TRACE("TVDBMGR_UPGRADE_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  // Kills that come after the end change nothing and do not count; each
  // one shortens the time the next kill is chosen in, since the upgrade
  // ran faster than when it was timed (other work on the machine).
  long limit = took.count();
  int interrupted = 0;
  std::string versions;
  for (int attempt = 0; interrupted < kills && attempt < 3 * kills && !HasFailure(); attempt++) {
    auto db = NetworkDatabase(engine);
    if (!db) return;
    const std::chrono::microseconds delay(std::uniform_int_distribution<long>(0, limit)(random));
    ASSERT_TRUE(tvtest::RunToolAndKill({"-f", "-c", db->configPath(), "upgrade"},
                                       [&] { std::this_thread::sleep_for(delay); }));
    db->reconnect();
    ASSERT_TRUE(tvtest::WaitForOtherSessions(*db)) << "the killed upgrade's session did not end";
    const int reached = DBGetSchemaVersion(db->handle());
    versions += " " + std::to_string(reached);
    if (reached == kToolSchemaVersion)
      limit = delay.count();
    else
      interrupted++;
    SCOPED_TRACE("kill " + std::to_string(attempt) + " after " + std::to_string(delay.count() / 1000) +
                 " ms, at version " + std::to_string(reached));

    r = upgradetest::RunUpgrade(*db, {"-f"});
    const std::string out = upgradetest::WithoutBanner(r.out);
    if (reached == kToolSchemaVersion)
      EXPECT_EQ(out, "Upgrading database...\nYour database format is up to date\n");
    else
      EXPECT_TRUE(out.starts_with("Upgrading database...\nUpgrading from version " + std::to_string(reached) +
                                  " to ") &&
                  out.ends_with("Database upgrade succeeded\n"))
          << out;
    const auto result = Comparable(*db);
    EXPECT_EQ(upgradetest::CatalogueDifferences(result.first, expected.first), "");
    for (const auto &[table, rows] : expected.second)
      EXPECT_EQ(result.second.count(table) ? result.second.at(table) : "<no table>", rows) << table;
  }
  EXPECT_EQ(interrupted, kills) << "kills that came after the end:" << versions;
  printf("%s: an upgrade of %lld ms killed at versions%s\n", engine.c_str(),
         static_cast<long long>(took.count() / 1000), versions.c_str());
}

INSTANTIATE_TEST_SUITE_P(Engines, UpgradeKill, ::testing::Values("sqlite", "pgsql", "mysql"),
                         [](const auto &info) { return info.param; });

}  // namespace
