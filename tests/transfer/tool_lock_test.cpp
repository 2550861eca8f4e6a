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
#include <thread>

#include "session/cluster_lock.h"
#include "transfer_fixture.h"

extern char **environ;

namespace {

using tvtest::kBanner;
using tvtest::ReadFile;
const std::string kRefusal =
    "tvdbmgr: another tvdbmgr is working on this database; try again when it has finished\n";
// A "tvdbmgr unlock" that holds its question open, and the tool's lock
// with it, until the test answers or kills it.
class WaitingRun {
 public:
  // name tells the files of two runs in one dir apart.
  WaitingRun(const std::string &configPath, const std::string &dir, const std::string &name = "waiting")
      : out_(dir + "/" + name + ".out"), err_(dir + "/" + name + ".err") {
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
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
      if (waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
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
  // Once the run has ended: its exit code and what it wrote to standard
  // error.
  int exitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  std::string errors() const { return ReadFile(err_); }

 private:
  void reap() {
    while (pid_ > 0 && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  std::string out_, err_;
  pid_t pid_ = -1;
  int status_ = -1;
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

// On a Galera cluster the lock is a row that every node sees: a run on
// another node is refused as on the same server, two runs that start at
// once on two nodes leave one of them running, and a killed holder's row
// expires by itself.
TEST(GaleraToolLock, HoldsAcrossNodesAndExpiresAfterAKilledHolder) {
  const std::string dir = tvtest::TempDir();
  const std::string file = tvtest::MakeExportFile(dir);
  auto db = tvtest::OpenOnGaleraOrSkip();
  if (file.empty() || !db || !tvtest::InitSchemaFast(*db)) return;
  const std::vector<std::string> ports = tvtest::GaleraPorts();
  auto node2 = db->reachedOn(ports[1]);
  auto node3 = db->reachedOn(ports.back());
  ASSERT_TRUE(node2 && node3);
  node3->exec("SET SESSION wsrep_sync_wait=1");  // reads see what node 1 committed before
  MarkLockedByServer(*db);
  const std::string before = tvtest::TableChecksums(*db);
  {
    WaitingRun first(db->configPath(), dir);
    ASSERT_TRUE(first.asking());
    // What an import on node 1 would have staged: an import on node 2
    // must not take it for a killed import's leftovers.
    db->exec("CREATE TABLE tvdbmgr_new_nodes LIKE nodes");
    const std::vector<std::string> commands[] = {
        {"import", file}, {"check"}, {"export", dir + "/exported.db"}, {"reindex"}, {"unlock"}};
    for (const std::vector<std::string> &command : commands) {
      std::vector<std::string> args = {"-f"};
      args.insert(args.end(), command.begin(), command.end());
      const tvtest::RunResult r = tvtest::Tool(*node2, args);
      EXPECT_EQ(r.exitCode, 6) << command[0];
      EXPECT_EQ(r.out, kBanner) << command[0];
      EXPECT_EQ(r.err, kRefusal) << command[0];
    }
    EXPECT_NE(first.answer("n").find("force database unlock?"), std::string::npos);
    EXPECT_EQ(node3->value("SELECT count(*) FROM tvdbmgr_new_nodes"), "0");
    db->exec("DROP TABLE tvdbmgr_new_nodes");
  }
  EXPECT_EQ(tvtest::TableChecksums(*node3), before);

  {
    // Both insert the row at once: one of the two writes loses
    // certification, and its run reads that as the lock held.
    WaitingRun a(node2->configPath(), dir, "a"), b(node3->configPath(), dir, "b");
    const bool aAsks = a.asking(), bAsks = b.asking();
    ASSERT_NE(aAsks, bAsks);
    WaitingRun &refused = aAsks ? b : a;
    EXPECT_EQ(refused.exitCode(), 6);
    EXPECT_EQ(refused.errors(), kRefusal);
    (aAsks ? a : b).killHard();
  }
  // The killed run's row stands until it expires.
  const tvtest::RunResult early = tvtest::Tool(*db, {"-f", "unlock"});
  EXPECT_EQ(early.exitCode, 6);
  EXPECT_EQ(early.err, kRefusal);
  std::this_thread::sleep_for(std::chrono::seconds(kLockExpirySeconds));
  const tvtest::RunResult late = tvtest::Tool(*db, {"-f", "unlock"});
  EXPECT_EQ(late.exitCode, 0);
  EXPECT_NE(late.out.find("Database lock removed\n"), std::string::npos) << late.out;
  EXPECT_NE(late.err.find("its lock has expired and this run takes it over\n"), std::string::npos)
      << late.err;
  // A run that ends normally leaves the lock free at once.
  EXPECT_EQ(db->value("SELECT count(*) FROM tvdbmgr_lock"), "0");

  // A holder whose heartbeat has stopped while its session still works on
  // the node (here the test's own) keeps the lock.
  db->exec(
      "INSERT INTO tvdbmgr_lock SET lock_id=1,run_id='killed',node=CONCAT(@@hostname,':',@@port),"
      "connection_id=CONNECTION_ID(),heartbeat=UTC_TIMESTAMP(6)-INTERVAL 1 HOUR");
  const tvtest::RunResult stillWorking = tvtest::Tool(*db, {"-f", "unlock"});
  EXPECT_EQ(stillWorking.exitCode, 6);
  EXPECT_EQ(stillWorking.err, kRefusal);
  std::filesystem::remove_all(dir);
}
