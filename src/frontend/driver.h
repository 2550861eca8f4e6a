#pragma once

// Runs one tvdbmgr invocation and returns the process exit code: 0 when
// the command's handler ran, 1..5 for the stage at which the run stopped,
// 6 when another tvdbmgr is working on the database.
int RunTvdbmgr(int argc, char *argv[]);
