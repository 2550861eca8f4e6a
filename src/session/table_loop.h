// A loop that sends a few statements to each of many tables inside the
// open transaction: the per-node collected-data tables of the upgrade and
// of the reindex.
//
// On PostgreSQL every statement of a transaction normally runs behind a
// savepoint of its own, and ending one costs time in proportion to the
// relations the transaction has locked, so such a loop would grow with
// the square of its tables. RunTableLoop first runs the body unisolated
// (DBBeginUnisolatedRun): the statements bare, one savepoint for the
// whole loop. A failure whose rule ends the loop ends it there, reported
// as the careful form reports it. Any other failure takes the
// transaction back to where the loop began and runs the body again in
// the careful form (a savepoint per statement), without the lines the
// first attempt printed, so that the output and the outcome are those of
// the careful form. Elsewhere the body runs once, in the careful form.
//
// On MySQL/MariaDB every schema statement commits on its own, and most of
// its time is the wait for that commit. A loop of the spread form sends
// its tables' statements over several connections at once
// (DBSpreadQueries): the body runs once to collect them, and they go a
// chunk of tables at a time; then, in table order, each table's line,
// the trace of its statements and the reports of their failures are
// printed as the careful form prints them, and a failure whose rule ends
// the loop ends it there (the tables of its chunk after it may have
// their statements applied already; the loop brings every table to the
// same end whoever sends it). The whole loop counts as one repeatable
// group for the upgrade's journal, so a run killed half-way leaves it to
// the rerun, which works out again from the catalogue what each table
// still needs.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "db/db.h"

class ProgressLine;

// How RunTableLoop runs a body.
struct TableLoopForm {
  // The caller found in the catalogue that a statement will fail: the
  // unisolated attempt is left out.
  bool careful = false;
  // The body sends nothing but schema statements, reads nothing, and
  // sends only what the catalogue says a table still needs: its tables
  // may go over several connections at once.
  bool spread = false;
  // Counts the tables, when set.
  ProgressLine *progress = nullptr;
};

class TableLoop {
 public:
  // What a failed statement means for the loop.
  enum class OnFailure {
    kEnds,      // reported; the loop ends, false
    kReported,  // reported; the loop goes on
    kSilent,    // not reported; the loop goes on
  };

  // Starts the next table with the line that names it.
  void startTable(std::string line);
  // Sends a statement of the loop. Returns false when the body must
  // return false at once: the statement failed and its rule ends the
  // loop, or the unisolated attempt is over.
  bool exec(const char *statement, OnFailure rule);
  bool exec(const std::string &statement, OnFailure rule) { return exec(statement.c_str(), rule); }
  // A read of the loop (never of the spread form): null when it failed
  // (reported in the careful form); the body then returns false at once
  // if over() says so, else goes on as its own rule says.
  Result select(const char *query);
  // True when the unisolated attempt has ended and the body must return
  // false.
  bool over() const { return over_; }

 private:
  enum class Mode { kCareful, kUnisolated, kCollecting };
  struct Table {
    std::string line;
    std::vector<std::pair<std::string, OnFailure>> statements;
  };
  TableLoop(Mode mode, ProgressLine *progress) : mode_(mode), progress_(progress) {}
  friend bool RunTableLoop(const std::function<bool(TableLoop &)> &body, TableLoopForm form);
  void showTable(const std::string &line);
  void finish();
  bool sendCollected(int width);
  bool sendChunk(size_t first, size_t end, int width);

  Mode mode_;
  ProgressLine *progress_;
  bool over_ = false;       // the unisolated attempt stopped at a failure
  bool mustRerun_ = false;  // ... one after which the careful form goes on
  int started_ = 0;         // tables started by this attempt
  int alreadyShown_ = 0;    // lines the unisolated attempt printed
  std::vector<Table> collected_;
};

// Runs body as a table loop and returns what it returned in the careful
// form.
bool RunTableLoop(const std::function<bool(TableLoop &)> &body, TableLoopForm form = {});
