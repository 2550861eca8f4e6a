// Where the server installation keeps the SQLite form of its schema.
#pragma once

#include <string>

// <installation>/lib/sql/dbschema_sqlite.sql, where the installation is
// TALVEX_INSTALL_PATH when set, else the directory above the one that
// holds this program. Without TALVEX_INSTALL_PATH, when that file cannot
// be read and this tool's own installation directory of the scripts
// exists (<that directory>/share/tvdbmgr/sql, as a package installs them
// under /usr), the script there. False when the program's path is
// unknown.
bool FindSchemaScript(std::string &path);
