// The tool's lock on a MariaDB Galera cluster. GET_LOCK belongs to the
// node that granted it, so a second tvdbmgr on another node would not
// see it; instead the lock is the one row of the table tvdbmgr_lock,
// which the cluster replicates and certifies like any other write. The
// row names the holder's node and connection and carries a heartbeat
// that a thread renews on a connection of its own, so that the
// command's transactions never carry it. A killed holder stops beating,
// and its row expires by itself after kLockExpirySeconds: the next run
// takes the lock over and says so, unless the holder's session is still
// at work on the node it connects to. The clocks of the nodes must agree
// to well within that time.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "db/db.h"

// The table is the tool's own: export, import and check pass over it.
inline constexpr char kClusterLockTable[] = "tvdbmgr_lock";
inline constexpr int kLockHeartbeatSeconds = 5;
inline constexpr int kLockExpirySeconds = 30;

class ClusterLock {
 public:
  ClusterLock() = default;
  // Stops the heartbeat and deletes the row, if taken.
  ~ClusterLock();
  ClusterLock(const ClusterLock &) = delete;
  ClusterLock &operator=(const ClusterLock &) = delete;

  // Takes the lock for the database of hdb, on a connection of its own.
  // Two runs that insert the row at once on two nodes are told apart by
  // the cluster: the one whose write loses certification finds the
  // other's row and is refused like any run that finds a live row.
  // Returns false, after printing why, when another run holds the lock
  // or it cannot be taken.
  bool take(db_handle_t hdb);

 private:
  void beat();
  void release();

  db_handle_t lockConnection_ = nullptr;
  std::string runId_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread heartbeat_;
};
