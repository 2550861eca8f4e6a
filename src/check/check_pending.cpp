// Placeholder until the check command lands; removed with it.
#include <cstdio>

#include "frontend/commands.h"

void RunCheckCommand() { printf("The check command is not available in this build\n"); }
