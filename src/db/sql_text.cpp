// Quoting, the escaped text form and placeholder splitting: pure text
// work shared by all drivers.
#include <cstdlib>
#include <cstring>

#include "db/db.h"
#include "db/db_driver.h"

namespace {

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == '#' || c == '\'' || c == '"' || c == '%' || c == '\\' || c == 0x7F;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

char *EncodeSQLString(const char *text) {
  if (text == nullptr || *text == 0) return strdup("#00");
  static const char kHex[] = "0123456789ABCDEF";
  size_t len = strlen(text);
  char *out = static_cast<char *>(malloc(len * 3 + 1));
  if (out == nullptr) abort();
  char *p = out;
  for (const unsigned char *s = reinterpret_cast<const unsigned char *>(text); *s != 0; s++) {
    if (NeedsEscape(*s)) {
      *p++ = '#';
      *p++ = kHex[*s >> 4];
      *p++ = kHex[*s & 15];
    } else {
      *p++ = static_cast<char>(*s);
    }
  }
  *p = 0;
  return out;
}

// "#XX" is the character U+00XX, written back as UTF-8; it never takes
// more room than the three characters it replaces.
void DecodeSQLString(char *text) {
  if (text == nullptr) return;
  char *out = text;
  for (const char *in = text; *in != 0;) {
    int hi, lo;
    if (in[0] == '#' && (hi = HexValue(in[1])) >= 0 && (lo = HexValue(in[2])) >= 0) {
      unsigned code = static_cast<unsigned>(hi * 16 + lo);
      if (code == 0) break;
      if (code < 0x80) {
        *out++ = static_cast<char>(code);
      } else {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
      }
      in += 3;
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
}

String DBPrepareStringForSyntax(int syntax, const char *text, int maxLength) {
  if (text == nullptr) text = "";
  size_t length = strlen(text);
  if (maxLength >= 0) {
    // Count characters, not bytes.
    size_t chars = 0, i = 0;
    for (; i < length; i++) {
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        if (chars == static_cast<size_t>(maxLength)) break;
        chars++;
      }
    }
    length = i;
  }
  std::string out;
  out.reserve(length + 2);
  out += '\'';
  for (size_t i = 0; i < length; i++) {
    char c = text[i];
    if (c == '\'')
      out += "''";
    else if (c == '\\' && syntax == DB_SYNTAX_MYSQL)
      out += "\\\\";
    else
      out += c;
  }
  out += '\'';
  return String(std::move(out));
}

std::vector<std::string> SplitAtPlaceholders(const char *query) {
  std::vector<std::string> pieces(1);
  bool quoted = false;
  for (const char *p = query; *p != 0; p++) {
    if (*p == '\'') quoted = !quoted;
    if (*p == '?' && !quoted)
      pieces.emplace_back();
    else
      pieces.back() += *p;
  }
  return pieces;
}

const char *StandardSavepointStatement(SavepointCall call) {
  switch (call) {
    case SavepointCall::kTake: return "SAVEPOINT tvdbmgr_part";
    case SavepointCall::kRelease: return "RELEASE SAVEPOINT tvdbmgr_part";
    case SavepointCall::kUndo: break;
  }
  return "ROLLBACK TO SAVEPOINT tvdbmgr_part;RELEASE SAVEPOINT tvdbmgr_part";
}
