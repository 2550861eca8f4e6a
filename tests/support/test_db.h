// Fresh databases on the real engines for tests, and a runner for the
// tvdbmgr binary.
//
// SQLite always runs. PostgreSQL and MariaDB are reached as the
// environment says (the variables that .ci/start-servers writes to its
// env file): TVDBMGR_TEST_PG_HOST and TVDBMGR_TEST_PG_PORT (default
// 127.0.0.1 and 5432), TVDBMGR_TEST_MY_HOST and TVDBMGR_TEST_MY_PORT
// (127.0.0.1, 3306), as TVDBMGR_TEST_USER with TVDBMGR_TEST_PASSWORD
// (tvtest, tvtest). A server that does not answer skips its tests, unless
// TVDBMGR_REQUIRE_SERVERS=1 (set by CI), where it fails them.
//
// With TVDBMGR_TEST_ODBC=1 the two server engines are reached through
// ODBC instead, by the tests and by the tool alike: the data sources
// tvtest_pg and tvtest_my (registered by .ci/start-servers), and the
// engine list holds those two engines only.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/db.h"

namespace tvtest {

// Whether the server engines are reached through ODBC (TVDBMGR_TEST_ODBC).
bool ViaOdbc();

// How the tests reach the server of engine ("pgsql" or "mysql"): its
// host, its port, the driver parameters that name the port, and the
// configuration lines DBServer and DBDrvParams for the tool.
std::string ServerOf(const std::string &engine);
std::string PortOf(const std::string &engine);
std::string DriverParamsOf(const std::string &engine);
std::string ServerSettings(const std::string &engine);
std::string TestUser();
std::string TestPassword();

// The engines every engine-parameterised test runs on.
inline const std::vector<std::string> &AllEngines() {
  static const std::vector<std::string> engines = ViaOdbc()
                                                      ? std::vector<std::string>{"pgsql", "mysql"}
                                                      : std::vector<std::string>{"sqlite", "pgsql", "mysql"};
  return engines;
}

class TestDatabase {
 public:
  // A new empty database on engine ("sqlite", "pgsql", "mysql"). Null when
  // the engine cannot be reached; the reason is in error.
  static std::unique_ptr<TestDatabase> Create(const std::string &engine, std::string &error);
  // The same on the server of engine at port (a node of a Galera cluster).
  static std::unique_ptr<TestDatabase> CreateOn(const std::string &engine, const std::string &port,
                                                std::string &error);
  // This database reached on the server at port (another node of its
  // cluster, its standby), with a connection and a configuration file of
  // its own; only the database's creator drops it. Null, failing the
  // test, when it cannot be reached.
  std::unique_ptr<TestDatabase> reachedOn(const std::string &port) const;
  ~TestDatabase();

  const std::string &engine() const { return engine_; }
  // The path of a configuration file that points tvdbmgr at this database.
  const std::string &configPath() const { return configPath_; }
  db_handle_t handle() const { return handle_; }
  // DB_SYNTAX_* code of the engine.
  int syntax() const;

  // Runs a statement; fails the current test on error.
  bool exec(const std::string &sql);
  // Runs several statements separated by ";\n" (one per line group).
  bool execAll(const std::vector<std::string> &sqls);
  // First column of the first row; "<null>" for NULL, "<none>" for no row,
  // "<error: ...>" when the query fails.
  std::string value(const std::string &sql);
  // All rows, columns joined by "|", rows by "\n".
  std::string rows(const std::string &sql);
  // Makes this database the tool's current one (DbHandle, DbSyntax).
  void makeCurrent();
  // Closes and reopens the own connection (e.g. after the tool changed the
  // schema on MySQL, where metadata is cached per connection).
  void reconnect();

  // Creates config and metadata with the dialect record and version, the
  // minimum the tool needs to start a command other than init.
  void createVariableTables(int schemaVersion);
  // Loads the engine's dbinit script with "tvdbmgr init" (a complete,
  // fresh database at the tool's version); fails the test when init fails.
  bool initSchema();

 private:
  TestDatabase() = default;
  bool connect(std::string &error);
  std::string engine_;
  std::string name_;       // database name or file path
  std::string directory_;  // temporary directory of this database
  std::string configPath_;
  std::string port_;    // empty for the client library's default
  bool owner_ = false;  // made by Create/CreateOn, which drops it at the end
  db_driver_t driver_ = nullptr;
  db_handle_t handle_ = nullptr;
};

// Returns the database, or skips (fails under TVDBMGR_REQUIRE_SERVERS) the
// calling test. Use as: auto db = tvtest::OpenOrSkip(engine); if (!db) return;
std::unique_ptr<TestDatabase> OpenOrSkip(const std::string &engine);

struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// What the tool prints first on every run.
inline const std::string kBanner = "Talvex Database Manager Version 1.1.9\n\n";

// Runs the tvdbmgr binary with args and the given standard input, with
// NO_COLOR unset and the given extra environment ("NAME=value").
RunResult RunTool(const std::vector<std::string> &args, const std::string &input = "",
                  const std::vector<std::string> &env = {});

// What -t shows first (with NO_COLOR set): the statement of the lock
// that every command takes right after connecting. Empty on SQLite,
// where the lock is one on the file.
std::string TracedToolLock(const std::string &engine);

// The server may go on for a moment with the session of a killed run
// (and keep its locks). Waits up to 30 s for every other session of the
// database to end; false when one is still there. SQLite has none.
bool WaitForOtherSessions(TestDatabase &db);

// Starts the tvdbmgr binary with args (standard input and output
// /dev/null), calls waitBeforeKill, then kills it with SIGKILL and reaps
// it. False when it cannot be started.
bool RunToolAndKill(const std::vector<std::string> &args, const std::function<void()> &waitBeforeKill);

// The clustered servers (.ci/start-servers): the ports of the Galera
// nodes (TVDBMGR_TEST_GALERA_PORTS, node 1 first) and of the PostgreSQL
// standby of the primary (TVDBMGR_TEST_PG_STANDBY_PORT). Empty when unset.
std::vector<std::string> GaleraPorts();
std::string PgStandbyPort();
// True when configured; otherwise skips the calling test (fails it under
// TVDBMGR_REQUIRE_SERVERS), naming what is missing.
bool ConfiguredOrSkip(bool configured, const std::string &what);
// A new empty database made on Galera node 1, which the cluster gives
// every node, or null after skipping as OpenOrSkip does.
std::unique_ptr<TestDatabase> OpenOnGaleraOrSkip();
// Waits up to 60 s until the standby has replayed all that the primary
// had written when it was called; false, failing the test, when it has
// not or a server cannot be reached.
bool WaitForStandbyReplay();
// "table|checksum" lines over every table of the database, in name
// order: CHECKSUM TABLE ... EXTENDED on MySQL/MariaDB (on a Galera node
// once it has applied what the cluster committed before), an MD5 of the
// sorted rows on PostgreSQL. Equal texts mean equal contents.
std::string TableChecksums(TestDatabase &db);

// Paths of the build tree.
std::string ToolPath();
std::string SqlDir();
// A new empty temporary directory; the caller removes it.
std::string TempDir();
void WriteFile(const std::string &path, const std::string &content);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);

}  // namespace tvtest
