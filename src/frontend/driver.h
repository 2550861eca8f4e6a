#pragma once

// Runs one tvdbmgr invocation and returns the process exit code
// (frontend/exit_codes.h).
int RunTvdbmgr(int argc, char *argv[]);
