// The batch command on SQLite, side by side with the sqlite3 shell
// running the same file: both run each statement on its own, committed
// on its own, three rounds each, taking turns. A last run gives the
// shell the file inside one transaction, to show what the commits cost.
//
//   batch_bench [statements] [directory]   (default 200000, $TMPDIR or /tmp)
//
// The databases live in directory: its file system decides what a
// commit costs (an fsync each on a disk, next to nothing on tmpfs).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "session/globals.h"
#include "timed_command.h"

namespace {

using bench::TimedCommand;

// A database that the tool takes for an SQLite one at the current
// version, with the table the statements fill.
void MakeDatabase(const std::string &path) {
  std::filesystem::remove(path);
  TimedCommand(
      "sqlite3 " + path +
      " \"CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,"
      "PRIMARY KEY(var_name));INSERT INTO metadata VALUES ('SchemaVersion','" +
      std::to_string(kToolSchemaVersion) +
      "'),('Syntax','SQLITE');"
      "CREATE TABLE config (var_name varchar(63) not null,var_value varchar(2000),PRIMARY KEY(var_name));"
      "CREATE TABLE t (id integer not null,v varchar(63),PRIMARY KEY(id))\"");
}

const int kRounds = 3;

void Report(const char *what, double seconds, long statements) {
  printf("%-44s %8.2f s  %8.1f us/statement\n", what, seconds,
         seconds * 1e6 / static_cast<double>(statements));
}

}  // namespace

int main(int argc, char **argv) {
  const long statements = argc > 1 ? atol(argv[1]) : 200000;
  const char *tmp = getenv("TMPDIR");
  const std::string base = argc > 2 ? argv[2] : tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
  const std::string dir = base + "/tvdbmgr-batch-bench-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/statements.sql", whole = dir + "/whole.sql", db = dir + "/bench.db";
  {
    std::ofstream out(file), one(whole);
    one << "BEGIN;\n";
    for (long i = 0; i < statements; i++) {
      const std::string statement =
          "INSERT INTO t (id,v) VALUES (" + std::to_string(i) + ",'value " + std::to_string(i) + "');\n";
      out << statement;
      one << statement;
    }
    one << "COMMIT;\n";
  }
  std::ofstream(dir + "/tvdbmgr.conf") << "DBDriver = sqlite\nDBName = " << db << "\n";
  printf("%ld statements, databases in %s\n", statements, dir.c_str());

  // The two take turns, so that a busy disk weighs on both alike.
  const std::string tool =
      std::string(TVDBMGR_BINARY) + " -c " + dir + "/tvdbmgr.conf batch " + file + " >/dev/null";
  for (int round = 1; round <= kRounds; round++) {
    MakeDatabase(db);
    Report("tvdbmgr batch (a commit per statement)", TimedCommand(tool), statements);
    MakeDatabase(db);
    Report("sqlite3 shell (a commit per statement)",
           TimedCommand("sqlite3 " + db + " < " + file + " >/dev/null"), statements);
  }
  MakeDatabase(db);
  Report("sqlite3 shell (one transaction)", TimedCommand("sqlite3 " + db + " < " + whole + " >/dev/null"),
         statements);
  std::filesystem::remove_all(dir);
  return 0;
}
