// A loop that sends a few statements to each of many tables inside the
// open transaction: the per-node collected-data tables of the upgrade.
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
#pragma once

#include <functional>
#include <string>

#include "db/db.h"

class TableLoop {
 public:
  // What a failed statement means for the loop.
  enum class OnFailure {
    kEnds,      // reported; the loop ends, false
    kReported,  // reported; the loop goes on
    kSilent,    // not reported; the loop goes on
  };

  // Sends a statement of the loop. Returns false when the body must
  // return false at once: the statement failed and its rule ends the
  // loop, or the fast attempt is over.
  bool exec(const char *statement, OnFailure rule);
  bool exec(const std::string &statement, OnFailure rule) { return exec(statement.c_str(), rule); }
  // A read of the loop: null when it failed (reported in the careful
  // form); the body then returns false at once if over() says so, else
  // goes on as its own rule says.
  Result select(const char *query);
  // True when the fast attempt has ended and the body must return false.
  bool over() const { return over_; }
  // Whether the body prints the line of the table it is at: false for the
  // lines the fast attempt printed already.
  bool printsLine();

 private:
  explicit TableLoop(bool fast) : fast_(fast) {}
  friend bool RunTableLoop(const std::function<bool(TableLoop &)> &body, bool careful);
  bool fast_;
  bool over_ = false;       // the fast attempt stopped at a failure
  bool mustRerun_ = false;  // ... one after which the careful form goes on
  int printed_ = 0;         // lines printed by this attempt
  int alreadyPrinted_ = 0;  // lines the fast attempt printed
};

// Runs body as a table loop and returns what it returned in the careful
// form. With careful set the fast attempt is left out: the caller found
// in the catalogue that a statement will fail.
bool RunTableLoop(const std::function<bool(TableLoop &)> &body, bool careful = false);
