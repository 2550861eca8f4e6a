#include "support/test_db.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "session/globals.h"

extern char **environ;

namespace tvtest {

namespace {

std::string Env(const char *name, const char *fallback) {
  const char *v = getenv(name);
  return v != nullptr && *v != 0 ? v : fallback;
}

bool ServersRequired() { return Env("TVDBMGR_REQUIRE_SERVERS", "0") == "1"; }

// The port of the engine's server; empty for the client library's default.
std::string DefaultPortOf(const std::string &engine) {
  return engine == "pgsql" ? Env("TVDBMGR_TEST_PG_PORT", "") : Env("TVDBMGR_TEST_MY_PORT", "");
}

// The driver parameters that reach port; empty for the default.
std::string PortParams(const std::string &port) { return port.empty() ? "" : "port=" + port; }

}  // namespace

std::string ServerOf(const std::string &engine) {
  return engine == "pgsql" ? Env("TVDBMGR_TEST_PG_HOST", "127.0.0.1")
                           : Env("TVDBMGR_TEST_MY_HOST", "127.0.0.1");
}

std::string PortOf(const std::string &engine) {
  const std::string port = DefaultPortOf(engine);
  if (!port.empty()) return port;
  return engine == "pgsql" ? "5432" : "3306";
}

std::string DriverParamsOf(const std::string &engine) { return PortParams(DefaultPortOf(engine)); }

std::string ServerSettings(const std::string &engine) {
  const std::string params = DriverParamsOf(engine);
  return "DBServer = " + ServerOf(engine) + "\n" + (params.empty() ? "" : "DBDrvParams = " + params + "\n");
}

std::string TestUser() { return Env("TVDBMGR_TEST_USER", "tvtest"); }
std::string TestPassword() { return Env("TVDBMGR_TEST_PASSWORD", "tvtest"); }

namespace {

// The ODBC data source of a server engine, naming the server and the
// database.
std::string OdbcName(const std::string &engine, const std::string &database) {
  return std::string("DSN=") + (engine == "pgsql" ? "tvtest_pg" : "tvtest_my") +
         ";SERVER=" + ServerOf(engine) + ";DATABASE=" + database;
}

// A connection to the test account's own database, for CREATE/DROP
// DATABASE.
struct AdminConnection {
  db_driver_t driver = nullptr;
  db_handle_t handle = nullptr;
  AdminConnection(const std::string &engine, const std::string &port, std::string &error) {
    driver = DBLoadDriver(engine.c_str(), PortParams(port).c_str(), false, nullptr, nullptr);
    char errorText[DBDRV_MAX_ERROR_TEXT] = "";
    handle = DBConnect(driver, ServerOf(engine).c_str(), "tvtest", TestUser().c_str(), TestPassword().c_str(),
                       "", errorText);
    if (handle == nullptr) error = errorText;
  }
  ~AdminConnection() {
    if (handle != nullptr) DBDisconnect(handle);
    DBUnloadDriver(driver);
  }
};

}  // namespace

bool ViaOdbc() { return Env("TVDBMGR_TEST_ODBC", "0") == "1"; }

std::string ToolPath() { return TVDBMGR_BINARY; }
std::string SqlDir() { return TVDBMGR_SQL_DIR; }

std::string TempDir() {
  static std::atomic<int> counter{0};
  std::string base = Env("TMPDIR", "/tmp");
  std::string dir = base + "/tvdbmgr-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::unique_ptr<TestDatabase> TestDatabase::Create(const std::string &engine, std::string &error) {
  return CreateOn(engine, engine == "sqlite" ? "" : DefaultPortOf(engine), error);
}

std::unique_ptr<TestDatabase> TestDatabase::CreateOn(const std::string &engine, const std::string &port,
                                                     std::string &error) {
  static std::atomic<int> counter{0};
  std::unique_ptr<TestDatabase> db(new TestDatabase);
  db->engine_ = engine;
  db->port_ = port;
  db->owner_ = true;
  db->directory_ = TempDir();
  if (engine == "sqlite") {
    db->name_ = db->directory_ + "/test.db";
  } else {
    db->name_ = "tvt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    AdminConnection admin(engine, port, error);
    if (admin.handle == nullptr) return nullptr;
    char errorText[DBDRV_MAX_ERROR_TEXT];
    std::string drop = "DROP DATABASE IF EXISTS " + db->name_;
    DBQuery(admin.handle, drop.c_str());
    std::string create = "CREATE DATABASE " + db->name_;
    if (engine == "mysql") create += " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
    // Whatever the server's default, the tests store non-ASCII text.
    if (engine == "pgsql") create += " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0";
    if (!DBQueryEx(admin.handle, create.c_str(), errorText)) {
      error = errorText;
      return nullptr;
    }
  }
  const bool odbc = ViaOdbc() && engine != "sqlite";
  std::string config = "DBDriver = " + (odbc ? "odbc" : engine) +
                       "\nDBName = " + (odbc ? OdbcName(engine, db->name_) : db->name_) + "\n";
  if (engine != "sqlite")
    config += "DBServer = " + ServerOf(engine) + "\nDBLogin = " + TestUser() +
              "\nDBPassword = " + TestPassword() + "\n";
  if (!odbc && !port.empty()) config += "DBDrvParams = " + PortParams(port) + "\n";
  db->configPath_ = db->directory_ + "/tvdbmgr.conf";
  WriteFile(db->configPath_, config);
  if (!db->connect(error)) return nullptr;
  return db;
}

std::unique_ptr<TestDatabase> TestDatabase::reachedOn(const std::string &port) const {
  std::unique_ptr<TestDatabase> other(new TestDatabase);
  other->engine_ = engine_;
  other->name_ = name_;
  other->port_ = port;
  other->directory_ = TempDir();
  other->configPath_ = other->directory_ + "/tvdbmgr.conf";
  std::string config = ReadFile(configPath_);
  if (!port_.empty()) config.erase(config.find("DBDrvParams = "));
  WriteFile(other->configPath_, config + "DBDrvParams = " + PortParams(port) + "\n");
  std::string error;
  if (!other->connect(error)) {
    ADD_FAILURE() << "database " << name_ << " on port " << port << ": " << error;
    return nullptr;
  }
  return other;
}

bool TestDatabase::connect(std::string &error) {
  const bool odbc = ViaOdbc() && engine_ != "sqlite";
  driver_ = DBLoadDriver(odbc ? "odbc" : engine_.c_str(), odbc ? "" : PortParams(port_).c_str(), false,
                         nullptr, nullptr);
  DBAllowDatabaseCreation(driver_);  // a fresh SQLite database is a new file
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  handle_ = DBConnect(driver_, engine_ == "sqlite" ? "" : ServerOf(engine_).c_str(),
                      odbc ? OdbcName(engine_, name_).c_str() : name_.c_str(), TestUser().c_str(),
                      TestPassword().c_str(), "", errorText);
  if (handle_ == nullptr) error = errorText;
  return handle_ != nullptr;
}

void TestDatabase::reconnect() {
  if (DbHandle == handle_) DbHandle = nullptr;
  DBDisconnect(handle_);
  DBUnloadDriver(driver_);
  std::string error;
  EXPECT_TRUE(connect(error)) << error;
}

TestDatabase::~TestDatabase() {
  if (DbHandle == handle_) DbHandle = nullptr;
  if (handle_ != nullptr) DBDisconnect(handle_);
  DBUnloadDriver(driver_);
  if (engine_ != "sqlite" && owner_) {
    std::string error;
    AdminConnection admin(engine_, port_, error);
    if (admin.handle != nullptr) {
      std::string drop = "DROP DATABASE IF EXISTS " + name_;
      if (engine_ == "pgsql") drop += " WITH (FORCE)";
      DBQuery(admin.handle, drop.c_str());
    }
  }
  if (getenv("TVDBMGR_KEEP_TEST_FILES") == nullptr) std::filesystem::remove_all(directory_);
}

int TestDatabase::syntax() const {
  return engine_ == "pgsql" ? DB_SYNTAX_PGSQL : engine_ == "mysql" ? DB_SYNTAX_MYSQL : DB_SYNTAX_SQLITE;
}

bool TestDatabase::exec(const std::string &sql) {
  char errorText[DBDRV_MAX_ERROR_TEXT];
  bool ok = DBQueryEx(handle_, sql.c_str(), errorText);
  EXPECT_TRUE(ok) << engine_ << ": " << sql << ": " << errorText;
  return ok;
}

bool TestDatabase::execAll(const std::vector<std::string> &sqls) {
  for (const std::string &s : sqls)
    if (!exec(s)) return false;
  return true;
}

std::string TestDatabase::value(const std::string &sql) {
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_result_t r = DBSelectEx(handle_, sql.c_str(), errorText);
  if (r == nullptr) return std::string("<error: ") + errorText + ">";
  std::string v = DBGetNumRows(r) == 0 ? "<none>" : DBIsFieldNull(r, 0, 0) ? "<null>" : "";
  if (DBGetNumRows(r) > 0 && !DBIsFieldNull(r, 0, 0)) {
    char *text = DBGetField(r, 0, 0, nullptr, 0);
    v = text;
    free(text);
  }
  DBFreeResult(r);
  return v;
}

std::string TestDatabase::rows(const std::string &sql) {
  char errorText[DBDRV_MAX_ERROR_TEXT];
  db_result_t r = DBSelectEx(handle_, sql.c_str(), errorText);
  if (r == nullptr) return std::string("<error: ") + errorText + ">";
  std::string out;
  for (int row = 0; row < DBGetNumRows(r); row++) {
    if (row > 0) out += "\n";
    for (int c = 0; c < DBGetColumnCount(r); c++) {
      if (c > 0) out += "|";
      if (DBIsFieldNull(r, row, c)) {
        out += "<null>";
      } else {
        char *text = DBGetField(r, row, c, nullptr, 0);
        out += text;
        free(text);
      }
    }
  }
  DBFreeResult(r);
  return out;
}

void TestDatabase::makeCurrent() {
  DbHandle = handle_;
  DbSyntax = syntax();
}

void TestDatabase::createVariableTables(int schemaVersion) {
  const char *syntaxName = engine_ == "pgsql" ? "PGSQL" : engine_ == "mysql" ? "MYSQL" : "SQLITE";
  execAll(
      {"CREATE TABLE config (var_name varchar(63) not null, var_value varchar(2000), "
       "is_visible integer default 1, need_server_restart integer default 0, PRIMARY KEY(var_name))",
       "CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,"
       "PRIMARY KEY(var_name))",
       std::string("INSERT INTO metadata (var_name,var_value) VALUES ('Syntax','") + syntaxName + "')",
       "INSERT INTO metadata (var_name,var_value) VALUES ('SchemaVersion','" + std::to_string(schemaVersion) +
           "')",
       "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
       "('DBLockStatus','UNLOCKED',0,0)"});
}

bool TestDatabase::initSchema() {
  RunResult r = RunTool({"-c", configPath_, "init", SqlDir() + "/dbinit_" + engine_ + ".sql"});
  bool ok = r.out.find("Database initialized successfully\n") != std::string::npos;
  EXPECT_TRUE(ok) << engine_ << " init failed:\n" << r.out;
  if (engine_ == "mysql") reconnect();
  return ok;
}

std::unique_ptr<TestDatabase> OpenOrSkip(const std::string &engine) {
  std::string error;
  std::unique_ptr<TestDatabase> db = TestDatabase::Create(engine, error);
  if (db != nullptr) return db;
  if (ServersRequired() || engine == "sqlite") {
    ADD_FAILURE() << engine << " test database unavailable: " << error;
  } else {
    [&] { GTEST_SKIP() << "no " << engine << " server: " << error; }();
  }
  return nullptr;
}

std::string TracedToolLock(const std::string &engine) {
  if (engine == "pgsql") return ">>> SELECT pg_try_advisory_lock(8392005329556566528)::int\n";
  if (engine == "mysql") return ">>> SELECT GET_LOCK(CONCAT('tvdbmgr:',MD5(DATABASE())),0)\n";
  return "";
}

RunResult RunTool(const std::vector<std::string> &args, const std::string &input,
                  const std::vector<std::string> &env) {
  std::string dir = TempDir();
  std::string in = dir + "/stdin", out = dir + "/stdout", err = dir + "/stderr";
  WriteFile(in, input);
  std::vector<std::string> argStore = {ToolPath()};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  auto overridden = [&](const char *entry) {
    for (const std::string &e : env)
      if (strncmp(entry, e.c_str(), e.find('=') + 1) == 0) return true;
    return false;
  };
  for (char **e = environ; *e != nullptr; e++)
    if (strncmp(*e, "NO_COLOR=", 9) != 0 && strncmp(*e, "TALVEX_", 7) != 0 &&
        strncmp(*e, "DISPLAY=", 8) != 0 && strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0 && !overridden(*e))
      envStore.emplace_back(*e);
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char *> envp;
  for (std::string &e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  RunResult result;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.err = "spawn failed";
    return result;
  }
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  if (getenv("TVDBMGR_KEEP_TEST_FILES") == nullptr) std::filesystem::remove_all(dir);
  return result;
}

bool RunToolAndKill(const std::vector<std::string> &args, const std::function<void()> &waitBeforeKill) {
  std::vector<std::string> argStore = {ToolPath()};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  waitBeforeKill();
  kill(pid, SIGKILL);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return true;
}

bool WaitForOtherSessions(TestDatabase &db) {
  if (db.engine() == "sqlite") return true;
  const std::string others =
      db.engine() == "pgsql"
          ? "SELECT count(*) FROM pg_stat_activity WHERE datname=current_database() AND pid<>pg_backend_pid()"
          // A rehearsal works in its scratch copy of the database.
          : "SELECT count(*) FROM information_schema.processlist WHERE (db=DATABASE() OR "
            "db=CONCAT(DATABASE(),'_tvdbmgr_rehearsal')) AND id<>CONNECTION_ID()";
  for (int i = 0; i < 600 && db.value(others) != "0"; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return db.value(others) == "0";
}

std::vector<std::string> GaleraPorts() {
  std::vector<std::string> ports;
  const std::string list = Env("TVDBMGR_TEST_GALERA_PORTS", "");
  for (size_t start = 0; start < list.size();) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    ports.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return ports;
}

std::string PgStandbyPort() { return Env("TVDBMGR_TEST_PG_STANDBY_PORT", ""); }

bool ConfiguredOrSkip(bool configured, const std::string &what) {
  if (configured) return true;
  if (ServersRequired())
    ADD_FAILURE() << what << " is not configured";
  else
    [&] { GTEST_SKIP() << what << " is not configured"; }();
  return false;
}

std::unique_ptr<TestDatabase> OpenOnGaleraOrSkip() {
  const std::vector<std::string> ports = GaleraPorts();
  if (!ConfiguredOrSkip(ports.size() >= 2, "a Galera cluster (TVDBMGR_TEST_GALERA_PORTS)")) return nullptr;
  std::string error;
  std::unique_ptr<TestDatabase> db = TestDatabase::CreateOn("mysql", ports[0], error);
  if (db == nullptr) ADD_FAILURE() << "Galera node 1 (port " << ports[0] << "): " << error;
  return db;
}

bool WaitForStandbyReplay() {
  std::string error;
  AdminConnection primary("pgsql", DefaultPortOf("pgsql"), error), standby("pgsql", PgStandbyPort(), error);
  std::string lsn, caughtUp;
  if (primary.handle == nullptr || standby.handle == nullptr ||
      !DBTakeFirstValue(DBSelect(primary.handle, "SELECT pg_current_wal_lsn()"), lsn)) {
    ADD_FAILURE() << "primary or standby unreachable: " << error;
    return false;
  }
  const std::string query = "SELECT (pg_last_wal_replay_lsn() >= '" + lsn + "')::int";
  for (int i = 0; i < 600; i++) {
    if (DBTakeFirstValue(DBSelect(standby.handle, query.c_str()), caughtUp) && caughtUp == "1") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << "the standby has not replayed up to " << lsn << " in 60 s";
  return false;
}

std::string TableChecksums(TestDatabase &db) {
  const bool mysql = db.engine() == "mysql";
  // A Galera node answers once it has applied what the cluster had
  // committed when the question was asked.
  if (mysql && !db.exec("SET SESSION wsrep_sync_wait=1")) return "";
  const std::string tables =
      db.rows(mysql ? "SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE() "
                      "ORDER BY table_name"
                    : "SELECT table_name FROM information_schema.tables WHERE table_schema=current_schema() "
                      "ORDER BY table_name");
  std::string sums;
  std::istringstream names(tables);
  for (std::string table; std::getline(names, table);) {
    if (table.empty()) continue;
    sums += mysql ? db.rows("CHECKSUM TABLE " + table + " EXTENDED")
                  : table + "|" +
                        db.value("SELECT md5(coalesce(string_agg(t::text, ',' ORDER BY t::text), '')) FROM " +
                                 table + " t");
    sums += "\n";
  }
  return sums;
}

}  // namespace tvtest
