// How far a long piece of work has got, shown on a terminal as
// "<what>: <done> [of <total> ]<unit>[, <rate> <unit>/s]" on the status
// line (runtime/status_line.h): drawn at the first count, redrawn at most
// twice a second, and erased when the object goes. Nothing at all is
// written when standard output is not a terminal, or under -t, whose trace
// lines would come between. While one is shown, other output goes through
// WriteToTerminal(Ex), which erases the line first; the next count draws
// it again below that output.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A rate as the progress lines show it: whole numbers, and one decimal
// under 1 per second, where a whole number would read 0.
std::string FormatRate(double perSecond);

class ProgressLine {
 public:
  // A total of 0 means the amount of work is not known in advance.
  ProgressLine(std::string what, const char *unit, uint64_t total = 0);
  ~ProgressLine();
  ProgressLine(const ProgressLine &) = delete;
  ProgressLine &operator=(const ProgressLine &) = delete;

  // Counts work done.
  void advance(uint64_t count = 1) {
    done_ += count;
    if (live_) show();
  }
  // Draws the line again at once, after output that erased it, so that it
  // shows while the next piece of work runs.
  void redraw();

 private:
  void show();
  void draw(std::chrono::steady_clock::time_point now);
  std::string what_;
  const char *unit_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool live_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_;
};
