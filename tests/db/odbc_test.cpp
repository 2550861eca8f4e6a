// The ODBC driver against PostgreSQL and MariaDB through their ODBC
// drivers (data sources tvtest_pg and tvtest_my), checked against what
// the native drivers see in the same database.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "db/db.h"
#include "support/test_db.h"

namespace {

std::string User() { return tvtest::TestUser(); }
std::string Password() { return tvtest::TestPassword(); }
std::string Server(const std::string &engine) { return tvtest::ServerOf(engine); }
std::string Dsn(const std::string &engine) { return engine == "pgsql" ? "tvtest_pg" : "tvtest_my"; }

// A connection through ODBC; closed with its owner.
struct OdbcConnection {
  db_driver_t driver = DBLoadDriver("odbc", "", false, nullptr, nullptr);
  db_handle_t handle = nullptr;
  char error[DBDRV_MAX_ERROR_TEXT] = "";
  OdbcConnection(const std::string &server, const std::string &name, const std::string &login,
                 const std::string &password) {
    handle = DBConnect(driver, server.c_str(), name.c_str(), login.c_str(), password.c_str(), "", error);
  }
  ~OdbcConnection() {
    if (handle != nullptr) DBDisconnect(handle);
    DBUnloadDriver(driver);
  }
};

class Odbc : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (db == nullptr) return;
    database = db->value(GetParam() == "pgsql" ? "SELECT current_database()" : "SELECT database()");
    odbc = std::make_unique<OdbcConnection>(
        Server(GetParam()), "DSN=" + Dsn(GetParam()) + ";DATABASE=" + database, User(), Password());
    ASSERT_NE(odbc->handle, nullptr) << odbc->error;
    h = odbc->handle;
  }
  std::unique_ptr<tvtest::TestDatabase> db;  // the native view of the same database
  std::string database;
  std::unique_ptr<OdbcConnection> odbc;
  db_handle_t h = nullptr;
};

TEST_P(Odbc, EveryFormOfTheSettingsReachesTheEngineBehindIt) {
  if (!db) return;
  const int engine = GetParam() == "pgsql" ? DB_SYNTAX_PGSQL : DB_SYNTAX_MYSQL;
  EXPECT_EQ(DBGetEngine(h), engine);
  const std::string driver = GetParam() == "pgsql" ? "PostgreSQL Unicode" : "MariaDB Unicode";
  const struct {
    std::string server, name, login, password;
  } forms[] = {
      // A data source name alone, the rest from the settings.
      {Server(GetParam()), Dsn(GetParam()), User(), Password()},
      // A connection string without a data source.
      {"",
       "DRIVER={" + driver + "};SERVER=" + Server(GetParam()) + ";PORT=" + tvtest::PortOf(GetParam()) +
           ";DATABASE=" + database,
       User(), Password()},
      // The string's own UID and PWD win over the settings.
      {Server(GetParam()), "DSN=" + Dsn(GetParam()) + ";UID=" + User() + ";PWD={" + Password() + "}",
       "nobody", "wrong"},
  };
  for (const auto &f : forms) {
    OdbcConnection c(f.server, f.name, f.login, f.password);
    ASSERT_NE(c.handle, nullptr) << f.name << ": " << c.error;
    EXPECT_EQ(DBGetEngine(c.handle), engine) << f.name;
    std::string one;
    EXPECT_TRUE(DBTakeFirstValue(DBSelect(c.handle, "SELECT 1"), one));
    EXPECT_EQ(one, "1");
  }
}

// Texts travel as UTF-16 and back: they must come back byte for byte,
// whatever the road in and out, and the native driver must see the same.
TEST_P(Odbc, TextsTravelExactly) {
  if (!db) return;
  const bool pg = GetParam() == "pgsql";
  db->exec(std::string("CREATE TABLE t (id integer not null, v ") + (pg ? "text" : "longtext") +
           ", PRIMARY KEY(id))");
  std::string longText;
  for (int i = 0; longText.size() < 150000; i++)
    longText += "line " + std::to_string(i) + " caf\xc3\xa9 \xf0\x9f\x98\x80\n";
  const std::string texts[] = {"",
                               "it's \"quoted\" \\ back\\slash",
                               "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 \xf0\x90\x8d\x88",
                               "{fn UCASE('x')} ? ?? :name $1 %s",
                               "tab\tline\nbreak\r\n\x01\x1f\x7f",
                               longText};
  char err[DBDRV_MAX_ERROR_TEXT];
  db_statement_t ins = DBPrepare(h, "INSERT INTO t (id,v) VALUES (?,?)", err);
  ASSERT_NE(ins, nullptr) << err;
  int id = 0;
  for (const std::string &t : texts) {
    DBBind(ins, 1, static_cast<int64_t>(++id));
    DBBind(ins, 2, t.data(), t.size());
    ASSERT_TRUE(DBExecute(ins, err)) << err;
    std::string literal = "INSERT INTO t (id,v) VALUES (" + std::to_string(100 + id) + "," +
                          DBPrepareString(h, t.c_str()).str() + ")";
    ASSERT_TRUE(DBQueryEx(h, literal.c_str(), err)) << err;
  }
  DBBind(ins, 1, static_cast<int64_t>(99));
  DBBind(ins, 2, nullptr);
  ASSERT_TRUE(DBExecute(ins, err)) << err;
  // Not UTF-8: refused before it reaches the engine, never sent as NULL.
  DBBind(ins, 1, static_cast<int64_t>(98));
  EXPECT_FALSE(DBBind(ins, 2, "\xc3(", 2));
  EXPECT_FALSE(DBExecute(ins, err));
  DBFreeStatement(ins);

  db_result_t all = DBSelectEx(h, "SELECT id,v FROM t ORDER BY id", err);
  ASSERT_NE(all, nullptr) << err;
  ASSERT_EQ(DBGetNumRows(all), 2 * static_cast<int>(std::size(texts)) + 1);
  db_async_result_t rows = DBAsyncSelectEx(h, "SELECT id,v FROM t ORDER BY id", err);
  ASSERT_NE(rows, nullptr) << err;
  for (int row = 0; DBFetch(rows); row++) {
    int rowId = DBGetFieldLong(all, row, 0);
    size_t length;
    const char *streamed = DBGetFieldAsyncData(rows, 1, &length);
    std::string native = db->value("SELECT v FROM t WHERE id=" + std::to_string(rowId));
    if (rowId == 99) {
      EXPECT_TRUE(DBIsFieldNull(all, row, 1));
      EXPECT_EQ(streamed, nullptr);
      EXPECT_EQ(native, "<null>");
      continue;
    }
    const std::string &expected = texts[(rowId % 100) - 1];
    char *buffered = DBGetField(all, row, 1, nullptr, 0);
    EXPECT_EQ(buffered, expected) << rowId;
    free(buffered);
    ASSERT_NE(streamed, nullptr) << rowId;
    EXPECT_EQ(std::string(streamed, length), expected) << rowId;
    EXPECT_EQ(native, expected) << rowId;
  }
  EXPECT_EQ(DBGetAsyncError(rows), nullptr);
  DBFreeAsyncResult(rows);
  DBFreeResult(all);
}

// A refused row undoes a load inside a transaction as a whole on
// PostgreSQL, as the native COPY does, and the transaction goes on.
TEST_P(Odbc, RefusedRowLeavesTheTransactionUsable) {
  if (!db) return;
  db->exec("CREATE TABLE t (id integer not null, v varchar(10), PRIMARY KEY(id))");
  db->exec("INSERT INTO t (id,v) VALUES (1,'kept')");
  char err[DBDRV_MAX_ERROR_TEXT];
  ASSERT_TRUE(DBBegin(h));
  ASSERT_TRUE(DBQueryEx(h, "INSERT INTO t (id,v) VALUES (2,'before')", err)) << err;
  const char *columns[] = {"id", "v"};
  db_bulk_t bulk = DBBulkBegin(h, "t", columns, 2, err);
  ASSERT_NE(bulk, nullptr) << err;
  bool ok = true;
  for (const char *id : {"10", "11", "1"}) {
    const char *values[] = {id, "x"};
    const size_t lengths[] = {strlen(id), 1};
    ok = ok && DBBulkAddRow(bulk, values, lengths, err);
  }
  ok = ok && DBBulkFinish(bulk, err);
  DBBulkFree(bulk);
  EXPECT_FALSE(ok);
  EXPECT_NE(err[0], 0);
  ASSERT_TRUE(DBQueryEx(h, "INSERT INTO t (id,v) VALUES (3,'after')", err)) << err;
  ASSERT_TRUE(DBCommit(h)) << DBGetLastError(h);
  const std::string kept = db->rows("SELECT id FROM t WHERE id < 10 ORDER BY id");
  EXPECT_EQ(kept, "1\n2\n3");
  if (GetParam() == "pgsql") {
    EXPECT_EQ(db->value("SELECT count(*) FROM t WHERE id >= 10"), "0");
  }
}

// The server ends the connection inside a transaction: every later call
// fails with a message, and the commit does not claim success.
TEST_P(Odbc, LostConnectionFailsTheCommit) {
  if (!db) return;
  const bool pg = GetParam() == "pgsql";
  db->exec("CREATE TABLE t (id integer)");
  std::string id;
  ASSERT_TRUE(DBTakeFirstValue(DBSelect(h, pg ? "SELECT pg_backend_pid()" : "SELECT CONNECTION_ID()"), id));
  char err[DBDRV_MAX_ERROR_TEXT];
  ASSERT_TRUE(DBBegin(h));
  ASSERT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err)) << err;
  db->exec(pg ? "SELECT pg_terminate_backend(" + id + ")" : "KILL " + id);
  err[0] = 0;
  EXPECT_FALSE(DBQueryEx(h, "INSERT INTO t (id) VALUES (2)", err));
  EXPECT_NE(err[0], 0);
  EXPECT_EQ(DBSelectEx(h, "SELECT id FROM t", err), nullptr);
  EXPECT_FALSE(DBCommit(h));
  EXPECT_NE(DBGetLastError(h)[0], 0);
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "0");
}

INSTANTIATE_TEST_SUITE_P(Servers, Odbc, ::testing::Values("pgsql", "mysql"));

// A failed connection ends the tool as it does with the native driver:
// exit code 4 and the driver's reason on the line that says so.
TEST(OdbcTool, FailedConnectionsEndAsWithTheNativeDriver) {
  // The server engines must answer, or the cases below prove nothing.
  if (!tvtest::OpenOrSkip("pgsql") || !tvtest::OpenOrSkip("mysql")) return;
  const std::string dir = tvtest::TempDir();
  const struct {
    const char *what;
    std::string settings;
    const char *reason;  // part of the driver's message
  } cases[] = {
      {"unknown data source", "DBDriver = odbc\nDBName = tvtest_nosuch\n", "Data source name not found"},
      {"wrong password (pg)", "DBDriver = odbc\nDBName = tvtest_pg\nDBLogin = tvtest\nDBPassword = wrong\n",
       "password authentication failed"},
      {"wrong password (my)", "DBDriver = odbc\nDBName = tvtest_my\nDBLogin = tvtest\nDBPassword = wrong\n",
       "Access denied"},
      {"no server (pg)",
       "DBDriver = odbc\nDBName = tvtest_pg\nDBDrvParams = Port=1\nDBLogin = tvtest\nDBPassword = tvtest\n",
       "onnection refused"},
      {"no server (my)",
       "DBDriver = odbc\nDBName = tvtest_my\nDBDrvParams = Port=1\nDBLogin = tvtest\nDBPassword = tvtest\n",
       "Can't connect"},
      // The same failures through the native drivers, for comparison.
      {"native wrong password",
       "DBDriver = pgsql\n" + tvtest::ServerSettings("pgsql") +
           "DBName = tvtest\nDBLogin = tvtest\nDBPassword = wrong\n",
       "password authentication failed"},
      {"native no server", "DBDriver = mysql\nDBServer = 127.0.0.1\nDBDrvParams = port=1\nDBName = tvtest\n",
       "Can't connect"},
  };
  for (const auto &c : cases) {
    const std::string config = dir + "/tvdbmgr.conf";
    tvtest::WriteFile(config, c.settings);
    tvtest::RunResult r = tvtest::RunTool({"-c", config, "unlock"});
    EXPECT_EQ(r.exitCode, 4) << c.what << "\n" << r.out;
    size_t line = r.out.find("Unable to connect to database ");
    ASSERT_NE(line, std::string::npos) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(c.reason, line), std::string::npos) << c.what << "\n" << r.out;
  }
  std::filesystem::remove_all(dir);
}

TEST(OdbcTool, PasswordWithSeparatorsReachesTheServer) {
  auto db = tvtest::OpenOrSkip("mysql");
  if (!db) return;
  // Spaces at either end are lost: MariaDB's ODBC driver trims them even
  // inside braces.
  const std::string password = "a;b}c{d=e f";
  for (const char *host : {"127.0.0.1", "localhost"}) {
    const std::string user = std::string("'tvodbc_sep'@'") + host + "'";
    db->exec("DROP USER IF EXISTS " + user);
    db->exec("CREATE USER " + user + " IDENTIFIED BY '" + password + "'");
  }
  // A database that every account may use.
  OdbcConnection c(Server("mysql"), "DSN=tvtest_my;DATABASE=information_schema", "tvodbc_sep", password);
  EXPECT_NE(c.handle, nullptr) << c.error;
  OdbcConnection wrong(Server("mysql"), "DSN=tvtest_my;DATABASE=information_schema", "tvodbc_sep", "a");
  EXPECT_EQ(wrong.handle, nullptr);
  for (const char *host : {"127.0.0.1", "localhost"})
    db->exec(std::string("DROP USER 'tvodbc_sep'@'") + host + "'");
}

}  // namespace
