// The batch engine: an operator's SQL command file split at semicolons
// outside quotes, and a built-in batch text run line by line, both
// against a connection that records what it is sent. Statements holding
// "FAIL" fail, so the stop at the first failure and its report are
// reached too.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "maintenance/maintenance_commands.h"
#include "session/batch.h"
#include "session/globals.h"
#include "support/recording_db.h"

namespace {

// Whether text holds a ";" outside single quotes.
bool HasUnquotedSemicolon(const std::string &text) {
  bool quoted = false;
  for (char c : text) {
    if (c == '\'') quoted = !quoted;
    if (c == ';' && !quoted) return true;
  }
  return false;
}

bool IsBlank(const std::string &text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz::ScratchDirectory() + "/commands.sql";
  static const bool silenced = (fuzz::SilenceStdout(), true);
  (void)silenced;
  fuzz::WriteInput(path, data, size);
  const char *bytes = reinterpret_cast<const char *>(data);
  const std::string text(bytes, strnlen(bytes, size));  // the built-in batch text ends at a NUL

  auto recording = std::make_shared<tvtest::Recording>();
  recording->failWhen = "FAIL";
  DbHandle = tvtest::OpenRecordingHandle(DB_SYNTAX_SQLITE, recording);
  DbSyntax = size > 0 ? data[0] % 6 : 0;

  bool result = RunBatchCommand(path.c_str());
  // A file with a NUL byte is refused before its first statement.
  if (text.size() < size && (result || !recording->statements.empty())) abort();
  // Every statement sent is a piece of the file, in file order, without
  // a separator of its own; only the last one may have failed.
  size_t from = 0;
  for (size_t i = 0; i < recording->statements.size(); i++) {
    const std::string &statement = recording->statements[i];
    size_t at = text.find(statement, from);
    if (at == std::string::npos || IsBlank(statement) || HasUnquotedSemicolon(statement)) abort();
    from = at + statement.size();
    bool failed = statement.find("FAIL") != std::string::npos;
    if (failed && i + 1 != recording->statements.size()) abort();
    if (i + 1 == recording->statements.size() && result == failed) abort();
  }

  recording->statements.clear();
  ExecSqlBatch(text.c_str(), TableLoop::OnFailure::kEnds);
  for (const std::string &line : recording->statements)
    if (line.find('\n') != std::string::npos || line == "<END>") abort();

  DBDisconnect(DbHandle);
  DbHandle = nullptr;
  return 0;
}
