// Collected data stamped in the future, which would otherwise hide newer
// values from the server until the clock catches up.
#include <cstdio>
#include <string>

#include "check/check_sets.h"
#include "check/check_stage.h"
#include "session/sql_exec.h"

// Each node's data is a table of its own, so its count stays one query
// per node; the node ids are read a block at a time.
void CheckDataTimestamps(db_handle_t counter) {
  BeginCheckStage("Checking collected data...");
  // One reference time for the whole stage, so that every table is judged
  // against the same moment.
  const unsigned long long now = CurrentTime();
  char query[256];

  std::string after;
  for (bool last = false; !last;) {
    Result nodes(SelectSql(BlockQuery("id", "nodes", after, "id").c_str()));
    if (!nodes) break;
    last = IsLastBlock(nodes.get());
    for (int i = 0; i < DBGetNumRows(nodes.get()); i++) {
      int32_t id = IdAt(nodes.get(), i, 0);
      after = KeyAfter("id", id);
      snprintf(query, sizeof(query), "SELECT count(*) FROM idata_%d WHERE idata_timestamp>%llu", id, now);
      Result count(SelectSqlOn(counter, query));
      if (DBGetNumRows(count.get()) == 0 || DBGetFieldInt64(count.get(), 0, 0) <= 0) continue;
      if (ReportDefect("\rFound collected data for node [%d] with timestamp in the future. Delete them?",
                       id) &&
          ExecRepair("DELETE FROM idata_%d WHERE idata_timestamp>%llu", id, now))
        ErrorsFixed++;
    }
  }

  snprintf(query, sizeof(query), "SELECT count(*) FROM raw_dci_values WHERE last_poll_time>%llu", now);
  Result polled(SelectSql(query));
  if (DBGetNumRows(polled.get()) > 0 && DBGetFieldInt64(polled.get(), 0, 0) > 0 &&
      ReportDefect("\rFound DCIs with last poll timestamp in the future. Fix it?") &&
      ExecRepair("UPDATE raw_dci_values SET last_poll_time=%llu WHERE last_poll_time>%llu", now, now))
    ErrorsFixed++;
  EndCheckStage();
}
