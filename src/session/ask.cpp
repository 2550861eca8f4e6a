#include "session/ask.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "runtime/tv_string.h"
#include "session/globals.h"

extern char **environ;

namespace {

termios SavedTerminal;

// An interrupt while the terminal is in single-key mode must not leave
// the operator's shell without echo.
void RestoreTerminalAndDie(int sig) {
  tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Keeps the terminal in single-key mode without echo while it lives.
class RawTerminal {
 public:
  RawTerminal() {
    active_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &SavedTerminal) == 0;
    if (!active_) return;
    termios raw = SavedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    oldInt_ = signal(SIGINT, RestoreTerminalAndDie);
    oldTerm_ = signal(SIGTERM, RestoreTerminalAndDie);
    oldHup_ = signal(SIGHUP, RestoreTerminalAndDie);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ~RawTerminal() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    signal(SIGINT, oldInt_);
    signal(SIGTERM, oldTerm_);
    signal(SIGHUP, oldHup_);
  }

 private:
  bool active_ = false;
  sighandler_t oldInt_ = SIG_DFL, oldTerm_ = SIG_DFL, oldHup_ = SIG_DFL;
};

bool HaveDisplay() {
  const char *x = getenv("DISPLAY");
  const char *w = getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != 0) || (w != nullptr && *w != 0);
}

// Runs the desktop Yes/No dialog. Returns 1 for yes, 0 for no, -1 when no
// dialog could be shown.
int AskDialog(const char *question) {
  if (!HaveDisplay()) return -1;
  const char *argv[] = {
      "zenity",         "--question",        "--no-markup", "--title=Talvex Database Manager",
      "--ok-label=Yes", "--cancel-label=No", "--text",      question,
      nullptr};
  // An inherited "ignore" for SIGCHLD would reap the dialog behind our
  // back, and waiting for it would then fail instead of giving the answer.
  sighandler_t oldChld = signal(SIGCHLD, SIG_DFL);
  pid_t pid;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  int rc = posix_spawnp(&pid, "zenity", &actions, nullptr, const_cast<char **>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  pid_t waited = -1;
  if (rc == 0)
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
  signal(SIGCHLD, oldChld);
  if (waited != pid || !WIFEXITED(status)) return -1;
  switch (WEXITSTATUS(status)) {
    case 0: return 1;
    case 1: return 0;
    default: return -1;  // no display after all, or zenity failed
  }
}

// The dialog takes at most this many characters; never half a UTF-8
// character, which the dialog program would refuse.
void CutToCharacters(String &text, size_t limit) {
  const std::string &s = text.str();
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); i++) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars++ == limit) {
      text.shrink(s.size() - i);
      return;
    }
  }
}

bool AskConsole(const String &question) {
  fputs(question, stdout);
  fputs(" (Y/N) ", stdout);
  if (ForceRepair) {
    fputs("Y\n", stdout);
    return true;
  }
  fflush(stdout);
  RawTerminal raw;
  for (;;) {
    char key;
    ssize_t n = read(STDIN_FILENO, &key, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (key == 'y' || key == 'Y') {
      fputs("Y\n", stdout);
      return true;
    }
    if (key == 'n' || key == 'N') break;
  }
  fputs("N\n", stdout);
  return false;
}

}  // namespace

bool AskYesNo(const char *format, ...) {
  if (GuiMode && ForceRepair) return true;
  String question;
  va_list args;
  va_start(args, format);
  question.addFormattedStringV(format, args);
  va_end(args);
  if (GuiMode) {
    CutToCharacters(question, 4095);
    int answer = AskDialog(question);
    if (answer >= 0) return answer == 1;
  }
  return AskConsole(question);
}
