// The maintenance commands. Each reports its own failures and returns
// false when the command failed: it stopped before its work, a statement
// of its work failed, or it left the server's lock mark that the
// operator wanted gone.
#pragma once

// Runs the operator's SQL command file at path, statement by statement
// (separated by ";" outside quotes), up to the first that fails.
bool RunBatchCommand(const char *path);
// Fills a new database from the schema script at path.
bool RunInitCommand(const char *path);
bool RunReindexCommand();
bool RunUnlockCommand();
