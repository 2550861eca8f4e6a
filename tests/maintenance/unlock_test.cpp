// Unlock end to end, and through it the console question of every
// command: single keys, -f, -G, end of input.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "session/globals.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

class Unlock : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(kToolSchemaVersion);
  }
  void lock(const std::string &encodedStatus, bool withInfo = true) {
    db->exec("UPDATE config SET var_value='" + encodedStatus + "' WHERE var_name='DBLockStatus'");
    db->exec("DELETE FROM config WHERE var_name='DBLockInfo'");
    if (withInfo)
      db->exec(
          "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
          "('DBLockInfo','srv#3Anode1 #22main#22',0,0)");
  }
  std::string status() { return db->value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"); }
  tvtest::RunResult run(const std::vector<std::string> &options, const std::string &keys,
                        const std::vector<std::string> &env = {}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-c", db->configPath(), "unlock"});
    return tvtest::RunTool(args, keys, env);
  }
  std::unique_ptr<tvtest::TestDatabase> db;
};

const std::string kQuestion =
    "Database is locked by server talvexd#1 [srv:node1 \"main\"]\nDo you wish to force database unlock? "
    "(Y/N) ";

TEST_P(Unlock, AnswersDecideAndTheLockInfoStays) {
  if (!db) return;
  const struct {
    std::vector<std::string> options;
    std::string keys;
    bool removed;
    std::string tail;
  } cases[] = {
      {{}, "xN", false, "N\n"},  // other keys leave no trace
      {{}, "q\r\nn", false, "N\n"},
      {{}, "", false, "N\n"},  // end of input answers no
      {{}, "zzz", false, "N\n"},
      {{}, "y", true, "Y\nDatabase lock removed\n"},
      {{"-f"}, "", true, "Y\nDatabase lock removed\n"},
  };
  for (const auto &c : cases) {
    lock("talvexd#231");
    tvtest::RunResult r = run(c.options, c.keys);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner + kQuestion + c.tail) << "keys: " << c.keys;
    EXPECT_EQ(status(), c.removed ? "UNLOCKED" : "talvexd#231") << "keys: " << c.keys;
    EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBLockInfo'"),
              "srv#3Anode1 #22main#22");
  }
}

TEST_P(Unlock, WhatCountsAsLocked) {
  if (!db) return;
  EXPECT_EQ(run({}, "").out, kBanner + "Database is not locked\n");
  lock("unlocked", false);  // lower case is somebody's identity
  EXPECT_EQ(
      run({}, "n").out,
      kBanner + "Database is locked by server unlocked []\nDo you wish to force database unlock? (Y/N) N\n");
  lock("UNLOCKED ");
  EXPECT_NE(run({}, "n").out.find("locked by server UNLOCKED  ["), std::string::npos);
  db->exec("DELETE FROM config WHERE var_name='DBLockStatus'");
  EXPECT_EQ(run({}, "").out, kBanner + "Database is not locked\n");
  // Any schema version can be unlocked.
  db->exec("UPDATE metadata SET var_value='100' WHERE var_name='SchemaVersion'");
  db->exec(
      "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
      "('DBLockStatus','x',0,0)");
  EXPECT_EQ(
      run({"-f"}, "").out,
      kBanner +
          "Database is locked by server x [srv:node1 \"main\"]\nDo you wish to force database unlock? (Y/N) "
          "Y\nDatabase lock removed\n");
}

TEST_P(Unlock, TraceGuiModeAndFailedUpdate) {
  if (!db) return;
  lock("s1");
  // -f with -G asks nothing at all.
  tvtest::RunResult r = run({"-f", "-G"}, "");
  EXPECT_EQ(r.out, kBanner + "Database lock removed\n");
  EXPECT_EQ(status(), "UNLOCKED");

  // -G without a display falls back to the console.
  lock("s1");
  r = run({"-G"}, "n");
  EXPECT_EQ(r.out, kBanner +
                       "Database is locked by server s1 [srv:node1 \"main\"]\n"
                       "Do you wish to force database unlock? (Y/N) N\n");

  r = run({"-t", "-f"}, "");
  EXPECT_NE(r.out.find("Y\n\33[1m>>> \33[32;1mUPDATE config SET var_value='UNLOCKED' where "
                       "var_name='DBLockStatus'\33[0m\nDatabase lock removed\n"),
            std::string::npos)
      << r.out;
  lock("s1");
  r = run({"-t", "-f"}, "", {"NO_COLOR=1"});
  EXPECT_NE(r.out.find("Y\n>>> UPDATE config SET var_value='UNLOCKED' where "
                       "var_name='DBLockStatus'\nDatabase lock removed\n"),
            std::string::npos)
      << r.out;

  // A failed update is reported and nothing else is printed.
  lock("s1");
  std::string trigger;
  if (GetParam() == "sqlite")
    trigger = "CREATE TRIGGER no_unlock BEFORE UPDATE ON config BEGIN SELECT RAISE(ABORT, 'read only'); END";
  else if (GetParam() == "pgsql")
    trigger = "ALTER TABLE config ADD CONSTRAINT no_unlock CHECK (var_value <> 'UNLOCKED')";
  else
    trigger = "ALTER TABLE config ADD CONSTRAINT no_unlock CHECK (var_value <> 'UNLOCKED')";
  db->exec(trigger);
  r = run({"-f"}, "");
  EXPECT_EQ(r.out.rfind(kBanner + "Database is locked by server s1 [srv:node1 \"main\"]\n"
                                  "Do you wish to force database unlock? (Y/N) Y\nSQL query failed (",
                        0),
            0u)
      << r.out;
  EXPECT_NE(
      r.out.find("):\n\33[33;1mUPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'\33[0m\n"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Database lock removed"), std::string::npos);
  EXPECT_EQ(status(), "s1");
}

TEST_P(Unlock, GuiModeAsksInADesktopDialog) {
  if (!db) return;
  // A stand-in for the dialog program records how it was called.
  std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/zenity", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + dir +
                                         "/args\nexit $(cat " + dir + "/answer)\n");
  chmod((dir + "/zenity").c_str(), 0755);
  std::vector<std::string> env = {"DISPLAY=:42", "PATH=" + dir + ":" + getenv("PATH")};
  for (const std::string answer : {"1", "0"}) {
    lock("s1");
    tvtest::WriteFile(dir + "/answer", answer);
    tvtest::RunResult r = run({"-G"}, "y", env);
    EXPECT_EQ(r.out, kBanner + (answer == "0" ? "Database lock removed\n" : "")) << answer;
    EXPECT_EQ(status(), answer == "0" ? "UNLOCKED" : "s1");
  }
  EXPECT_EQ(
      tvtest::ReadFile(dir + "/args"),
      "--question\n--no-markup\n--title=Talvex Database Manager\n--ok-label=Yes\n--cancel-label=No\n--text\n"
      "Database is locked by server s1 [srv:node1 \"main\"]\nDo you wish to force database unlock?\n");
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, Unlock, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
