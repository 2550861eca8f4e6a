#include "frontend/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "frontend/command_line.h"
#include "frontend/exit_codes.h"
#include "runtime/config.h"
#include "runtime/password.h"
#include "session/globals.h"
#include "session/interrupt.h"
#include "session/server_role.h"
#include "session/tool_lock.h"

namespace {

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

// Once connected and locked: what the server's role refuses, the dialect
// (for every command but init), then the command. Returns the exit code.
int RunConnectedCommand(const Command &command, const char *argument) {
  if (const int refused = RefuseCommandForServerRole(DbHandle, command.word); refused != 0) return refused;
  if (command.needsDialect) {
    DbSyntax = DBGetSyntax(DbHandle);
    if (DbSyntax == -1) {
      printf("Unable to determine database syntax\n");
      return kExitDialect;
    }
  }
  if (command.interrupted != nullptr) HandleInterrupts(command.interrupted);
  return CommandExitCode(command.run(argument));
}

struct DriverUnloader {
  void operator()(db_driver_t driver) const { DBUnloadDriver(driver); }
};
using LoadedDriver = std::unique_ptr<std::remove_pointer_t<db_driver_t>, DriverUnloader>;

// The connection of the command, DbHandle while it lasts.
struct Disconnector {
  void operator()(db_handle_t handle) const {
    DBDisconnect(handle);
    DbHandle = nullptr;
  }
};
using Connection = std::unique_ptr<std::remove_pointer_t<db_handle_t>, Disconnector>;

}  // namespace

int CommandExitCode(bool succeeded) {
  const char *strict = getenv("TVDBMGR_STRICT_EXIT");
  return !succeeded && strict != nullptr && strcmp(strict, "1") == 0 ? kExitCommandFailed : kExitCommandRan;
}

int RunTvdbmgr(int argc, char *argv[]) {
  printf("Talvex Database Manager Version 1.1.9\n\n");

  CommandLine line;
  if (int code = ParseCommandLine(argc, argv, line); code != kExitCommandRan) return code;
  const Command &command = *line.command;

  ConnectionSettings s;
  if (!LoadSettingsFrom(line.configFile, s)) {
    printf("Error loading configuration file\n");
    return kExitConfiguration;
  }

  if (!DBInit(0, 0)) {
    printf("Unable to initialize database library\n");
    return kExitDriver;
  }
  // Every command takes the lock, before it reads or asks anything: an
  // export or a check in the middle of an upgrade would see a schema half
  // changed, and any command that writes would interleave its changes
  // with the other run's. Declared first, it outlives the connection and
  // the driver (see ToolLock).
  ToolLock toolLock;
  LoadedDriver driver(DBLoadDriver(s.driver, s.drvParams, false, nullptr, nullptr));
  if (driver == nullptr) {
    printf("Unable to load and initialize database driver \"%s\"\n", s.driver);
    return kExitDriver;
  }
  // Only init fills a new database; for any other command a missing
  // SQLite file is a mistyped name, not a database to create empty.
  if (!command.needsDialect) DBAllowDatabaseCreation(driver.get());
  if (!toolLock.takeBeforeConnecting(driver.get(), s.dbName)) return kExitToolLock;
  char errorText[DBDRV_MAX_ERROR_TEXT];
  Connection connection(
      DBConnect(driver.get(), s.server, s.dbName, s.login, s.password, s.schema, errorText));
  if (connection == nullptr) {
    printf("Unable to connect to database %s@%s as %s: %s\n", s.dbName, s.server, s.login, errorText);
    return kExitConnection;
  }
  DbHandle = connection.get();
  return toolLock.take(DbHandle) ? RunConnectedCommand(command, line.argument) : kExitToolLock;
}
