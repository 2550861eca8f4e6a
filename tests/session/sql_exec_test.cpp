// The report of a failed statement: whole when short, its head and its
// length when long; the trace under -t always carries the whole text.
#include <gtest/gtest.h>

#include <filesystem>

#include "session/globals.h"
#include "session/sql_exec.h"
#include "support/captured_output.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;

// A statement of exactly size bytes that SQLite refuses, with "é" (two
// bytes) at byteOffset when given.
std::string FailingStatement(size_t size, size_t byteOffset = 0) {
  const std::string head = "INSERT INTO missing_table VALUES ('";
  std::string s = head + std::string(size - head.size() - 2, 'x') + "')";
  if (byteOffset > 0) s.replace(byteOffset, 2, "\xC3\xA9");
  return s;
}

TEST(FailedStatementReport, LongStatementsAreCutOnACharacterWithTheirLength) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->makeCurrent();
  const std::string head = "SQL query failed (no such table: missing_table):\n\33[33;1m";
  const size_t limit = kReportedStatementBytes;
  const struct {
    size_t size;
    size_t twoByteCharAt;
    size_t shown;  // bytes of the statement in the report
  } cases[] = {
      {limit, 0, limit},
      {limit + 3, limit - 1, limit - 1},  // the limit falls inside the character
      {1 << 20, limit - 1, limit - 1},
      {1 << 20, limit, limit},
  };
  for (const auto &c : cases) {
    const std::string statement = FailingStatement(c.size, c.twoByteCharAt);
    tvtest::CapturedOutput captured;
    EXPECT_FALSE(ExecSql(statement.c_str()));
    const std::string out = captured.text();
    std::string expected = head + statement.substr(0, c.shown) + "\33[0m";
    if (c.shown < c.size) expected += "... [" + std::to_string(c.size) + " bytes in all]";
    EXPECT_EQ(out, expected + "\n") << c.size;
  }

  // The trace echoes the whole statement before the cut report.
  const std::string big = FailingStatement(1 << 20);
  TraceMode = true;
  tvtest::CapturedOutput captured;
  EXPECT_EQ(SelectSql(big.c_str()), nullptr);
  const std::string out = captured.text();
  TraceMode = false;
  EXPECT_EQ(out.rfind("\33[1m>>> \33[32;1m" + big + "\33[0m\n" + head, 0), 0u);
  EXPECT_LT(out.size(), big.size() + 2 * kReportedStatementBytes);
}

TEST(FailedStatementReport, CommandFileStatementOfAMegabyte) {
  auto db = tvtest::OpenOrSkip("sqlite");
  if (!db) return;
  db->createVariableTables(kToolSchemaVersion);
  std::string dir = tvtest::TempDir();
  const std::string statement = FailingStatement(1 << 20);
  tvtest::WriteFile(dir + "/big.sql", "SELECT 1;\n" + statement + ";\n");
  tvtest::RunResult r = tvtest::RunTool({"-c", db->configPath(), "batch", dir + "/big.sql"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBanner + "SQL query failed (no such table: missing_table):\n\33[33;1m\n" +
                       statement.substr(0, kReportedStatementBytes - 1) +
                       "\33[0m... [1048577 bytes in all]\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
