#include "frontend/command_line.h"

#include <getopt.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "check/check_command.h"
#include "frontend/exit_codes.h"
#include "maintenance/maintenance_commands.h"
#include "session/globals.h"
#include "transfer/backup.h"
#include "transfer/transfer_commands.h"
#include "upgrade/upgrade_command.h"

namespace {

// The monitoring server's configuration file: both programs read one
// set of database settings.
const char kDefaultConfigFile[] = "/etc/talvexd.conf";

const Command kCommands[] = {
    {"batch", true, true, RunBatchCommand, "Run SQL batch file", nullptr},
    {"check", false, true, [](const char *) { return RunCheckCommand(); }, "Check database for errors",
     nullptr},
    {"export", true, true, RunExportCommand, "Export database to file", "Database export interrupted"},
    {"import", true, true, RunImportCommand, "Import database from file",
     "Database import interrupted: what it had not committed is rolled back"},
    {"init", true, false, RunInitCommand, "Initialize database", nullptr},
    {"reindex", false, true, [](const char *) { return RunReindexCommand(); }, "Reindex database", nullptr},
    {"unlock", false, true, [](const char *) { return RunUnlockCommand(); }, "Forced database unlock",
     nullptr},
    {"upgrade", false, true, [](const char *) { return RunUpgradeCommand(ExportBackup); },
     "Upgrade database to new version",
     "Database upgrade interrupted: what it had not committed is rolled back; run the upgrade again to finish it"},
};

// One option: its letter, its long name (or null), its argument's name in
// the usage text (or null when it takes none) and its line there. A new
// option is a row here and a case in ParseCommandLine.
struct Option {
  char letter;
  const char *longName;
  const char *argument;
  const char *help;
};

const Option kOptions[] = {
    {'c', nullptr, "<config>", "Use alternate configuration file."},
    {'d', nullptr, nullptr, "Check collected data (may take very long time)."},
    {'f', nullptr, nullptr, "Force repair - do not ask for confirmation."},
    {'G', nullptr, nullptr, "GUI mode."},
    {'h', "help", nullptr, "Display help and exit."},
    {'I', nullptr, nullptr, "MySQL only - specify TYPE=InnoDB for new tables."},
    {'M', nullptr, nullptr, "MySQL only - specify TYPE=MyISAM for new tables."},
    {'n', "dry-run", nullptr, "Upgrade only - rehearse it: run it whole, then undo it."},
    {'b', "backup", "<file>", "Upgrade only - export the database to file first."},
    {'t', nullptr, nullptr, "Enable trace mode (show executed SQL queries)."},
    {'v', "version", nullptr, "Display version and exit."},
    {'X', nullptr, nullptr, "Ignore SQL errors when upgrading (USE WITH CARE!!!)"},
};

void PrintUsage() {
  printf("Usage: tvdbmgr [<options>] <command> [<file>]\nValid commands are:\n");
  for (const Command &c : kCommands) {
    char name[32];
    snprintf(name, sizeof(name), "%s%s", c.word, c.takesFile ? " <file>" : "");
    printf("   %-15s : %s\n", name, c.help);
  }
  printf("Valid options are:\n");
  for (const Option &o : kOptions) {
    char name[32];
    if (o.longName != nullptr)
      snprintf(name, sizeof(name), "-%c, --%s%s%s", o.letter, o.longName, o.argument != nullptr ? " " : "",
               o.argument != nullptr ? o.argument : "");
    else
      snprintf(name, sizeof(name), "-%c%s%s", o.letter, o.argument != nullptr ? " " : "",
               o.argument != nullptr ? o.argument : "");
    printf("   %-15s : %s\n", name, o.help);
  }
  printf(
      "Options may also follow the command; \"--\" ends them.\n"
      "The configuration file is the one given with -c, else the one that\n"
      "TALVEX_CONFIG_FILE names, else %s.\n"
      "Exit codes: 0 the command ran, 1 bad command line, 2 configuration file not\n"
      "loaded, 3 database driver not loaded, 4 no connection, 5 database dialect\n"
      "unknown or a server that cannot take the command, 6 another tvdbmgr is\n"
      "working on the database. With TVDBMGR_STRICT_EXIT=1 in the environment a\n"
      "command that fails ends with 7.\n"
      "\n",
      kDefaultConfigFile);
}

const Command *FindCommand(const char *word) {
  for (const Command &c : kCommands)
    if (strcmp(word, c.word) == 0) return &c;
  return nullptr;
}

}  // namespace

int ParseCommandLine(int argc, char *argv[], CommandLine &line) {
  line.configFile = kDefaultConfigFile;
  // TALVEX_CONFIG_FILE, when set, names the configuration file.
  if (const char *env = getenv("TALVEX_CONFIG_FILE"); env != nullptr && *env != 0) line.configFile = env;

  // "-": the words that are not options come back in their place, so that
  // options after the command word are taken whatever POSIXLY_CORRECT
  // says, and never ignored.
  std::string letters = "-";
  std::vector<option> longOptions;
  for (const Option &o : kOptions) {
    letters += o.letter;
    if (o.argument != nullptr) letters += ':';
    if (o.longName != nullptr)
      longOptions.push_back(
          {o.longName, o.argument != nullptr ? required_argument : no_argument, nullptr, o.letter});
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  std::vector<const char *> words;
  bool stop = false;
  opterr = 1;
  optind = 0;  // full re-initialisation, for repeated runs in one process
  int ch;
  while ((ch = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr)) != -1) {
    switch (ch) {
      case 1: words.push_back(optarg); break;
      case 'c': line.configFile = optarg; break;
      case 'd': CheckCollectedData = true; break;
      case 'f': ForceRepair = true; break;
      case 'G': GuiMode = true; break;
      case 'h':
        PrintUsage();
        stop = true;
        break;
      case 'I': TableType = MysqlTableType::kInnoDb; break;
      case 'M': TableType = MysqlTableType::kMyIsam; break;
      case 'n': RehearseUpgrade = true; break;
      case 'b': UpgradeBackupFile = optarg; break;
      case 't': TraceMode = true; break;
      case 'v':
      case '?': stop = true; break;
      case 'X': IgnoreSqlErrors = true; break;
      default: break;
    }
  }
  if (stop) return kExitCommandLine;
  // What follows "--".
  for (int i = optind; i < argc; i++) words.push_back(argv[i]);

  if (words.empty()) {
    printf("Command missing. Type tvdbmgr -h for command line syntax.\n");
    return kExitCommandLine;
  }
  line.command = FindCommand(words[0]);
  if (line.command == nullptr) {
    printf("Invalid command \"%s\". Type tvdbmgr -h for command line syntax.\n", words[0]);
    return kExitCommandLine;
  }
  if ((RehearseUpgrade || UpgradeBackupFile != nullptr) && strcmp(line.command->word, "upgrade") != 0) {
    printf("Options -n (--dry-run) and -b (--backup) are valid with the upgrade command only\n");
    return kExitCommandLine;
  }
  if (RehearseUpgrade && UpgradeBackupFile != nullptr) {
    printf("A rehearsal changes nothing and takes no backup: use -n or -b, not both\n");
    return kExitCommandLine;
  }
  if (line.command->takesFile) {
    if (words.size() < 2) {
      printf("Required command argument missing\n");
      return kExitCommandLine;
    }
    line.argument = words[1];
  }
  return kExitCommandRan;
}
