// Process-wide state: set by the command-line driver before a command
// runs, read everywhere after.
#pragma once

#include "external/db/db.h"

// The schema version this tool is built for.
constexpr int kToolSchemaVersion = 245;

extern db_handle_t DbHandle;
extern int DbSyntax;
extern int TraceMode;
extern int ForceRepair;
extern int IgnoreSqlErrors;
extern bool GuiMode;
extern bool CheckCollectedData;
extern const char *TableTypeSuffix;
