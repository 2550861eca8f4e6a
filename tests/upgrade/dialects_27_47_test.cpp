// What steps 27 -> 47 send to Oracle and SQL Server, through a recording
// connection: the texts of their per-dialect statements, and Oracle text
// that Oracle can take.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "maintenance/maintenance_commands.h"
#include "recorded_steps.h"
#include "session/globals.h"
#include "support/captured_output.h"

namespace {

using upgradetest::Statements;
using RecordedSteps27To47 = upgradetest::RecordedStepTest;

TEST_F(RecordedSteps27To47, OldAccessColumnIsQuotedOnOracleOnly) {
  const struct {
    int syntax;
    const char *access;
  } cases[] = {{DB_SYNTAX_ORACLE, "\"ACCESS\""}, {DB_SYNTAX_MSSQL, "access"}};
  for (const auto &c : cases) {
    use(c.syntax);
    EXPECT_EQ(runStep(27), 1);
    const std::string a = c.access;
    EXPECT_EQ(
        recording->statements,
        (Statements{"ALTER TABLE users ADD system_access integer", "UPDATE users SET system_access=" + a,
                    "ALTER TABLE users DROP COLUMN " + a, "ALTER TABLE user_groups ADD system_access integer",
                    "UPDATE user_groups SET system_access=" + a, "ALTER TABLE user_groups DROP COLUMN " + a,
                    "UPDATE config SET var_value='28' WHERE var_name='DBFormatVersion'"}))
        << c.syntax;
  }
}

// Oracle before 12.2 refuses the 32 characters of the common name; reindex
// must rebuild the index under the name the upgrade gave it.
TEST_F(RecordedSteps27To47, TrapLogIndexHasAnOracleNameThatReindexUses) {
  use(DB_SYNTAX_MSSQL);
  EXPECT_EQ(runStep(37), 1);
  EXPECT_EQ(sentWith("ON snmp_trap_log"),
            Statements{"CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)"});

  use(DB_SYNTAX_ORACLE);
  EXPECT_EQ(runStep(37), 1);
  EXPECT_EQ(sentWith("ON snmp_trap_log"),
            Statements{"CREATE INDEX idx_snmp_trap_log_timestamp ON snmp_trap_log(trap_timestamp)"});

  use(DB_SYNTAX_ORACLE);
  recording->answers = {{"SchemaVersion", {{std::to_string(kToolSchemaVersion)}}},
                        {"DBLockStatus", {{"UNLOCKED"}}}};
  {
    tvtest::CapturedOutput quiet;
    RunReindexCommand();
  }
  EXPECT_EQ(sentWith("snmp_trap_log"),
            (Statements{"DROP INDEX idx_snmp_trap_log_timestamp",
                        "CREATE INDEX idx_snmp_trap_log_timestamp ON snmp_trap_log(trap_timestamp)"}));
}

// The statement without its quoted literals and quoted identifiers.
std::string WithoutQuoted(const std::string &statement) {
  std::string out;
  char quote = 0;
  for (char c : statement) {
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

TEST_F(RecordedSteps27To47, OracleTextOfEveryStepIsOracleText) {
  use(DB_SYNTAX_ORACLE);
  for (int version = 27; version < 47; version++) EXPECT_EQ(runStep(version), 1) << version;
  const std::regex word("[A-Za-z_][A-Za-z0-9_$]*");
  for (const std::string &statement : recording->statements) {
    std::string bare = WithoutQuoted(statement);
    for (std::sregex_iterator it(bare.begin(), bare.end(), word), end; it != end; ++it) {
      std::string name = it->str();
      EXPECT_LE(name.size(), 30u) << name << " in " << statement;
      for (char &c : name) c = static_cast<char>(tolower(c));
      EXPECT_NE(name, "access") << statement;
      EXPECT_NE(name, "bigint") << statement;
    }
    EXPECT_EQ(statement.find("$SQL:"), std::string::npos) << statement;
  }
  EXPECT_EQ(sentWith("CREATE TABLE syslog"),
            Statements{"CREATE TABLE syslog (msg_id number(20) not null,msg_timestamp integer not null,"
                       "facility integer not null,severity integer not null,source_object_id integer not "
                       "null,hostname varchar(127) not null,msg_tag varchar(32) not null,msg_text clob not "
                       "null,PRIMARY KEY(msg_id))"});
}

// A failed GUID update ends the step unless -X is given; then the next
// row and the groups follow.
TEST_F(RecordedSteps27To47, FailedGuidUpdateEndsTheStepUnlessIgnored) {
  for (int ignore : {0, 1}) {
    use(DB_SYNTAX_MSSQL);
    IgnoreSqlErrors = ignore;
    recording->answers = {{"SELECT id FROM users", {{"0"}, {"7"}}},
                          {"SELECT id FROM user_groups", {{"-2147483648"}}}};
    recording->failWhen = "WHERE id=0";
    EXPECT_EQ(runStep(40), ignore) << ignore;
    EXPECT_EQ(sentWith("WHERE id=7").size(), static_cast<size_t>(ignore)) << ignore;
    EXPECT_EQ(sentWith("UPDATE user_groups SET guid=").size(), static_cast<size_t>(ignore)) << ignore;
    EXPECT_EQ(sentWith("WHERE var_name='DBFormatVersion'").size(), static_cast<size_t>(ignore)) << ignore;
  }
}

}  // namespace
