// Placeholder until export, import and reindex land; removed with them.
#include <cstdio>

#include "frontend/commands.h"

void RunExportCommand(const char *) { printf("The export command is not available in this build\n"); }
void RunImportCommand(const char *) { printf("The import command is not available in this build\n"); }
void RunReindexCommand() { printf("The reindex command is not available in this build\n"); }
