#include "transfer/schema_script.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

constexpr char kScript[] = "dbschema_sqlite.sql";

}  // namespace

bool FindSchemaScript(std::string &path) {
  if (const char *env = getenv("TALVEX_INSTALL_PATH"); env != nullptr && *env != 0) {
    // An installation named by the operator is the one to use, or the
    // error names it.
    path = std::string(env) + "/lib/sql/" + kScript;
    return true;
  }
  char program[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", program, sizeof(program) - 1);
  if (n <= 0) return false;
  std::string installation(program, static_cast<size_t>(n));
  for (int cut = 0; cut < 2; cut++) {
    size_t slash = installation.rfind('/');
    if (slash == std::string::npos) return false;
    installation.resize(slash);
  }
  // The server's layout (and the build tree's) comes first; this tool's
  // own installation keeps the scripts with its other architecture-
  // independent data, in the place the build names relative to the prefix.
  // When neither has the script, the error names the file of the layout
  // whose directory exists.
  path = installation + "/lib/sql/" + kScript;
  if (access(path.c_str(), R_OK) == 0) return true;
  std::string packaged = installation + "/" TVDBMGR_SQL_INSTALL_DIR;
  if (access(packaged.c_str(), F_OK) == 0) path = packaged + "/" + kScript;
  return true;
}
