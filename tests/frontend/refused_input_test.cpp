// Input taken whole or refused before the first statement: SQL files
// with a NUL byte, connection settings that are not what they seem. A
// refused input leaves the database exactly as it was.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "session/globals.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

std::vector<std::string> SortedLines(const std::string &text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The catalogue (columns with their types, indexes) and the rows of
// every table, rows sorted.
std::string Content(tvtest::TestDatabase &db) {
  db.reconnect();  // MySQL caches the catalogue per connection
  std::string tables, catalogue;
  if (db.engine() == "sqlite") {
    tables = "SELECT name FROM sqlite_master WHERE type='table'";
    catalogue = db.rows("SELECT type,name,tbl_name,sql FROM sqlite_master");
  } else if (db.engine() == "pgsql") {
    tables = "SELECT table_name FROM information_schema.tables WHERE table_schema=current_schema()";
    catalogue = db.rows(
                    "SELECT table_name,column_name,data_type,character_maximum_length,is_nullable "
                    "FROM information_schema.columns WHERE table_schema=current_schema()") +
                "\n" + db.rows("SELECT indexdef FROM pg_indexes WHERE schemaname=current_schema()");
  } else {
    tables = "SELECT table_name FROM information_schema.tables WHERE table_schema=database()";
    catalogue = db.rows(
                    "SELECT table_name,column_name,column_type,is_nullable FROM information_schema.columns "
                    "WHERE table_schema=database()") +
                "\n" +
                db.rows(
                    "SELECT table_name,index_name,seq_in_index,column_name,non_unique "
                    "FROM information_schema.statistics WHERE table_schema=database()");
  }
  std::string content;
  for (const std::string &line : SortedLines(catalogue)) content += line + "\n";
  for (const std::string &table : SortedLines(db.rows(tables))) {
    content += "rows of " + table + ":\n";
    for (const std::string &row : SortedLines(db.rows("SELECT * FROM " + table))) content += row + "\n";
  }
  return content;
}

// The database's own settings with DBDrvParams replaced by params.
std::string SettingsWithParams(const std::string &configPath, const std::string &params) {
  std::ifstream in(configPath);
  std::string settings;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("DBDrvParams", 0) != 0) settings += line + "\n";
  return settings + "DBDrvParams = " + params + "\n";
}

class RefusedInput : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(kToolSchemaVersion);
    db->exec("CREATE TABLE kept (id integer not null, v varchar(20), PRIMARY KEY(id))");
    db->exec("CREATE INDEX idx_kept_v ON kept(v)");
    db->exec("INSERT INTO kept (id,v) VALUES (1,'one')");
    db->exec("INSERT INTO kept (id,v) VALUES (2,'two')");
    dir = tvtest::TempDir();
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir;
};

// Each input, if it were taken, would change the database: the script
// empties and drops a table, or a wrong setting lets it run.
TEST_P(RefusedInput, LeavesTheDatabaseAsItWas) {
  if (!db) return;
  const std::string changes = "DELETE FROM kept;\nDROP TABLE kept;\n";
  const std::string nul =
      "DELETE FROM kept;\n\nDROP TABLE kept;" + std::string(1, '\0') + "\nDROP TABLE config;\n";
  const std::string script = dir + "/script.sql";
  struct Case {
    std::string what, settings, command, text;
    int exitCode;
    std::string out;  // after the banner; for a failed connection, the part after "as <login>: "
  };
  std::vector<Case> cases = {
      {"init script with a NUL byte", "", "init", nul, 0,
       "Initializing database...\nERROR: SQL command file " + script +
           " holds a NUL byte at line 3\nDatabase initialization failed\n"},
      {"batch file with a NUL byte", "", "batch", nul, 0,
       "ERROR: SQL command file " + script + " holds a NUL byte at line 3\n"},
  };
  const std::string engine = GetParam();
  const std::string port = engine == "sqlite" ? "" : tvtest::PortOf(engine);
  const std::vector<std::pair<std::string, std::string>> params =
      engine == "sqlite"
          ? std::vector<std::pair<std::string,
                                  std::string>>{{"busy_timeout=10s",
                                                 "SQLite driver parameter \"busy_timeout\" must be a number "
                                                 "from 0 to 2147483647, not \"10s\""}}
      : engine == "pgsql"
          ? std::vector<std::pair<
                std::string,
                std::
                    string>>{{"port=" + port + ";connect_timeout=-1",
                              "PostgreSQL driver parameter \"connect_timeout\" must be a number from 1 to 3600, not \"-1\""},
                             {"port=" + port + "x",
                              "PostgreSQL driver parameter \"port\" must be a number from 1 to 65535, not \"" +
                                  port + "x\""}}
          : std::vector<std::pair<std::string, std::string>>{
                {"port=" + port + "abc",
                 "MySQL driver parameter \"port\" must be a number from 1 to 65535, not \"" + port + "abc\""},
                {"port=notanumber",
                 "MySQL driver parameter \"port\" must be a number from 1 to 65535, not \"notanumber\""}};
  for (const auto &[param, reason] : params)
    cases.push_back({"DBDrvParams " + param, SettingsWithParams(db->configPath(), param), "batch", changes, 4,
                     reason + "\n"});

  const std::string before = Content(*db);
  for (const Case &c : cases) {
    tvtest::WriteFile(script, c.text);
    std::string config = db->configPath();
    if (!c.settings.empty()) tvtest::WriteFile(config = dir + "/changed.conf", c.settings);
    tvtest::RunResult r = tvtest::RunTool({"-c", config, c.command, script});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.out;
    if (c.exitCode == 4) {
      EXPECT_EQ(r.out.rfind(kBanner + "Unable to connect to database ", 0), 0u) << c.what << "\n" << r.out;
      EXPECT_EQ(r.out.substr(r.out.find(": ") + 2), c.out) << c.what;
    } else {
      EXPECT_EQ(r.out, kBanner + c.out) << c.what;
    }
    EXPECT_EQ(Content(*db), before) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, RefusedInput, ::testing::ValuesIn(tvtest::AllEngines()));

// An SQLite DBName under which no file would be kept: init would report
// success and store nothing anywhere.
TEST(RefusedSettings, SqliteNameThatIsNoFile) {
  const std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/init.sql", "CREATE TABLE users (id integer);");
  const struct {
    std::string name, reason;
  } cases[] = {
      {"", "DBName \"\" names no file: SQLite would keep the database in memory or in a temporary file"},
      {":memory:",
       "DBName \":memory:\" names no file: SQLite would keep the database in memory or in a temporary file"},
      {"file:" + dir + "/made.db?mode=memory",
       "DBName \"file:" + dir + "/made.db?mode=memory\" is a URI: give the path of the database file"},
      {"file:" + dir + "/made.db",
       "DBName \"file:" + dir + "/made.db\" is a URI: give the path of the database file"},
      {"FILE:made.db", "DBName \"FILE:made.db\" is a URI: give the path of the database file"},
  };
  for (const auto &c : cases) {
    tvtest::WriteFile(dir + "/t.conf", "DBDriver = sqlite\nDBName = " + c.name + "\n");
    tvtest::RunResult r = tvtest::RunTool({"-c", dir + "/t.conf", "init", dir + "/init.sql"});
    EXPECT_EQ(r.exitCode, 2) << c.name;
    EXPECT_EQ(r.out, kBanner + "Error loading configuration file\n") << c.name;
    EXPECT_EQ(r.err, "tvdbmgr: " + c.reason + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/made.db"));
  EXPECT_FALSE(std::filesystem::exists("made.db"));
  std::filesystem::remove_all(dir);
}

TEST(RefusedSettings, AConnectionSettingGivenTwiceIsNamedOnTheErrorStream) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->createVariableTables(kToolSchemaVersion);
  const std::string dir = tvtest::TempDir();
  const std::string own = tvtest::ReadFile(db->configPath());
  // The copy pasted last wins: the command runs on the database's own file.
  tvtest::WriteFile(dir + "/t.conf", "DBName = " + dir + "/other.db\n" + own);
  tvtest::RunResult r = tvtest::RunTool({"-c", dir + "/t.conf", "unlock"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBanner + "Database is not locked\n");
  EXPECT_EQ(r.err,
            "tvdbmgr: warning: " + dir +
                "/t.conf: DBName is set more than once in [server], on lines 1 and 3; the value of line 3 "
                "is used\n");
  std::filesystem::remove_all(dir);
}

// A server that accepts the connection and never answers: the tool gives
// up after the configured connect timeout instead of waiting forever.
TEST(RefusedSettings, SilentServerEndsAtTheConnectTimeout) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 16), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const std::string dir = tvtest::TempDir();
  const struct {
    std::string settings, reason;
  } cases[] = {
      {"DBDriver = pgsql\nDBDrvParams = port=" + port + ";connect_timeout=2\n", "timeout expired"},
      {"DBDriver = mysql\nDBDrvParams = port=" + port + ";connect_timeout=2\n", "handshake"},
      {"DBDriver = odbc\nDBName = Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port +
           ";Database=x\nDBDrvParams = connect_timeout=2\n",
       "timeout expired"},
      {"DBDriver = odbc\nDBName = Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + port +
           ";Database=x\nDBDrvParams = connect_timeout=2\n",
       "handshake"},
  };
  for (const auto &c : cases) {
    tvtest::WriteFile(dir + "/t.conf", c.settings);
    tvtest::RunResult r = tvtest::RunTool({"-c", dir + "/t.conf", "unlock"});
    EXPECT_EQ(r.exitCode, 4) << c.settings << r.out;
    EXPECT_NE(r.out.find(c.reason), std::string::npos) << c.settings << r.out;
  }
  close(listener);
  std::filesystem::remove_all(dir);
}

}  // namespace
