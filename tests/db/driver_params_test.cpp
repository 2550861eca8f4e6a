// The numbers of DBDrvParams on every driver, and the connect timeout
// each driver applies when the settings give none.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/db.h"
#include "db/db_driver.h"
#include "support/test_db.h"

namespace {

DbConnectParams WithOptions(const std::vector<std::pair<std::string, std::string>> &options) {
  DbConnectParams params{"127.0.0.1", "talvex_db", "talvex", "secret", "", options, false};
  return params;
}

// The reason each driver gives for its options; empty when it takes them.
std::string MysqlReason(const DbConnectParams &params) {
  MysqlOptions options;
  std::string error;
  return ReadMysqlOptions(params, options, error) ? "" : error;
}
std::string PgsqlReason(const DbConnectParams &params) {
  std::vector<std::pair<std::string, std::string>> keywords;
  std::string error;
  return PgsqlConnectKeywords(params, keywords, error) ? "" : error;
}
std::string OdbcReason(const DbConnectParams &params) {
  std::string connection, error;
  unsigned timeout;
  return OdbcConnectSettings(params, connection, timeout, error) ? "" : error;
}
// SQLite reads its options as it opens the file.
std::string SqliteReason(const DbConnectParams &params) {
  const std::string dir = tvtest::TempDir();
  DbConnectParams p = params;
  p.database = dir + "/t.db";
  p.createDatabase = true;
  std::string error;
  bool opened = SqliteConnect(p, error) != nullptr;
  std::filesystem::remove_all(dir);
  return opened ? "" : error;
}

TEST(DriverParameters, NumbersAreWholeNumbersOfTheirRangeOrRefusedByName) {
  const struct {
    const char *driver;
    std::string (*reason)(const DbConnectParams &);
    std::string key, value;
    const char *refusal;  // "" when the value is taken
  } cases[] = {
      {"MySQL", MysqlReason, "port", "33307", ""},
      {"MySQL", MysqlReason, "port", "65535", ""},
      {"MySQL", MysqlReason, "port", "notanumber", "from 1 to 65535, not \"notanumber\""},
      {"MySQL", MysqlReason, "port", "33307abc", "from 1 to 65535, not \"33307abc\""},
      {"MySQL", MysqlReason, "port", "0", "from 1 to 65535, not \"0\""},
      {"MySQL", MysqlReason, "port", "65536", "from 1 to 65535, not \"65536\""},
      {"MySQL", MysqlReason, "port", "", "from 1 to 65535, not \"\""},
      {"MySQL", MysqlReason, "port", "+3306", "from 1 to 65535, not \"+3306\""},
      {"MySQL", MysqlReason, "port", "99999999999999999999999",
       "from 1 to 65535, not \"99999999999999999999999\""},
      {"MySQL", MysqlReason, "connect_timeout", "5", ""},
      {"MySQL", MysqlReason, "connect_timeout", "5s", "from 1 to 3600, not \"5s\""},
      {"MySQL", MysqlReason, "connect_timeout", "-1", "from 1 to 3600, not \"-1\""},
      {"PostgreSQL", PgsqlReason, "port", "5433", ""},
      {"PostgreSQL", PgsqlReason, "port", "5433,5434", ""},
      {"PostgreSQL", PgsqlReason, "port", "5433,x", "from 1 to 65535, not \"x\""},
      {"PostgreSQL", PgsqlReason, "port", "notanumber", "from 1 to 65535, not \"notanumber\""},
      {"PostgreSQL", PgsqlReason, "connect_timeout", "0", "from 1 to 3600, not \"0\""},
      {"PostgreSQL", PgsqlReason, "connect_timeout", "10 ", "from 1 to 3600, not \"10 \""},
      {"PostgreSQL", PgsqlReason, "keepalives", "2", "from 0 to 1, not \"2\""},
      {"PostgreSQL", PgsqlReason, "keepalives_idle", "60", ""},
      {"PostgreSQL", PgsqlReason, "tcp_user_timeout", "1e3", "from 0 to 2147483647, not \"1e3\""},
      {"PostgreSQL", PgsqlReason, "sslmode", "require", ""},
      {"ODBC", OdbcReason, "Port", "5433", ""},
      {"ODBC", OdbcReason, "PORT", "54x", "from 1 to 65535, not \"54x\""},
      {"ODBC", OdbcReason, "connect_timeout", "later", "from 1 to 3600, not \"later\""},
      {"ODBC", OdbcReason, "Protocol", "7.4", ""},
      {"ODBC", OdbcReason, "CONN_TIMEOUT", "0", "from 1 to 3600, not \"0\""},
      {"SQLite", SqliteReason, "busy_timeout", "0", ""},
      {"SQLite", SqliteReason, "busy_timeout", "2147483647", ""},
      {"SQLite", SqliteReason, "busy_timeout", "10s", "from 0 to 2147483647, not \"10s\""},
      {"SQLite", SqliteReason, "busy_timeout", "2147483648", "from 0 to 2147483647, not \"2147483648\""},
  };
  for (const auto &c : cases) {
    const std::string reason = c.reason(WithOptions({{c.key, c.value}}));
    const std::string expected = *c.refusal == 0 ? ""
                                                 : std::string(c.driver) + " driver parameter \"" + c.key +
                                                       "\" must be a number " + c.refusal;
    EXPECT_EQ(reason, expected) << c.driver << " " << c.key << "=" << c.value;
  }
}

TEST(DriverParameters, ConnectTimeoutIsThirtySecondsUnlessSet) {
  MysqlOptions mysql;
  std::string error;
  ASSERT_TRUE(ReadMysqlOptions(WithOptions({{"port", "3307"}}), mysql, error)) << error;
  EXPECT_EQ(mysql.connectTimeout, 30u);
  ASSERT_TRUE(ReadMysqlOptions(WithOptions({{"connect_timeout", "7"}}), mysql, error)) << error;
  EXPECT_EQ(mysql.connectTimeout, 7u);

  using Keywords = std::vector<std::pair<std::string, std::string>>;
  Keywords keywords;
  ASSERT_TRUE(PgsqlConnectKeywords(WithOptions({{"port", "5433"}}), keywords, error)) << error;
  EXPECT_EQ(std::count(keywords.begin(), keywords.end(), Keywords::value_type("connect_timeout", "30")), 1);
  ASSERT_TRUE(PgsqlConnectKeywords(WithOptions({{"connect_timeout", "7"}}), keywords, error)) << error;
  EXPECT_EQ(
      std::count_if(keywords.begin(), keywords.end(), [](auto &k) { return k.first == "connect_timeout"; }),
      1);
  EXPECT_EQ(keywords.back(), Keywords::value_type("connect_timeout", "7"));

  std::string connection;
  unsigned timeout = 0;
  ASSERT_TRUE(OdbcConnectSettings(WithOptions({{"Port", "5433"}}), connection, timeout, error)) << error;
  EXPECT_EQ(timeout, 30u);
  ASSERT_TRUE(OdbcConnectSettings(WithOptions({{"Connect_Timeout", "7"}}), connection, timeout, error))
      << error;
  EXPECT_EQ(timeout, 7u);
  // The timeout is the driver manager's, not a keyword of the ODBC driver.
  EXPECT_EQ(connection, "DSN=talvex_db;UID=talvex;PWD=secret");
  // MariaDB's driver ignores the login timeout and gets its own keyword.
  const struct {
    std::string database;
    std::vector<std::pair<std::string, std::string>> options;
    std::string connection;
  } cases[] = {
      {"Driver={MariaDB Unicode};Server=h",
       {},
       "Driver={MariaDB Unicode};Server=h;UID=talvex;PWD=secret;CONN_TIMEOUT=30"},
      {"Driver={MariaDB Unicode};Server=h",
       {{"connect_timeout", "7"}},
       "Driver={MariaDB Unicode};Server=h;UID=talvex;PWD=secret;CONN_TIMEOUT=7"},
      {"Driver={MariaDB Unicode};Server=h",
       {{"CONN_TIMEOUT", "5"}},
       "Driver={MariaDB Unicode};Server=h;UID=talvex;PWD=secret;CONN_TIMEOUT=5"},
      {"Driver=/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so;Server=h",
       {},
       "Driver=/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so;Server=h;UID=talvex;PWD=secret;CONN_TIMEOUT=30"},
      {"Driver={PostgreSQL Unicode};Server=h",
       {},
       "Driver={PostgreSQL Unicode};Server=h;UID=talvex;PWD=secret"},
  };
  for (const auto &c : cases) {
    DbConnectParams params = WithOptions(c.options);
    params.database = c.database;
    ASSERT_TRUE(OdbcConnectSettings(params, connection, timeout, error)) << error;
    EXPECT_EQ(connection, c.connection);
  }
}

}  // namespace
