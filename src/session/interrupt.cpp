#include "session/interrupt.h"

#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr char kJournalSuffix[] = "-journal";

// Read by the handler, so plain buffers written only while the signals
// are held back.
char RemovedPath[PATH_MAX] = "";
char RemovedJournal[PATH_MAX + sizeof(kJournalSuffix)] = "";
const char *Message = nullptr;
size_t MessageLength = 0;
// On a terminal the cursor may stand after "^C" or a progress line.
bool StartOnNewLine = false;

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void WriteAll(const char *text, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDOUT_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void OnInterrupt(int signal) {
  if (RemovedPath[0] != 0) {
    unlink(RemovedJournal);
    unlink(RemovedPath);
  }
  if (Message != nullptr) {
    if (StartOnNewLine) WriteAll("\n", 1);
    WriteAll(Message, MessageLength);
    WriteAll("\n", 1);
  }
  // SA_RESETHAND has put the default action back; the signal, held while
  // the handler runs, ends the process as soon as it returns.
  raise(signal);
}

}  // namespace

void HandleInterrupts(const char *message) {
  InterruptsHeld held;
  Message = message;
  MessageLength = message != nullptr ? strlen(message) : 0;
  StartOnNewLine = isatty(STDOUT_FILENO) != 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  action.sa_mask = InterruptSignals();
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RemoveOnInterrupt(const std::string &path) {
  InterruptsHeld held;
  if (path.size() >= sizeof(RemovedPath)) return;
  memcpy(RemovedPath, path.c_str(), path.size() + 1);
  memcpy(RemovedJournal, path.c_str(), path.size());
  memcpy(RemovedJournal + path.size(), kJournalSuffix, sizeof(kJournalSuffix));
}

void KeepOnInterrupt() {
  InterruptsHeld held;
  RemovedPath[0] = 0;
  RemovedJournal[0] = 0;
}

InterruptsHeld::InterruptsHeld() {
  sigset_t set = InterruptSignals();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

InterruptsHeld::~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
