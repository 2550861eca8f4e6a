// The lock that keeps a second tvdbmgr off a database while one works on
// it, so that two upgrades, imports or checks never interleave. It is the
// tool's own and has nothing to do with the mark a server leaves in
// config (DBLockStatus): a session advisory lock on PostgreSQL, GET_LOCK
// on MySQL/MariaDB and flock on the database file on SQLite. Each ends
// with the connection or the process, so a killed run leaves none
// behind. A Galera node has the row of session/cluster_lock.h instead,
// which holds for the whole cluster and expires after a killed run.
// Other engines reached through ODBC have none.
#pragma once

#include <string>

#include "db/db.h"
#include "session/cluster_lock.h"

// The refusal every kind of the lock prints when another run holds it.
void ReportToolLockHeld();
// What every kind of the lock prints when it cannot be taken.
void ReportToolLockNotTaken(const std::string &reason);

class ToolLock {
 public:
  ToolLock() = default;
  // Destroy the holder only once the SQLite connection has closed:
  // closing any descriptor of the database file drops every POSIX lock
  // that this process holds on it, SQLite's own among them.
  ~ToolLock();
  ToolLock(const ToolLock &) = delete;
  ToolLock &operator=(const ToolLock &) = delete;

  // Before connecting with driver to dbName. On SQLite the connection
  // reads the file at once, which behind another run's write waits out
  // the busy timeout and then fails; so the file is locked first. A file
  // that does not exist yet is left to take(). Other engines wait for
  // take(). Returns false, after printing why, when another tvdbmgr holds
  // the lock or it cannot be taken.
  bool takeBeforeConnecting(db_driver_t driver, const char *dbName);
  // Right after connecting, before anything is read or changed; on SQLite
  // it makes sure that the file the connection opened is the one locked.
  // Returns false, after printing why, when another tvdbmgr holds the
  // lock or it cannot be taken.
  bool take(db_handle_t hdb);

 private:
  // The descriptor whose flock is the SQLite lock; kept until the end
  // even when the lock was refused, for the reason above.
  int file_ = -1;
  ClusterLock cluster_;
};
