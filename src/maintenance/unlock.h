#pragma once

// What became of the server's lock mark.
enum class UnlockOutcome { kNotLocked, kDeclined, kFailed, kRemoved };

// Shows who holds the lock and, after the operator agrees, removes the
// mark, printing "Database lock removed". kFailed means the statement
// failed and was reported.
UnlockOutcome OfferUnlock();
