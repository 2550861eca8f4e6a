// Statement texts for the dialects that cannot run here, through a
// recording connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_steps.h"
#include "session/globals.h"
#include "support/captured_output.h"
#include "upgrade/helpers.h"

namespace {

using RecordedDialect = upgradetest::RecordedStepTest;
using upgradetest::OracleNullable;
using upgradetest::Statements;

TEST_F(RecordedDialect, OnlyOracleMakesColumnsNullable) {
  for (int syntax : {DB_SYNTAX_MYSQL, DB_SYNTAX_PGSQL, DB_SYNTAX_MSSQL, DB_SYNTAX_SQLITE, DB_SYNTAX_DB2}) {
    use(syntax);
    EXPECT_TRUE(MakeColumnNullable("actions", "rcpt_addr", "varchar(255)"));
    EXPECT_EQ(recording->statements, Statements{}) << syntax;
  }
  use(DB_SYNTAX_ORACLE);
  EXPECT_TRUE(MakeColumnNullable("actions", "rcpt_addr", "varchar(255)"));
  EXPECT_EQ(recording->statements, Statements{OracleNullable("actions", "rcpt_addr")});
  recording->failWhen = "MODIFY";
  tvtest::CapturedOutput captured;
  EXPECT_FALSE(MakeColumnNullable("actions", "rcpt_addr", "varchar(255)"));
  EXPECT_NE(captured.text().find("SQL query failed (recorded failure)"), std::string::npos);
}

TEST_F(RecordedDialect, RecodingStatementsPerDialect) {
  const tvtest::Recording::Rows rows = {{"7", "a#0D#0Ab"}, {"9", "it#27s"}, {"12", "no escapes#"}};
  const struct {
    int syntax;
    Statements expected;
  } cases[] = {
      {DB_SYNTAX_MSSQL,
       {"UPDATE actions SET rcpt_addr='' WHERE CAST(rcpt_addr AS nvarchar(4000))=N'#00'",
        "SELECT TOP 10000 action_id,rcpt_addr FROM actions WHERE rcpt_addr LIKE '%#%' ORDER BY action_id",
        "UPDATE actions SET rcpt_addr='a\r\nb' WHERE action_id=7",
        "UPDATE actions SET rcpt_addr='it''s' WHERE action_id=9",
        "UPDATE actions SET rcpt_addr='no escapes#' WHERE action_id=12"}},
      {DB_SYNTAX_ORACLE,
       {"UPDATE actions SET rcpt_addr='' WHERE to_char(rcpt_addr)='#00'",
        "SELECT action_id,rcpt_addr FROM (SELECT action_id,rcpt_addr FROM actions WHERE rcpt_addr LIKE '%#%' "
        "ORDER BY "
        "action_id) WHERE ROWNUM<=10000",
        "UPDATE actions SET rcpt_addr='a\r\nb' WHERE action_id=7",
        "UPDATE actions SET rcpt_addr='it''s' WHERE action_id=9",
        "UPDATE actions SET rcpt_addr='no escapes#' WHERE action_id=12"}},
      {DB_SYNTAX_DB2,
       {"UPDATE actions SET rcpt_addr='' WHERE rcpt_addr='#00'",
        "SELECT action_id,rcpt_addr FROM actions WHERE rcpt_addr LIKE '%#%'",
        "UPDATE actions SET rcpt_addr='a\r\nb' WHERE action_id=7",
        "UPDATE actions SET rcpt_addr='it''s' WHERE action_id=9",
        "UPDATE actions SET rcpt_addr='no escapes#' WHERE action_id=12"}},
  };
  for (const auto &c : cases) {
    use(c.syntax);
    recording->answers = {{"LIKE", rows}};
    EXPECT_TRUE(RecodeColumnStrings("actions", "action_id", "rcpt_addr"));
    EXPECT_EQ(recording->statements, c.expected) << c.syntax;
  }
}

// A full page is followed by the page after its last key.
TEST_F(RecordedDialect, RecodingReadsThePageAfterTheLastKey) {
  use(DB_SYNTAX_MSSQL);
  tvtest::Recording::Rows page;
  for (int key = 1; key <= 10000; key++) page.push_back({std::to_string(key), "plain"});
  recording->answers = {{"action_id>", {}}, {"LIKE", page}};
  EXPECT_TRUE(RecodeColumnStrings("actions", "action_id", "rcpt_addr"));
  EXPECT_EQ(recording->statements.size(), 3u);
  EXPECT_EQ(recording->statements.back(),
            "SELECT TOP 10000 action_id,rcpt_addr FROM actions WHERE rcpt_addr LIKE '%#%' AND "
            "action_id>10000 ORDER BY "
            "action_id");
}

TEST_F(RecordedDialect, FailedRowUpdateEndsTheRecoding) {
  use(DB_SYNTAX_ORACLE);
  recording->answers = {{"LIKE", {{"7", "a#0D#0Ab"}, {"9", "it#27s"}}}};
  recording->failWhen = "action_id=7";
  IgnoreSqlErrors = true;  // the helper fails whatever the step does with it (reset by the fixture)
  {
    tvtest::CapturedOutput quiet;
    EXPECT_FALSE(RecodeColumnStrings("actions", "action_id", "rcpt_addr"));
  }
  EXPECT_EQ(recording->statements.back(), "UPDATE actions SET rcpt_addr='a\r\nb' WHERE action_id=7");
}

TEST_F(RecordedDialect, OracleStep244MakesActionTextsNullableThenRecodes) {
  use(DB_SYNTAX_ORACLE);
  EXPECT_EQ(RunUpgradeStep(*FindUpgradeStep(244), 244), 1);
  auto recode = [](const char *column) {
    std::string c = column;
    return Statements{"UPDATE actions SET " + c + "='' WHERE to_char(" + c + ")='#00'",
                      "SELECT action_id," + c + " FROM (SELECT action_id," + c + " FROM actions WHERE " + c +
                          " LIKE '%#%' ORDER BY action_id) WHERE ROWNUM<=10000"};
  };
  Statements expected = {"ALTER TABLE nodes ADD runtime_flags integer", "UPDATE nodes SET runtime_flags=0",
                         OracleNullable("actions", "rcpt_addr"), OracleNullable("actions", "email_subject"),
                         OracleNullable("actions", "action_data")};
  for (const char *column : {"rcpt_addr", "email_subject", "action_data"})
    for (const std::string &s : recode(column)) expected.push_back(s);
  expected.push_back("UPDATE metadata SET var_value='245' WHERE var_name='SchemaVersion'");
  EXPECT_EQ(recording->statements, expected);
}

// A step stops at its first failed action; its version is not written.
TEST_F(RecordedDialect, StepStopsAtTheFirstFailedAction) {
  use(DB_SYNTAX_MSSQL);
  recording->failWhen = "event_code,event_name";  // the first event template
  EXPECT_EQ(runStep(243), 0);
  EXPECT_EQ(recording->statements.size(), 4u);  // three batch lines and the failed insert
  EXPECT_EQ(recording->statements.back().find("VALUES (57,'SYS_8021X_PAE_STATE_CHANGED'"), 81u);
}

}  // namespace
