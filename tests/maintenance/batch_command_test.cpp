// The batch command: an operator's SQL command file split into
// statements and run one by one, and the files it refuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "session/globals.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

class BatchCommand : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(kToolSchemaVersion);
    dir = tvtest::TempDir();
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  tvtest::RunResult runFile(const std::string &content, const std::vector<std::string> &options = {}) {
    tvtest::WriteFile(dir + "/cmd.sql", content);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-c", db->configPath(), "batch", dir + "/cmd.sql"});
    return tvtest::RunTool(args);
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir;
};

TEST_P(BatchCommand, CommandFileSplitsAtSemicolonsOutsideQuotes) {
  if (!db) return;
  tvtest::RunResult r = runFile(
      "CREATE TABLE t (id integer, v varchar(100));\n"
      "INSERT INTO t (id,v) VALUES (1,'a;b');  \r\n;\n\t;"
      "INSERT INTO t (id,v) VALUES (2,'it''s; \"quoted\"')");
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(db->rows("SELECT id,v FROM t ORDER BY id"), "1|a;b\n2|it's; \"quoted\"");

  // The second statement fails: the first ran, the third never does.
  r = runFile(
      "INSERT INTO t (id,v) VALUES (3,'x');\nINSERT INTO nowhere VALUES (1);\nINSERT INTO t (id,v) VALUES "
      "(4,'y');",
      {"-t"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(db->value("SELECT count(*) FROM t WHERE id>=3"), "1");
  EXPECT_NE(r.out.find("\33[1m>>> \33[32;1mINSERT INTO t (id,v) VALUES (3,'x')\33[0m\n"
                       "\33[1m>>> \33[32;1m\nINSERT INTO nowhere VALUES (1)\33[0m\nSQL query failed ("),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("VALUES (4,"), std::string::npos);
}

TEST_P(BatchCommand, BadCommandFiles) {
  if (!db) return;
  // Missing file: the path as given.
  tvtest::RunResult r = tvtest::RunTool({"-c", db->configPath(), "batch", "no/such.sql"});
  EXPECT_EQ(r.out, kBanner + "ERROR: Cannot load SQL command file no/such.sql\n");
  // Blank file: nothing is sent, nothing printed.
  EXPECT_EQ(runFile(" \r\n\t\n;;\n").out, kBanner);
  // An unterminated quote makes the rest of the file one failing statement.
  r = runFile("CREATE TABLE q (v varchar(10));\nINSERT INTO q VALUES ('open;\nDROP TABLE q;\n");
  EXPECT_NE(r.out.find("SQL query failed ("), std::string::npos);
  EXPECT_EQ(db->value("SELECT count(*) FROM q"), "0");
  // Binary junk fails as SQL; what follows it never runs.
  std::string junk;
  for (int i = 0; i < 4096; i++) junk += static_cast<char>((i * 7919 + 13) % 255 + 1);
  junk += ";DROP TABLE q;";
  r = runFile(junk);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("SQL query failed ("), std::string::npos);
  EXPECT_EQ(db->value("SELECT count(*) FROM q"), "0");
}

INSTANTIATE_TEST_SUITE_P(Engines, BatchCommand, ::testing::ValuesIn(tvtest::AllEngines()));

TEST(BatchCommandLargeFile, HundredMegabyteStatementRunsWhole) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->createVariableTables(kToolSchemaVersion);
  std::string dir = tvtest::TempDir();
  std::string text =
      "CREATE TABLE big (v text);\nINSERT INTO big VALUES ('" + std::string(100 << 20, 'x') + "')";
  tvtest::WriteFile(dir + "/big.sql", text);
  tvtest::RunResult r = tvtest::RunTool({"-c", db->configPath(), "batch", dir + "/big.sql"});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(db->value("SELECT length(v) FROM big"), std::to_string(100 << 20));
  std::filesystem::remove_all(dir);
}

}  // namespace
