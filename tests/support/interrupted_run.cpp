#include "support/interrupted_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/test_db.h"

namespace tvtest {

InterruptedRun RunAndInterrupt(const std::vector<std::string> &args, const std::string &when, int sig) {
  InterruptedRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> store = {ToolPath()};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return run;
  }
  FILE *out = fdopen(pipeFds[0], "r");
  char line[4096];
  bool sent = false;
  while (fgets(line, sizeof(line), out) != nullptr) {
    run.out += line;
    if (!sent && run.out.find(when) != std::string::npos) sent = kill(pid, sig) == 0;
  }
  fclose(out);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

}  // namespace tvtest
