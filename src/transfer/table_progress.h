// The "Exporting table"/"Importing table" line. On a terminal it also
// shows, while a long table is copied, the rows copied so far and the
// rate; a redirected run prints the plain line only.
#pragma once

#include <chrono>
#include <cstdint>

class TableProgress {
 public:
  // Prints "<verb> table <table>\n".
  TableProgress(const char *verb, const char *table);
  // Counts one copied row; now and then rewrites the line above.
  void row() {
    if ((++rows_ & 0x3FFF) == 0 && live_) update();
  }
  // Ends a table that was copied whole: a line that showed a count shows
  // the table's total.
  void finish() {
    if (live_ && drawn_) draw(std::chrono::steady_clock::now());
  }
  // Counts from zero again, for a second attempt at the same table.
  void restart() {
    rows_ = 0;
    start_ = std::chrono::steady_clock::now();
  }

 private:
  void update();
  void draw(std::chrono::steady_clock::time_point now);
  const char *verb_;
  const char *table_;
  bool live_;
  bool drawn_ = false;
  uint64_t rows_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shown_;
};
