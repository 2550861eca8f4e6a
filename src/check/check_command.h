// The check command.
#pragma once

// Checks the database and offers to repair what it finds, in one
// transaction. Returns false when the check stopped before its work, a
// query of it failed, or it left defects or the server's lock mark that
// the operator wanted gone; each reported.
bool RunCheckCommand();
