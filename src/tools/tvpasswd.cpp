// Prints the DBEncryptedPassword value for a login and a password.
//   tvpasswd <login> <password>
//   tvpasswd <login>            (asks on a terminal, else reads standard input)
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "runtime/password.h"

namespace {

const char kUsage[] =
    "Usage: tvpasswd [--] <login> [<password>]\n"
    "Prints the DBEncryptedPassword value of the password for the login.\n"
    "Without <password> it is asked for twice, without echo, on a terminal;\n"
    "otherwise it is the first line of standard input.\n";

constexpr size_t kMaxPasswordBytes = 63;

// The terminal's settings while echo is off, put back however the
// program ends, Ctrl-C included.
termios SavedTerminal;
volatile sig_atomic_t EchoOff = 0;

void RestoreEcho() {
  if (EchoOff) tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminal);
  EchoOff = 0;
}

void RestoreEchoAndDie(int signal) {
  RestoreEcho();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Asks on the terminal with echo off; the prompt and the line feed that
// the unechoed Enter did not show go to the error stream, which keeps
// standard output for the value. False when input ends.
bool AskWithoutEcho(const char *prompt, std::string &answer) {
  // Echo goes off before the prompt shows: what is typed after it must not
  // be shown, nor dropped by the switch.
  if (tcgetattr(STDIN_FILENO, &SavedTerminal) == 0) {
    termios quiet = SavedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    EchoOff = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  fputs(prompt, stderr);
  fflush(stderr);
  bool read = static_cast<bool>(std::getline(std::cin, answer));
  RestoreEcho();
  fputc('\n', stderr);
  return read;
}

// The password from the terminal, asked twice, or from the first line of
// standard input. False after printing why.
bool ReadPassword(std::string &password) {
  if (!isatty(STDIN_FILENO)) {
    if (std::getline(std::cin, password)) return true;
    fprintf(stderr, "tvpasswd: no password on standard input\n");
    return false;
  }
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, RestoreEchoAndDie);
  std::string again;
  if (!AskWithoutEcho("Password: ", password) || !AskWithoutEcho("Retype password: ", again)) {
    fprintf(stderr, "tvpasswd: no password given\n");
    return false;
  }
  if (password != again) {
    fprintf(stderr, "tvpasswd: the passwords do not match\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    fputs(kUsage, stdout);
    return 0;
  }
  // "--" lets a login begin with a dash.
  if (argc >= 2 && strcmp(argv[1], "--") == 0) {
    argv++;
    argc--;
  }
  if (argc != 2 && argc != 3) {
    fputs(kUsage, stderr);
    return 1;
  }
  std::string password;
  if (argc == 3)
    password = argv[2];
  else if (!ReadPassword(password))
    return 1;
  if (password.size() > kMaxPasswordBytes) {
    fprintf(stderr, "tvpasswd: password longer than %zu bytes\n", kMaxPasswordBytes);
    return 1;
  }
  std::string encrypted = EncryptPassword(argv[1], password.c_str());
  if (encrypted.empty()) {
    fprintf(stderr, "tvpasswd: encryption failed\n");
    return 1;
  }
  printf("%s\n", encrypted.c_str());
  return 0;
}
