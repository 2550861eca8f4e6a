// Settings of a server or cluster that refuse what an import has to do
// are named in one message that says which setting refuses what, instead
// of the server's bare error. They are set globally, so on a Galera node
// of the test's own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "support/own_mariadb.h"
#include "transfer_fixture.h"

namespace {

TEST(ClusterSettings, ImportNamesTheSettingThatRefusesIt) {
  tvtest::OwnMariadb server(tvtest::OwnMariadb::Kind::kGaleraNode);
  if (!tvtest::ConfiguredOrSkip(!server.port().empty(), "a Galera node of the test's own: " + server.error()))
    return;
  std::string error;
  auto db = tvtest::TestDatabase::CreateOn("mysql", server.port(), error);
  ASSERT_TRUE(db) << error;
  ASSERT_TRUE(tvtest::InitSchemaFast(*db));
  const std::string dir = tvtest::TempDir();
  const std::string file = tvtest::MakeExportFile(dir);
  const std::string before = db->value("SELECT count(*) FROM object_properties");
  // The first table of the import, config, is one transaction of this
  // many rows.
  std::string configRows;
  {
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_exec(
        raw, "SELECT count(*) FROM config",
        [](void *out, int, char **values, char **) {
          *static_cast<std::string *>(out) = values[0];
          return 0;
        },
        &configRows, nullptr);
    sqlite3_close(raw);
  }

  const struct {
    const char *set;
    const char *reset;
    std::string message;
  } cases[] = {
      {"innodb_force_primary_key=1", "innodb_force_primary_key=0",
       "ERROR: the server refuses tables without a primary key (innodb_force_primary_key is ON). The "
       "collected-data tables and some tables of the upgrade steps have none; set innodb_force_primary_key=OFF "
       "while tvdbmgr runs.\n"},
      {"wsrep_mode='REQUIRED_PRIMARY_KEY'", "wsrep_mode=''",
       "ERROR: the cluster refuses tables without a primary key (wsrep_mode includes REQUIRED_PRIMARY_KEY). "
       "The collected-data tables and some tables of the upgrade steps have none; take REQUIRED_PRIMARY_KEY out "
       "of wsrep_mode while tvdbmgr runs.\n"},
      {"wsrep_max_ws_rows=2", "wsrep_max_ws_rows=0",
       "ERROR: the cluster refuses transactions that write more than 2 rows (wsrep_max_ws_rows); this one went "
       "past it after 0 rows, with the statement that the cluster refused. A table of the import, a step of "
       "the upgrade and the check with its repairs each run in one transaction; set wsrep_max_ws_rows=0 (no "
       "limit) while tvdbmgr runs.\n"},
      {"wsrep_max_ws_size=1024", "wsrep_max_ws_size=2147483647",
       "ERROR: the cluster refuses transactions whose writeset exceeds 1024 bytes (wsrep_max_ws_size); this "
       "one, of " +
           configRows +
           " rows, went past that limit. A table of the import, a step of the upgrade and the check "
           "with its repairs each run in one transaction; raise wsrep_max_ws_size (at most 2147483647) while "
           "tvdbmgr runs.\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.set);
    ASSERT_TRUE(db->exec(std::string("SET GLOBAL ") + c.set));
    const tvtest::RunResult run = tvtest::Tool(*db, {"-f", "import", file});
    db->exec(std::string("SET GLOBAL ") + c.reset);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("Database import failed.\n")) << run.out;
    EXPECT_EQ(db->value("SELECT count(*) FROM object_properties"), before);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
