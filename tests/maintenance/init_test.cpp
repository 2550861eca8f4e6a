#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/test_db.h"

namespace {

using tvtest::kBanner;

class Init : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    dir = tvtest::TempDir();
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  tvtest::RunResult init(const std::string &script, const std::vector<std::string> &options = {}) {
    tvtest::WriteFile(dir + "/init.sql", script);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-c", db->configPath(), "init", dir + "/init.sql"});
    return tvtest::RunTool(args);
  }
  std::unique_ptr<tvtest::TestDatabase> db;
  std::string dir;
};

const char kScript[] =
    "CREATE TABLE users (id integer not null, name varchar(63), guid varchar(36) not null, PRIMARY "
    "KEY(id));\n"
    "CREATE TABLE user_groups (id integer not null, name varchar(63), guid varchar(36) not null, PRIMARY "
    "KEY(id));\n"
    "INSERT INTO users (id,name,guid) VALUES (0,'admin','');\n"
    "INSERT INTO user_groups (id,name,guid) VALUES (-2147483648,'Everyone','');\n";

TEST_P(Init, FillsTheDatabaseAndGivesNewGuids) {
  if (!db) return;
  tvtest::RunResult r = init(kScript, {"-t"});
  EXPECT_EQ(r.exitCode, 0);
  std::string plain = std::regex_replace(r.out, std::regex("\33\\[[0-9;]*m"), "");
  EXPECT_EQ(plain.rfind(kBanner + tvtest::TracedToolLock(GetParam()) +
                            "Initializing database...\n>>> CREATE TABLE users",
                        0),
            0u)
      << plain;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(plain, m,
                        std::regex(">>> UPDATE users SET guid='([0-9a-f-]{36})' WHERE id=0\n"
                                   ">>> UPDATE user_groups SET guid='([0-9a-f-]{36})' WHERE id=-2147483648\n"
                                   "Database initialized successfully\n$")))
      << plain;
  EXPECT_NE(m[1].str(), m[2].str());
  EXPECT_EQ(db->value("SELECT guid FROM users WHERE id=0"), m[1].str());
  EXPECT_EQ(db->value("SELECT guid FROM user_groups WHERE id=-2147483648"), m[2].str());
}

TEST_P(Init, Failures) {
  if (!db) return;
  // Nothing to run.
  EXPECT_EQ(init("\n  \n").out, kBanner + "Initializing database...\nDatabase initialization failed\n");
  // The script stops at its first failure; what ran before stays.
  tvtest::RunResult r =
      init("CREATE TABLE a (id integer);\nCREATE TABLE a (id integer);\nCREATE TABLE b (id integer);");
  EXPECT_EQ(r.out.rfind(kBanner + "Initializing database...\nSQL query failed (", 0), 0u) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 31), "Database initialization failed\n");
  EXPECT_EQ(db->value("SELECT count(*) FROM a"), "0");
  EXPECT_NE(db->value("SELECT count(*) FROM b").find("<error"), std::string::npos);
  // The script runs but there is no user table to update.
  r = init("CREATE TABLE c (id integer)");
  EXPECT_NE(r.out.find("\33[33;1mUPDATE users SET guid='"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 31), "Database initialization failed\n");
  // A missing script.
  r = tvtest::RunTool({"-c", db->configPath(), "init", dir + "/none.sql"});
  EXPECT_EQ(r.out, kBanner + "Initializing database...\nERROR: Cannot load SQL command file " + dir +
                       "/none.sql\nDatabase initialization failed\n");
}

INSTANTIATE_TEST_SUITE_P(Engines, Init, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
