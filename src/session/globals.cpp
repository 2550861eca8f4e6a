#include "frontend/globals.h"

db_handle_t DbHandle = nullptr;
int DbSyntax = 0;
int TraceMode = 0;
int ForceRepair = 0;
int IgnoreSqlErrors = 0;
bool GuiMode = false;
bool CheckCollectedData = false;
const char *TableTypeSuffix = "";
