#include "support/own_mariadb.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "db/db.h"
#include "support/test_db.h"

extern char **environ;

namespace tvtest {

namespace {

// A loopback port that nothing listens on now.
std::string FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  std::string port;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = std::to_string(ntohs(address.sin_port));
  if (fd >= 0) close(fd);
  return port;
}

pid_t Spawn(std::vector<std::string> args, const std::string &log) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

OwnMariadb::OwnMariadb(Kind kind, const std::vector<std::string> &options) {
  const passwd *mysql = getpwnam("mysql");
  if (geteuid() != 0 || mysql == nullptr) {
    error_ = "needs root and the system user mysql";
    return;
  }
  const char provider[] = "/usr/lib/galera/libgalera_smm.so";
  if (kind == Kind::kGaleraNode && access(provider, R_OK) != 0) {
    error_ = std::string("needs the Galera provider ") + provider;
    return;
  }
  directory_ = TempDir();
  const std::string data = directory_ + "/data", log = directory_ + "/server.log";
  std::filesystem::create_directories(data);
  if (chown(directory_.c_str(), mysql->pw_uid, mysql->pw_gid) != 0 ||
      chown(data.c_str(), mysql->pw_uid, mysql->pw_gid) != 0) {
    error_ = "cannot hand " + directory_ + " to mysql";
    return;
  }
  const pid_t install = Spawn({"mariadb-install-db", "--no-defaults", "--user=mysql", "--datadir=" + data,
                               "--auth-root-authentication-method=normal", "--skip-test-db"},
                              log);
  if (install < 0 || Wait(install) != 0) {
    error_ = "mariadb-install-db failed (" + log + ")";
    return;
  }
  const std::string port = FreePort();
  std::vector<std::string> args = {"mariadbd",
                                   "--no-defaults",
                                   "--user=mysql",
                                   "--datadir=" + data,
                                   "--port=" + port,
                                   "--bind-address=127.0.0.1",
                                   "--socket=" + directory_ + "/server.sock",
                                   "--skip-grant-tables",
                                   "--innodb-buffer-pool-size=32M",
                                   "--innodb-flush-log-at-trx-commit=2",
                                   "--character-set-server=utf8mb4",
                                   "--skip-name-resolve"};
  if (kind == Kind::kGaleraNode)
    args.insert(args.end(), {"--wsrep-on=ON", std::string("--wsrep-provider=") + provider,
                             "--wsrep-cluster-address=gcomm://", "--wsrep-new-cluster", "--binlog-format=ROW",
                             "--innodb-autoinc-lock-mode=2",
                             "--wsrep-provider-options=gmcast.listen_addr=tcp://127.0.0.1:" + FreePort()});
  args.insert(args.end(), options.begin(), options.end());
  pid_ = Spawn(args, log);
  db_driver_t driver = DBLoadDriver("mysql", ("port=" + port).c_str(), false, nullptr, nullptr);
  for (int i = 0; i < 300 && pid_ > 0 && port_.empty(); i++) {
    char errorText[DBDRV_MAX_ERROR_TEXT];
    if (db_handle_t probe = DBConnect(driver, "127.0.0.1", "", "root", "", "", errorText)) {
      DBQuery(probe, "CREATE DATABASE tvtest");
      DBDisconnect(probe);
      port_ = port;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  DBUnloadDriver(driver);
  if (port_.empty()) error_ = "the server did not answer in 30 s (" + log + ")";
}

OwnMariadb::~OwnMariadb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    Wait(pid_);
  }
  if (!directory_.empty() && getenv("TVDBMGR_KEEP_TEST_FILES") == nullptr)
    std::filesystem::remove_all(directory_);
}

}  // namespace tvtest
