#include "session/globals.h"

db_handle_t DbHandle = nullptr;
int DbSyntax = 0;
bool TraceMode = false;
bool ForceRepair = false;
bool IgnoreSqlErrors = false;
bool GuiMode = false;
bool CheckCollectedData = false;
MysqlTableType TableType = MysqlTableType::kServerDefault;
bool RehearseUpgrade = false;
const char *UpgradeBackupFile = nullptr;
