// Collected data stamped in the future, which would otherwise hide newer
// values from the server until the clock catches up.
#include <cstdio>
#include <string>

#include "check/check_stage.h"
#include "session/key_walk.h"
#include "session/sql_exec.h"

// Each node's data is a table of its own, so its count stays one query
// per node; the node ids are read a block at a time.
void CheckDataTimestamps(db_handle_t counter) {
  BeginCheckStage("Checking collected data...");
  // One reference time for the whole stage, so that every table is judged
  // against the same moment.
  const unsigned long long now = CurrentTime();
  char query[256];

  ForEachRowByKey({.columns = "id", .from = "nodes"}, [&](db_result_t nodes, int row) {
    const int32_t id = IdAt(nodes, row, 0);
    snprintf(query, sizeof(query), "SELECT count(*) FROM idata_%d WHERE idata_timestamp>%llu", id, now);
    Result count(SelectSqlOn(counter, query));
    if (DBGetNumRows(count.get()) > 0 && DBGetFieldInt64(count.get(), 0, 0) > 0)
      OfferRepair(
          Question("\rFound collected data for node [%d] with timestamp in the future. Delete them?", id),
          [&] { return ExecRepair("DELETE FROM idata_%d WHERE idata_timestamp>%llu", id, now); });
    return true;
  });

  snprintf(query, sizeof(query), "SELECT count(*) FROM raw_dci_values WHERE last_poll_time>%llu", now);
  Result polled(SelectSql(query));
  if (DBGetNumRows(polled.get()) > 0 && DBGetFieldInt64(polled.get(), 0, 0) > 0)
    OfferRepair("\rFound DCIs with last poll timestamp in the future. Fix it?", [now] {
      return ExecRepair("UPDATE raw_dci_values SET last_poll_time=%llu WHERE last_poll_time>%llu", now, now);
    });
  EndCheckStage();
}
