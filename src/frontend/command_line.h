// The command line: options (anywhere, as GNU tools take them; "--" ends
// them), the command word and its argument.
#pragma once

#include <string>

// One command of the tool, as the command line names it.
struct Command {
  const char *word;
  bool takesFile;
  // init fills a database whose dialect cannot be told yet.
  bool needsDialect;
  // Reports its own failures and returns false when the command failed:
  // it stopped before its work, a statement of its work failed, or it
  // left the database with defects or a lock that the operator wanted
  // gone. The exit code says so only when asked to
  // (TVDBMGR_STRICT_EXIT=1).
  bool (*run)(const char *argument);
  const char *help;  // its line in the usage text
  // Printed when SIGINT or SIGTERM ends the command (session/interrupt.h);
  // null for the default action.
  const char *interrupted;
};

struct CommandLine {
  std::string configFile;
  const Command *command = nullptr;
  const char *argument = nullptr;  // null for a command without a file
};

// Sets the process-wide flags from the options and fills line; the
// configuration file is -c's, else TALVEX_CONFIG_FILE's, else the
// default. Returns kExitCommandRan when a command is to run; otherwise
// the exit code, after printing why (the usage for -h, getopt's complaint
// for a bad option, nothing more for -v).
int ParseCommandLine(int argc, char *argv[], CommandLine &line);
