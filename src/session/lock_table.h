// PostgreSQL keeps the lock on every table and index that a transaction
// creates, drops, indexes or writes until the transaction ends (a
// released savepoint hands its locks to the transaction), in one lock
// table that all sessions of the server share and whose size is fixed
// when the server starts. A transaction that touches every per-node
// collected-data table needs an entry per table and per index; when they
// do not fit, it fails with "out of shared memory" at the table where the
// room ran out, after all the work before it. These routines refuse such
// a transaction before it starts, naming the setting to raise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The lock table as the PostgreSQL documentation sizes it: room for
// max_locks_per_transaction locks per connection and prepared
// transaction. The server's own table is somewhat larger (it counts its
// background processes too); that difference is left to other sessions.
struct LockTableSize {
  int64_t locksPerTransaction = 0;  // max_locks_per_transaction
  int64_t sessions = 0;             // max_connections + max_prepared_transactions
  // Streaming standbys connected to the server (pg_stat_replication):
  // a standby whose setting is lower than its primary's pauses its
  // recovery, so they must be raised first.
  int64_t standbys = 0;
  int64_t locks() const { return locksPerTransaction * sessions; }
};

// Reads the three settings from pg_settings and counts the standbys.
// False after reporting a failed query, or after printing why the answer
// cannot be used.
bool ReadLockTableSize(LockTableSize &size);

// The smallest max_locks_per_transaction, in steps of the server's
// default 64, that makes room for need locks among sessions.
int64_t LocksPerTransactionFor(int64_t need, int64_t sessions);

// Puts into locks how many tables and indexes the transaction about to
// run will lock. False after reporting a failed query.
using LockEstimate = std::function<bool(int64_t &locks)>;

// On PostgreSQL: estimates what the transaction will lock and compares it
// with the lock table's size. When it does not fit, prints "ERROR: <what>
// locks about N tables and indexes in one transaction, but the server's
// lock table holds about M (max_locks_per_transaction = L); raise
// max_locks_per_transaction to at least R and restart the server", and
// where the server has standbys "; its N standby(s) in
// pg_stat_replication must be raised first: ...", and returns false; false too after a failed query
// (reported). On the other engines returns true at once, without estimating.
bool CheckLockTableRoom(const char *what, const LockEstimate &estimate);

// Catalogue counts of the connected PostgreSQL database, for estimates:
// the tables that condition (an SQL condition on pg_class t) chooses
// among those visible on the search path, and every relation a lock on
// them brings along: the tables, their indexes, and their TOAST tables
// with their indexes.
struct RelationCount {
  int64_t tables = 0;
  int64_t relations = 0;
};
// False after reporting a failed query.
bool CountTableRelations(const std::string &condition, RelationCount &count);

// The condition that chooses the collected-data tables idata_<n>.
extern const char kDataTableCondition[];
