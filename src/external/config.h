// Reader of the server's configuration file: "Key = Value" lines, "#" or
// ";" comment lines, optional "[section]" headers. Keys before the first
// header belong to the default section.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#define TV_CFG_STRING 1
#define TV_CFG_END 3
#define TV_CFG_IGNORE 6

struct TV_CFG_TEMPLATE {
  char token[64];
  uint8_t type;
  uint32_t bufferSize;  // bytes, terminator included
  void *buffer;
};

class Config {
 public:
  // Returns false when the file cannot be read or holds a line that is
  // neither blank, a comment, a section header nor "key = value"; the
  // reason is kept for errorText().
  bool loadIniConfig(const char *file, const char *defaultSection);
  // Copies every template key found in the section into its buffer (cut
  // to the buffer size). Keys the template does not list are ignored.
  bool parseTemplate(const char *section, TV_CFG_TEMPLATE *cfgTemplate);
  const std::string &errorText() const { return error_; }

 private:
  // Section and key names compare case-insensitively, as INI files do.
  std::map<std::string, std::string> values_;  // "section/key" lower case
  std::string error_;
};
