#include "support/terminal_run.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tvtest {

namespace {

// Appends what the terminal has for the program's output; false once
// the program has closed it.
bool ReadSome(int master, std::string &bytes) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof(buffer));
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;  // EIO once the program has ended and closed the terminal
  }
}

}  // namespace

TerminalRun RunOnTerminal(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::pair<std::string, std::string>> &exchanges) {
  TerminalRun run;
  winsize size{};
  size.ws_row = 50;
  size.ws_col = 200;
  int master;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return run;
  if (pid == 0) {
    for (const char *name :
         {"NO_COLOR", "TALVEX_CONFIG_FILE", "TALVEX_INSTALL_PATH", "DISPLAY", "WAYLAND_DISPLAY"})
      unsetenv(name);
    std::vector<std::string> store = {program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  bool open = true;
  for (const auto &[prompt, reply] : exchanges) {
    while (open && !run.bytes.ends_with(prompt)) open = ReadSome(master, run.bytes);
    if (!open) break;
    if (write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) break;
  }
  while (open) open = ReadSome(master, run.bytes);
  close(master);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::string Screen(const std::string &bytes) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (size_t i = 0; i < bytes.size(); i++) {
    char c = bytes[i];
    if (c == '\33' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      i += 2;
      while (i < bytes.size() && (bytes[i] < 0x40 || bytes[i] > 0x7E)) i++;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string &line = lines.back();
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  std::string screen;
  for (size_t i = 0; i < lines.size(); i++) {
    std::string line = lines[i];
    line.erase(line.find_last_not_of(' ') + 1);
    if (i + 1 < lines.size())
      screen += line + "\n";
    else
      screen += line;  // the line the cursor is on, empty after a line feed
  }
  return screen;
}

}  // namespace tvtest
