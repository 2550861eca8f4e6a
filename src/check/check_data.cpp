// Collected data stamped in the future, which would otherwise hide newer
// values from the server until the clock catches up.
#include <cstdio>

#include "check/check_stage.h"
#include "session/sql_exec.h"

void CheckDataTimestamps() {
  BeginCheckStage("Checking collected data...");
  // One reference time for the whole stage, so that every table is judged
  // against the same moment.
  const unsigned long long now = CurrentTime();
  char query[256];

  ResultHolder nodes(SelectSql("SELECT id FROM nodes"));
  for (int i = 0; i < nodes.rows(); i++) {
    int32_t id = IdAt(nodes.get(), i, 0);
    snprintf(query, sizeof(query), "SELECT count(*) FROM idata_%d WHERE idata_timestamp>%llu", id, now);
    ResultHolder count(SelectSql(query));
    if (count.rows() == 0 || DBGetFieldInt64(count.get(), 0, 0) <= 0) continue;
    if (ReportDefect("\rFound collected data for node [%d] with timestamp in the future. Delete them?", id) &&
        ExecRepair("DELETE FROM idata_%d WHERE idata_timestamp>%llu", id, now))
      ErrorsFixed++;
  }

  snprintf(query, sizeof(query), "SELECT count(*) FROM raw_dci_values WHERE last_poll_time>%llu", now);
  ResultHolder polled(SelectSql(query));
  if (polled.rows() > 0 && DBGetFieldInt64(polled.get(), 0, 0) > 0 &&
      ReportDefect("\rFound DCIs with last poll timestamp in the future. Fix it?") &&
      ExecRepair("UPDATE raw_dci_values SET last_poll_time=%llu WHERE last_poll_time>%llu", now, now))
    ErrorsFixed++;
  EndCheckStage();
}
