// Reader of the server's configuration file: "Key = Value" lines, "#" or
// ";" comment lines, optional "[section]" headers. Keys before the first
// header belong to the default section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#define TV_CFG_STRING 1
#define TV_CFG_END 3
#define TV_CFG_IGNORE 6

// Room for a value of chars - 1 UTF-8 characters and its terminator.
constexpr size_t TvCfgBufferBytes(uint32_t chars) { return static_cast<size_t>(chars) * 4; }

// Whether value has at most chars - 1 characters, so that it fits a
// buffer of TvCfgBufferBytes(chars) bytes whole.
bool FitsConfigBuffer(const std::string &value, uint32_t chars);

struct TV_CFG_TEMPLATE {
  char token[64];
  uint8_t type;
  uint32_t bufferSize;  // characters, terminator included
  void *buffer;         // TvCfgBufferBytes(bufferSize) bytes
  // A longer value makes parseTemplate fail: a name, a server or a
  // password that is cut means something else. Set where a cut is
  // harmless: the value is then cut to the buffer.
  bool cutWhenLonger = false;
};

class Config {
 public:
  // Returns false when the file cannot be read or holds a line that is
  // neither blank, a comment, a section header nor "key = value", or a
  // NUL byte; the reason is kept for errorText().
  bool loadIniConfig(const char *file, const char *defaultSection);
  // Copies every template key found in the section into its buffer. Keys
  // the template does not list are ignored. Returns false, with the
  // reason in errorText(), when a value is longer than its buffer and
  // the record does not allow a cut; buffers filled before stay filled.
  // A key given more than once takes its last value, with a warning.
  bool parseTemplate(const char *section, TV_CFG_TEMPLATE *cfgTemplate);
  const std::string &errorText() const { return error_; }
  // What parseTemplate took but the reader should know: a key set more
  // than once, with the lines that set it.
  const std::vector<std::string> &warnings() const { return warnings_; }

 private:
  // Section and key names compare case-insensitively, as INI files do.
  std::map<std::string, std::string> values_;      // "section/key" lower case
  std::map<std::string, std::vector<int>> lines_;  // the lines that set each of values_
  std::vector<std::string> warnings_;
  std::string file_;
  std::string error_;
};
