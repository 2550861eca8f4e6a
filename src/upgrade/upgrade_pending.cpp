// Placeholder until the upgrade command lands; removed with it.
#include <cstdio>

#include "frontend/commands.h"

void RunUpgradeCommand() { printf("The upgrade command is not available in this build\n"); }
