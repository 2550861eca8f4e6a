// Runs a program on a new pseudo-terminal, as an operator at a terminal
// would: the terminal is its standard input, output and error.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tvtest {

struct TerminalRun {
  int exitCode = -1;  // 128 + the signal when one ended it
  std::string bytes;  // everything the terminal received
};

// Runs program with args on a terminal of 200 columns, with NO_COLOR, the
// TALVEX_ variables and the display unset as for RunTool. Each exchange
// waits until the bytes received so far end with its prompt, then types
// its reply; a program that stops before a prompt ends the exchanges.
TerminalRun RunOnTerminal(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::pair<std::string, std::string>> &exchanges = {});

// What a terminal shows after the bytes: a carriage return goes back to
// the start of the line, a line feed to the next line, other characters
// overwrite the line where the cursor is; escape sequences take no room.
// Lines are given without trailing spaces, each with its line feed.
std::string Screen(const std::string &bytes);

}  // namespace tvtest
