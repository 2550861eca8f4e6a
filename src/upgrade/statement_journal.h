// Where schema statements commit at once (MySQL, MariaDB), a step that
// failed or was killed half-way leaves its first statements applied, and
// sending them again fails (a column added twice) or doubles data. The
// journal numbers every statement a step sends, keeps a running digest of
// their texts, and before each schema statement writes, in the
// transaction that statement's implicit commit closes, how many
// statements are applied. A rerun of the step skips those, provided it
// arrives at them by the same texts, and sends the interrupted schema
// statement again, taking the errors that say "done already" for done.
#pragma once

#include <compare>
#include <cstdint>

#include "session/statement_watch.h"

// The journal's table, reserved for the tool.
constexpr char kJournalTable[] = "tvdbmgr_upgrade_journal";

// True on the dialects whose schema statements commit at once and that
// the journal serves (MySQL and MariaDB).
bool UpgradeNeedsJournal();
// Creates the journal's table when it is missing. Returns false when it
// cannot be created (reported).
bool CreateJournalTable();
// Drops the journal's table, once the upgrade has reached its end. A
// failure is reported and changes nothing else.
void DropJournalTable();
// A bridge replays steps that each write their version, and on these
// dialects an action that ran after a schema statement commits: a bridge
// cut short can leave the version of a step it replayed. Returns the
// start of the interrupted step whose journal row covers version (start
// < version < the step's end), to be resumed from there; 0 when there is
// none or the journal cannot be read (reported).
int InterruptedStepAround(int version);

// Where the step runner asks the running journal (none: every action
// runs). Returns false when the action is to be passed over because the
// interrupted run applied it whole; a question is always asked.
bool EnterStepAction(bool isQuestion);
// ok: the action succeeded, or the step goes on past its failure (-X).
void LeaveStepAction(bool ok);
// The answer of a question: part of the course a rerun must repeat.
void NoteStepAnswer(bool yes);

// The journal of one step, running while it lives. Positions in the step
// are units and statements within a unit: each part of the step (an
// action, see RunActions) is a unit, and so is the stretch after an
// action (a procedure's own statements between actions). A rerun passes
// over the actions the interrupted run applied whole, without running
// them (their reads would see the changed schema), and skips by count the
// applied statements of the unit where it stopped. Actions end with a
// commit once the step has sent a schema statement, so that what an
// action read before a schema statement and wrote after it is not lost
// to a later failure.
class StepJournal final : public StatementWatch {
 public:
  StepJournal(int from, int to);
  ~StepJournal() override;
  StepJournal(const StepJournal &) = delete;
  StepJournal &operator=(const StepJournal &) = delete;
  // Reads what an interrupted run of the step left and says so. Returns
  // false when it cannot be read (reported).
  bool open();
  // After the step's actions: false when the step went another way than
  // the interrupted run (reported); otherwise removes the step's row in
  // the step's transaction, false when that fails (reported).
  bool close();

  Verdict beforeSending(const char *statement) override;
  bool afterSending(const char *statement, bool ok, int errorCode) override;
  void passOver(const char *statement) override;
  bool beginRepeatableGroup(const char *label) override;
  void endRepeatableGroup() override;

  bool enterAction(bool isQuestion);
  void leaveAction(bool ok);
  void noteAnswer(bool yes);

 private:
  struct Position {
    int unit = 0;
    int statement = 0;
    auto operator<=>(const Position &) const = default;
  };
  void nextUnit(const char *course);
  // Counts one statement (or group) of the current unit; false when the
  // step has gone another way than the interrupted run.
  bool count(const char *text);
  // Compares the course with the interrupted run's once the position
  // reaches or passes the applied one.
  void checkCourse();
  bool skipping() const { return position_ <= applied_; }
  // Of the course and the given digest of the unit's statements.
  uint64_t digest(uint64_t unitStatements) const;
  bool writeRow(Position applied, uint64_t digest, int inFlight);
  void clearInFlight();
  void halt();

  int from_;
  int to_;
  StatementWatchArming arming_;
  // What the interrupted run left: the position applied, its digest, and
  // the schema statement of that unit it had sent when it stopped (0:
  // none).
  Position applied_;
  uint64_t appliedDigest_ = 0;
  int inFlight_ = 0;
  bool checked_ = true;

  Position position_;
  uint64_t course_;
  uint64_t unitStatements_;
  uint64_t previousUnitStatements_ = 0;
  bool inGroup_ = false;
  bool rowInGroup_ = false;  // the group's row is written
  bool schemaSent_ = false;
  bool halted_ = false;
};
