#include "transfer/schema_script.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

bool FindSchemaScript(std::string &path) {
  std::string installation;
  if (const char *env = getenv("TALVEX_INSTALL_PATH"); env != nullptr && *env != 0) {
    installation = env;
  } else {
    char program[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", program, sizeof(program) - 1);
    if (n <= 0) return false;
    installation.assign(program, static_cast<size_t>(n));
    for (int cut = 0; cut < 2; cut++) {
      size_t slash = installation.rfind('/');
      if (slash == std::string::npos) return false;
      installation.resize(slash);
    }
  }
  path = installation + "/lib/sql/dbschema_sqlite.sql";
  return true;
}
