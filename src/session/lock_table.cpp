#include "session/lock_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/globals.h"
#include "session/sql_exec.h"

const char kDataTableCondition[] = "t.relname ~ '^idata_[0-9]+$'";

bool ReadLockTableSize(LockTableSize &size) {
  Result settings(
      SelectSql("SELECT name,setting FROM pg_settings WHERE name IN "
                "('max_locks_per_transaction','max_connections','max_prepared_transactions')"));
  if (settings == nullptr) return false;
  int64_t locksPerTransaction = 0, connections = 0, prepared = 0;
  for (int row = 0; row < DBGetNumRows(settings.get()); row++) {
    char name[64];
    DBGetField(settings.get(), row, 0, name, sizeof(name));
    int64_t value = DBGetFieldInt64(settings.get(), row, 1);
    if (strcmp(name, "max_locks_per_transaction") == 0) locksPerTransaction = value;
    if (strcmp(name, "max_connections") == 0) connections = value;
    if (strcmp(name, "max_prepared_transactions") == 0) prepared = value;
  }
  if (locksPerTransaction <= 0 || connections <= 0 || prepared < 0) {
    printf("ERROR: cannot read the size of the server's lock table from pg_settings\n");
    return false;
  }
  // Logical replication's senders are listed too; they are no standbys.
  Result standbys(
      SelectSql("SELECT count(*) FROM pg_stat_replication r WHERE NOT EXISTS (SELECT 1 FROM "
                "pg_replication_slots s WHERE s.active_pid=r.pid AND s.slot_type='logical')"));
  if (standbys == nullptr) return false;
  size.locksPerTransaction = locksPerTransaction;
  size.sessions = connections + prepared;
  size.standbys = DBGetFieldInt64(standbys.get(), 0, 0);
  return true;
}

int64_t LocksPerTransactionFor(int64_t need, int64_t sessions) {
  const int64_t kStep = 64;
  if (sessions <= 0) sessions = 1;
  int64_t perSession = (need + sessions - 1) / sessions;
  return (perSession + kStep - 1) / kStep * kStep;
}

bool CheckLockTableRoom(const char *what, const LockEstimate &estimate) {
  if (DBGetEngine(DbHandle) != DB_SYNTAX_PGSQL) return true;
  int64_t need = 0;
  LockTableSize size;
  if (!estimate(need) || !ReadLockTableSize(size)) return false;
  if (need <= size.locks()) return true;
  printf(
      "ERROR: %s locks about %lld tables and indexes in one transaction, but the server's lock table holds "
      "about %lld (max_locks_per_transaction = %lld); raise max_locks_per_transaction to at least %lld and "
      "restart the server",
      what, static_cast<long long>(need), static_cast<long long>(size.locks()),
      static_cast<long long>(size.locksPerTransaction),
      static_cast<long long>(LocksPerTransactionFor(need, size.sessions)));
  if (size.standbys > 0)
    printf(
        "; its %lld standby(s) in pg_stat_replication must be raised first and restarted before it: a hot "
        "standby whose max_locks_per_transaction is lower than its primary's pauses its recovery",
        static_cast<long long>(size.standbys));
  printf("\n");
  return false;
}

bool CountTableRelations(const std::string &condition, RelationCount &count) {
  // A table's TOAST table comes with an index of its own.
  std::string query =
      "SELECT count(*),"
      "count(*)+coalesce(sum((SELECT count(*) FROM pg_index i WHERE i.indrelid=t.oid)),0)+"
      "2*count(NULLIF(t.reltoastrelid,0)) "
      "FROM pg_class t WHERE t.relkind IN ('r','p') AND pg_table_is_visible(t.oid) AND (" +
      condition + ")";
  Result result(SelectSql(query.c_str()));
  if (result == nullptr) return false;
  count.tables = DBGetFieldInt64(result.get(), 0, 0);
  count.relations = DBGetFieldInt64(result.get(), 0, 1);
  return true;
}
