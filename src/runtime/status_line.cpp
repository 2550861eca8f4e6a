#include "runtime/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Columns covered by the drawn line; 0 when none is drawn.
size_t DrawnColumns = 0;

size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void Blank() {
  fputc('\r', stdout);
  for (size_t i = 0; i < DrawnColumns; i++) fputc(' ', stdout);
  fputc('\r', stdout);
}

}  // namespace

void DrawStatusLine(const std::string &text) {
  Blank();
  // The last column stays free: some terminals wrap as soon as it is
  // written, and the next carriage return would then miss the line.
  size_t columns = TerminalColumns() - 1;
  DrawnColumns = text.size() < columns ? text.size() : columns;
  fwrite(text.data(), 1, DrawnColumns, stdout);
  fflush(stdout);
}

void EraseStatusLine() {
  if (DrawnColumns == 0) return;
  Blank();
  DrawnColumns = 0;
  fflush(stdout);
}

bool StatusLineDrawn() { return DrawnColumns > 0; }
