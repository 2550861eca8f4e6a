#include <cstdio>

#include "frontend/driver.h"

int main(int argc, char *argv[]) {
  // Whole lines, also into a file or a pipe: a run that a signal ends
  // keeps every message up to its last.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  int rc = RunTvdbmgr(argc, argv);
  fflush(stdout);
  return rc;
}
