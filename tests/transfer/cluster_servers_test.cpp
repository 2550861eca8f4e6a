// The clustered servers: a PostgreSQL hot standby or a read-only MariaDB,
// where every command that may change the database is refused before it
// starts and export still works, and a Galera cluster, whose nodes an import leaves equal
// and which refuses -M.
#include <gtest/gtest.h>

#include <filesystem>

#include "session/globals.h"
#include "support/own_mariadb.h"
#include "transfer_fixture.h"

namespace {

using tvtest::kBanner;

// Every command that may change the database, run on standby, is refused
// before it starts and changes nothing; export works there.
void ExpectRefusedButExported(tvtest::TestDatabase &standby, const std::string &dir) {
  const std::string file = tvtest::MakeExportFile(dir);
  const std::string before = tvtest::TableChecksums(standby);
  const std::string script = dir + "/script.sql";
  tvtest::WriteFile(script, "UPDATE config SET var_value='changed' WHERE var_name='DBLockStatus';\n");
  const std::vector<std::string> commands[] = {
      {"init", tvtest::SqlDir() + "/dbinit_" + standby.engine() + ".sql"},
      {"batch", script},
      {"upgrade"},
      {"check"},
      {"import", file},
      {"reindex"},
      {"unlock"},
  };
  for (const std::vector<std::string> &command : commands) {
    std::vector<std::string> args = {"-f"};
    args.insert(args.end(), command.begin(), command.end());
    const tvtest::RunResult r = tvtest::Tool(standby, args);
    EXPECT_EQ(r.exitCode, 5) << command[0];
    EXPECT_EQ(r.out, kBanner) << command[0];
    EXPECT_EQ(r.err, "tvdbmgr: the database is a read-only standby; run tvdbmgr against the primary\n")
        << command[0];
  }
  EXPECT_EQ(tvtest::TableChecksums(standby), before);

  const tvtest::RunResult exported = tvtest::Tool(standby, {"export", dir + "/standby.db"});
  EXPECT_EQ(exported.exitCode, 0);
  EXPECT_TRUE(exported.out.ends_with("Database export complete.\n")) << exported.out << exported.err;
}

TEST(PgStandby, RefusesEveryChangingCommandAndExports) {
  if (!tvtest::ConfiguredOrSkip(!tvtest::PgStandbyPort().empty(), "a PostgreSQL standby")) return;
  auto primary = tvtest::OpenOrSkip("pgsql");
  if (!primary || !tvtest::InitSchemaFast(*primary)) return;
  ASSERT_TRUE(tvtest::WaitForStandbyReplay());
  auto standby = primary->reachedOn(tvtest::PgStandbyPort());
  ASSERT_TRUE(standby);
  const std::string dir = tvtest::TempDir();
  ExpectRefusedButExported(*standby, dir);
  std::filesystem::remove_all(dir);
}

// read_only counts for every account: this server has no grant tables,
// so the tool's account has SUPER and could write.
TEST(ReadOnlyMariadb, RefusesEveryChangingCommandAlsoToASuperAccount) {
  tvtest::OwnMariadb server;
  if (!tvtest::ConfiguredOrSkip(!server.port().empty(), "a MariaDB of the test's own: " + server.error()))
    return;
  std::string error;
  auto db = tvtest::TestDatabase::CreateOn("mysql", server.port(), error);
  ASSERT_TRUE(db) << error;
  if (!tvtest::InitSchemaFast(*db)) return;
  db->exec("SET GLOBAL read_only=ON");
  const std::string dir = tvtest::TempDir();
  ExpectRefusedButExported(*db, dir);
  std::filesystem::remove_all(dir);
}

TEST(Galera, ImportOnOneNodeLeavesEveryNodeEqualAndMyIsamIsRefused) {
  const std::string dir = tvtest::TempDir();
  const std::string file = tvtest::MakeExportFile(dir);
  auto db = tvtest::OpenOnGaleraOrSkip();
  if (file.empty() || !db || !tvtest::InitSchemaFast(*db)) return;

  const tvtest::RunResult imported = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_EQ(imported.exitCode, 0);
  EXPECT_TRUE(imported.out.ends_with("Database import complete.\n")) << imported.out << imported.err;
  const std::string sums = tvtest::TableChecksums(*db);
  EXPECT_NE(sums.find("idata_"), std::string::npos) << sums;
  for (const std::string &port : tvtest::GaleraPorts()) {
    auto node = db->reachedOn(port);
    ASSERT_TRUE(node);
    EXPECT_EQ(tvtest::TableChecksums(*node), sums) << "node on port " << port;
  }

  // MyISAM tables are not replicated: the other nodes would keep them
  // empty. Refused before anything changes.
  db->exec("UPDATE metadata SET var_value='" + std::to_string(kToolSchemaVersion - 1) +
           "' WHERE var_name='SchemaVersion'");
  const std::string before = tvtest::TableChecksums(*db);
  const std::vector<std::string> commands[] = {{"upgrade"}, {"init", tvtest::SqlDir() + "/dbinit_mysql.sql"}};
  for (const std::vector<std::string> &command : commands) {
    std::vector<std::string> args = {"-M", "-f"};
    args.insert(args.end(), command.begin(), command.end());
    const tvtest::RunResult r = tvtest::Tool(*db, args);
    EXPECT_EQ(r.exitCode, 5) << command[0];
    EXPECT_EQ(r.out, kBanner) << command[0];
    EXPECT_NE(r.err.find("-M asks for MyISAM tables, which a Galera cluster does not replicate"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(tvtest::TableChecksums(*db), before);
  std::filesystem::remove_all(dir);
}

}  // namespace
