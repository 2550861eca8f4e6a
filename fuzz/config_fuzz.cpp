// The configuration file reader: any file either loads, with every value
// terminated inside its buffer, or is refused with a reason.
#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "external/config.h"

namespace {

struct Key {
  const char *name;
  uint32_t chars;
  bool cut;
};

// The server section as the tool reads it.
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
  return 0;
}
