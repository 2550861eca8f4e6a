// The batch engine: built-in batch texts and CREATE TABLE with the MySQL
// table type.
#include <gtest/gtest.h>

#include "session/batch.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "support/test_db.h"

namespace {

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
  }
  void TearDown() override { TableType = MysqlTableType::kServerDefault; }
  std::unique_ptr<tvtest::TestDatabase> db;
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

}  // namespace
