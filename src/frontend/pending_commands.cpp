// Handlers of commands that this build does not carry yet.
#include <cstdio>

#include "frontend/commands.h"

static void NotAvailable(const char *command) {
  printf("The %s command is not available in this build\n", command);
}

void RunCheckCommand() { NotAvailable("check"); }
void RunExportCommand(const char *) { NotAvailable("export"); }
void RunImportCommand(const char *) { NotAvailable("import"); }
void RunReindexCommand() { NotAvailable("reindex"); }
void RunUpgradeCommand() { NotAvailable("upgrade"); }
