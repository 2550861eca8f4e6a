// A MariaDB server of a test's own, in a temporary directory on a free
// loopback port, for what a test may not do to the shared servers (make
// one read-only). It runs without grant tables, so every account has
// every privilege, SUPER among them. Needs root (the server runs as the
// system user mysql). As a one-node Galera cluster it has the cluster's
// settings too (wsrep_mode, wsrep_max_ws_rows, ...) for SET GLOBAL.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tvtest {

class OwnMariadb {
 public:
  enum class Kind { kSingle, kGaleraNode };
  // Installs and starts the server, with the server options given
  // ("--innodb-rollback-on-timeout=ON"); port() is empty when that failed
  // (the reason in error()).
  explicit OwnMariadb(Kind kind = Kind::kSingle, const std::vector<std::string> &options = {});
  // Stops the server and removes its directory.
  ~OwnMariadb();
  OwnMariadb(const OwnMariadb &) = delete;
  OwnMariadb &operator=(const OwnMariadb &) = delete;

  const std::string &port() const { return port_; }
  const std::string &error() const { return error_; }

 private:
  std::string directory_, port_, error_;
  pid_t pid_ = -1;
};

}  // namespace tvtest
