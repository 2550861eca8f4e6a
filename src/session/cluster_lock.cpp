#include "session/cluster_lock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "session/sql_exec.h"
#include "session/tool_lock.h"

namespace {

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS tvdbmgr_lock ("
    "lock_id integer not null,"
    "run_id varchar(36) not null,"
    "node varchar(255) not null,"
    "connection_id bigint not null,"
    "heartbeat datetime(6) not null,"
    "PRIMARY KEY(lock_id)) ENGINE=InnoDB";
constexpr char kReadHolder[] =
    "SELECT run_id,node,connection_id,TIMESTAMPDIFF(SECOND,heartbeat,UTC_TIMESTAMP(6)) "
    "FROM tvdbmgr_lock WHERE lock_id=1";
// A holder that a row of its own, a certification failure or a release
// raced with gets this many tries before the lock counts as held.
constexpr int kTakeAttempts = 3;

struct Holder {
  std::string runId, node, connection;
  int64_t silentSeconds = 0;
};

// Reads the holder's row. kMissing when there is none, kFailed after a
// failed query (reported when traced).
VariableRead ReadHolder(db_handle_t hdb, Holder &holder, QueryEcho echo) {
  if (echo == QueryEcho::kTraced) TraceSql(kReadHolder);
  char errorText[DBDRV_MAX_ERROR_TEXT];
  Result row(DBSelectEx(hdb, kReadHolder, errorText));
  if (row == nullptr) {
    if (echo == QueryEcho::kTraced) ReportSqlError(errorText, kReadHolder);
    return VariableRead::kFailed;
  }
  if (DBGetNumRows(row.get()) == 0) return VariableRead::kMissing;
  auto text = [&](int column) {
    char *value = DBGetField(row.get(), 0, column, nullptr, 0);
    std::string copy = value;
    free(value);
    return copy;
  };
  holder = {text(0), text(1), text(2), DBGetFieldInt64(row.get(), 0, 3)};
  return VariableRead::kFound;
}

// A killed run's session may go on with its last statement, a long ALTER
// TABLE say, after its heartbeat has stopped; while it does, the run
// still works on the database. Only the sessions of the node that hdb is
// connected to can be seen, so a holder on another node counts as gone.
bool HolderSessionLives(db_handle_t hdb, const Holder &holder) {
  const std::string query =
      "SELECT count(*) FROM information_schema.processlist WHERE id=" +
      std::to_string(strtoll(holder.connection.c_str(), nullptr, 10)) +
      " AND CONCAT(@@hostname,':',@@port)=" + DBPrepareString(hdb, holder.node.c_str()).cstr();
  std::string count;
  return DBTakeFirstValue(DBSelect(hdb, query.c_str()), count) && count != "0";
}

// The first value of query on hdb, sent untraced as a probe; false with
// the error in error.
bool SelectValue(db_handle_t hdb, const char *query, std::string &value, std::string &error) {
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  if (DBTakeFirstValue(DBSelectEx(hdb, query, errorText), value)) return true;
  error = std::string("\"") + query + "\" failed: " + errorText;
  return false;
}

// The statement traced; false with the engine's error in error.
bool Send(db_handle_t hdb, const std::string &statement, std::string &error) {
  TraceSql(statement.c_str());
  char errorText[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(hdb, statement.c_str(), errorText)) return true;
  error = errorText;
  return false;
}

}  // namespace

ClusterLock::~ClusterLock() { release(); }

bool ClusterLock::take(db_handle_t hdb) {
  std::string connectionId, error;
  if (!SelectValue(hdb, "SELECT CONNECTION_ID()", connectionId, error)) {
    ReportToolLockNotTaken(error);
    return false;
  }
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  lockConnection_ = DBConnectAgain(hdb, errorText);
  if (lockConnection_ == nullptr) {
    ReportToolLockNotTaken(std::string("a second connection cannot be opened: ") + errorText);
    return false;
  }
  // The lock's reads wait until the node has applied what the cluster
  // committed before them: a run that lost an insert to another node's
  // then finds that node's row, and a heartbeat is read as fresh as it
  // is.
  if (!DBQueryEx(lockConnection_, "SET SESSION wsrep_sync_wait=1", errorText)) {
    ReportToolLockNotTaken(std::string("\"SET SESSION wsrep_sync_wait=1\" failed: ") + errorText);
    return false;
  }
  // A schema statement is applied on every node at once and holds up the
  // whole cluster's writes while it runs, even one that finds its table
  // there: only the first run on the database creates it.
  std::string tables;
  if (!SelectValue(lockConnection_,
                   "SELECT count(*) FROM information_schema.tables WHERE table_schema=DATABASE() AND "
                   "table_name='tvdbmgr_lock'",
                   tables, error) ||
      (tables == "0" && !Send(lockConnection_, kCreateTable, error)) ||
      !SelectValue(lockConnection_, "SELECT UUID()", runId_, error)) {
    ReportToolLockNotTaken(error);
    return false;
  }
  const std::string holderColumns = "run_id='" + runId_ +
                                    "',node=CONCAT(@@hostname,':',@@port),connection_id=" + connectionId +
                                    ",heartbeat=UTC_TIMESTAMP(6)";
  for (int attempt = 1; attempt <= kTakeAttempts; attempt++) {
    if (Send(lockConnection_, "INSERT INTO tvdbmgr_lock SET lock_id=1," + holderColumns, error)) break;
    // A duplicate key, or a certification failure against another node's
    // insert: either way the row tells who holds the lock.
    Holder holder;
    switch (ReadHolder(lockConnection_, holder, QueryEcho::kTraced)) {
      case VariableRead::kFailed: return false;
      case VariableRead::kMissing:
        // Released meanwhile, or the insert failed for a reason of its own.
        if (attempt < kTakeAttempts) continue;
        ReportToolLockNotTaken(error);
        return false;
      case VariableRead::kFound: break;
    }
    if (holder.runId == runId_) break;
    if (holder.silentSeconds < kLockExpirySeconds || HolderSessionLives(lockConnection_, holder)) {
      ReportToolLockHeld();
      return false;
    }
    // Only the expired holder's row is taken over: of two runs that try at
    // once, the second finds the first's run_id, or loses certification.
    // Whether the update went through, or lost to another run, the row
    // tells.
    Send(lockConnection_,
         "UPDATE tvdbmgr_lock SET " + holderColumns +
             " WHERE lock_id=1 AND run_id=" + DBPrepareString(lockConnection_, holder.runId.c_str()).cstr(),
         error);
    Holder now;
    if (ReadHolder(lockConnection_, now, QueryEcho::kTraced) == VariableRead::kFound && now.runId == runId_) {
      fprintf(stderr,
              "tvdbmgr: the run that held the lock on this database (node %s, connection %s) has given no "
              "sign of life for %lld s; its lock has expired and this run takes it over\n",
              holder.node.c_str(), holder.connection.c_str(), static_cast<long long>(holder.silentSeconds));
      break;
    }
    ReportToolLockHeld();
    return false;
  }
  heartbeat_ = std::thread(&ClusterLock::beat, this);
  return true;
}

void ClusterLock::beat() {
  const std::string renew =
      "UPDATE tvdbmgr_lock SET heartbeat=UTC_TIMESTAMP(6) WHERE lock_id=1 AND run_id='" + runId_ + "'";
  bool lostReported = false;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::seconds(kLockHeartbeatSeconds), [this] { return stopping_; })) {
    char errorText[DBDRV_MAX_ERROR_TEXT];
    // A failed renewal is tried again at the next beat; only a row that
    // another run has taken over is news for the operator.
    if (!DBQueryEx(lockConnection_, renew.c_str(), errorText)) continue;
    Holder holder;
    if (lostReported || ReadHolder(lockConnection_, holder, QueryEcho::kSilent) != VariableRead::kFound ||
        holder.runId == runId_)
      continue;
    fprintf(stderr,
            "tvdbmgr: this run's lock expired while its heartbeat could not reach the database, and a run on "
            "node %s (connection %s) has taken it over; the two runs may now interleave\n",
            holder.node.c_str(), holder.connection.c_str());
    lostReported = true;
  }
}

void ClusterLock::release() {
  if (heartbeat_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    heartbeat_.join();
    const std::string remove = "DELETE FROM tvdbmgr_lock WHERE lock_id=1 AND run_id='" + runId_ + "'";
    char errorText[DBDRV_MAX_ERROR_TEXT];
    // Should the delete fail, the row expires as a killed run's does.
    DBQueryEx(lockConnection_, remove.c_str(), errorText);
  }
  if (lockConnection_ != nullptr) DBDisconnect(lockConnection_);
  lockConnection_ = nullptr;
}
