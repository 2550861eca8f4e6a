#include "external/config.h"

#include <cctype>
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

}  // namespace

bool Config::loadIniConfig(const char *file, const char *defaultSection) {
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
    values_[section + "/" + Lower(key)] = Trim(t.substr(eq + 1));
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
    char *buffer = static_cast<char *>(t->buffer);
    size_t n = std::min(it->second.size(), static_cast<size_t>(t->bufferSize) - 1);
    memcpy(buffer, it->second.data(), n);
    buffer[n] = 0;
  }
  return true;
}
