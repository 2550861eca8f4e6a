// A connection for the dialects that cannot run here (Microsoft SQL
// Server, Oracle, the sixth engine): it records every statement and
// answers queries from canned rows, so tests can check the texts sent.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/db.h"

namespace tvtest {

struct Recording {
  using Rows = std::vector<std::vector<std::string>>;
  // Everything sent, in order; transactions as "BEGIN", "COMMIT",
  // "ROLLBACK".
  std::vector<std::string> statements;
  // A query gets the rows of the first entry whose key it contains, and
  // no rows when none matches.
  std::vector<std::pair<std::string, Rows>> answers;
  // Statements containing this text fail (when not empty).
  std::string failWhen;
};

// A handle of the dialect (DB_SYNTAX_*) over a recording connection; free
// it with DBDisconnect.
db_handle_t OpenRecordingHandle(int syntax, std::shared_ptr<Recording> recording);

}  // namespace tvtest
