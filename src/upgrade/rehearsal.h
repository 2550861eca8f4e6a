// The rehearsal of an upgrade: the whole chain of steps run against the
// real data, then thrown away, so that an operator learns whether the
// upgrade will go through before stopping the server for it.
#pragma once

// Runs the upgrade to target and undoes it: on MySQL/MariaDB, whose
// schema statements commit at once, on a scratch copy of the database
// that is dropped afterwards; elsewhere in one transaction that is
// rolled back, each step's transaction a savepoint in it. Refused on
// Oracle. Ends with the rehearsal's verdict. Returns true when the
// upgrade would succeed (or there is nothing to upgrade).
bool RehearseUpgradeTo(int target);
