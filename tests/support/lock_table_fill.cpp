#include "support/lock_table_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/scoped_state.h"

namespace tvtest {

LockTableSize ServerLockTable(TestDatabase &db) {
  ScopedCurrentDatabase current(db.handle(), db.syntax());
  LockTableSize size;
  EXPECT_TRUE(ReadLockTableSize(size));
  return size;
}

std::string StandbyAdvice(const LockTableSize &size) {
  if (size.standbys == 0) return "";
  return "; its " + std::to_string(size.standbys) +
         " standby(s) in pg_stat_replication must be raised first and restarted before it: a hot standby whose "
         "max_locks_per_transaction is lower than its primary's pauses its recovery";
}

void AddIndexedDataTables(TestDatabase &db, int64_t count) {
  for (int64_t first = 1; first <= count; first += 500)
    db.exec("DO $$ BEGIN FOR i IN " + std::to_string(first) + ".." +
            std::to_string(std::min(first + 499, count)) +
            " LOOP EXECUTE format('CREATE TABLE idata_%s (item_id integer not null,idata_timestamp integer "
            "not null,idata_value varchar(255) null)',1000000+i); EXECUTE format('CREATE INDEX idx_t_%s ON "
            "idata_%s(item_id)',1000000+i,1000000+i); END LOOP; END $$");
}

}  // namespace tvtest
