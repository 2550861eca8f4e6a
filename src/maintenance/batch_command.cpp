#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "maintenance/maintenance_commands.h"
#include "runtime/runtime.h"
#include "session/sql_exec.h"

namespace {

struct FreeDeleter {
  void operator()(char *p) const { free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

bool IsBlank(const char *begin, const char *end) {
  for (const char *p = begin; p < end; p++)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

}  // namespace

bool RunBatchCommand(const char *path) {
  uint32_t size;
  MallocText file(LoadFileA(path, &size));
  if (file == nullptr) {
    printf("ERROR: Cannot load SQL command file %s\n", path);
    return false;
  }
  // A NUL byte would end the text there and leave the rest of the file
  // unrun without a word (it also marks a file saved as UTF-16), so such
  // a file is refused before its first statement.
  const char *text = file.get();
  const char *end = text + size;
  if (const char *nul = static_cast<const char *>(memchr(text, 0, size)); nul != nullptr) {
    printf("ERROR: SQL command file %s holds a NUL byte at line %zu\n", path,
           static_cast<size_t>(std::count(text, nul, '\n')) + 1);
    return false;
  }
  bool result = false;
  for (const char *begin = text; begin < end;) {
    bool quoted = false;
    const char *p = begin;
    for (; p < end; p++) {
      if (*p == '\'')
        quoted = !quoted;
      else if (*p == ';' && !quoted)
        break;
    }
    if (!IsBlank(begin, p)) {
      std::string statement(begin, p);
      MallocText converted(WideStringFromMBString(statement.c_str()));
      if (converted == nullptr || converted.get()[0] == 0) {
        result = true;
      } else {
        result = SendSql(converted.get(), QueryEcho::kTraced);
        if (!result) break;
      }
    }
    begin = p < end ? p + 1 : end;
  }
  return result;
}
