// What the benchmarks that run the tool's library in child processes
// share: a connection as tvtest/tvtest on 127.0.0.1, on the port of
// TVDBMGR_TEST_PG_PORT or TVDBMGR_TEST_MY_PORT when set (for SQLite a file),
// a fresh benchmark database on a server, and a body run in a child
// process whose resource use is read afterwards.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/db.h"

namespace bench {

// The driver parameters that name the test server's port, as the
// environment gives it (.ci/start-servers); empty for the default port.
inline std::string ServerParams(const std::string &engine) {
  const char *port = getenv(engine == "pgsql" ? "TVDBMGR_TEST_PG_PORT" : "TVDBMGR_TEST_MY_PORT");
  return port != nullptr && *port != 0 ? std::string("port=") + port : "";
}

// params: the driver parameters of the server engines (e.g. "port=5433");
// empty for ServerParams.
struct Connection {
  db_driver_t driver = nullptr;
  db_handle_t handle = nullptr;  // null when the connection failed (reported)
  Connection(const std::string &engine, const std::string &database, const std::string &params = "") {
    const bool sqlite = engine == "sqlite";
    const std::string serverParams = params.empty() ? ServerParams(engine) : params;
    driver = DBLoadDriver(engine.c_str(), sqlite ? "" : serverParams.c_str(), false, nullptr, nullptr);
    DBAllowDatabaseCreation(driver);
    char error[DBDRV_MAX_ERROR_TEXT] = "";
    handle = DBConnect(driver, sqlite ? "" : "127.0.0.1", database.c_str(), "tvtest", "tvtest", "", error);
    if (handle == nullptr) fprintf(stderr, "%s: %s\n", engine.c_str(), error);
  }
  ~Connection() {
    if (handle != nullptr) DBDisconnect(handle);
    DBUnloadDriver(driver);
  }
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
};

// Drops database on the server and, unless statement is empty, runs it
// (CREATE DATABASE). False when the server cannot be reached or the
// statement fails.
inline bool Admin(const std::string &engine, const std::string &database, const std::string &statement,
                  const std::string &params = "") {
  Connection admin(engine, "tvtest", params);
  if (admin.handle == nullptr) return false;
  DBQuery(admin.handle, ("DROP DATABASE IF EXISTS " + database).c_str());
  return statement.empty() || DBQuery(admin.handle, statement.c_str());
}

// Runs body in a child process; returns its exit code (-1 when it could
// not run or did not exit) and fills usage.
template <typename Body>
int InChild(Body body, rusage &usage) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int code = body();
    fflush(stdout);
    _exit(code);
  }
  int status = 0;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
