// The command line as an operator meets it: banner, usage, exit codes and
// the one-line failures before a command runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "runtime/password.h"
#include "session/globals.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

const std::string kUsage =
    "Usage: tvdbmgr [<options>] <command> [<file>]\n"
    "Valid commands are:\n"
    "   batch <file>    : Run SQL batch file\n"
    "   check           : Check database for errors\n"
    "   export <file>   : Export database to file\n"
    "   import <file>   : Import database from file\n"
    "   init <file>     : Initialize database\n"
    "   reindex         : Reindex database\n"
    "   unlock          : Forced database unlock\n"
    "   upgrade         : Upgrade database to new version\n"
    "Valid options are:\n"
    "   -c <config>     : Use alternate configuration file.\n"
    "   -d              : Check collected data (may take very long time).\n"
    "   -f              : Force repair - do not ask for confirmation.\n"
    "   -G              : GUI mode.\n"
    "   -h, --help      : Display help and exit.\n"
    "   -I              : MySQL only - specify TYPE=InnoDB for new tables.\n"
    "   -M              : MySQL only - specify TYPE=MyISAM for new tables.\n"
    "   -n, --dry-run   : Upgrade only - rehearse it: run it whole, then undo it.\n"
    "   -b, --backup <file> : Upgrade only - export the database to file first.\n"
    "   -t              : Enable trace mode (show executed SQL queries).\n"
    "   -v, --version   : Display version and exit.\n"
    "   -X              : Ignore SQL errors when upgrading (USE WITH CARE!!!)\n"
    "Options may also follow the command; \"--\" ends them.\n"
    "The configuration file is the one given with -c, else the one that\n"
    "TALVEX_CONFIG_FILE names, else /etc/talvexd.conf.\n"
    "Exit codes: 0 the command ran, 1 bad command line, 2 configuration file not\n"
    "loaded, 3 database driver not loaded, 4 no connection, 5 database dialect\n"
    "unknown or a server that cannot take the command, 6 another tvdbmgr is\n"
    "working on the database. With TVDBMGR_STRICT_EXIT=1 in the environment a\n"
    "command that fails ends with 7.\n"
    "\n";

TEST(CommandLine, StopsBeforeTheConfigurationWithExitCode1) {
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, kBanner + "Command missing. Type tvdbmgr -h for command line syntax.\n"},
      {{"-v"}, kBanner},
      {{"-v", "unlock"}, kBanner},
      {{"-h"}, kBanner + kUsage},
      {{"-h", "-h"}, kBanner + kUsage + kUsage},
      {{"--help"}, kBanner + kUsage},
      {{"--version"}, kBanner},
      {{"--bogus", "unlock"}, kBanner},
      {{"--help=x"}, kBanner},
      {{"-z", "unlock"}, kBanner},
      {{"-c"}, kBanner},
      {{"Upgrade"}, kBanner + "Invalid command \"Upgrade\". Type tvdbmgr -h for command line syntax.\n"},
      {{"upgrades"}, kBanner + "Invalid command \"upgrades\". Type tvdbmgr -h for command line syntax.\n"},
      {{"init"}, kBanner + "Required command argument missing\n"},
      {{"-c", "/nonexistent.conf", "import"}, kBanner + "Required command argument missing\n"},
      {{"-t", "batch"}, kBanner + "Required command argument missing\n"},
      // Options after the command word count as well.
      {{"unlock", "-h"}, kBanner + kUsage},
      {{"unlock", "--version"}, kBanner},
      {{"unlock", "-z"}, kBanner},
      // The rehearsal and the backup belong to the upgrade alone.
      {{"-n", "check"},
       kBanner + "Options -n (--dry-run) and -b (--backup) are valid with the upgrade command only\n"},
      {{"export", "x.db", "--backup", "y.db"},
       kBanner + "Options -n (--dry-run) and -b (--backup) are valid with the upgrade command only\n"},
      {{"upgrade", "--dry-run", "-b", "y.db"},
       kBanner + "A rehearsal changes nothing and takes no backup: use -n or -b, not both\n"},
      {{"upgrade", "--backup"}, kBanner},
  };
  for (const auto &c : cases) {
    std::string joined;
    for (const auto &a : c.args) joined += a + " ";
    tvtest::RunResult r = tvtest::RunTool(c.args, "", {"TALVEX_CONFIG_FILE=/nonexistent/x.conf"});
    EXPECT_EQ(r.out, c.out) << joined;
    EXPECT_EQ(r.exitCode, 1) << joined;
  }
}

TEST(CommandLine, ConfigurationAndConnectionFailures) {
  std::string dir = tvtest::TempDir();
  auto conf = [&](const std::string &name, const std::string &text) {
    tvtest::WriteFile(dir + "/" + name, text);
    return dir + "/" + name;
  };
  const struct {
    std::string config;
    int code;
    std::string out;
  } cases[] = {
      {dir + "/missing.conf", 2, "Error loading configuration file\n"},
      {conf("noeq.conf", "DBDriver = sqlite\nthis line has no equal sign\n"), 2,
       "Error loading configuration file\n"},
      {conf("baddrv.conf", "DBDriver = informix\n"), 3,
       "Unable to load and initialize database driver \"informix\"\n"},
      {conf("empty.conf", "# nothing\n"), 3, "Unable to load and initialize database driver \"\"\n"},
      {conf("badfile.conf", "DBDriver = sqlite\nDBName = " + dir + "/no/such/dir/x.db\n"), 4,
       "Unable to connect to database " + dir +
           "/no/such/dir/x.db@127.0.0.1 as talvex: database file does not exist (only the init command creates "
           "it)\n"},
      {conf("notdb.conf", "DBDriver = sqlite\nDBName = " + conf("junk.db", std::string(4096, 'x')) + "\n"), 4,
       "Unable to connect to database " + dir + "/junk.db@127.0.0.1 as talvex: file is not a database\n"},
      {conf("noserver.conf",
            "DBDriver = pgsql\nDBServer = 127.0.0.1\nDBDrvParams = port=1 connect_timeout=2\n"),
       4, ""},
      {conf("nomy.conf", "DBDriver = mysql\nDBDrvParams = port=1;connect_timeout=2\n"), 4, ""},
      {conf("nosyntax.conf", "DBDriver = sqlite\nDBName = " + conf("fresh.db", "") + "\n"), 5,
       "Unable to determine database syntax\n"},
  };
  for (const auto &c : cases) {
    tvtest::RunResult r = tvtest::RunTool({"-c", c.config, "unlock"});
    EXPECT_EQ(r.exitCode, c.code) << c.config << "\n" << r.out;
    if (c.out.empty())
      EXPECT_EQ(r.out.rfind(kBanner + "Unable to connect to database talvex_db@127.0.0.1 as talvex: ", 0), 0u)
          << r.out;
    else
      EXPECT_EQ(r.out, kBanner + c.out) << c.config;
  }
  // The reason for a bad configuration goes to the error stream.
  EXPECT_NE(tvtest::RunTool({"-c", dir + "/noeq.conf", "check"}).err.find("line 2"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, OnlyInitCreatesAMissingSqliteFile) {
  std::string dir = tvtest::TempDir();
  const std::string path = dir + "/mistyped.db", config = dir + "/t.conf";
  tvtest::WriteFile(config, "DBDriver = sqlite\nDBName = " + path + "\n");
  tvtest::WriteFile(dir + "/cmd.sql", "SELECT 1;");
  const std::vector<std::vector<std::string>> commands = {{"batch", dir + "/cmd.sql"},
                                                          {"check"},
                                                          {"export", dir + "/out.db"},
                                                          {"import", dir + "/cmd.sql"},
                                                          {"reindex"},
                                                          {"unlock"},
                                                          {"upgrade"}};
  for (const auto &command : commands) {
    std::vector<std::string> args = {"-f", "-c", config};
    args.insert(args.end(), command.begin(), command.end());
    tvtest::RunResult r = tvtest::RunTool(args);
    EXPECT_EQ(r.exitCode, 4) << command[0];
    EXPECT_EQ(r.out,
              kBanner + "Unable to connect to database " + path +
                  "@127.0.0.1 as talvex: database file does not exist (only the init command creates it)\n")
        << command[0];
    EXPECT_FALSE(std::filesystem::exists(path)) << command[0];
  }
  tvtest::WriteFile(dir + "/init.sql", "CREATE TABLE t (id integer);");
  EXPECT_EQ(tvtest::RunTool({"-c", config, "init", dir + "/init.sql"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, SettingsLongerThanTheServerBuffersAreRefused) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->createVariableTables(kToolSchemaVersion);
  std::string dir = tvtest::TempDir();
  // A name whose first 255 characters name another file in dir.
  const std::string longName = dir + "/" + std::string(300 - dir.size(), 'a');
  const std::string e = "\xC3\xA9";
  std::string e63;
  for (int i = 0; i < 63; i++) e63 += e;
  const std::string base =
      "DBDriver = sqlite\nDBName = " + db->configPath().substr(0, db->configPath().rfind('/')) + "/test.db\n";
  const struct {
    std::string settings;
    std::string reason;  // empty: accepted, the command runs
  } cases[] = {
      {"DBDriver = sqlite\nDBName = " + longName + "\n", "DBName is longer than 255 characters"},
      {base + "DBPassword = " + std::string(64, 'p') + "\n", "DBPassword is longer than 63 characters"},
      {base + "DBLogin = " + std::string(64, 'l') + "\n", "DBLogin is longer than 63 characters"},
      {base + "DBServer = " + std::string(260, 's') + "\n", "DBServer is longer than 259 characters"},
      {base + "DBSchema = " + std::string(260, 's') + "\n", "DBSchema is longer than 259 characters"},
      {base + "DBDrvParams = busy_timeout=" + std::string(250, '1') + "\n",
       "DBDrvParams is longer than 259 characters"},
      {base + "DBEncryptedPassword = " + EncryptPassword("talvex", std::string(64, 'p').c_str()) + "\n",
       "the password in DBEncryptedPassword is longer than 63 characters"},
      // At the limit, counted in characters; CodePage is cut, not refused.
      {base + "DBPassword = " + e63 + "\nCodePage = " + std::string(300, 'c') + "\n", ""},
      {base + "DBEncryptedPassword = " + EncryptPassword("talvex", e63.c_str()) + "\n", ""},
  };
  for (const auto &c : cases) {
    tvtest::WriteFile(dir + "/t.conf", c.settings);
    tvtest::RunResult r = tvtest::RunTool({"-c", dir + "/t.conf", "unlock"});
    if (c.reason.empty()) {
      EXPECT_EQ(r.exitCode, 0) << c.settings << r.err;
      EXPECT_EQ(r.out, kBanner + "Database is not locked\n");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.exitCode, 2) << c.reason;
      EXPECT_EQ(r.out, kBanner + "Error loading configuration file\n");
      EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
  }
  // The configuration file's own path, from -c or the environment.
  const std::string longPath = dir + "/" + std::string(200, 'd') + "/" + std::string(100, 'c');
  for (const auto &r : {tvtest::RunTool({"-c", longPath, "unlock"}),
                        tvtest::RunTool({"unlock"}, "", {"TALVEX_CONFIG_FILE=" + longPath})}) {
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, kBanner + "Error loading configuration file\n");
    EXPECT_EQ(r.err, "tvdbmgr: the configuration file path is longer than 259 characters\n");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
            1);
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, ConfigFileFromEnvironmentAndOption) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->createVariableTables(kToolSchemaVersion);
  // The environment stands in for the registry value; -c wins over it.
  tvtest::RunResult r = tvtest::RunTool({"unlock"}, "", {"TALVEX_CONFIG_FILE=" + db->configPath()});
  EXPECT_EQ(r.out, kBanner + "Database is not locked\n");
  EXPECT_EQ(r.exitCode, 0);
  r = tvtest::RunTool({"-c", "/nonexistent.conf", "unlock"}, "", {"TALVEX_CONFIG_FILE=" + db->configPath()});
  EXPECT_EQ(r.exitCode, 2);
  r = tvtest::RunTool({"-c", db->configPath(), "unlock", "extra", "args"}, "",
                      {"TALVEX_CONFIG_FILE=/nonexistent.conf"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBanner + "Database is not locked\n");
}

TEST(CommandLine, OptionsAfterTheCommandWordApply) {
  std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/-odd name.sql",
                    "UPDATE config SET var_value='server1' WHERE var_name='DBLockStatus';");
  const std::string lockStatus = "SELECT var_value FROM config WHERE var_name='DBLockStatus'";
  // Without -f the unlock's question reads the end of input and answers
  // no; POSIXLY_CORRECT does not turn the options after the word into
  // ignored arguments.
  for (const std::string env : {"TVDBMGR_UNUSED=1", "POSIXLY_CORRECT=1"}) {
    auto db = tvtest::OpenOrSkip("sqlite");
    if (!db) return;
    db->createVariableTables(kToolSchemaVersion);
    tvtest::RunResult r =
        tvtest::RunTool({"batch", "-c", db->configPath(), "--", dir + "/-odd name.sql"}, "", {env});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(db->value(lockStatus), "server1") << env;
    r = tvtest::RunTool({"-c", db->configPath(), "unlock", "-f"}, "", {env});
    EXPECT_NE(r.out.find("Database lock removed\n"), std::string::npos) << env << r.out;
    EXPECT_EQ(db->value(lockStatus), "UNLOCKED") << env;
  }
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, DefaultConfigurationFileIsInEtc) {
  if (std::filesystem::exists("/etc/talvexd.conf")) GTEST_SKIP() << "this machine has /etc/talvexd.conf";
  tvtest::RunResult r = tvtest::RunTool({"unlock"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "tvdbmgr: /etc/talvexd.conf: No such file or directory\n");
}

TEST(CommandLine, WrongPasswordAndEncryptedPassword) {
  for (const std::string engine : {"pgsql", "mysql"}) {
    auto db = tvtest::OpenOrSkip(engine);
    if (!db) continue;
    db->createVariableTables(kToolSchemaVersion);
    std::string dir = tvtest::TempDir();
    std::string base = engine == "pgsql" ? "DBDriver = pgsql\n" : "DBDriver = mysql\n";
    // The database name of the test's own configuration.
    std::string own;
    {
      std::ifstream in(db->configPath());
      std::string line;
      while (std::getline(in, line))
        if (line.rfind("DBName", 0) == 0) own = line;
    }
    tvtest::WriteFile(dir + "/wrong.conf", base + own + "\n" + tvtest::ServerSettings(engine) +
                                               "DBLogin = tvtest\nDBPassword = nope\n");
    tvtest::RunResult r = tvtest::RunTool({"-c", dir + "/wrong.conf", "unlock"});
    EXPECT_EQ(r.exitCode, 4) << engine;
    EXPECT_NE(r.out.find("as tvtest: "), std::string::npos) << r.out;

    FILE *p = popen((std::string(TVDBMGR_TVPASSWD) + " tvtest tvtest").c_str(), "r");
    char line[256] = "";
    ASSERT_NE(fgets(line, sizeof(line), p), nullptr);
    pclose(p);
    std::string encrypted = line;
    encrypted.pop_back();
    tvtest::WriteFile(dir + "/enc.conf", base + own + "\n" + tvtest::ServerSettings(engine) +
                                             "DBLogin = tvtest\nDBEncryptedPassword = " + encrypted + "\n");
    r = tvtest::RunTool({"-c", dir + "/enc.conf", "unlock"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, kBanner + "Database is not locked\n");
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
