#include "transfer/table_progress.h"

#include <unistd.h>

#include <cstdio>

#include "session/globals.h"
#include "session/progress_line.h"

namespace {

constexpr std::chrono::milliseconds kRedraw(500);

}  // namespace

TableProgress::TableProgress(const char *verb, const char *table)
    // Trace lines would come between the line and its updates.
    : verb_(verb), table_(table), live_(!TraceMode && isatty(STDOUT_FILENO)) {
  printf("%s table %s\n", verb, table);
  if (live_) fflush(stdout);
  start_ = std::chrono::steady_clock::now();
  // The first count is shown as soon as it comes.
  shown_ = start_ - kRedraw;
}

// The cursor stays at the start of the next line, so that any message
// that ends the copy lands on a line of its own.
void TableProgress::update() {
  auto now = std::chrono::steady_clock::now();
  if (now - shown_ < kRedraw) return;
  draw(now);
}

void TableProgress::draw(std::chrono::steady_clock::time_point now) {
  shown_ = now;
  drawn_ = true;
  double seconds = std::chrono::duration<double>(now - start_).count();
  printf("\33[1A\r\33[K%s table %s (%llu rows, %s rows/s)\n", verb_, table_,
         static_cast<unsigned long long>(rows_),
         FormatRate(seconds > 0 ? static_cast<double>(rows_) / seconds : 0.0).c_str());
  fflush(stdout);
}
