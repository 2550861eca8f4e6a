// The process exit codes of tvdbmgr. The codes up to kExitToolLock tell
// how far the tool got before the command ran; kExitCommandFailed is given
// only in the strict mode, for a command that ran and reported failure.
#pragma once

enum ExitCode : int {
  kExitCommandRan = 0,
  kExitCommandLine = 1,    // -h, -v, a bad option, command or argument
  kExitConfiguration = 2,  // the configuration file could not be loaded
  kExitDriver = 3,         // the database library or driver
  kExitConnection = 4,     // no connection
  kExitDialect = 5,        // the SQL dialect stayed undetermined
  kExitToolLock = 6,       // another tvdbmgr works on the database
  kExitCommandFailed = 7,  // strict mode: the command reported failure
};

// The exit code of a command that ran, from its handler's result:
// kExitCommandRan whatever the outcome, as scripts written for the tool
// expect, unless TVDBMGR_STRICT_EXIT=1 is in the environment; then
// kExitCommandFailed when the command failed.
int CommandExitCode(bool succeeded);
