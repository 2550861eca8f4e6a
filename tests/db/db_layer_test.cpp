// The access layer against the real engines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "db/db.h"
#include "support/test_db.h"

namespace {

class DbLayer : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (db == nullptr) return;
    h = db->handle();
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  db_handle_t h = nullptr;
};

TEST_P(DbLayer, QuotedLiteralsStoreAnyTextExactly) {
  if (!db) return;
  if (GetParam() == "pgsql") {
    // A database set to the old backslash escaping must not change what
    // a quoted literal means.
    db->exec("ALTER DATABASE " + db->value("SELECT current_database()") +
             " SET standard_conforming_strings = off");
    db->reconnect();
    h = db->handle();
  }
  db->exec("CREATE TABLE t (id integer not null, v varchar(4000), PRIMARY KEY(id))");
  const std::string texts[] = {"",
                               "it's",
                               "''",
                               "back\\slash\\",
                               "\\'; DROP TABLE t; --",
                               "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
                               "tab\tline\nbreak\r\n%s %d #22",
                               "\x01\x02\x1f\x7f"};
  int id = 0;
  for (const std::string &t : texts) {
    std::string q = "INSERT INTO t (id,v) VALUES (" + std::to_string(++id) + "," +
                    DBPrepareString(h, t.c_str()).str() + ")";
    ASSERT_TRUE(db->exec(q));
    EXPECT_EQ(db->value("SELECT v FROM t WHERE id=" + std::to_string(id)), t);
  }
}

TEST_P(DbLayer, BufferedFieldsAreCutAndCopied) {
  if (!db) return;
  db->exec("CREATE TABLE t (a varchar(50), b integer, c varchar(10))");
  db->exec("INSERT INTO t (a,b,c) VALUES ('caf\xc3\xa9s', -2147483648, NULL)");
  char err[DBDRV_MAX_ERROR_TEXT];
  db_result_t r = DBSelectEx(h, "SELECT a,b,c FROM t", err);
  ASSERT_NE(r, nullptr) << err;
  ASSERT_EQ(DBGetNumRows(r), 1);
  char buf[5];
  EXPECT_STREQ(DBGetField(r, 0, 0, buf, sizeof(buf)), "caf");  // never half a character
  char *whole = DBGetField(r, 0, 0, nullptr, 0);
  EXPECT_STREQ(whole, "caf\xc3\xa9s");
  free(whole);
  EXPECT_EQ(DBGetFieldLong(r, 0, 1), INT32_MIN);
  EXPECT_TRUE(DBIsFieldNull(r, 0, 2));
  EXPECT_STREQ(DBGetField(r, 0, 2, buf, sizeof(buf)), "");
  EXPECT_STREQ(DBGetField(r, 5, 9, buf, sizeof(buf)), "");
  DBFreeResult(r);
}

TEST_P(DbLayer, UnbufferedSelectStreamsRowsAndNames) {
  if (!db) return;
  db->exec("CREATE TABLE t (id integer, v varchar(20))");
  ASSERT_TRUE(DBBegin(h));
  db_statement_t ins = DBPrepare(h, "INSERT INTO t (id,v) VALUES (?,?)", nullptr);
  ASSERT_NE(ins, nullptr);
  for (int i = 0; i < 1000; i++) {
    DBBind(ins, 1, static_cast<int64_t>(i));
    DBBind(ins, 2, i % 10 == 0 ? nullptr : "x'?");
    ASSERT_TRUE(DBExecute(ins, nullptr));
  }
  DBFreeStatement(ins);
  ASSERT_TRUE(DBCommit(h));

  char err[DBDRV_MAX_ERROR_TEXT];
  db_async_result_t r = DBAsyncSelectEx(h, "SELECT id,v FROM t ORDER BY id", err);
  ASSERT_NE(r, nullptr) << err;
  ASSERT_EQ(DBGetColumnCountAsync(r), 2);
  char name[8];
  EXPECT_STREQ(DBGetColumnNameAsync(r, 1, name, sizeof(name)), "v");
  int rows = 0, nulls = 0;
  while (DBFetch(r)) {
    EXPECT_EQ(DBGetFieldAsyncLong(r, 0), rows);
    size_t len;
    const char *v = DBGetFieldAsyncData(r, 1, &len);
    if (v == nullptr)
      nulls++;
    else
      EXPECT_EQ(std::string(v, len), "x'?");
    rows++;
  }
  EXPECT_EQ(DBGetAsyncError(r), nullptr);
  DBFreeAsyncResult(r);
  EXPECT_EQ(rows, 1000);
  EXPECT_EQ(nulls, 100);

  // Leaving a result early must leave the connection usable, inside a
  // transaction too.
  r = DBAsyncSelectEx(h, "SELECT id FROM t", err);
  ASSERT_NE(r, nullptr);
  ASSERT_TRUE(DBFetch(r));
  DBFreeAsyncResult(r);
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "1000");
  ASSERT_TRUE(DBBegin(h));
  EXPECT_TRUE(DBQueryEx(h, "DELETE FROM t WHERE id >= 500", err)) << err;
  r = DBAsyncSelectEx(h, "SELECT a.id FROM t a, t b", err);
  ASSERT_NE(r, nullptr) << err;
  ASSERT_TRUE(DBFetch(r));
  DBFreeAsyncResult(r);
  EXPECT_TRUE(DBQueryEx(h, "DELETE FROM t WHERE id >= 400", err)) << err;
  ASSERT_TRUE(DBCommit(h)) << DBGetLastError(h);
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "400");

  EXPECT_EQ(DBAsyncSelectEx(h, "SELECT nothing FROM missing_table", err), nullptr);
  EXPECT_NE(err[0], 0);
}

TEST_P(DbLayer, FailedStatementDoesNotPoisonTransaction) {
  if (!db) return;
  db->exec("CREATE TABLE t (id integer not null, PRIMARY KEY(id))");
  ASSERT_TRUE(DBBegin(h));
  char err[DBDRV_MAX_ERROR_TEXT];
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err)) << err;
  EXPECT_FALSE(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err));
  EXPECT_EQ(DBSelectEx(h, "SELECT x FROM no_such_table", err), nullptr);
  // Texts the parser rejects as a whole.
  EXPECT_FALSE(DBQueryEx(h, "SELEC 1", err));
  EXPECT_FALSE(DBQueryEx(h, "INSERT INTO t (id) VALUES ('open)", err));
  EXPECT_EQ(std::string(err).find("SAVEPOINT"), std::string::npos) << err;
  EXPECT_EQ(DBSelectEx(h, "SELECT FROM WHERE", err), nullptr);
  db_result_t r = DBSelectEx(h, "SELECT count(*) FROM t", err);
  ASSERT_NE(r, nullptr) << err;
  EXPECT_EQ(DBGetFieldLong(r, 0, 0), 1);
  DBFreeResult(r);
  db_statement_t s = DBPrepare(h, "INSERT INTO t (id) VALUES (?)", err);
  ASSERT_NE(s, nullptr) << err;
  DBBind(s, 1, static_cast<int64_t>(1));
  EXPECT_FALSE(DBExecute(s, err));
  DBBind(s, 1, static_cast<int64_t>(2));
  EXPECT_TRUE(DBExecute(s, err)) << err;
  DBFreeStatement(s);
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (3)", err)) << err;
  ASSERT_TRUE(DBCommit(h)) << DBGetLastError(h);
  EXPECT_EQ(db->rows("SELECT id FROM t ORDER BY id"), "1\n2\n3");

  ASSERT_TRUE(DBBegin(h));
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (4)", err));
  ASSERT_TRUE(DBRollback(h));
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "3");
}

// Inside an enclosing transaction a transaction is a part of it: a part
// rolled back is undone alone, failed statements inside a part leave it
// usable, and the enclosing rollback undoes every part, committed or not.
TEST_P(DbLayer, EnclosingTransactionUndoesEveryPart) {
  if (!db) return;
  // MySQL's schema statements would commit the enclosing transaction.
  if (GetParam() == "mysql") GTEST_SKIP() << "not used on MySQL";
  db->exec("CREATE TABLE t (id integer not null, PRIMARY KEY(id))");
  char err[DBDRV_MAX_ERROR_TEXT];
  ASSERT_TRUE(DBBeginEnclosing(h)) << DBGetLastError(h);
  ASSERT_TRUE(DBBegin(h)) << DBGetLastError(h);
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err)) << err;
  EXPECT_FALSE(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err));
  EXPECT_TRUE(DBQueryEx(h, "CREATE TABLE u (id integer)", err)) << err;
  ASSERT_TRUE(DBCommit(h)) << DBGetLastError(h);
  ASSERT_TRUE(DBBegin(h)) << DBGetLastError(h);
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (2)", err)) << err;
  EXPECT_FALSE(DBQueryEx(h, "SELEC 1", err));
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO u (id) VALUES (2)", err)) << err;
  ASSERT_TRUE(DBRollback(h)) << DBGetLastError(h);
  ASSERT_TRUE(DBBegin(h)) << DBGetLastError(h);
  EXPECT_TRUE(DBQueryEx(h, "INSERT INTO t (id) VALUES (3)", err)) << err;
  ASSERT_TRUE(DBCommit(h)) << DBGetLastError(h);
  db_result_t r = DBSelectEx(h, "SELECT count(*) FROM t", err);
  ASSERT_NE(r, nullptr) << err;
  EXPECT_EQ(DBGetFieldLong(r, 0, 0), 2);
  DBFreeResult(r);
  ASSERT_TRUE(DBRollbackEnclosing(h)) << DBGetLastError(h);
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "0");
  EXPECT_TRUE(db->value("SELECT count(*) FROM u").starts_with("<error")) << "u outlived the rollback";
}

TEST_P(DbLayer, DialectRecordAndSchemaVersion) {
  if (!db) return;
  EXPECT_EQ(DBGetSyntax(h), DB_SYNTAX_UNKNOWN);
  EXPECT_EQ(DBGetSchemaVersion(h), 0);
  db->exec(
      "CREATE TABLE config (var_name varchar(63) not null, var_value varchar(255), PRIMARY KEY(var_name))");
  db->exec("INSERT INTO config (var_name,var_value) VALUES ('DBSyntax','ORACLE'),('DBFormatVersion','86')");
  EXPECT_EQ(DBGetSyntax(h), DB_SYNTAX_ORACLE);
  EXPECT_EQ(DBGetSchemaVersion(h), 86);
  db->exec(
      "CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,PRIMARY "
      "KEY(var_name))");
  const struct {
    const char *value;
    int code;
  } cases[] = {{"MYSQL", 0},  {"PGSQL", 1}, {"MSSQL", 2},   {"ORACLE", 3},
               {"SQLITE", 4}, {"DB2", 5},   {"sqlite", -1}, {"INFORMIX", -1}};
  for (const auto &c : cases) {
    db->exec("DELETE FROM metadata");
    db->exec(std::string("INSERT INTO metadata (var_name,var_value) VALUES ('Syntax','") + c.value +
             "'),('SchemaVersion','245')");
    EXPECT_EQ(DBGetSyntax(h), c.code) << c.value;
  }
  EXPECT_EQ(DBGetSchemaVersion(h), 245);
}

TEST_P(DbLayer, PreparedStatementsKeepBindingsAndHoldOneStatement) {
  if (!db) return;
  db->exec("CREATE TABLE t (id integer, v varchar(20))");
  char err[DBDRV_MAX_ERROR_TEXT];
  db_statement_t s = DBPrepare(h, "INSERT INTO t (id,v) VALUES (?,?)", err);
  ASSERT_NE(s, nullptr) << err;
  DBBind(s, 2, "kept");
  for (int64_t id = 1; id <= 3; id++) {
    DBBind(s, 1, id);
    ASSERT_TRUE(DBExecute(s, err)) << err;
  }
  DBFreeStatement(s);
  EXPECT_EQ(db->rows("SELECT id,v FROM t ORDER BY id"), "1|kept\n2|kept\n3|kept");

  // A second statement is refused, never silently left out.
  s = DBPrepare(h, "INSERT INTO t (id,v) VALUES (?,'x'); DELETE FROM t", err);
  if (s != nullptr) {
    DBBind(s, 1, static_cast<int64_t>(4));
    EXPECT_FALSE(DBExecute(s, err));
    DBFreeStatement(s);
  }
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "3");
}

// The server goes away in the middle of the work: every call fails with
// a message, nothing hangs, and everything is released.
TEST_P(DbLayer, DeadServerConnectionGivesErrors) {
  if (!db || GetParam() == "sqlite") return;
  auto killer = tvtest::OpenOrSkip(GetParam());
  if (!killer) return;
  const bool pg = GetParam() == "pgsql";
  db->exec("CREATE TABLE t (id integer)");
  db->exec("INSERT INTO t (id) VALUES (1),(2),(3),(4)");
  std::string id = db->value(pg ? "SELECT pg_backend_pid()" : "SELECT CONNECTION_ID()");
  char err[DBDRV_MAX_ERROR_TEXT];
  ASSERT_TRUE(DBBegin(h));
  db_statement_t s = DBPrepare(h, "INSERT INTO t (id) VALUES (?)", err);
  ASSERT_NE(s, nullptr) << err;
  db_async_result_t r =
      DBAsyncSelectEx(h, "SELECT a.id FROM t a, t b, t c, t d, t e, t f, t g, t k, t m", err);
  ASSERT_NE(r, nullptr) << err;
  ASSERT_TRUE(DBFetch(r));
  killer->exec(pg ? "SELECT pg_terminate_backend(" + id + ")" : "KILL " + id);
  while (DBFetch(r)) {
  }
  ASSERT_NE(DBGetAsyncError(r), nullptr);
  EXPECT_NE(DBGetAsyncError(r)[0], 0);
  DBFreeAsyncResult(r);
  err[0] = 0;
  EXPECT_FALSE(DBQueryEx(h, "INSERT INTO t (id) VALUES (5)", err));
  EXPECT_NE(err[0], 0);
  DBBind(s, 1, static_cast<int64_t>(6));
  err[0] = 0;
  EXPECT_FALSE(DBExecute(s, err));
  EXPECT_NE(err[0], 0);
  DBFreeStatement(s);
  EXPECT_FALSE(DBCommit(h));
  EXPECT_NE(DBGetLastError(h)[0], 0);
  db->reconnect();
  EXPECT_EQ(db->value("SELECT count(*) FROM t"), "4");
}

TEST_P(DbLayer, RealsReadBackExactly) {
  if (!db) return;
  db->exec("CREATE TABLE r (id integer, v double precision)");
  db->exec("INSERT INTO r (id,v) VALUES (1,0.1),(2,0.30000000000000004),(3,1e300),(4,-2.5),(5,NULL)");
  EXPECT_EQ(db->rows("SELECT v FROM r ORDER BY id"),
            GetParam() == "mysql"
                ? "0.1\n0.30000000000000004\n1e300\n-2.5\n<null>"
                : (GetParam() == "pgsql" ? "0.1\n0.30000000000000004\n1e+300\n-2.5\n<null>"
                                         : "0.1\n0.30000000000000004\n1.0e+300\n-2.5\n<null>"));
  char err[DBDRV_MAX_ERROR_TEXT];
  db_async_result_t r = DBAsyncSelectEx(h, "SELECT v, v FROM r WHERE id=2", err);
  ASSERT_NE(r, nullptr) << err;
  ASSERT_TRUE(DBFetch(r));
  size_t a, b;
  const char *first = DBGetFieldAsyncData(r, 0, &a);
  const char *second = DBGetFieldAsyncData(r, 1, &b);
  EXPECT_EQ(std::string(first, a), "0.30000000000000004");
  EXPECT_EQ(std::string(second, b), "0.30000000000000004");
  DBFreeAsyncResult(r);
}

INSTANTIATE_TEST_SUITE_P(Engines, DbLayer, ::testing::ValuesIn(tvtest::AllEngines()));

TEST(DbLayerDrivers, MysqlRefusesTheModeThatChangesQuoting) {
  auto db = tvtest::OpenOrSkip("mysql");
  if (!db) return;
  const std::string params = tvtest::DriverParamsOf("mysql") + ";sql_mode=NO_BACKSLASH_ESCAPES";
  db_driver_t d = DBLoadDriver("mysql", params.c_str(), false, nullptr, nullptr);
  ASSERT_NE(d, nullptr);
  char err[DBDRV_MAX_ERROR_TEXT] = "";
  db_handle_t h = DBConnect(d, tvtest::ServerOf("mysql").c_str(), db->value("SELECT database()").c_str(),
                            tvtest::TestUser().c_str(), tvtest::TestPassword().c_str(), "", err);
  EXPECT_EQ(h, nullptr);
  EXPECT_STREQ(err, "sql_mode NO_BACKSLASH_ESCAPES is not supported");
  if (h != nullptr) DBDisconnect(h);
  DBUnloadDriver(d);
}

TEST(DbLayerDrivers, UnknownDriversAndBadParametersAreRefused) {
  EXPECT_EQ(DBLoadDriver("oracle", "", false, nullptr, nullptr), nullptr);
  EXPECT_EQ(DBLoadDriver("pgsql", "novalue", false, nullptr, nullptr), nullptr);
  db_driver_t d = DBLoadDriver("/usr/lib/talvex/sqlite.ddr", "busy_timeout=10", false, nullptr, nullptr);
  ASSERT_NE(d, nullptr);
  char err[DBDRV_MAX_ERROR_TEXT];
  EXPECT_EQ(DBConnect(d, "", "/nonexistent/dir/x.db", "", "", "", err), nullptr);
  EXPECT_NE(err[0], 0);
  DBUnloadDriver(d);
}

TEST(DbLayerDrivers, SqliteCreatesAMissingFileOnlyWhenAllowed) {
  const std::string dir = tvtest::TempDir(), path = dir + "/new.db";
  char err[DBDRV_MAX_ERROR_TEXT] = "";
  db_driver_t d = DBLoadDriver("sqlite", "", false, nullptr, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(DBConnect(d, "", path.c_str(), "", "", "", err), nullptr);
  EXPECT_STREQ(err, "database file does not exist (only the init command creates it)");
  EXPECT_FALSE(std::filesystem::exists(path));
  // A missing directory cannot be created either way.
  DBAllowDatabaseCreation(d);
  EXPECT_EQ(DBConnect(d, "", (dir + "/no/dir.db").c_str(), "", "", "", err), nullptr);
  EXPECT_STREQ(err, "unable to open database file");
  db_handle_t h = DBConnect(d, "", path.c_str(), "", "", "", err);
  EXPECT_NE(h, nullptr) << err;
  if (h != nullptr) DBDisconnect(h);
  EXPECT_TRUE(std::filesystem::exists(path));
  DBUnloadDriver(d);
  std::filesystem::remove_all(dir);
}

}  // namespace
