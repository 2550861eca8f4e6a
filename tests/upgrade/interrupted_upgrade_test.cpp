// Ctrl-C or SIGTERM during an upgrade: the run ends by the signal and
// says so, the step under way is rolled back as after a kill, and the
// next run finishes the upgrade.
#include <gtest/gtest.h>
#include <signal.h>

#include "fixtures.h"
#include "support/interrupted_run.h"

namespace {

TEST(InterruptedUpgrade, SaysSoAndTheNextRunFinishes) {
  auto db = upgradetest::DatabaseAtVersion("sqlite", 14,
                                           {.nodes = {.nodes = 20, .itemsPerNode = 5, .rowsPerItem = 20}});
  if (!db) return;
  tvtest::InterruptedRun run = tvtest::RunAndInterrupt({"-f", "-c", db->configPath(), "upgrade"},
                                                       "Upgrading from version 52 to 53", SIGTERM);
  EXPECT_EQ(run.signal, SIGTERM) << run.out;
  EXPECT_TRUE(run.out.ends_with(
      "\nDatabase upgrade interrupted: what it had not committed is rolled back; run the upgrade again to finish "
      "it\n"))
      << run.out;
  // The version of the last step committed before the signal.
  const std::string lastStep = run.out.substr(0, run.out.rfind("\nDatabase upgrade interrupted"));
  const std::string from = lastStep.substr(lastStep.rfind("Upgrading from version ") + 23);
  db->reconnect();
  std::string version = db->value("SELECT var_value FROM metadata WHERE var_name='SchemaVersion'");
  if (version.starts_with("<"))
    version = db->value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'");
  EXPECT_EQ(version, from.substr(0, from.find(' ')));
  tvtest::RunResult rerun = upgradetest::RunUpgrade(*db, {"-f"});
  EXPECT_TRUE(rerun.out.ends_with("Database upgrade succeeded\n")) << rerun.out;
}

}  // namespace
