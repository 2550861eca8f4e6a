#include "frontend/driver.h"

#include <getopt.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "external/config.h"
#include "external/password.h"
#include "session/commands.h"
#include "session/globals.h"
#include "session/server_role.h"
#include "session/tool_lock.h"

namespace {

const char kUsage[] =
    "Usage: tvdbmgr [<options>] <command>\n"
    "Valid commands are:\n"
    "   batch <file>  : Run SQL batch file\n"
    "   check         : Check database for errors\n"
    "   export <file> : Export database to file\n"
    "   import <file> : Import database from file\n"
    "   init <file>   : Initialize database\n"
    "   reindex       : Reindex database\n"
    "   unlock        : Forced database unlock\n"
    "   upgrade       : Upgrade database to new version\n"
    "Valid options are:\n"
    "   -c <config> : Use alternate configuration file. Default is C:\\talvexd.conf\n"
    "   -d          : Check collected data (may take very long time).\n"
    "   -f          : Force repair - do not ask for confirmation.\n"
    "   -G          : GUI mode.\n"
    "   -h          : Display help and exit.\n"
    "   -I          : MySQL only - specify TYPE=InnoDB for new tables.\n"
    "   -M          : MySQL only - specify TYPE=MyISAM for new tables.\n"
    "   -t          : Enable trace mode (show executed SQL queries).\n"
    "   -v          : Display version and exit.\n"
    "   -X          : Ignore SQL errors when upgrading (USE WITH CARE!!!)\n"
    "\n";

constexpr uint32_t kPathChars = 260;

// The server's buffer sizes, in characters with the terminator.
constexpr uint32_t kNameChars = 256, kLongChars = 260, kLoginChars = 64, kPasswordChars = 64;

// Connection settings, filled from section "server" of the configuration.
struct ConnectionSettings {
  char codePage[TvCfgBufferBytes(kLongChars)] = "ACP";
  char driver[TvCfgBufferBytes(kLongChars)] = "";
  char drvParams[TvCfgBufferBytes(kLongChars)] = "";
  char encryptedPassword[TvCfgBufferBytes(kNameChars)] = "";
  char login[TvCfgBufferBytes(kLoginChars)] = "talvex";
  char dbName[TvCfgBufferBytes(kNameChars)] = "talvex_db";
  char password[TvCfgBufferBytes(kPasswordChars)] = "";
  char schema[TvCfgBufferBytes(kLongChars)] = "";
  char server[TvCfgBufferBytes(kLongChars)] = "127.0.0.1";
};

// A value longer than its buffer is refused rather than cut: a cut name,
// server, login, password, schema, driver or driver parameter connects
// somewhere else or fails for a reason nobody can see. CodePage is read
// and never used, so its cut stays. A DBName under which the driver would
// keep no file is refused too: the command would succeed with nothing
// stored.
bool LoadSettings(const char *path, ConnectionSettings &s) {
  TV_CFG_TEMPLATE cfgTemplate[] = {
      {"CodePage", TV_CFG_STRING, kLongChars, s.codePage, true},
      {"CreateCrashDumps", TV_CFG_IGNORE, 0, nullptr},
      {"DBDriver", TV_CFG_STRING, kLongChars, s.driver},
      {"DBDrvParams", TV_CFG_STRING, kLongChars, s.drvParams},
      {"DBEncryptedPassword", TV_CFG_STRING, kNameChars, s.encryptedPassword},
      {"DBLogin", TV_CFG_STRING, kLoginChars, s.login},
      {"DBName", TV_CFG_STRING, kNameChars, s.dbName},
      {"DBPassword", TV_CFG_STRING, kPasswordChars, s.password},
      {"DBSchema", TV_CFG_STRING, kLongChars, s.schema},
      {"DBServer", TV_CFG_STRING, kLongChars, s.server},
      {"DataDirectory", TV_CFG_IGNORE, 0, nullptr},
      {"DumpDirectory", TV_CFG_IGNORE, 0, nullptr},
      {"LogFailedSQLQueries", TV_CFG_IGNORE, 0, nullptr},
      {"LogFile", TV_CFG_IGNORE, 0, nullptr},
      {"Module", TV_CFG_IGNORE, 0, nullptr},
      {"", TV_CFG_END, 0, nullptr},
  };
  Config config;
  const bool loaded = config.loadIniConfig(path, "server") && config.parseTemplate("server", cfgTemplate);
  for (const std::string &warning : config.warnings())
    fprintf(stderr, "tvdbmgr: warning: %s\n", warning.c_str());
  std::string error = config.errorText();
  if (loaded && DBCheckDatabaseName(s.driver, s.dbName, error)) return true;
  // The reason goes to the error stream; standard output keeps the one
  // line that callers expect.
  fprintf(stderr, "tvdbmgr: %s\n", error.c_str());
  return false;
}

// A DBEncryptedPassword that cannot be decrypted leaves DBPassword as it
// is, with a word on the error stream. Returns false, with the reason on
// the error stream, when the decrypted password is longer than the
// server's password buffer.
bool DecryptSettingsPassword(ConnectionSettings &s) {
  if (s.encryptedPassword[0] == 0) return true;
  // Room for whatever an encrypted value of its size can hold.
  char plain[sizeof(s.encryptedPassword)];
  if (!DecryptPassword(s.login, s.encryptedPassword, plain, sizeof(plain))) {
    fprintf(stderr, "tvdbmgr: DBEncryptedPassword cannot be decrypted for login \"%s\"\n", s.login);
    return true;
  }
  bool fits = FitsConfigBuffer(plain, kPasswordChars);
  if (fits)
    strcpy(s.password, plain);
  else
    fprintf(stderr, "tvdbmgr: the password in DBEncryptedPassword is longer than %u characters\n",
            kPasswordChars - 1);
  explicit_bzero(plain, sizeof(plain));
  return fits;
}

// A cut path could name another configuration file, so a longer one is
// refused. Returns false with the reason on the error stream.
bool LoadSettingsFrom(const std::string &path, ConnectionSettings &s) {
  if (!FitsConfigBuffer(path, kPathChars)) {
    fprintf(stderr, "tvdbmgr: the configuration file path is longer than %u characters\n", kPathChars - 1);
    return false;
  }
  return LoadSettings(path.c_str(), s) && DecryptSettingsPassword(s);
}

bool CommandTakesFile(const char *command) {
  return !strcmp(command, "init") || !strcmp(command, "batch") || !strcmp(command, "export") ||
         !strcmp(command, "import");
}

bool IsCommand(const char *word) {
  static const char *const kCommands[] = {"batch", "check",   "export", "import",
                                          "init",  "reindex", "unlock", "upgrade"};
  for (const char *c : kCommands)
    if (strcmp(word, c) == 0) return true;
  return false;
}

void Dispatch(const char *command, const char *argument) {
  if (!strcmp(command, "batch"))
    RunBatchCommand(argument);
  else if (!strcmp(command, "check"))
    RunCheckCommand();
  else if (!strcmp(command, "upgrade"))
    RunUpgradeCommand();
  else if (!strcmp(command, "unlock"))
    RunUnlockCommand();
  else if (!strcmp(command, "reindex"))
    RunReindexCommand();
  else if (!strcmp(command, "export"))
    RunExportCommand(argument);
  else if (!strcmp(command, "import"))
    RunImportCommand(argument);
}

}  // namespace

int RunTvdbmgr(int argc, char *argv[]) {
  printf("Talvex Database Manager Version 1.1.9\n\n");

  // TALVEX_CONFIG_FILE stands in for the server's registry value.
  std::string configFile = "C:\\talvexd.conf";
  if (const char *env = getenv("TALVEX_CONFIG_FILE"); env != nullptr && *env != 0) configFile = env;

  bool stop = false;
  opterr = 1;
  optind = 0;  // full re-initialisation, for repeated runs in one process
  int ch;
  // "+": stop at the command word, as POSIX getopt does.
  while ((ch = getopt(argc, argv, "+c:dfGhIMtvX")) != -1) {
    switch (ch) {
      case 'c': configFile = optarg; break;
      case 'd': CheckCollectedData = true; break;
      case 'f': ForceRepair = true; break;
      case 'G': GuiMode = true; break;
      case 'h':
        fputs(kUsage, stdout);
        stop = true;
        break;
      case 'I': TableType = MysqlTableType::kInnoDb; break;
      case 'M': TableType = MysqlTableType::kMyIsam; break;
      case 't': TraceMode = true; break;
      case 'v':
      case '?': stop = true; break;
      case 'X': IgnoreSqlErrors = true; break;
      default: break;
    }
  }
  if (stop) return 1;

  if (optind >= argc) {
    printf("Command missing. Type tvdbmgr -h for command line syntax.\n");
    return 1;
  }
  const char *command = argv[optind];
  if (!IsCommand(command)) {
    printf("Invalid command \"%s\". Type tvdbmgr -h for command line syntax.\n", command);
    return 1;
  }
  const char *argument = optind + 1 < argc ? argv[optind + 1] : nullptr;
  if (CommandTakesFile(command) && argument == nullptr) {
    printf("Required command argument missing\n");
    return 1;
  }

  ConnectionSettings s;
  if (!LoadSettingsFrom(configFile, s)) {
    printf("Error loading configuration file\n");
    return 2;
  }

  if (!DBInit(0, 0)) {
    printf("Unable to initialize database library\n");
    return 3;
  }
  db_driver_t driver = DBLoadDriver(s.driver, s.drvParams, false, nullptr, nullptr);
  if (driver == nullptr) {
    printf("Unable to load and initialize database driver \"%s\"\n", s.driver);
    return 3;
  }
  // Only init fills a new database; for any other command a missing
  // SQLite file is a mistyped name, not a database to create empty.
  if (!strcmp(command, "init")) DBAllowDatabaseCreation(driver);
  // Every command takes the lock, before it reads or asks anything: an
  // export or a check in the middle of an upgrade would see a schema half
  // changed, and any command that writes would interleave its changes
  // with the other run's. It outlives DBDisconnect below (see ToolLock).
  ToolLock toolLock;
  if (!toolLock.takeBeforeConnecting(driver, s.dbName)) {
    DBUnloadDriver(driver);
    return 6;
  }
  char errorText[DBDRV_MAX_ERROR_TEXT];
  DbHandle = DBConnect(driver, s.server, s.dbName, s.login, s.password, s.schema, errorText);
  if (DbHandle == nullptr) {
    printf("Unable to connect to database %s@%s as %s: %s\n", s.dbName, s.server, s.login, errorText);
    DBUnloadDriver(driver);
    return 4;
  }
  if (!toolLock.take(DbHandle)) {
    DBDisconnect(DbHandle);
    DbHandle = nullptr;
    DBUnloadDriver(driver);
    return 6;
  }
  if (const int refused = RefuseCommandForServerRole(DbHandle, command); refused != 0) {
    DBDisconnect(DbHandle);
    DbHandle = nullptr;
    DBUnloadDriver(driver);
    return refused;
  }

  if (!strcmp(command, "init")) {
    RunInitCommand(argument);
  } else {
    DbSyntax = DBGetSyntax(DbHandle);
    if (DbSyntax == -1) {
      printf("Unable to determine database syntax\n");
      DBDisconnect(DbHandle);
      DbHandle = nullptr;
      DBUnloadDriver(driver);
      return 5;
    }
    Dispatch(command, argument);
  }

  DBDisconnect(DbHandle);
  DbHandle = nullptr;
  DBUnloadDriver(driver);
  return 0;
}
