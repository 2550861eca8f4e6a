// The mark a server leaves in config while it works on the database:
// its identity in DBLockStatus ("UNLOCKED" when free) and a description
// in DBLockInfo. It is the server's, not this tool's (session/tool_lock.h
// keeps a second tvdbmgr off). A missing row or a failing read counts as
// unlocked, so that a database without the variables stays usable.
#pragma once

// Whether DBLockStatus, compared as stored (not decoded), is other than
// "UNLOCKED". Sends its query without echo or report.
bool IsLocked();

// Returns true when the database is at the tool's version and not locked;
// otherwise prints why and returns false.
bool CheckDatabaseReady();

// What became of the server's lock mark.
enum class UnlockOutcome { kNotLocked, kDeclined, kFailed, kRemoved };

// Shows who holds the lock and, after the operator agrees, removes the
// mark, printing "Database lock removed". kFailed means the statement
// failed and was reported.
UnlockOutcome OfferUnlock();
