// Two tvdbmgr runs on one database: while one works, every command of a
// second is refused before it reads or changes anything, with its own
// message and exit code 6; the database is free again when the first run
// ends, also when it is killed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "transfer_fixture.h"

extern char **environ;

namespace {

const std::string kBanner = "Talvex Database Manager Version 1.1.9\n\n";
const std::string kRefusal =
    "tvdbmgr: another tvdbmgr is working on this database; try again when it has finished\n";
std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A "tvdbmgr unlock" that holds its question open, and the tool's lock
// with it, until the test answers or kills it.
class WaitingRun {
 public:
  WaitingRun(const std::string &configPath, const std::string &dir) : out_(dir + "/waiting.out") {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    const std::string tool = tvtest::ToolPath();
    std::vector<std::string> args = {tool, "-c", configPath, "unlock"};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    input_ = in[1];
  }
  ~WaitingRun() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    reap();
    if (input_ >= 0) close(input_);
  }
  WaitingRun(const WaitingRun &) = delete;
  WaitingRun &operator=(const WaitingRun &) = delete;

  // True once the run has asked its question and waits for the answer.
  bool asking() {
    for (int i = 0; i < 600 && pid_ > 0; i++) {
      if (ReadFile(out_).find("force database unlock?") != std::string::npos) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // Answers with keys and returns all the run wrote once it has ended.
  std::string answer(const std::string &keys) {
    EXPECT_EQ(write(input_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    close(input_);
    input_ = -1;
    reap();
    return ReadFile(out_);
  }
  void killHard() {
    kill(pid_, SIGKILL);
    reap();
  }

 private:
  void reap() {
    while (pid_ > 0 && waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  std::string out_;
  pid_t pid_ = -1;
  int input_ = -1;
};

// The mark of a server, which unlock asks to remove.
void MarkLockedByServer(tvtest::TestDatabase &db) {
  db.exec("UPDATE config SET var_value='talvexd#1' WHERE var_name='DBLockStatus'");
}

class ToolLock : public ::testing::TestWithParam<std::string> {};

TEST_P(ToolLock, SecondRunIsRefusedUntilTheFirstEnds) {
  const std::string engine = GetParam();
  const std::string dir = tvtest::TempDir();
  const std::string file = tvtest::MakeExportFile(dir);
  auto db = tvtest::OpenOrSkip(engine);
  if (file.empty() || !db || !tvtest::InitSchemaFast(*db)) return;
  const std::string script = dir + "/script.sql", exported = dir + "/exported.db";
  tvtest::WriteFile(script, "UPDATE config SET var_value='changed' WHERE var_name='DBLockStatus';\n");
  MarkLockedByServer(*db);
  const tvtest::Snapshot before = tvtest::TakeSnapshot(*db);

  {
    WaitingRun first(db->configPath(), dir);
    ASSERT_TRUE(first.asking());
    // A running import or upgrade on SQLite keeps readers out of the file
    // while it writes; the second run is refused without touching it.
    if (engine == "sqlite") db->exec("BEGIN EXCLUSIVE");
    const std::vector<std::string> commands[] = {
        {"upgrade"},       {"import", file},
        {"check"},         {"export", exported},
        {"batch", script}, {"reindex"},
        {"unlock"},        {"init", tvtest::SqlDir() + "/dbinit_" + engine + ".sql"},
    };
    for (const std::vector<std::string> &command : commands) {
      std::vector<std::string> args = {"-t", "-f"};
      args.insert(args.end(), command.begin(), command.end());
      const tvtest::RunResult r = tvtest::Tool(*db, args, "", {"NO_COLOR=1"});
      EXPECT_EQ(r.exitCode, 6) << command[0];
      EXPECT_EQ(r.out, kBanner + tvtest::TracedToolLock(engine)) << command[0];
      EXPECT_EQ(r.err, kRefusal) << command[0];
    }
    if (engine == "sqlite") db->exec("ROLLBACK");
    db->reconnect();
    EXPECT_TRUE(tvtest::TakeSnapshot(*db) == before);
    EXPECT_FALSE(std::filesystem::exists(exported));

    // Once the first run has ended, the next one works as ever.
    EXPECT_NE(first.answer("y").find("Database lock removed\n"), std::string::npos);
  }
  const tvtest::RunResult imported = tvtest::Tool(*db, {"-f", "import", file});
  EXPECT_EQ(imported.exitCode, 0);
  EXPECT_TRUE(imported.out.ends_with("Database import complete.\n")) << imported.out;
  db->reconnect();

  // A killed run leaves no lock behind.
  MarkLockedByServer(*db);
  {
    WaitingRun killed(db->configPath(), dir);
    ASSERT_TRUE(killed.asking());
    killed.killHard();
  }
  EXPECT_TRUE(tvtest::WaitForOtherSessions(*db)) << "the killed run's session did not end";
  const tvtest::RunResult unlocked = tvtest::Tool(*db, {"-f", "unlock"});
  EXPECT_EQ(unlocked.exitCode, 0);
  EXPECT_NE(unlocked.out.find("Database lock removed\n"), std::string::npos) << unlocked.out << unlocked.err;
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, ToolLock, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
