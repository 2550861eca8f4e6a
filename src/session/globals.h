// Process-wide state: set by the command-line driver before a command
// runs, read everywhere after.
#pragma once

#include "db/db.h"

// The schema version this tool is built for.
constexpr int kToolSchemaVersion = 245;

// The MySQL table type that CreateTableSql asks for (-I, -M).
enum class MysqlTableType { kServerDefault, kInnoDb, kMyIsam };

extern db_handle_t DbHandle;
extern int DbSyntax;

// The command-line options, fixed before a command runs.
extern bool TraceMode;           // -t
extern bool ForceRepair;         // -f
extern bool IgnoreSqlErrors;     // -X
extern bool GuiMode;             // -G
extern bool CheckCollectedData;  // -d
extern MysqlTableType TableType;
extern bool RehearseUpgrade;           // -n, --dry-run
extern const char *UpgradeBackupFile;  // --backup FILE; null without
