// The configuration file reader: any file either loads, with every value
// terminated inside its buffer, or is refused with a reason. What loads
// then meets the checks of the database layer: DBName on SQLite and the
// numbers of DBDrvParams on every driver are taken whole or refused by
// name, and a key given twice is named in a warning.
#include <strings.h>

#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "db/db.h"
#include "db/db_driver.h"
#include "runtime/config.h"

namespace {

struct Key {
  const char *name;
  uint32_t chars;
  bool cut;
};

// The server section as the tool reads it.
enum { kDriver = 1, kParams = 2, kName = 5 };  // indexes of kKeys
const Key kKeys[] = {{"CodePage", 260, true},     {"DBDriver", 260, false},
                     {"DBDrvParams", 260, false}, {"DBEncryptedPassword", 256, false},
                     {"DBLogin", 64, false},      {"DBName", 256, false},
                     {"DBPassword", 64, false},   {"DBSchema", 260, false},
                     {"DBServer", 260, false}};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz::ScratchDirectory() + "/talvexd.conf";
  fuzz::WriteInput(path, data, size);

  // Buffers of exactly their size on the heap, so that a write past one
  // is caught.
  std::unique_ptr<char[]> buffers[kKeyCount];
  TV_CFG_TEMPLATE cfgTemplate[kKeyCount + 7] = {};
  size_t n = 0;
  for (size_t i = 0; i < kKeyCount; i++) {
    buffers[i].reset(new char[TvCfgBufferBytes(kKeys[i].chars)]);
    strcpy(buffers[i].get(), "default");
    TV_CFG_TEMPLATE &t = cfgTemplate[n++];
    strcpy(t.token, kKeys[i].name);
    t.type = TV_CFG_STRING;
    t.bufferSize = kKeys[i].chars;
    t.buffer = buffers[i].get();
    t.cutWhenLonger = kKeys[i].cut;
  }
  for (const char *ignored : {"CreateCrashDumps", "DataDirectory", "DumpDirectory", "LogFile", "Module"}) {
    strcpy(cfgTemplate[n].token, ignored);
    cfgTemplate[n++].type = TV_CFG_IGNORE;
  }
  cfgTemplate[n].type = TV_CFG_END;

  Config config;
  bool loaded = config.loadIniConfig(path.c_str(), "server") && config.parseTemplate("server", cfgTemplate);
  if (!loaded && config.errorText().empty()) abort();  // refused without a reason
  for (size_t i = 0; i < kKeyCount; i++) {
    const char *value = buffers[i].get();
    if (memchr(value, 0, TvCfgBufferBytes(kKeys[i].chars)) == nullptr) abort();  // not terminated
  }
  for (const std::string &warning : config.warnings())
    if (warning.find(" is set more than once in [server], on lines ") == std::string::npos) abort();
  if (!loaded) return 0;

  const std::string name = buffers[kName].get();
  std::string error;
  if (!DBCheckDatabaseName("sqlite", name.c_str(), error)) {
    if (error.find("DBName \"" + name + "\"") != 0) abort();  // refused without naming it
  } else if (name.empty() || name == ":memory:" || strncasecmp(name.c_str(), "file:", 5) == 0) {
    abort();  // a name that keeps no file, taken
  }
  if (!DBCheckDatabaseName(buffers[kDriver].get(), name.c_str(), error) && error.empty()) abort();

  DbConnectParams params{"127.0.0.1", name, "talvex", "", "", {}, false};
  if (!ParseDriverOptions(buffers[kParams].get(), params.options)) return 0;
  // A refusal names a key of the parameters; what is taken is in range.
  auto namesAKey = [&](const std::string &reason) {
    for (const auto &option : params.options)
      if (reason.find("\"" + option.first + "\"") != std::string::npos) return true;
    return false;
  };
  MysqlOptions mysql;
  if (!ReadMysqlOptions(params, mysql, error)) {
    if (!namesAKey(error)) abort();
  } else if (mysql.port > 65535 || mysql.connectTimeout < 1 ||
             mysql.connectTimeout > kMaxConnectTimeoutSeconds) {
    abort();
  }
  std::vector<std::pair<std::string, std::string>> keywords;
  if (!PgsqlConnectKeywords(params, keywords, error) && !namesAKey(error)) abort();
  std::string connection;
  unsigned loginTimeout;
  if (!OdbcConnectSettings(params, connection, loginTimeout, error)) {
    if (!namesAKey(error)) abort();
  } else if (loginTimeout < 1 || loginTimeout > kMaxConnectTimeoutSeconds) {
    abort();
  }
  return 0;
}
