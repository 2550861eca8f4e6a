// The batch engine: built-in batch texts, CREATE TABLE with the MySQL
// table type, and operators' SQL command files.
#include <gtest/gtest.h>

#include <filesystem>

#include "session/batch.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

TEST(TypeMacros, ExpandPerDialectAndProtectTheLongerMacro) {
  const struct {
    int syntax;
    const char *expanded;
  } cases[] = {
      {0, "a text,b text,c bigint"},
      {1, "a text,b varchar(4000),c bigint"},
      {2, "a text,b varchar(4000),c bigint"},
      {3, "a clob,b varchar(4000),c number(20)"},
      {4, "a varchar,b varchar(4000),c number(20)"},
      {5, "a long varchar,b varchar(4000),c bigint"},
  };
  for (const auto &c : cases) {
    DbSyntax = c.syntax;
    EXPECT_STREQ(ExpandTypeMacros("a $SQL:TEXT,b $SQL:TEXT4K,c $SQL:INT64"), c.expanded) << c.syntax;
  }
  DbSyntax = 0;
}

class Batch : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    db->createVariableTables(kToolSchemaVersion);
    db->makeCurrent();
    dir = tvtest::TempDir();
  }
  void TearDown() override {
    IgnoreSqlErrors = false;
    TraceMode = false;
    TableType = MysqlTableType::kServerDefault;
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

TEST_P(Batch, BatchTextStopsAtFirstFailureUnlessItsRuleGoesOn) {
  if (!db) return;
  tvtest::CapturedOutput captured;
  EXPECT_FALSE(
      ExecSqlBatch("CREATE TABLE b1 (id integer, v $SQL:TEXT, n $SQL:INT64)\n"
                   "INSERT INTO missing_table VALUES (1)\n"
                   "CREATE TABLE b2 (id integer)\n"
                   "<END>",
                   TableLoop::OnFailure::kEnds));
  std::string out = captured.text();
  EXPECT_EQ(out.rfind("SQL query failed (", 0), 0u) << out;
  EXPECT_NE(out.find("):\n\33[33;1mINSERT INTO missing_table VALUES (1)\33[0m\n"), std::string::npos);
  EXPECT_EQ(db->value("SELECT count(*) FROM b1"), "0");
  EXPECT_NE(db->value("SELECT count(*) FROM b2").find("<error"), std::string::npos);

  {
    tvtest::CapturedOutput quiet;
    EXPECT_TRUE(
        ExecSqlBatch("INSERT INTO missing_table VALUES (1)\nCREATE TABLE b2 (id integer)\n<END>\n"
                     "CREATE TABLE b3 (id integer)\n",
                     TableLoop::OnFailure::kReported));
  }
  EXPECT_EQ(db->value("SELECT count(*) FROM b2"), "0");
  EXPECT_NE(db->value("SELECT count(*) FROM b3").find("<error"), std::string::npos);  // after "<END>"
}

TEST_P(Batch, CommandFileSplitsAtSemicolonsOutsideQuotes) {
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

TEST_P(Batch, BadCommandFiles) {
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

TEST_P(Batch, CreateTableGetsTheMysqlEngineOption) {
  if (!db) return;
  TableType = MysqlTableType::kMyIsam;
  EXPECT_TRUE(CreateTableSql("CREATE TABLE m1 (id integer not null, v $SQL:TEXT, PRIMARY KEY(id))"));
  TableType = MysqlTableType::kInnoDb;
  EXPECT_TRUE(CreateTableSql("CREATE TABLE m2 (id integer not null, PRIMARY KEY(id))"));
  if (GetParam() == "mysql") {
    db->reconnect();
    EXPECT_EQ(
        db->rows("SELECT table_name, engine FROM information_schema.tables WHERE table_schema=database() "
                 "AND table_name IN ('m1','m2') ORDER BY table_name"),
        "m1|MyISAM\nm2|InnoDB");
  }
  EXPECT_EQ(db->value("SELECT count(*) FROM m1"), "0");
}

INSTANTIATE_TEST_SUITE_P(Engines, Batch, ::testing::ValuesIn(tvtest::AllEngines()));

TEST(BatchLargeFile, HundredMegabyteStatementRunsWhole) {
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
