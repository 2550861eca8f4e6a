#include <cstdio>

#include "frontend/driver.h"

int main(int argc, char *argv[]) {
  int rc = RunTvdbmgr(argc, argv);
  fflush(stdout);
  return rc;
}
