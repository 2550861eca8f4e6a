#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "db/db.h"
#include "runtime/tv_string.h"

namespace {

std::string Encode(const char *text) {
  char *e = EncodeSQLString(text);
  std::string s = e;
  free(e);
  return s;
}

std::string Decode(std::string text) {
  DecodeSQLString(text.data());
  return text.c_str();
}

TEST(EscapedText, EncodesTheCharactersThatNeedIt) {
  const struct {
    const char *plain, *encoded;
  } cases[] = {
      {"", "#00"},
      {"abc", "abc"},
      {"a'b", "a#27b"},
      {"50%", "50#25"},
      {"#1", "#231"},
      {"say \"hi\"", "say #22hi#22"},
      {"line\r\nnext", "line#0D#0Anext"},
      {"tab\there", "tab#09here"},
      {"del\x7f", "del#7F"},
      {"back\\slash", "back#5Cslash"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Encode(c.plain), c.encoded) << c.plain;
    EXPECT_EQ(Decode(c.encoded), c.plain) << c.encoded;
  }
}

TEST(EscapedText, RoundTripsEveryByteAndHoldsNoQuote) {
  std::string all;
  for (int c = 1; c < 256; c++) all += static_cast<char>(c);
  std::string encoded = Encode(all.c_str());
  EXPECT_EQ(encoded.find('\''), std::string::npos);
  EXPECT_EQ(encoded.find('\\'), std::string::npos);
  EXPECT_EQ(Decode(encoded), all);
}

TEST(EscapedText, DecodesHighCodesAsUnicodeAndLeavesMalformedAlone) {
  EXPECT_EQ(Decode("caf#E9"), "caf\xc3\xa9");
  EXPECT_EQ(Decode("#0d#0a"), "\r\n");
  EXPECT_EQ(Decode("50#"), "50#");
  EXPECT_EQ(Decode("#G1x#4"), "#G1x#4");
  EXPECT_EQ(Decode("#00"), "");
}

TEST(Quoting, QuotesPerDialect) {
  const struct {
    int syntax;
    const char *text;
    int max;
    const char *quoted;
  } cases[] = {
      {DB_SYNTAX_SQLITE, "it's", -1, "'it''s'"},
      {DB_SYNTAX_PGSQL, "a\\'b", -1, "'a\\''b'"},
      {DB_SYNTAX_MYSQL, "a\\'b", -1, "'a\\\\''b'"},
      {DB_SYNTAX_ORACLE, "''", -1, "''''''"},
      {DB_SYNTAX_SQLITE, "abcdef", 3, "'abc'"},
      {DB_SYNTAX_PGSQL, "\xc3\xa9\xc3\xa9\xc3\xa9", 2, "'\xc3\xa9\xc3\xa9'"},
      {DB_SYNTAX_SQLITE, "", -1, "''"},
  };
  for (const auto &c : cases)
    EXPECT_STREQ(DBPrepareStringForSyntax(c.syntax, c.text, c.max), c.quoted) << c.text;
}

TEST(StringClass, TranslateFormatShrink) {
  String s("$SQL:TEXT4K and $SQL:TEXT");
  s.translate("$SQL:TEXT", "text");
  EXPECT_STREQ(s, "text4K and text");
  String f;
  f.addFormattedString("%s=%d", "id", -2147483647 - 1);
  EXPECT_STREQ(f, "id=-2147483648");
  f.shrink(3);
  EXPECT_STREQ(f, "id=-2147483");
  f.shrink(100);
  EXPECT_TRUE(f.isEmpty());
}

}  // namespace
