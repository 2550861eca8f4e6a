// Times a clean check (no defects, so no questions) of a database with N
// nodes, each linked to a subnet and carrying two interfaces, on each
// engine: seven rounds in which the engines take turns, after one untimed
// check each, reporting per engine the median wall time of the tvdbmgr
// process with the range, its peak resident memory, the number of
// statements it sent (the trace lines of -t) and the ratio to SQLite. On
// PostgreSQL and MariaDB the check then runs three times through a proxy
// on 127.0.0.1 that holds every chunk of traffic for 0.5 ms in each
// direction, so that every round trip costs 1 ms more, as on a real
// network.
//
//   build/bench/check_bench [--node-indexes] [--baseline BINARY] [nodes] [engine...]
//                                      (default 100000, all engines)
//
// --baseline also times BINARY (a tvdbmgr of an older check, e.g.
// build/bin/tvdbmgr_rowwise, the per-row check of the tests) on the
// same database; through the proxy only up to 10,000 nodes.
//
// --node-indexes adds indexes on the node columns of nsmap,
// container_members, cluster_members, interfaces and network_services
// before the check (the init scripts create them; for an older schema).
//
// PostgreSQL and MariaDB are reached as tvtest/tvtest on 127.0.0.1; an
// engine that does not answer is left out.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/db.h"

extern char **environ;

namespace {

const char kDatabase[] = "tvbench_check";

struct Run {
  int status = -1;
  double seconds = 0;
  long peakKb = 0;
  std::string out;
};

// Forwards TCP connections from a port on 127.0.0.1 to a server port on
// 127.0.0.1, delivering every chunk of bytes a fixed time after it was
// read, in both directions. Accepts only while it lives; the destructor
// waits until every connection through it has closed.
class DelayProxy {
 public:
  DelayProxy(int serverPort, std::chrono::microseconds oneWay) : serverPort_(serverPort), delay_(oneWay) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 || listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~DelayProxy() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    close(listener_);
    for (std::thread &t : pumps_) t.join();
  }
  int port() const { return port_; }

 private:
  // One direction of one connection.
  struct Channel {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> chunks;
    bool ended = false;
  };

  void acceptLoop() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      int server = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(serverPort_));
      if (connect(server, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        close(client);
        close(server);
        continue;
      }
      int one = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      auto up = std::make_shared<Channel>(), down = std::make_shared<Channel>();
      // The two sockets are closed by the last pump to finish.
      auto sockets = std::shared_ptr<int>(new int[2]{client, server}, [](int *fds) {
        close(fds[0]);
        close(fds[1]);
        delete[] fds;
      });
      pumps_.emplace_back([=, this] { readInto(client, *up, sockets); });
      pumps_.emplace_back([=, this] { writeFrom(*up, server, sockets); });
      pumps_.emplace_back([=, this] { readInto(server, *down, sockets); });
      pumps_.emplace_back([=, this] { writeFrom(*down, client, sockets); });
    }
  }
  void readInto(int from, Channel &channel, std::shared_ptr<int>) {
    char buffer[65536];
    for (;;) {
      ssize_t n = read(from, buffer, sizeof(buffer));
      std::lock_guard<std::mutex> hold(channel.lock);
      if (n <= 0) {
        channel.ended = true;
        channel.ready.notify_one();
        return;
      }
      channel.chunks.emplace_back(std::chrono::steady_clock::now() + delay_,
                                  std::string(buffer, static_cast<size_t>(n)));
      channel.ready.notify_one();
    }
  }
  void writeFrom(Channel &channel, int to, std::shared_ptr<int>) {
    for (;;) {
      std::unique_lock<std::mutex> hold(channel.lock);
      channel.ready.wait(hold, [&] { return channel.ended || !channel.chunks.empty(); });
      if (channel.chunks.empty()) {
        shutdown(to, SHUT_WR);
        return;
      }
      auto [due, bytes] = std::move(channel.chunks.front());
      channel.chunks.pop_front();
      hold.unlock();
      std::this_thread::sleep_until(due);
      for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = write(to, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
    }
  }

  int serverPort_;
  std::chrono::microseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

// The 1, 5 and 15 minute load averages of the machine, which the
// figures depend on: the machine is shared.
std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// VmHWM of a running process, 0 once it is gone.
long HighWaterKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return atol(line.c_str() + 6);
  return 0;
}

// Runs a tvdbmgr with stdin from /dev/null and stdout into a file.
Run RunTool(const std::vector<std::string> &args, std::string tool = TVDBMGR_BINARY) {
  std::string outPath = "/tmp/check_bench_" + std::to_string(getpid()) + ".out";
  std::vector<char *> argv;
  argv.push_back(tool.data());
  std::vector<std::string> store = args;
  for (std::string &a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  Run run;
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    // The child's own high-water mark, read while it runs: the maxrss that
    // wait4 reports would start from this process's size, which the
    // spawned child borrowed until its exec.
    int status;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      run.peakKb = std::max(run.peakKb, HighWaterKb(pid));
      usleep(2000);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(outPath);
  std::stringstream text;
  text << in.rdbuf();
  run.out = text.str();
  unlink(outPath.c_str());
  return run;
}

db_handle_t Connect(const std::string &engine, const std::string &database, db_driver_t &driver) {
  driver = DBLoadDriver(engine.c_str(), "", false, nullptr, nullptr);
  char error[DBDRV_MAX_ERROR_TEXT] = "";
  db_handle_t h = DBConnect(driver, engine == "sqlite" ? "" : "127.0.0.1", database.c_str(), "tvtest",
                            "tvtest", "", error);
  if (h == nullptr) {
    fprintf(stderr, "%s: %s\n", engine.c_str(), error);
    DBUnloadDriver(driver);
  }
  return h;
}

bool Admin(const std::string &engine, const std::string &statement) {
  db_driver_t driver;
  db_handle_t admin = Connect(engine, "tvtest", driver);
  if (admin == nullptr) return false;
  DBQuery(admin, ("DROP DATABASE IF EXISTS " + std::string(kDatabase)).c_str());
  bool ok = statement.empty() || DBQuery(admin, statement.c_str());
  DBDisconnect(admin);
  DBUnloadDriver(driver);
  return ok;
}

// Sends rows in multi-row INSERTs of 500.
class BulkInsert {
 public:
  BulkInsert(db_handle_t h, std::string head) : h_(h), head_(std::move(head)) {}
  ~BulkInsert() { flush(); }
  void add(const std::string &values) {
    sql_ += (count_ == 0 ? head_ + " VALUES " : std::string(",")) + values;
    if (++count_ == 500) flush();
  }
  void flush() {
    if (count_ == 0) return;
    char error[DBDRV_MAX_ERROR_TEXT];
    if (!DBQueryEx(h_, sql_.c_str(), error)) fprintf(stderr, "seed: %s\n", error);
    sql_.clear();
    count_ = 0;
  }

 private:
  db_handle_t h_;
  std::string head_, sql_;
  int count_ = 0;
};

void Seed(db_handle_t h, int nodes) {
  DBBegin(h);
  DBQuery(h, "INSERT INTO subnets (id,ip_addr) VALUES (100,'10.0.0.0')");
  {
    BulkInsert props(h,
                     "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,"
                     "inherit_access_rights,comments)");
    BulkInsert nodeRows(h, "INSERT INTO nodes (id,primary_ip,community)");
    BulkInsert links(h, "INSERT INTO nsmap (subnet_id,node_id)");
    BulkInsert interfaces(h, "INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask)");
    for (int i = 0; i < nodes; i++) {
      int node = 1000 + i;
      std::string ip = "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
                       std::to_string(i & 255);
      std::string id = std::to_string(node);
      nodeRows.add("(" + id + ",'" + ip + "','public')");
      links.add("(100," + id + ")");
      props.add("(" + id + ",'node-" + id + "',0,0,1262304000,1,'')");
      for (int k = 0; k < 2; k++) {
        std::string ifId = std::to_string(1000000 + 2 * i + k);
        interfaces.add("(" + ifId + "," + id + ",'" + ip + "','255.0.0.0')");
        props.add("(" + ifId + ",'eth" + std::to_string(k) + "',0,0,1262304000,1,'')");
      }
    }
  }
  DBCommit(h);
}

const char *const kNodeIndexes[] = {
    "CREATE INDEX idx_nsmap_node_id ON nsmap(node_id)",
    "CREATE INDEX idx_container_members_object_id ON container_members(object_id)",
    "CREATE INDEX idx_cluster_members_node_id ON cluster_members(node_id)",
    "CREATE INDEX idx_interfaces_node_id ON interfaces(node_id)",
    "CREATE INDEX idx_network_services_node_id ON network_services(node_id)",
};

// A seeded database of one engine.
struct Target {
  std::string engine, database, config;
  std::vector<Run> runs;  // timed checks
};

// Creates and seeds the database; false (after a message) when the engine
// cannot be reached or the init fails.
bool Prepare(Target &t, int nodes, bool nodeIndexes) {
  const std::string &engine = t.engine;
  t.database = engine == "sqlite" ? "/tmp/" + std::string(kDatabase) + ".db" : kDatabase;
  if (engine == "sqlite") {
    unlink(t.database.c_str());
  } else {
    std::string create = "CREATE DATABASE " + t.database;
    if (engine == "mysql") create += " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
    if (!Admin(engine, create)) return false;
  }
  t.config = "/tmp/" + std::string(kDatabase) + "_" + engine + ".conf";
  {
    std::ofstream out(t.config);
    out << "DBDriver = " << engine << "\nDBName = " << t.database << "\n";
    if (engine != "sqlite") out << "DBServer = 127.0.0.1\nDBLogin = tvtest\nDBPassword = tvtest\n";
  }
  Run init = RunTool({"-c", t.config, "init", std::string(TVDBMGR_SQL_DIR) + "/dbinit_" + engine + ".sql"});
  if (init.out.find("Database initialized successfully") == std::string::npos) {
    fprintf(stderr, "%s: init failed:\n%s", engine.c_str(), init.out.c_str());
    return false;
  }
  db_driver_t driver;
  db_handle_t h = Connect(engine, t.database, driver);
  if (h == nullptr) return false;
  auto seedStart = std::chrono::steady_clock::now();
  Seed(h, nodes);
  if (nodeIndexes)
    for (const char *index : kNodeIndexes) DBQuery(h, index);
  // As a database in use has them: statistics on every engine, and on
  // PostgreSQL what autovacuum leaves (visibility map and hint bits set,
  // which the first reader would otherwise write).
  if (engine == "pgsql") DBQuery(h, "VACUUM ANALYZE");
  if (engine == "mysql") DBQuery(h, "ANALYZE TABLE nodes,object_properties,interfaces,nsmap,subnets");
  if (engine == "sqlite") DBQuery(h, "ANALYZE");
  double seedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - seedStart).count();
  DBDisconnect(h);
  DBUnloadDriver(driver);
  printf("%-7s %-13s seed %.1f s\n", engine.c_str(), nodeIndexes ? "node indexes" : "schema as is",
         seedSeconds);
  // One check first, untimed: it finds the server as it would be in use,
  // with the seeded rows in its caches and its own background work after
  // the load (InnoDB's purge and index merges) out of the way.
  RunTool({"-c", t.config, "check"});
  return true;
}

void Drop(const Target &t) {
  if (t.engine == "sqlite")
    unlink(t.database.c_str());
  else
    Admin(t.engine, "");
  unlink(t.config.c_str());
}

// Prints the median time of runs with their range, the statements the
// median run sent (its -t trace lines) and the highest peak memory;
// returns the median.
double Report(const std::string &engine, const char *how, int nodes, std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
  const Run &check = runs[runs.size() / 2];
  bool clean = check.out.find("Database doesn't contain any errors") != std::string::npos;
  size_t statements = 0;
  for (size_t at = check.out.find(">>> "); at != std::string::npos; at = check.out.find(">>> ", at + 1))
    statements++;
  long peakKb = 0;
  for (const Run &run : runs) peakKb = std::max(peakKb, run.peakKb);
  printf("%-7s %-22s nodes %7d  check %7.2f s (%.2f-%.2f)  statements %6zu  peak %6ld KiB  %s\n",
         engine.c_str(), how, nodes, check.seconds, runs.front().seconds, runs.back().seconds, statements,
         peakKb, clean ? "clean" : "NOT CLEAN");
  if (!clean) fprintf(stderr, "%s", check.out.c_str());
  fflush(stdout);
  return check.seconds;
}

// The engines take turns, one check each per round, so that other work on
// the machine falls on all of them alike; the medians of the rounds are
// compared. The load average is printed with the figures.
void Bench(const std::vector<std::string> &engines, int nodes, bool nodeIndexes,
           const std::string &baseline) {
  std::vector<Target> targets;
  for (const std::string &engine : engines) {
    Target t{engine, "", "", {}};
    if (Prepare(t, nodes, nodeIndexes)) targets.push_back(t);
  }
  constexpr int kRounds = 7;
  const std::string loadBefore = LoadAverage();
  for (int round = 0; round < kRounds; round++)
    for (size_t turn = 0; turn < targets.size(); turn++) {
      // Each round starts with another engine, so that none always follows
      // the same one (and its server's background work after a check).
      Target &t = targets[(static_cast<size_t>(round) + turn) % targets.size()];
      t.runs.push_back(RunTool({"-t", "-c", t.config, "check"}));
    }
  printf("load average %s before the rounds, %s after\n", loadBefore.c_str(), LoadAverage().c_str());
  double sqliteSeconds = 0;
  for (const Target &t : targets) {
    double seconds = Report(t.engine, "loopback", nodes, t.runs);
    if (t.engine == "sqlite") sqliteSeconds = seconds;
    if (t.engine != "sqlite" && sqliteSeconds > 0)
      printf("%-7s %.1fx the SQLite time\n", t.engine.c_str(), seconds / sqliteSeconds);
  }
  for (const Target &t : targets) {
    if (t.engine == "sqlite") continue;
    DelayProxy proxy(t.engine == "pgsql" ? 5432 : 3306, std::chrono::microseconds(500));
    std::string delayed = "/tmp/" + std::string(kDatabase) + "_" + t.engine + "_delayed.conf";
    {
      std::ofstream out(delayed);
      out << "DBDriver = " << t.engine << "\nDBName = " << t.database
          << "\nDBServer = 127.0.0.1\nDBLogin = tvtest\nDBPassword = tvtest\nDBDrvParams = port="
          << proxy.port() << "\n";
    }
    std::vector<Run> runs;
    for (int i = 0; i < 3; i++) runs.push_back(RunTool({"-t", "-c", delayed, "check"}));
    Report(t.engine, "+1 ms per round trip", nodes, runs);
    // One lookup per row costs a millisecond each here: only small runs.
    if (!baseline.empty() && nodes <= 10000)
      Report(t.engine, "baseline, +1 ms", nodes, {RunTool({"-t", "-c", delayed, "check"}, baseline)});
    unlink(delayed.c_str());
  }
  if (!baseline.empty())
    for (const Target &t : targets)
      Report(t.engine, "baseline, loopback", nodes, {RunTool({"-t", "-c", t.config, "check"}, baseline)});
  for (const Target &t : targets) Drop(t);
}

}  // namespace

int main(int argc, char **argv) {
  bool nodeIndexes = false;
  std::string baseline;
  int nodes = 100000;
  std::vector<std::string> engines;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--node-indexes")
      nodeIndexes = true;
    else if (arg == "--baseline" && i + 1 < argc)
      baseline = argv[++i];
    else if (!arg.empty() && isdigit(static_cast<unsigned char>(arg[0])))
      nodes = atoi(arg.c_str());
    else
      engines.push_back(arg);
  }
  if (engines.empty()) engines = {"sqlite", "pgsql", "mysql"};
  DBInit(0, 0);
  Bench(engines, nodes, nodeIndexes, baseline);
  return 0;
}
