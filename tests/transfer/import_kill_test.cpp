// kill -9 of an import at random moments: the database holds either
// what it held before or the whole file, never a mixture, whichever
// phase the kill hits (clearing, loading, collected-data tables, the
// commit or the swap). TVDBMGR_IMPORT_KILLS sets the number of kills
// (default 20), TVDBMGR_IMPORT_KILL_SEED the random sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "transfer_fixture.h"

namespace {

int EnvNumber(const char *name, int fallback) {
  const char *value = getenv(name);
  return value != nullptr && *value != 0 ? atoi(value) : fallback;
}

// A populated export file whose collected-data table of node 101 holds
// rows enough for the import to take a while. The second variant has
// other values there, no rows in two tables, and node 103 in place of
// node 102.
std::string MakeFile(const std::string &dir, bool second) {
  auto source = tvtest::OpenOrSkip("sqlite");
  if (!source || !tvtest::InitSchemaFast(*source)) return "";
  tvtest::Populate(*source, 2000);
  source->exec(std::string("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<60000) "
                           "INSERT INTO idata_101 SELECT i%50,i,'") +
               (second ? "second " : "first ") + "'||i FROM n");
  if (second)
    source->execAll({"DELETE FROM report_results", "DELETE FROM actions", "DELETE FROM nodes WHERE id=102",
                     "DROP TABLE idata_102", "INSERT INTO nodes (id,community) VALUES (103,'second')",
                     "CREATE TABLE idata_103 (item_id integer not null,idata_timestamp integer not null,"
                     "idata_value varchar(255) null)",
                     "INSERT INTO idata_103 VALUES (1,2,'only in the second')"});
  const std::string file = dir + (second ? "/second.db" : "/first.db");
  tvtest::RunResult r = tvtest::Tool(*source, {"export", file});
  EXPECT_TRUE(r.out.ends_with("Database export complete.\n")) << r.out;
  return file;
}

class ImportKill : public ::testing::TestWithParam<std::string> {};

TEST_P(ImportKill, LeavesTheOldOrTheNewDatabase) {
  const std::string dir = tvtest::TempDir();
  const std::string files[2] = {MakeFile(dir, false), MakeFile(dir, true)};
  auto db = tvtest::OpenOrSkip(GetParam());
  if (!db || files[0].empty() || files[1].empty() || !tvtest::InitSchemaFast(*db)) return;

  // The two states, and how long a whole import takes.
  tvtest::Snapshot states[2];
  std::chrono::microseconds longest{0};
  for (int i = 0; i < 2; i++) {
    auto start = std::chrono::steady_clock::now();
    tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", files[i]});
    longest = std::max(longest, std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - start));
    ASSERT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out;
    db->reconnect();
    states[i] = tvtest::TakeSnapshot(*db);
  }
  ASSERT_FALSE(states[0] == states[1]);

  const int kills = EnvNumber("TVDBMGR_IMPORT_KILLS", 20);
  const unsigned seed = static_cast<unsigned>(EnvNumber("TVDBMGR_IMPORT_KILL_SEED", std::random_device{}()));
  SCOPED_TRACE("TVDBMGR_IMPORT_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  // A little past the end too: a kill after the last word changes nothing.
  std::uniform_int_distribution<long> moment(0, longest.count() * 11 / 10);
  int current = 1, replaced = 0;
  for (int k = 0; k < kills; k++) {
    const int other = 1 - current;
    const std::chrono::microseconds delay(moment(random));
    ASSERT_TRUE(tvtest::RunToolAndKill({"-f", "-c", db->configPath(), "import", files[other]},
                                       [&] { std::this_thread::sleep_for(delay); }));
    db->reconnect();
    EXPECT_TRUE(tvtest::WaitForOtherSessions(*db)) << "the killed import's session did not end";
    const tvtest::Snapshot now = tvtest::TakeSnapshot(*db);
    const bool old = now == states[current], complete = now == states[other];
    ASSERT_TRUE(old || complete) << "kill " << k << " left a mixture of the two databases";
    if (complete) replaced++;
    current = complete ? other : current;
  }
  printf("%d kills: %d left the old database, %d the new one\n", kills, kills - replaced, replaced);

  // Whatever a killed import left behind does not get in the way.
  tvtest::RunResult r = tvtest::Tool(*db, {"-f", "import", files[0]});
  EXPECT_TRUE(r.out.ends_with("Database import complete.\n")) << r.out;
  db->reconnect();
  EXPECT_TRUE(tvtest::TakeSnapshot(*db) == states[0]);
  if (GetParam() == "mysql") {
    EXPECT_EQ(db->value("SHOW TABLES LIKE 'tvdbmgr%'"), "<none>");
  }
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, ImportKill, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
