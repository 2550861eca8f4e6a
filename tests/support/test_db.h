// Fresh databases on the real engines for tests, and a runner for the
// tvdbmgr binary.
//
// SQLite always runs. PostgreSQL and MariaDB are reached on 127.0.0.1 as
// tvtest/tvtest (override with TVDBMGR_TEST_PG_HOST, TVDBMGR_TEST_MY_HOST,
// TVDBMGR_TEST_USER, TVDBMGR_TEST_PASSWORD). A server that does not answer
// skips its tests, unless TVDBMGR_REQUIRE_SERVERS=1 (set by CI), where it
// fails them.
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

#include "external/db/db.h"

namespace tvtest {

// Whether the server engines are reached through ODBC (TVDBMGR_TEST_ODBC).
bool ViaOdbc();

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
  // fresh schema-245 database); fails the test when init fails.
  bool initSchema();

 private:
  TestDatabase() = default;
  bool connect(std::string &error);
  std::string engine_;
  std::string name_;       // database name or file path
  std::string directory_;  // temporary directory of this database
  std::string configPath_;
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

// Paths of the build tree.
std::string ToolPath();
std::string SqlDir();
// A new empty temporary directory; the caller removes it.
std::string TempDir();
void WriteFile(const std::string &path, const std::string &content);

}  // namespace tvtest
