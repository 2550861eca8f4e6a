#include "runtime/terminal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/status_line.h"
#include "runtime/tv_string.h"

namespace {

bool ColorDisabled() {
  const char *v = getenv("NO_COLOR");
  return v != nullptr && *v != 0;
}

// Drops "ESC [ parameters final-byte" sequences.
std::string StripEscapes(const char *text) {
  std::string out;
  for (const char *p = text; *p != 0; p++) {
    if (*p == 27 && p[1] == '[') {
      p += 2;
      while (*p != 0 && (*p < 0x40 || *p > 0x7E)) p++;
      if (*p == 0) break;
      continue;
    }
    out += *p;
  }
  return out;
}

}  // namespace

void WriteToTerminal(const char *text) {
  // A progress line would otherwise run into the first line of the text.
  EraseStatusLine();
  if (ColorDisabled())
    fputs(StripEscapes(text).c_str(), stdout);
  else
    fputs(text, stdout);
}

void WriteToTerminalEx(const char *format, ...) {
  String text;
  va_list args;
  va_start(args, format);
  text.addFormattedStringV(format, args);
  va_end(args);
  WriteToTerminal(text);
}
