// An export that is killed never costs the earlier file, and an import
// refuses a file that it cannot read as a whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/syslog_fill.h"
#include "transfer_fixture.h"

namespace {

using tvtest::kBanner;
using tvtest::ReadFile;

// How many temporary files of an export to out.db dir holds.
int Temporaries(const std::string &dir) {
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    count += name.starts_with("out.db.tvdbmgr-tmp-") && !name.ends_with("-journal");
  }
  return count;
}

// Starts "tvdbmgr export <out>", kills it with SIGKILL after delay, and
// waits for it. False when the export ended before that.
bool KillExportAfter(tvtest::TestDatabase &db, const std::string &out, std::chrono::microseconds delay) {
  std::vector<std::string> args = {tvtest::ToolPath(), "-c", db.configPath(), "export", out};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  std::this_thread::sleep_for(delay);
  kill(pid, SIGKILL);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFSIGNALED(status);
}

TEST(FileSafety, KilledExportLeavesTheEarlierFile) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db || !tvtest::InitSchemaFast(*db)) return;
  const std::string dir = tvtest::TempDir(), other = tvtest::TempDir();
  const std::string out = dir + "/out.db";
  tvtest::FillSyslog(*db, 300000);
  db->exec("INSERT INTO config (var_name,var_value) VALUES ('Marker','earlier')");
  ASSERT_TRUE(tvtest::Tool(*db, {"export", out}).out.ends_with("Database export complete.\n"));
  const std::string earlier = ReadFile(out);
  db->exec("DELETE FROM config WHERE var_name='Marker'");

  // Kills spread over the time an export takes; one that comes after
  // the rename may find the complete file, never anything else.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(tvtest::Tool(*db, {"export", other + "/out.db"}).out.ends_with("Database export complete.\n"));
  const auto duration =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  const std::string complete = ReadFile(other + "/out.db");
  ASSERT_NE(earlier, complete);
  int killedBeforeRename = 0;
  for (double part : {0.1, 0.3, 0.5, 0.7, 0.9}) {
    const int leftovers = Temporaries(dir);
    const bool killed =
        KillExportAfter(*db, out, std::chrono::duration_cast<std::chrono::microseconds>(duration * part));
    const std::string now = ReadFile(out);
    if (killed && Temporaries(dir) > leftovers) {
      killedBeforeRename++;
      EXPECT_TRUE(now == earlier) << "kill at " << part;
    } else {
      EXPECT_TRUE(now == earlier || now == complete) << "kill at " << part;
    }
    // Whatever is left has a name that says what it is.
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "out.db" ||
                  std::regex_match(name, std::regex(R"(out\.db\.tvdbmgr-tmp-[A-Za-z0-9]{6}(-journal)?)")))
          << name;
    }
  }
  EXPECT_GE(killedBeforeRename, 2);
  // The leftovers of killed exports, there for the operator to remove,
  // are no obstacle to the next one.
  ASSERT_TRUE(tvtest::Tool(*db, {"export", out}).out.ends_with("Database export complete.\n"));
  EXPECT_TRUE(ReadFile(out) == complete);
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(other);
}

// A writer that died in the middle of a transaction on path: its journal
// holds the pages it changed, the file may hold some of the changes.
void DieInsideTransaction(const std::string &path) {
  pid_t pid = fork();
  if (pid == 0) {
    sqlite3 *file = nullptr;
    sqlite3_open(path.c_str(), &file);
    sqlite3_exec(file, "PRAGMA cache_size=1; BEGIN; DELETE FROM script_library; DELETE FROM config;", nullptr,
                 nullptr, nullptr);
    _exit(0);
  }
  int status;
  waitpid(pid, &status, 0);
}

TEST(FileSafety, ImportRefusesAFileItCannotReadWhole) {
  const std::string dir = tvtest::TempDir();
  const std::string file = tvtest::MakeExportFile(dir);
  auto db = tvtest::OpenOrSkip("sqlite");
  if (file.empty() || !db || !tvtest::InitSchemaFast(*db)) return;
  db->exec("INSERT INTO config (var_name,var_value) VALUES ('Marker','kept')");
  const tvtest::Snapshot before = tvtest::TakeSnapshot(*db);

  const std::string hot = dir + "/hot.db", wal = dir + "/wal.db", link = dir + "/link.db";
  std::filesystem::copy_file(file, hot);
  DieInsideTransaction(hot);
  ASSERT_GT(std::filesystem::file_size(hot + "-journal"), 0u);
  std::filesystem::create_symlink(hot, link);
  std::filesystem::copy_file(file, wal);
  tvtest::WriteFile(wal + "-wal", "");
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);

  const std::string unfinished = " was left in the middle of a write (";
  const std::string incomplete = " exists) and may be incomplete\nDatabase import failed.\n";
  const struct {
    std::string path, expected;
  } cases[] = {
      {hot, "ERROR: import file " + hot + unfinished + hot + "-journal" + incomplete},
      {link, "ERROR: import file " + link + unfinished + hot + "-journal" + incomplete},
      {wal, "ERROR: import file " + wal + unfinished + wal + "-wal" + incomplete},
      {fifo, "ERROR: import file " + fifo + " is not a regular file\nDatabase import failed.\n"},
      {dir, "ERROR: import file " + dir + " is not a regular file\nDatabase import failed.\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(tvtest::Tool(*db, {"-f", "import", c.path}).out, kBanner + c.expected);
  db->reconnect();
  EXPECT_EQ(tvtest::TakeSnapshot(*db), before);

  // An empty journal is what a finished transaction may leave.
  tvtest::WriteFile(file + "-journal", "");
  EXPECT_TRUE(tvtest::Tool(*db, {"-f", "import", file}).out.ends_with("Database import complete.\n"));
  std::filesystem::remove_all(dir);
}

}  // namespace
