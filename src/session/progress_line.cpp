#include "session/progress_line.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "runtime/status_line.h"
#include "session/globals.h"

namespace {

constexpr std::chrono::milliseconds kRedraw(500);

}  // namespace

ProgressLine::ProgressLine(std::string what, const char *unit, uint64_t total)
    : what_(std::move(what)),
      unit_(unit),
      total_(total),
      live_(!TraceMode && isatty(STDOUT_FILENO)),
      start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
  if (live_) EraseStatusLine();
}

std::string FormatRate(double perSecond) {
  char text[32];
  snprintf(text, sizeof(text), perSecond < 1 ? "%.1f" : "%.0f", perSecond);
  return text;
}

void ProgressLine::show() {
  auto now = std::chrono::steady_clock::now();
  if (StatusLineDrawn() && now - drawn_ < kRedraw) return;
  draw(now);
}

void ProgressLine::redraw() {
  if (live_) draw(std::chrono::steady_clock::now());
}

void ProgressLine::draw(std::chrono::steady_clock::time_point now) {
  drawn_ = now;
  char text[256];
  int length = total_ > 0
                   ? snprintf(text, sizeof(text), ": %llu of %llu %s", static_cast<unsigned long long>(done_),
                              static_cast<unsigned long long>(total_), unit_)
                   : snprintf(text, sizeof(text), ": %llu %s", static_cast<unsigned long long>(done_), unit_);
  // A rate over the first moments says little.
  double seconds = std::chrono::duration<double>(now - start_).count();
  if (length > 0 && static_cast<size_t>(length) < sizeof(text) && now - start_ >= kRedraw)
    snprintf(text + length, sizeof(text) - length, ", %s %s/s",
             FormatRate(static_cast<double>(done_) / seconds).c_str(), unit_);
  DrawStatusLine(what_ + text);
}
