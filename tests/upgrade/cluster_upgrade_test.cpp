// The whole upgrade from 14 to the tool's version on clustered servers: run on
// Galera node 1 it leaves the three nodes equal, and run on a PostgreSQL
// primary it leaves the standby equal to the primary once replayed.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "session/globals.h"
#include "support/test_db.h"

namespace {

// The baseline with a few monitored nodes and some history, on the
// engine's server or the Galera cluster.
std::unique_ptr<tvtest::TestDatabase> Baseline(const std::string &engine, bool onGalera) {
  return upgradetest::DatabaseAtVersion(engine, 14,
                                        {.nodes = {.nodes = 3, .itemsPerNode = 3, .rowsPerItem = 5},
                                         .logs = {.eventLogRows = 30, .alarms = 5},
                                         .onGalera = onGalera});
}

// db upgraded by the tool. False after failing the test.
bool UpgradeWithTheTool(tvtest::TestDatabase &db) {
  const tvtest::RunResult r = tvtest::RunTool({"-f", "-c", db.configPath(), "upgrade"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.ends_with("Database upgrade succeeded\n")) << r.out.substr(r.out.size() - 2000) << r.err;
  db.reconnect();
  return DBGetSchemaVersion(db.handle()) == kToolSchemaVersion;
}

TEST(ClusterUpgrade, EveryGaleraNodeEndsEqual) {
  auto db = Baseline("mysql", true);
  if (!db || !UpgradeWithTheTool(*db)) return;
  const std::string sums = tvtest::TableChecksums(*db);
  EXPECT_NE(sums.find("idata_102|"), std::string::npos) << sums;
  for (const std::string &port : tvtest::GaleraPorts()) {
    auto node = db->reachedOn(port);
    ASSERT_TRUE(node);
    EXPECT_EQ(tvtest::TableChecksums(*node), sums) << "node on port " << port;
  }
}

TEST(ClusterUpgrade, PgStandbyEndsEqualToThePrimary) {
  if (!tvtest::ConfiguredOrSkip(!tvtest::PgStandbyPort().empty(), "a PostgreSQL standby")) return;
  auto primary = Baseline("pgsql", false);
  if (!primary || !UpgradeWithTheTool(*primary)) return;
  ASSERT_TRUE(tvtest::WaitForStandbyReplay());
  auto standby = primary->reachedOn(tvtest::PgStandbyPort());
  ASSERT_TRUE(standby);
  const std::string sums = tvtest::TableChecksums(*primary);
  EXPECT_NE(sums.find("idata_102|"), std::string::npos) << sums;
  EXPECT_EQ(tvtest::TableChecksums(*standby), sums);
}

}  // namespace
