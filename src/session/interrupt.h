// What SIGINT and SIGTERM do while a command runs. The run still ends by
// the signal, as a kill ends it: the engine rolls back what the command
// had not committed, and the caller sees the signal. Before that, the
// handler removes the file that the command registered and prints the
// command's message, so that an interrupted run says what became of its
// work and leaves no temporary file behind.
#pragma once

#include <signal.h>

#include <string>

// Installs the handlers. message, which must outlive the run, is printed
// on a line of its own when a signal ends the command.
void HandleInterrupts(const char *message);

// Until KeepOnInterrupt, an interrupt removes path and the journal that
// SQLite keeps beside it. One file at a time; a path longer than any the
// system takes is not registered.
void RemoveOnInterrupt(const std::string &path);
// The file has become the command's result (or was removed): from now on
// an interrupt leaves it alone. The message stays: an upgrade goes on
// after its backup file is in place.
void KeepOnInterrupt();

// Holds SIGINT and SIGTERM back while it lives, so that a step and its
// registration (creating a file, renaming it into place) happen both or
// neither; a signal that came meanwhile is handled at its end.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld &) = delete;
  InterruptsHeld &operator=(const InterruptsHeld &) = delete;

 private:
  sigset_t previous_;
};
