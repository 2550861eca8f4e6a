#include "runtime/config.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && isspace(static_cast<unsigned char>(s[b]))) b++;
  while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) e--;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte length of the first maxChars UTF-8 characters of text, or
// npos when text has no more characters than that. A character takes at
// most four bytes, a stray continuation byte counting as one of its own,
// so that maxChars characters always fit TvCfgBufferBytes.
size_t CutAfterCharacters(const std::string &text, size_t maxChars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); chars++) {
    if (chars == maxChars) return i;
    if (IsContinuationByte(text[i++])) continue;
    for (int k = 0; k < 3 && i < text.size() && IsContinuationByte(text[i]); k++) i++;
  }
  return std::string::npos;
}

// "lines 3 and 7", "lines 3, 5 and 7".
std::string LineList(const std::vector<int> &lines) {
  std::string text = "lines ";
  for (size_t i = 0; i < lines.size(); i++) {
    if (i > 0) text += i + 1 < lines.size() ? ", " : " and ";
    text += std::to_string(lines[i]);
  }
  return text;
}

}  // namespace

bool FitsConfigBuffer(const std::string &value, uint32_t chars) {
  return chars > 0 && CutAfterCharacters(value, chars - 1) == std::string::npos;
}

bool Config::loadIniConfig(const char *file, const char *defaultSection) {
  file_ = file;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error_ = std::string(file) + ": " + strerror(errno);
    return false;
  }
  std::string section = Lower(defaultSection);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    lineNo++;
    if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    // A NUL would end a value early without a word; it also marks a
    // file saved as UTF-16.
    if (line.find('\0') != std::string::npos) {
      error_ =
          std::string(file) + ": line " + std::to_string(lineNo) + ": NUL byte (the file must be UTF-8 text)";
      return false;
    }
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      if (close == std::string::npos) {
        error_ = std::string(file) + ": line " + std::to_string(lineNo) + ": unterminated section header";
        return false;
      }
      section = Lower(Trim(t.substr(1, close - 1)));
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      error_ = std::string(file) + ": line " + std::to_string(lineNo) + ": expected \"Key = Value\"";
      return false;
    }
    std::string key = Trim(t.substr(0, eq));
    if (key.empty()) {
      error_ = std::string(file) + ": line " + std::to_string(lineNo) + ": empty key";
      return false;
    }
    const std::string name = section + "/" + Lower(key);
    values_[name] = Trim(t.substr(eq + 1));
    lines_[name].push_back(lineNo);
  }
  if (in.bad()) {
    error_ = std::string(file) + ": read error";
    return false;
  }
  return true;
}

bool Config::parseTemplate(const char *section, TV_CFG_TEMPLATE *cfgTemplate) {
  std::string prefix = Lower(section) + "/";
  for (TV_CFG_TEMPLATE *t = cfgTemplate; t->type != TV_CFG_END; t++) {
    if (t->type != TV_CFG_STRING) continue;
    auto it = values_.find(prefix + Lower(t->token));
    if (it == values_.end() || t->bufferSize == 0) continue;
    // A copy-paste mistake in a connection setting must not go unseen.
    if (const std::vector<int> &lines = lines_[it->first]; lines.size() > 1)
      warnings_.push_back(file_ + ": " + t->token + " is set more than once in [" + section + "], on " +
                          LineList(lines) + "; the value of line " + std::to_string(lines.back()) +
                          " is used");
    const std::string &value = it->second;
    size_t n = CutAfterCharacters(value, t->bufferSize - 1);
    if (n == std::string::npos) {
      n = value.size();
    } else if (!t->cutWhenLonger) {
      error_ =
          file_ + ": " + t->token + " is longer than " + std::to_string(t->bufferSize - 1) + " characters";
      return false;
    }
    char *buffer = static_cast<char *>(t->buffer);
    memcpy(buffer, value.data(), n);
    buffer[n] = 0;
  }
  return true;
}
