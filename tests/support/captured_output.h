// What the tool's routines print, read back by a test that calls them in
// its own process.
#pragma once

#include <string>

namespace tvtest {

// While it lives, standard output goes to a file and standard input
// reads the keys given (none by default), so that the routines' messages
// can be read back and a question never waits for a key.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::string &keys = "");
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput &) = delete;
  CapturedOutput &operator=(const CapturedOutput &) = delete;

  // Restores both streams and returns what was written.
  std::string text();
  // What the routines have flushed so far; the capture goes on, and
  // stdout's own buffer is left as it is.
  std::string flushed() const;

 private:
  void restore();
  std::string dir_;
  int savedOut_ = -1;
  int savedIn_ = -1;
};

}  // namespace tvtest
