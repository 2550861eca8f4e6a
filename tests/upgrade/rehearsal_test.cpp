// The rehearsal (-n, --dry-run): the whole chain of steps against the real
// data, its verdict, and the database left exactly as it was: catalogue,
// every row, the version and, on MariaDB, no journal and no scratch copy
// left behind. A real upgrade afterwards goes as the rehearsal said; a
// rehearsal killed half-way changes nothing either.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "catalogue.h"
#include "fixtures.h"
#include "scratch_in_memory.h"
#include "session/globals.h"
#include "start_versions.h"
#include "support/lock_table_fill.h"

namespace {

using upgradetest::RunUpgrade;
using upgradetest::WithoutBanner;

const upgradetest::BaselineNodes kNodes{.firstNode = 100, .nodes = 3, .itemsPerNode = 2, .rowsPerItem = 3};

// A user's event with the code that step 238 -> 239 inserts.
const char kClashingEvent[] =
    "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
    "(56,'USER_EVENT',0,1,'mine','mine')";

std::string CopiesLeft(tvtest::TestDatabase &db) {
  if (db.engine() != "mysql") return "";
  return db.rows(
      "SELECT schema_name FROM information_schema.schemata WHERE schema_name LIKE '%\\_tvdbmgr\\_rehearsal'");
}

class Rehearsal : public ::testing::TestWithParam<std::string> {
  upgradetest::ScratchInMemory scratch_;
};

TEST_P(Rehearsal, SaysWhatTheUpgradeWouldDoAndChangesNothing) {
  const std::string engine = GetParam();
  const struct {
    const char *name;
    int start;
    bool clash;
  } kCases[] = {
      {"a clean upgrade of the whole chain", 14, false},
      {"a step that fails on a user's row", 236, true},
  };
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.name);
    if (std::string missing = upgradetest::MissingStepBetween(c.start, kToolSchemaVersion); !missing.empty())
      GTEST_SKIP() << missing;
    auto db = upgradetest::DatabaseAtVersion(engine, c.start, {.nodes = kNodes});
    if (!db) return;
    if (c.clash) db->exec(kClashingEvent);
    const upgradetest::DatabaseState before = upgradetest::TakeState(*db);

    tvtest::RunResult r = RunUpgrade(*db, {"-f", "-n"}, {"TVDBMGR_STRICT_EXIT=1"});
    const std::string out = WithoutBanner(r.out);
    EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(*db)), "");
    EXPECT_EQ(CopiesLeft(*db), "");
    if (!c.clash) {
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_TRUE(std::regex_search(out, std::regex("\nRehearsal: the upgrade from version 14 to " +
                                                    std::to_string(kToolSchemaVersion) +
                                                    " would succeed \\([0-9]+ steps, "
                                                    "[0-9]+\\.[0-9] s\\)\\. Nothing was changed\\.\n$")))
          << out;
      r = RunUpgrade(*db, {"-f"});
      EXPECT_TRUE(r.out.ends_with("Database upgrade succeeded\n")) << r.out;
      continue;
    }
    EXPECT_NE(r.exitCode, 0);
    // The failure as the real run reports it, then once more after the
    // verdict.
    const size_t verdict = out.find("Rehearsal: step 238 -> 239 would fail:\nSQL query failed (");
    ASSERT_NE(verdict, std::string::npos) << out;
    const std::string report = out.substr(verdict + out.substr(verdict).find('\n') + 1);
    EXPECT_TRUE(
        report.ends_with("INSERT INTO event_cfg (event_code,event_name,severity,flags,message,"
                         "description) VALUES (56,'SYS_IP_ADDRESS_CHANGED',1,1,'Primary IP address "
                         "changed from %2 to %1','Generated when primary IP address changed (usually "
                         "because of primary name change or DNS change).#0D#0AParameters:#0D#0A   1) "
                         "New IP address#0D#0A   2) Old IP address#0D#0A   3) Primary host name')\n"
                         "Nothing was changed.\n"))
        << out;
    EXPECT_NE(out.substr(0, verdict).find(report.substr(0, report.size() - 21)), std::string::npos) << out;

    r = RunUpgrade(*db, {"-f"});
    const std::string real = WithoutBanner(r.out);
    EXPECT_NE(real.find("Upgrading from version 238 to 239\n" + report.substr(0, report.size() - 21) +
                        "Rolling back last stage due to upgrade errors...\n"),
              std::string::npos)
        << real;
    EXPECT_TRUE(real.ends_with("Database upgrade failed\n")) << real;
    EXPECT_EQ(DBGetSchemaVersion(db->handle()), 238);
  }
}

// Killed half-way through, by the time a whole rehearsal took: the
// database is as before, and the next rehearsal and the upgrade run as
// if nothing had happened (on MariaDB past the copy left behind).
TEST_P(Rehearsal, KilledRehearsalChangesNothing) {
  const std::string engine = GetParam();
  if (std::string missing = upgradetest::MissingStepBetween(14, kToolSchemaVersion); !missing.empty())
    GTEST_SKIP() << missing;
  const upgradetest::BaselineNodes network{
      .firstNode = 100, .nodes = engine == "mysql" ? 5 : 200, .itemsPerNode = 4, .rowsPerItem = 10};
  auto db = upgradetest::DatabaseAtVersion(engine, 14, {.nodes = network});
  if (!db) return;
  const upgradetest::DatabaseState before = upgradetest::TakeState(*db);
  const auto start = std::chrono::steady_clock::now();
  tvtest::RunResult r = RunUpgrade(*db, {"-f", "-n"});
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(r.out.ends_with("Nothing was changed.\n")) << r.out;

  ASSERT_TRUE(tvtest::RunToolAndKill({"-f", "-n", "-c", db->configPath(), "upgrade"},
                                     [&] { std::this_thread::sleep_for(took / 2); }));
  db->reconnect();
  ASSERT_TRUE(tvtest::WaitForOtherSessions(*db)) << "the killed rehearsal's session did not end";
  EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(*db)), "");
  if (engine == "mysql") {
    EXPECT_NE(CopiesLeft(*db), "") << "killed before it made its copy";
  }

  r = RunUpgrade(*db, {"-f", "-n"});
  EXPECT_NE(r.out.find("Rehearsal: the upgrade from version 14 to " + std::to_string(kToolSchemaVersion) +
                       " would succeed ("),
            std::string::npos)
      << r.out;
  EXPECT_EQ(CopiesLeft(*db), "");
  EXPECT_EQ(upgradetest::StateDifferences(before, upgradetest::TakeState(*db)), "");

  r = RunUpgrade(*db, {"-f"});
  EXPECT_TRUE(r.out.ends_with("Database upgrade succeeded\n")) << r.out;
}

// In one transaction every table of the chain stays locked to its end:
// a chain whose locks would not fit in PostgreSQL's lock table is not
// started, and the setting to raise is named.
TEST(RehearsalLocks, ChainThatDoesNotFitIsRefused) {
  auto db = upgradetest::DatabaseAtVersion("pgsql", upgradetest::LastStep().from);
  if (!db) return;
  tvtest::AddIndexedDataTables(*db, tvtest::ServerLockTable(*db).locks() / 3);
  const tvtest::RunResult r = RunUpgrade(*db, {"-f", "-n"});
  const std::string out = WithoutBanner(r.out);
  EXPECT_TRUE(out.starts_with("Upgrading database...\nERROR: the rehearsal of this upgrade locks about "))
      << out;
  EXPECT_NE(out.find("; raise max_locks_per_transaction to at least "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Rehearsal: the upgrade could not be rehearsed. Nothing was changed.\n")) << out;
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), upgradetest::LastStep().from);
}

// An account that may change its database but create no other cannot
// make the scratch copy: refused, naming the privilege.
TEST(RehearsalCopy, AccountWithoutCreatePrivilegeIsRefused) {
  const char *socket = getenv("TVDBMGR_TEST_MY_SOCKET");
  if (socket == nullptr || tvtest::ViaOdbc()) GTEST_SKIP() << "no socket for MariaDB's root";
  auto db = upgradetest::DatabaseAtVersion("mysql", upgradetest::LastStep().from);
  if (!db) return;
  db_driver_t driver =
      DBLoadDriver("mysql", (std::string("socket=") + socket).c_str(), false, nullptr, nullptr);
  ASSERT_NE(driver, nullptr);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_handle_t root = DBConnect(driver, "localhost", "mysql", "root", "", "", errorText);
  ASSERT_NE(root, nullptr) << errorText;
  const std::string name = db->value("SELECT DATABASE()");
  const std::string account = "'tvnocreate'@'127.0.0.1'";
  DBQuery(root, ("DROP USER IF EXISTS " + account).c_str());
  ASSERT_TRUE(DBQuery(root, ("CREATE USER " + account + " IDENTIFIED BY 'tvnocreate'").c_str()));
  ASSERT_TRUE(DBQuery(root, ("GRANT ALL ON `" + name + "`.* TO " + account).c_str()));

  std::ifstream in(db->configPath());
  std::string config, line;
  while (std::getline(in, line))
    if (!line.starts_with("DBLogin") && !line.starts_with("DBPassword")) config += line + "\n";
  const std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/tvdbmgr.conf", config + "DBLogin = tvnocreate\nDBPassword = tvnocreate\n");
  const tvtest::RunResult r =
      tvtest::RunTool({"-n", "-c", dir + "/tvdbmgr.conf", "upgrade"}, "", {"NO_COLOR=1"});
  EXPECT_NE(r.out.find("ERROR: the rehearsal upgrades a scratch copy of the database, `" + name +
                       "_tvdbmgr_rehearsal`, and this account lacks the CREATE privilege for it ("),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(r.out.ends_with("Rehearsal: the upgrade could not be rehearsed. Nothing was changed.\n"))
      << r.out;
  db->reconnect();
  EXPECT_EQ(DBGetSchemaVersion(db->handle()), upgradetest::LastStep().from);
  DBQuery(root, ("DROP USER " + account).c_str());
  DBDisconnect(root);
  DBUnloadDriver(driver);
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, Rehearsal, ::testing::ValuesIn(tvtest::AllEngines()),
                         [](const auto &info) { return info.param; });

}  // namespace
