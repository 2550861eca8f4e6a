#include "upgrade/statement_journal.h"

#include <strings.h>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "session/globals.h"
#include "session/sql_exec.h"
#include "upgrade/steps.h"

namespace {

constexpr uint64_t kDigestStart = 14695981039346656037ull;  // FNV-1a 64

uint64_t AddToDigest(uint64_t digest, const char *text) {
  // The terminating NUL goes in too, so that "ab","c" differs from "a","bc".
  for (const char *p = text;; p++) {
    digest = (digest ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
    if (*p == 0) return digest;
  }
}

// The statements that commit the open transaction on MySQL before they
// run.
bool IsSchemaStatement(const char *statement) {
  while (*statement == ' ' || *statement == '\t' || *statement == '\r' || *statement == '\n') statement++;
  for (const char *word : {"CREATE ", "ALTER ", "DROP ", "RENAME ", "TRUNCATE "})
    if (strncasecmp(statement, word, strlen(word)) == 0) return true;
  return false;
}

// The engine's codes of a schema statement whose effect is there already:
// table exists, unknown table, unknown column, duplicate column, duplicate
// key name, multiple primary key, can't drop, no such table.
bool FailedAsAlreadyApplied(int code) {
  for (int applied : {1050, 1051, 1054, 1060, 1061, 1068, 1091, 1146})
    if (code == applied) return true;
  return false;
}

// The journal's own statements go straight to the engine: the watch must
// not see them.
bool SendJournalStatement(const std::string &statement) {
  TraceSql(statement.c_str());
  char errorText[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(DbHandle, statement.c_str(), errorText)) return true;
  ReportSqlError(errorText, statement.c_str());
  return false;
}

}  // namespace

bool UpgradeNeedsJournal() { return DbSyntax == DB_SYNTAX_MYSQL; }

bool CreateJournalTable() {
  // Its rows must commit with the step's data, whatever table type -M
  // asks for the server's tables.
  return SendJournalStatement(std::string("CREATE TABLE IF NOT EXISTS ") + kJournalTable +
                              " (from_version integer not null,"
                              "unit_no integer not null,"
                              "statement_no integer not null,"
                              "digest varchar(16) not null,"
                              "in_flight integer not null,"
                              "PRIMARY KEY(from_version)) ENGINE=InnoDB");
}

void DropJournalTable() { SendJournalStatement(std::string("DROP TABLE IF EXISTS ") + kJournalTable); }

int InterruptedStepAround(int version) {
  Result rows(SelectSql((std::string("SELECT from_version FROM ") + kJournalTable + " WHERE from_version<" +
                         std::to_string(version))
                            .c_str()));
  if (rows == nullptr) return 0;
  for (int row = 0; row < DBGetNumRows(rows.get()); row++) {
    const int start = DBGetFieldLong(rows.get(), row, 0);
    const UpgradeStep *step = FindUpgradeStep(start);
    if (step != nullptr && version < step->to) return start;
  }
  return 0;
}

namespace {
StepJournal *Running = nullptr;
}  // namespace

bool EnterStepAction(bool isQuestion) { return Running == nullptr || Running->enterAction(isQuestion); }
void LeaveStepAction(bool ok) {
  if (Running != nullptr) Running->leaveAction(ok);
}
void NoteStepAnswer(bool yes) {
  if (Running != nullptr) Running->noteAnswer(yes);
}

StepJournal::StepJournal(int from, int to)
    : from_(from), to_(to), arming_(*this), course_(kDigestStart), unitStatements_(kDigestStart) {
  Running = this;
}

StepJournal::~StepJournal() { Running = nullptr; }

bool StepJournal::open() {
  std::string query = std::string("SELECT unit_no,statement_no,digest,in_flight FROM ") + kJournalTable +
                      " WHERE from_version=" + std::to_string(from_);
  Result row(SelectSql(query.c_str()));
  if (row == nullptr) return false;
  if (DBGetNumRows(row.get()) == 0) return true;
  applied_ = {DBGetFieldLong(row.get(), 0, 0), DBGetFieldLong(row.get(), 0, 1)};
  char digest[32];
  appliedDigest_ = strtoull(DBGetField(row.get(), 0, 2, digest, sizeof(digest)), nullptr, 16);
  inFlight_ = DBGetFieldLong(row.get(), 0, 3);
  checked_ = false;
  // A run stopped at the first statement of a procedure step applied
  // nothing before it: the course is checked where the step starts, as
  // no statement and no action will reach that position again.
  checkCourse();
  // A step whose first statement failed outright left its row but
  // applied nothing: the rerun is a plain run.
  const bool appliedNothing = applied_ <= Position{1, 0} && inFlight_ == 0;
  if (!appliedNothing)
    printf(
        "Step %d -> %d was interrupted at statement %d of its part %d; what it had applied before is "
        "skipped\n",
        from_, to_, applied_.statement + 1, applied_.unit);
  return true;
}

bool StepJournal::close() {
  checkCourse();
  if (!checked_) halt();  // the step ended before the applied position
  if (halted_) return false;
  return SendJournalStatement(std::string("DELETE FROM ") + kJournalTable +
                              " WHERE from_version=" + std::to_string(from_));
}

void StepJournal::halt() {
  if (halted_) return;
  halted_ = true;
  printf(
      "ERROR: step %d -> %d now goes another way than the interrupted run, which had applied part of it; "
      "nothing was changed.\n"
      "Run the upgrade again answering its questions as the interrupted run was answered, or restore the "
      "database from its backup.\n",
      from_, to_);
}

uint64_t StepJournal::digest(uint64_t unitStatements) const {
  char both[40];
  snprintf(both, sizeof(both), "%016" PRIx64 "%016" PRIx64, course_, unitStatements);
  return AddToDigest(kDigestStart, both);
}

void StepJournal::checkCourse() {
  if (checked_ || position_ < applied_) return;
  checked_ = true;
  if (position_ != applied_ || digest(unitStatements_) != appliedDigest_) halt();
}

void StepJournal::nextUnit(const char *course) {
  position_ = {position_.unit + 1, 0};
  course_ = AddToDigest(course_, course);
  unitStatements_ = kDigestStart;
  checkCourse();
}

bool StepJournal::count(const char *text) {
  position_.statement++;
  previousUnitStatements_ = unitStatements_;
  unitStatements_ = AddToDigest(unitStatements_, text);
  checkCourse();
  return !halted_;
}

bool StepJournal::enterAction(bool isQuestion) {
  nextUnit(isQuestion ? "question" : "action");
  if (halted_ || isQuestion || position_.unit >= applied_.unit) return true;
  nextUnit("end");
  return false;
}

void StepJournal::leaveAction(bool ok) {
  nextUnit("end");
  // Once a schema statement has committed part of the step, each action
  // is made final as it ends, with the position that follows it.
  if (!ok || halted_ || skipping() || !schemaSent_) return;
  if (writeRow(position_, digest(unitStatements_), 0)) SendJournalStatement("COMMIT");
}

void StepJournal::noteAnswer(bool yes) { course_ = AddToDigest(course_, yes ? "yes" : "no"); }

bool StepJournal::writeRow(Position applied, uint64_t digest, int inFlight) {
  char statement[256];
  snprintf(
      statement, sizeof(statement),
      "REPLACE INTO %s (from_version,unit_no,statement_no,digest,in_flight) VALUES (%d,%d,%d,'%016" PRIx64
      "',%d)",
      kJournalTable, from_, applied.unit, applied.statement, digest, inFlight);
  return SendJournalStatement(statement);
}

// A schema statement that failed with a reported error did not apply:
// the rerun sends it as a new one. The commit also makes final what came
// before it, as the statement's own implicit commit may have done already.
void StepJournal::clearInFlight() {
  rowInGroup_ = false;
  if (SendJournalStatement(std::string("UPDATE ") + kJournalTable +
                           " SET in_flight=0 WHERE from_version=" + std::to_string(from_)))
    SendJournalStatement("COMMIT");
}

StatementWatch::Verdict StepJournal::beforeSending(const char *statement) {
  if (halted_) return Verdict::kRefuse;
  if (!inGroup_ && !count(statement)) return Verdict::kRefuse;
  if (skipping()) return Verdict::kSkip;
  // The row goes with what came before: the statement's implicit commit
  // makes both final before it runs. In a group every schema statement
  // would write the same row.
  if (IsSchemaStatement(statement) && !rowInGroup_) {
    if (!writeRow({position_.unit, position_.statement - 1}, digest(previousUnitStatements_),
                  position_.statement))
      return Verdict::kRefuse;
    schemaSent_ = true;
    rowInGroup_ = inGroup_;
  }
  return Verdict::kSend;
}

bool StepJournal::afterSending(const char *statement, bool ok, int errorCode) {
  if (ok || !IsSchemaStatement(statement)) return ok;
  // The statement's implicit commit failed (a cluster's replication
  // conflict) and the server rolled back what came before it, the row
  // written for it too: the row in the database is the one last
  // committed, and it is true as it stands. Its in-flight statement may
  // well be applied; marking it otherwise would have a rerun send it as
  // a new one.
  if (DBGetTransactionAbort(DbHandle) != nullptr) return false;
  if (position_.unit == applied_.unit && position_.statement == inFlight_ &&
      FailedAsAlreadyApplied(errorCode)) {
    printf(
        "Statement %d of part %d of step %d -> %d was applied by the interrupted run (error %d now): done\n",
        position_.statement, position_.unit, from_, to_, errorCode);
    return true;
  }
  clearInFlight();
  return false;
}

void StepJournal::passOver(const char *statement) {
  if (!halted_ && !inGroup_) count(statement);
}

// A group is applied whole once a row written after it (before a later
// schema statement, or as its action ended) counts it.
bool StepJournal::beginRepeatableGroup(const char *label) {
  if (!halted_) count((std::string("group ") + label).c_str());
  inGroup_ = true;
  rowInGroup_ = false;
  return !halted_ && skipping();
}

void StepJournal::endRepeatableGroup() {
  inGroup_ = false;
  rowInGroup_ = false;
}
