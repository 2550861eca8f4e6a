// The scratch copy that a rehearsal upgrades on MySQL/MariaDB, where
// schema statements commit at once and no transaction can undo them.
#pragma once

#include <string>

// The database <name>_tvdbmgr_rehearsal on the same server: every table
// of the connected database copied into it (structure with CREATE TABLE
// ... LIKE, rows with INSERT ... SELECT), and made the connection's
// current database while the copy lives. Destroying it goes back to the
// real database and drops the copy.
class RehearsalCopy {
 public:
  RehearsalCopy() = default;
  ~RehearsalCopy();
  RehearsalCopy(const RehearsalCopy &) = delete;
  RehearsalCopy &operator=(const RehearsalCopy &) = delete;

  // Drops a copy left behind, makes the new one and switches to it.
  // False after saying why (a missing CREATE privilege named as such);
  // whatever was made is dropped by the destructor.
  bool make();

 private:
  std::string real_;  // the connected database, quoted
  std::string copy_;  // the copy, quoted; empty until it exists
  bool switched_ = false;
};

// The name of the connected database's scratch copy, quoted for MySQL;
// empty when the name cannot be read (reported) or would be too long
// (said).
std::string RehearsalCopyName();

// On MySQL/MariaDB drops the scratch copy that a killed rehearsal left
// behind; elsewhere does nothing. False when that fails (reported): the
// upgrade goes on regardless, a rehearsal cannot.
bool DropLeftRehearsalCopy();
