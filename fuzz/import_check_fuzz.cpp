// The import file's validation: whatever bytes the file holds, the check
// of it either passes or says why not, and never touches the database.
// The target is a fresh SQLite database of the server's schema.
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common.h"
#include "runtime/runtime.h"
#include "session/globals.h"
#include "transfer/import_steps.h"

namespace {

// Creates the target database from the server's SQLite init script and
// makes it the connected one. Aborts when that fails: nothing could be
// fuzzed.
void ConnectTarget(const std::string &dir) {
  const std::string target = dir + "/target.db";
  uint32_t length;
  char *script = LoadFileA(TVDBMGR_SQL_SOURCE_DIR "/dbinit_sqlite.sql", &length);
  if (script == nullptr) abort();
  sqlite3 *db = nullptr;
  bool made = sqlite3_open(target.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, script, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  free(script);
  if (!made) abort();
  static db_driver_t driver = DBLoadDriver("sqlite", "", false, nullptr, nullptr);  // for the whole run
  char error[DBDRV_MAX_ERROR_TEXT];
  DbHandle = DBConnect(driver, "", target.c_str(), "", "", "", error);
  if (DbHandle == nullptr) abort();
  DbSyntax = DBGetSyntax(DbHandle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = fuzz::ScratchDirectory();
  static const bool ready = (ConnectTarget(dir), fuzz::SilenceStdout(), true);
  (void)ready;
  const std::string path = dir + "/import.db";
  fuzz::WriteInput(path, data, size);

  sqlite3 *file = nullptr;
  if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) CheckImportFile(file);
  sqlite3_close_v2(file);
  // A read-only open may still leave a journal or WAL index behind.
  for (const char *suffix : {"-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  return 0;
}
