#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "external/config.h"
#include "external/password.h"
#include "support/test_db.h"

namespace {

struct Settings {
  char driver[16] = "";
  char login[8] = "talvex";
  char name[260] = "talvex_db";
};

bool Load(const std::string &content, Settings &s, std::string *error = nullptr) {
  std::string dir = tvtest::TempDir();
  tvtest::WriteFile(dir + "/t.conf", content);
  TV_CFG_TEMPLATE t[] = {{"DBDriver", TV_CFG_STRING, sizeof(s.driver), s.driver},
                         {"DBLogin", TV_CFG_STRING, sizeof(s.login), s.login},
                         {"LogFile", TV_CFG_IGNORE, 0, nullptr},
                         {"DBName", TV_CFG_STRING, sizeof(s.name), s.name},
                         {"", TV_CFG_END, 0, nullptr}};
  Config c;
  bool ok = c.loadIniConfig((dir + "/t.conf").c_str(), "server") && c.parseTemplate("server", t);
  if (error != nullptr) *error = c.errorText();
  std::filesystem::remove_all(dir);
  return ok;
}

TEST(ConfigFile, ReadsKeysOfTheServerSection) {
  Settings s;
  ASSERT_TRUE(
      Load("# comment\n\nDBDriver = pgsql\n[server]\n  dblogin=operator  \nLogFile = x\n"
           "[other]\nDBName = not_this\n",
           s));
  EXPECT_STREQ(s.driver, "pgsql");
  EXPECT_STREQ(s.login, "operato");  // cut to the buffer, as the server does
  EXPECT_STREQ(s.name, "talvex_db");
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
