// The progress line of long upgrade work on a terminal: drawn while the
// text recoding, the recoding of collected values or the reindexing of
// collected-data tables runs and erased after it, so that the screen then reads exactly as the output of a
// run without a terminal; with -t a terminal gets the same bytes as a file.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

struct TerminalRun {
  int exitCode = -1;
  std::string bytes;  // everything the terminal received
};

// Runs tvdbmgr with args on a new pseudo-terminal of 200 columns that is
// its standard input, output and error, with NO_COLOR and the TALVEX_
// variables unset as for tvtest::RunTool.
TerminalRun RunOnTerminal(const std::vector<std::string> &args) {
  TerminalRun run;
  winsize size{};
  size.ws_row = 50;
  size.ws_col = 200;
  int master;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return run;
  if (pid == 0) {
    for (const char *name :
         {"NO_COLOR", "TALVEX_CONFIG_FILE", "TALVEX_INSTALL_PATH", "DISPLAY", "WAYLAND_DISPLAY"})
      unsetenv(name);
    std::vector<std::string> store = {tvtest::ToolPath()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof(buffer));
    if (n > 0)
      run.bytes.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR)
      break;  // EIO once the tool has ended and closed the terminal
  }
  close(master);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// What a terminal shows after the bytes: a carriage return goes back to
// the start of the line, a line feed to the next line, other characters
// overwrite the line where the cursor is; escape sequences take no room.
// Lines are given without trailing spaces, each with its line feed.
std::string Screen(const std::string &bytes) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (size_t i = 0; i < bytes.size(); i++) {
    char c = bytes[i];
    if (c == '\33' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      i += 2;
      while (i < bytes.size() && (bytes[i] < 0x40 || bytes[i] > 0x7E)) i++;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string &line = lines.back();
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  std::string screen;
  for (size_t i = 0; i < lines.size(); i++) {
    std::string line = lines[i];
    line.erase(line.find_last_not_of(' ') + 1);
    if (i + 1 < lines.size())
      screen += line + "\n";
    else
      screen += line;  // the line the cursor is on, empty after a line feed
  }
  return screen;
}

// A terminal turns each line feed into carriage return and line feed.
std::string AsWritten(std::string bytes) {
  for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at))
    bytes.erase(at, 1);
  return bytes;
}

// A database at 244 whose actions hold texts in the escaped form, for the
// recoding of 244 -> 245.
std::unique_ptr<tvtest::TestDatabase> EncodedActionsAt244() {
  auto db = upgradetest::DatabaseAt("sqlite", 244);
  if (!db) return nullptr;
  for (int id = 900; id < 905; id++)
    db->exec("INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES (" +
             std::to_string(id) + ",'user#40example.com','Alarm#20#2341','Line#20one#0D#0A')");
  return db;
}

// A database at 213 with two nodes whose text items hold escaped values,
// for the recoding of collected values in 213 -> 214.
std::unique_ptr<tvtest::TestDatabase> EncodedValuesAt213() {
  auto db = upgradetest::BaselineDatabase(
      "sqlite", {.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 3});
  if (!db) return nullptr;
  upgradetest::UpgradeTo(*db, 213);
  db->execAll({"UPDATE idata_100 SET idata_value='up#20' WHERE item_id=10001",
               "UPDATE idata_101 SET idata_value='down#20' WHERE item_id=10101"});
  return db;
}

// A database at 245 with three nodes and their collected-data tables.
std::unique_ptr<tvtest::TestDatabase> NodesAt245() {
  auto db = upgradetest::DatabaseAt("sqlite", 245);
  if (!db) return nullptr;
  for (int id : {12, 13, 14})
    db->execAll(
        {"INSERT INTO nodes (id,community) VALUES (" + std::to_string(id) + ",'public')",
         "CREATE TABLE idata_" + std::to_string(id) +
             " (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))"});
  return db;
}

TEST(ProgressLine, ShownOnATerminalWhileTheWorkRunsAndErasedAfter) {
  const struct {
    const char *work;
    std::unique_ptr<tvtest::TestDatabase> (*database)();
    std::vector<std::string> args;
    std::vector<std::string> lines;  // drawn at least once each
  } cases[] = {
      {"text recoding",
       EncodedActionsAt244,
       {"-f", "upgrade"},
       {"\rRecoding actions.rcpt_addr: 1 rows", "\rRecoding actions.email_subject: 1 rows",
        "\rRecoding actions.action_data: 1 rows"}},
      {"collected values",
       EncodedValuesAt213,
       {"-f", "upgrade"},
       {"\rRecoding collected values: 1 of 2 items"}},
      {"reindex", NodesAt245, {"reindex"}, {"\rReindexing collected-data tables: 1 of 3 tables"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.work);
    auto onTerminal = c.database();
    auto toFile = c.database();
    if (!onTerminal || !toFile) return;
    std::vector<std::string> args = {"-c", onTerminal->configPath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TerminalRun terminal = RunOnTerminal(args);
    args[1] = toFile->configPath();
    tvtest::RunResult file = tvtest::RunTool(args);
    ASSERT_EQ(terminal.exitCode, 0);
    for (const std::string &line : c.lines)
      EXPECT_NE(terminal.bytes.find(line), std::string::npos) << line << " in " << terminal.bytes;
    // What the screen keeps is what the file gets, and the file gets
    // nothing of the line.
    EXPECT_EQ(Screen(terminal.bytes), Screen(file.out));
    EXPECT_EQ(file.out.find('\r'), std::string::npos);
  }
}

TEST(ProgressLine, TraceModeOnATerminalWritesWhatAFileGets) {
  auto onTerminal = EncodedActionsAt244();
  auto toFile = EncodedActionsAt244();
  if (!onTerminal || !toFile) return;
  TerminalRun terminal = RunOnTerminal({"-c", onTerminal->configPath(), "-f", "-t", "upgrade"});
  tvtest::RunResult file = tvtest::RunTool({"-c", toFile->configPath(), "-f", "-t", "upgrade"});
  ASSERT_EQ(terminal.exitCode, 0);
  EXPECT_NE(file.out.find("UPDATE actions"), std::string::npos);
  EXPECT_EQ(AsWritten(terminal.bytes), file.out);
}

}  // namespace
