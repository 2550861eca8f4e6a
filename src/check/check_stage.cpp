#include "check/check_stage.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "runtime/terminal.h"
#include "runtime/tv_string.h"
#include "session/ask.h"
#include "session/globals.h"
#include "session/sql_exec.h"

int ErrorsFound = 0;
int ErrorsFixed = 0;

namespace {

int StageErrorsAtStart = 0;
int StageFixedAtStart = 0;
int StageSqlErrorsAtStart = 0;
int RepairCount = 0;
std::string StageTitle;

struct StatusMark {
  int color;
  const char *text;
};

const StatusMark kPassed = {32, "PASSED"};
const StatusMark kFixed = {33, "FIXED "};
const StatusMark kError = {31, "ERROR "};

String FormattedV(const char *format, va_list args) __attribute__((format(printf, 1, 0)));
String FormattedV(const char *format, va_list args) {
  String text;
  text.addFormattedStringV(format, args);
  return text;
}

void PrintProgressLine() { WriteToTerminalEx("\33[1m*\33[0m %-67s", StageTitle.c_str()); }

}  // namespace

void BeginCheckStage(const char *title) {
  StageTitle = title;
  PrintProgressLine();
  // The line has no line feed until its mark, and a check may run for
  // minutes: it has to show while the check runs.
  fflush(stdout);
  StageErrorsAtStart = ErrorsFound;
  StageFixedAtStart = ErrorsFixed;
  StageSqlErrorsAtStart = ReportedSqlErrors();
}

void EndCheckStage() {
  const int defects = ErrorsFound - StageErrorsAtStart;
  const StatusMark *mark = &kPassed;
  if (defects > 0) {
    // The questions have overwritten the line.
    PrintProgressLine();
    mark = ErrorsFixed - StageFixedAtStart == defects ? &kFixed : &kError;
    StageErrorsAtStart = ErrorsFound;
    StageFixedAtStart = ErrorsFixed;
  }
  // A stage that could not read what it checks has not passed, even when
  // it found nothing to ask about; its failure report overwrote the line.
  if (mark == &kPassed && ReportedSqlErrors() != StageSqlErrorsAtStart) {
    PrintProgressLine();
    mark = &kError;
  }
  WriteToTerminalEx(" \33[37;1m[\33[%d;1m%s\33[37;1m]\33[0m\n", mark->color, mark->text);
  fflush(stdout);
}

bool ReportDefect(const char *format, ...) {
  // The repairs made so far are gone with the transaction: asking for
  // more would only pretend to repair.
  if (TransactionRolledBackByServer()) return false;
  ErrorsFound++;
  va_list args;
  va_start(args, format);
  const String question = FormattedV(format, args);
  va_end(args);
  return AskYesNo("%s", question.cstr());
}

bool OfferRepair(const std::string &question, const std::function<bool()> &repair) {
  if (!ReportDefect("%s", question.c_str()) || !repair()) return false;
  ErrorsFixed++;
  return true;
}

std::string Question(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const String question = FormattedV(format, args);
  va_end(args);
  return question.str();
}

int RepairsSent() { return RepairCount; }

bool ExecRepair(const char *format, ...) {
  char statement[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(statement, sizeof(statement), format, args);
  va_end(args);
  RepairCount++;
  return ExecSql(statement);
}

void ReadObjectName(db_result_t result, int row, int column, char *name) {
  DBGetField(result, row, column, name, kNameBufferSize);
  int characters = 0;
  for (char *p = name; *p != 0; p++) {
    bool starts = (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
    if (starts && characters++ == kNameLength) {
      *p = 0;
      break;
    }
  }
}

uint64_t CurrentTime() { return static_cast<uint64_t>(time(nullptr)); }
