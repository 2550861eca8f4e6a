// Runs tvdbmgr and sends it a signal at a chosen line of its output, as
// an operator's Ctrl-C or a service manager's SIGTERM would.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

struct InterruptedRun {
  int signal = 0;  // the signal that ended the run, 0 when it exited
  std::string out;
};

// Runs tvdbmgr with args (standard input /dev/null), reading its standard
// output, and sends sig as soon as the output holds when.
InterruptedRun RunAndInterrupt(const std::vector<std::string> &args, const std::string &when, int sig);

}  // namespace tvtest
