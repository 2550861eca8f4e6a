// The reindex command: the fixed indexes of the log tables, then the
// indexes of every per-node collected-data table.
#include <cstdio>
#include <cstring>
#include <string>

#include "collected_data/reindex.h"
#include "maintenance/maintenance_commands.h"
#include "session/globals.h"
#include "session/server_lock.h"
#include "session/sql_exec.h"

namespace {

const struct {
  const char *index;
  const char *table;
  const char *columns;
} kFixedIndexes[] = {
    {"idx_raw_dci_values_item_id", "raw_dci_values", "item_id"},
    {"idx_event_log_event_timestamp", "event_log", "event_timestamp"},
    {"idx_thresholds_item_id", "thresholds", "item_id"},
    {"idx_thresholds_sequence", "thresholds", "sequence_number"},
    {"idx_alarm_notes_alarm_id", "alarm_notes", "alarm_id"},
    {"idx_syslog_msg_timestamp", "syslog", "msg_timestamp"},
    {"idx_snmp_trap_log_trap_timestamp", "snmp_trap_log", "trap_timestamp"},
    {"idx_address_lists_list_type", "address_lists", "list_type"},
};

// Oracle before 12.2 takes names of at most 30 characters; the upgrade
// (37 -> 38) creates the trap log index there under this shorter name.
const char *IndexNameOnDialect(const char *index) {
  if (DbSyntax == DB_SYNTAX_ORACLE && strcmp(index, "idx_snmp_trap_log_trap_timestamp") == 0)
    return "idx_snmp_trap_log_timestamp";
  return index;
}

void RebuildIndex(const char *index, const char *table, const char *columns) {
  printf("Reindexing table %s by (%s)...\n", table, columns);
  // The index may well be missing: nothing to report then.
  DBQuery(DbHandle, DropIndexStatement(index, table).c_str());
  ExecSql((std::string("CREATE INDEX ") + index + " ON " + table + "(" + columns + ")").c_str());
}

}  // namespace

bool RunReindexCommand() {
  if (!CheckDatabaseReady()) return false;
  // Every statement that fails is reported; the rest still runs.
  const int sqlErrorsAtStart = ReportedSqlErrors();
  for (const auto &index : kFixedIndexes) {
    // Oracle refuses a second index on the column list of a primary key.
    if (DbSyntax == DB_SYNTAX_ORACLE && strcmp(index.table, "raw_dci_values") == 0) continue;
    RebuildIndex(IndexNameOnDialect(index.index), index.table, index.columns);
  }
  // Reads no catalogue: nothing for the rule to decide.
  ReindexCollectedDataTables(ReindexKind::kEverything, [](bool succeeded) { return succeeded; });
  printf("Database reindexing complete.\n");
  return ReportedSqlErrors() == sqlErrorsAtStart;
}
