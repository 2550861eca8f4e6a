#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "runtime/config.h"
#include "runtime/password.h"
#include "support/test_db.h"

namespace {

struct Settings {
  char driver[TvCfgBufferBytes(16)] = "";
  char login[TvCfgBufferBytes(8)] = "talvex";
  char name[TvCfgBufferBytes(260)] = "talvex_db";
};

bool Load(const std::string &content, Settings &s, std::string *error = nullptr,
          std::vector<std::string> *warnings = nullptr) {
  std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/t.conf", content);
  TV_CFG_TEMPLATE t[] = {{"DBDriver", TV_CFG_STRING, 16, s.driver, true},
                         {"DBLogin", TV_CFG_STRING, 8, s.login},
                         {"LogFile", TV_CFG_IGNORE, 0, nullptr},
                         {"DBName", TV_CFG_STRING, 260, s.name},
                         {"", TV_CFG_END, 0, nullptr}};
  Config c;
  bool ok = c.loadIniConfig((dir + "/t.conf").c_str(), "server") && c.parseTemplate("server", t);
  if (error != nullptr) *error = c.errorText();
  if (warnings != nullptr) *warnings = c.warnings();
  std::filesystem::remove_all(dir);
  return ok;
}

TEST(ConfigFile, ReadsKeysOfTheServerSection) {
  Settings s;
  ASSERT_TRUE(
      Load("# comment\n\nDBDriver = pgsql\n[server]\n  dblogin=oper  \nLogFile = x\n"
           "[other]\nDBName = not_this\n",
           s));
  EXPECT_STREQ(s.driver, "pgsql");
  EXPECT_STREQ(s.login, "oper");
  EXPECT_STREQ(s.name, "talvex_db");
}

TEST(ConfigFile, LongValuesAreRefusedUnlessTheirRecordAllowsACut) {
  const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC";  // two and three bytes
  const struct {
    std::string line;
    bool loads;
    std::string login, driver;  // when it loads
  } cases[] = {
      {"DBLogin = " + e + e + e + e + e + e + e, true, e + e + e + e + e + e + e, ""},  // 7 characters
      {"DBLogin = operator", false, "", ""},
      {"DBLogin = " + euro + euro + euro + euro + euro + euro + euro + "x", false, "", ""},
      // Stray continuation bytes count one each: no overflow of the buffer.
      {"DBLogin = " + std::string(4096, '\x80'), false, "", ""},
      {"DBDriver = sqlite" + e + "0123456789", true, "talvex", "sqlite" + e + "01234567"},  // cut after 15
      {"DBDriver = " + std::string(20, '\x80'), true, "talvex", std::string(15, '\x80')},
  };
  for (const auto &c : cases) {
    Settings s;
    std::string error;
    EXPECT_EQ(Load(c.line + "\n", s, &error), c.loads) << c.line;
    if (c.loads) {
      EXPECT_EQ(s.login, c.login) << c.line;
      EXPECT_EQ(s.driver, c.driver) << c.line;
    } else {
      EXPECT_NE(error.find("/t.conf: DBLogin is longer than 7 characters"), std::string::npos) << error;
    }
  }
}

TEST(ConfigFile, RefusesANulByte) {
  Settings s;
  std::string error;
  EXPECT_FALSE(Load("DBDriver = sqlite\nDBName = /tmp/a" + std::string(1, '\0') + "b\n", s, &error));
  EXPECT_NE(error.find("line 2: NUL byte"), std::string::npos) << error;
}

TEST(ConfigFile, AKeySetTwiceWarnsWithItsLinesAndKeepsTheLastValue) {
  const struct {
    std::string content;
    std::string name;
    std::vector<std::string> warnings;  // after the file's path
  } cases[] = {
      {"DBName = first\nDBDriver = pgsql\ndbname = second\n",
       "second",
       {"DBName is set more than once in [server], on lines 1 and 3; the value of line 3 is used"}},
      {"DBName = a\n[server]\nDBName = b\n\nDBName = c\nDBLogin = x\nDBLogin = y\n",
       "c",
       {"DBLogin is set more than once in [server], on lines 6 and 7; the value of line 7 is used",
        "DBName is set more than once in [server], on lines 1, 3 and 5; the value of line 5 is used"}},
      // Keys the tool ignores, and other sections, may repeat.
      {"LogFile = a\nLogFile = b\n[other]\nDBName = x\n[server]\nDBName = y\n", "y", {}},
  };
  for (const auto &c : cases) {
    Settings s;
    std::vector<std::string> warnings;
    ASSERT_TRUE(Load(c.content, s, nullptr, &warnings)) << c.content;
    EXPECT_EQ(s.name, c.name);
    std::vector<std::string> found;
    for (const std::string &w : warnings) found.push_back(w.substr(w.find("t.conf: ") + 8));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, c.warnings) << c.content;
  }
}

TEST(ConfigFile, KeepsSemicolonsAndEqualSignsInValues) {
  Settings s;
  ASSERT_TRUE(Load("DBName = a;b=c # d\n", s));
  EXPECT_STREQ(s.name, "a;b=c # d");
}

TEST(ConfigFile, RejectsLinesWithoutEqualSignAndMissingFiles) {
  Settings s;
  std::string error;
  EXPECT_FALSE(Load("DBDriver = sqlite\nDBName\n", s, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  Config c;
  EXPECT_FALSE(c.loadIniConfig("/nonexistent/dir/t.conf", "server"));
}

TEST(Password, EncryptionRoundTripsPerLogin) {
  std::string e = EncryptPassword("talvex", "s3cr\xc3\xa9t;'\"");
  char out[64] = "unchanged";
  ASSERT_TRUE(DecryptPassword("talvex", e.c_str(), out));
  EXPECT_STREQ(out, "s3cr\xc3\xa9t;'\"");
  strcpy(out, "unchanged");
  EXPECT_FALSE(DecryptPassword("other", e.c_str(), out));
  EXPECT_FALSE(DecryptPassword("talvex", "not base64 !", out));
  EXPECT_FALSE(DecryptPassword("talvex", e.substr(0, e.size() / 2).c_str(), out));
  EXPECT_STREQ(out, "unchanged");
  EXPECT_NE(EncryptPassword("talvex", "x"), EncryptPassword("talvex", "x"));  // fresh nonce
}

}  // namespace
