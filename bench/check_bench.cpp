// Times a clean check (no defects, so no questions) of a database with N
// nodes, each linked to a subnet and carrying two interfaces, on each
// engine: the check runs two lookups per node and two per interface.
// Reports the wall time of the tvdbmgr process and its peak resident
// memory.
//
//   build/bench/check_bench [--node-indexes] [nodes] [engine...]
//                                      (default 100000, all engines)
//
// The schema has no index on the node columns of nsmap, container_members,
// cluster_members, interfaces and network_services, so every per-node
// lookup there scans the whole table and the check grows with the square
// of the node count. --node-indexes adds those indexes before the check,
// to measure the check as it would run with them.
//
// PostgreSQL and MariaDB are reached as tvtest/tvtest on 127.0.0.1; an
// engine that does not answer is left out.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "external/db/db.h"

extern char **environ;

namespace {

const char kDatabase[] = "tvbench_check";

struct Run {
  int status = -1;
  double seconds = 0;
  long peakKb = 0;
  std::string out;
};

// Runs tvdbmgr with stdin from /dev/null and stdout into a file.
Run RunTool(const std::vector<std::string> &args) {
  std::string outPath = "/tmp/check_bench_" + std::to_string(getpid()) + ".out";
  std::vector<char *> argv;
  std::string tool = TVDBMGR_BINARY;
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
    int status;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKb = usage.ru_maxrss;
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

void Bench(const std::string &engine, int nodes, bool nodeIndexes) {
  std::string database = engine == "sqlite" ? "/tmp/" + std::string(kDatabase) + ".db" : kDatabase;
  if (engine == "sqlite") {
    unlink(database.c_str());
  } else {
    std::string create = "CREATE DATABASE " + database;
    if (engine == "mysql") create += " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
    if (!Admin(engine, create)) return;
  }
  std::string config = "/tmp/" + std::string(kDatabase) + "_" + engine + ".conf";
  {
    std::ofstream out(config);
    out << "DBDriver = " << engine << "\nDBName = " << database << "\n";
    if (engine != "sqlite") out << "DBServer = 127.0.0.1\nDBLogin = tvtest\nDBPassword = tvtest\n";
  }
  Run init = RunTool({"-c", config, "init", std::string(TVDBMGR_SQL_DIR) + "/dbinit_" + engine + ".sql"});
  if (init.out.find("Database initialized successfully") == std::string::npos) {
    fprintf(stderr, "%s: init failed:\n%s", engine.c_str(), init.out.c_str());
    return;
  }
  db_driver_t driver;
  db_handle_t h = Connect(engine, database, driver);
  if (h == nullptr) return;
  auto seedStart = std::chrono::steady_clock::now();
  Seed(h, nodes);
  if (nodeIndexes)
    for (const char *index : kNodeIndexes) DBQuery(h, index);
  if (engine == "pgsql") DBQuery(h, "ANALYZE");
  double seedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - seedStart).count();
  DBDisconnect(h);
  DBUnloadDriver(driver);

  Run check = RunTool({"-c", config, "check"});
  bool clean = check.out.find("Database doesn't contain any errors") != std::string::npos;
  const double lookups = 6.0 * nodes;  // per node: properties, subnet link; per interface: two
  printf("%-7s %-13s nodes %7d  seed %6.1f s  check %8.2f s  %8.0f lookups/s  peak %6ld KiB  %s\n",
         engine.c_str(), nodeIndexes ? "node indexes" : "schema as is", nodes, seedSeconds, check.seconds,
         lookups / check.seconds, check.peakKb, clean ? "clean" : "NOT CLEAN");
  if (!clean) fprintf(stderr, "%s", check.out.c_str());
  fflush(stdout);

  if (engine == "sqlite")
    unlink(database.c_str());
  else
    Admin(engine, "");
  unlink(config.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  int first = 1;
  bool nodeIndexes = argc > 1 && std::string(argv[1]) == "--node-indexes";
  if (nodeIndexes) first++;
  int nodes = argc > first ? atoi(argv[first]) : 100000;
  std::vector<std::string> engines;
  for (int i = first + 1; i < argc; i++) engines.push_back(argv[i]);
  if (engines.empty()) engines = {"sqlite", "pgsql", "mysql"};
  DBInit(0, 0);
  for (const std::string &engine : engines) Bench(engine, nodes, nodeIndexes);
  return 0;
}
