// The progress line of long upgrade work on a terminal: drawn while the
// text recoding, the recoding of collected values or the reindexing of
// collected-data tables runs and erased after it, so that the screen then reads exactly as the output of a
// run without a terminal; with -t a terminal gets the same bytes as a file.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "fixtures.h"
#include "session/globals.h"
#include "session/progress_line.h"
#include "support/terminal_run.h"

namespace {

tvtest::TerminalRun RunOnTerminal(const std::vector<std::string> &args) {
  return tvtest::RunOnTerminal(tvtest::ToolPath(), args);
}

using tvtest::Screen;

// A terminal turns each line feed into carriage return and line feed.
std::string AsWritten(std::string bytes) {
  for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at))
    bytes.erase(at, 1);
  return bytes;
}

// A database at 244 whose actions hold texts in the escaped form, for the
// recoding of 244 -> 245.
std::unique_ptr<tvtest::TestDatabase> EncodedActionsAt244() {
  auto db = upgradetest::DatabaseAtVersion("sqlite", 244);
  if (!db) return nullptr;
  for (int id = 900; id < 905; id++)
    db->exec("INSERT INTO actions (action_id,rcpt_addr,email_subject,action_data) VALUES (" +
             std::to_string(id) + ",'user#40example.com','Alarm#20#2341','Line#20one#0D#0A')");
  return db;
}

// A database at 213 with two nodes whose text items hold escaped values,
// for the recoding of collected values in 213 -> 214.
std::unique_ptr<tvtest::TestDatabase> EncodedValuesAt213() {
  auto db = upgradetest::DatabaseAtVersion(
      "sqlite", 213, {.nodes = {.firstNode = 100, .nodes = 2, .itemsPerNode = 2, .rowsPerItem = 3}});
  if (!db) return nullptr;
  db->execAll({"UPDATE idata_100 SET idata_value='up#20' WHERE item_id=10001",
               "UPDATE idata_101 SET idata_value='down#20' WHERE item_id=10101"});
  return db;
}

// A database at the tool's version with three nodes and their
// collected-data tables.
std::unique_ptr<tvtest::TestDatabase> CurrentNodes() {
  auto db = upgradetest::DatabaseAtVersion("sqlite", kToolSchemaVersion);
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
      {"reindex", CurrentNodes, {"reindex"}, {"\rReindexing collected-data tables: 1 of 3 tables"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.work);
    auto onTerminal = c.database();
    auto toFile = c.database();
    if (!onTerminal || !toFile) return;
    std::vector<std::string> args = {"-c", onTerminal->configPath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    tvtest::TerminalRun terminal = RunOnTerminal(args);
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

TEST(ProgressLine, ReindexLineShowsWhileATableIsReindexed) {
  auto db = CurrentNodes();
  if (!db) return;
  tvtest::TerminalRun terminal = RunOnTerminal({"-c", db->configPath(), "reindex"});
  ASSERT_EQ(terminal.exitCode, 0);
  // Drawn right after the table's own line, with the tables done before
  // it: the line is there while the table is reindexed.
  std::string bytes = terminal.bytes;
  std::erase(bytes, '\r');
  const std::vector<std::string> tables = {"idata_12", "idata_13", "idata_14"};
  for (size_t done = 0; done < tables.size(); done++)
    EXPECT_NE(bytes.find("Reindexing table " + tables[done] +
                         "\nReindexing collected-data tables: " + std::to_string(done) + " of 3 tables"),
              std::string::npos)
        << tables[done] << " in " << terminal.bytes;
}

TEST(ProgressLine, RatesUnderOnePerSecondShowOneDecimal) {
  const struct {
    double rate;
    const char *shown;
  } cases[] = {{0, "0.0"}, {0.04, "0.0"}, {0.36, "0.4"},   {0.94, "0.9"},
               {1, "1"},   {2.5, "2"},    {1234.6, "1235"}};
  for (const auto &c : cases) EXPECT_EQ(FormatRate(c.rate), c.shown) << c.rate;
}

TEST(ProgressLine, TraceModeOnATerminalWritesWhatAFileGets) {
  auto onTerminal = EncodedActionsAt244();
  auto toFile = EncodedActionsAt244();
  if (!onTerminal || !toFile) return;
  tvtest::TerminalRun terminal = RunOnTerminal({"-c", onTerminal->configPath(), "-f", "-t", "upgrade"});
  tvtest::RunResult file = tvtest::RunTool({"-c", toFile->configPath(), "-f", "-t", "upgrade"});
  ASSERT_EQ(terminal.exitCode, 0);
  EXPECT_NE(file.out.find("UPDATE actions"), std::string::npos);
  EXPECT_EQ(AsWritten(terminal.bytes), file.out);
}

}  // namespace
