// Times the upgrade of an old database on each engine: a version-14
// network of N nodes, each with 10 data collection items and a
// collected-data table of 100 values (so 10,000 nodes carry 1,000,000
// collected rows), with --events and --alarms that many event log rows
// and alarms, upgraded from version --from (default 14; the seeding
// upgrades the baseline to it) to --to (default 47) with the index
// questions answered yes (-f), or no with --no; with --rehearse the
// rehearsal of that upgrade instead (-n: run whole, then undone; the
// database is checked to be at --from afterwards). Reports the seeding time,
// the upgrade's wall time, its slowest steps (--slowest, default 3) and
// the peak resident memory of the process that upgrades, beside that of a
// process that only connects to the database before and after the
// upgrade (SQLite keeps the schema of every table and index in the
// process).
//
//   build/bench/upgrade_old_bench [--no] [--rehearse] [--keep] [--from V] [--to V] [--events N]
//                                 [--alarms N] [--slowest K] [--params P] [nodes] [engine...]
//                                 (default 10000 nodes, all engines)
//
// --keep leaves the upgraded database behind (for bench/replay_upgrade.py)
// instead of dropping it.
//
// --params gives the server engines' driver parameters, e.g. "port=5433"
// for a PostgreSQL whose lock table holds the indexes of 10,000 nodes in
// one transaction (max_locks_per_transaction = 512).
//
// The database is the test baseline (tests/upgrade/baseline_v14.sql). The
// upgrade runs in a child process of its own, forked before anything is
// loaded, so that its peak memory is the upgrade's alone; it calls the
// library's UpgradeDatabaseTo (the upgrade command with a target) step by
// step and reports its peak memory after each step, which names the steps
// that raise it (by 256 KiB or more).
//
// PostgreSQL and MariaDB are reached as tvtest/tvtest on 127.0.0.1; an
// engine that does not answer is left out.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench_process.h"
#include "db/db.h"
#include "session/globals.h"
#include "upgrade/baseline.h"
#include "upgrade/rehearsal.h"
#include "upgrade/steps.h"

namespace {

// Of this run alone: two runs on one server must not share a database.
const std::string kDatabase = "tvbench_upgrade_old_" + std::to_string(getpid());
const int kItemsPerNode = 10;
const int kRowsPerItem = 10;

struct Options {
  bool answerYes = true;
  bool rehearse = false;
  int from = 14;
  int to = 47;
  int nodes = 10000;
  upgradetest::BaselineLogs logs;
  size_t slowest = 3;
  bool keep = false;
};

// Driver parameters of the server engines (--params, e.g. "port=5433").
std::string ServerParams;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A connection and nothing else: the floor of the upgrade's memory.
int ConnectOnly(const std::string &engine, const std::string &database) {
  bench::Connection c(engine, database, ServerParams);
  return c.handle == nullptr ? 1 : 0;
}

// Upgrades the connected database to target, step by step, printing each
// step's peak memory after its messages. True when it got there.
bool UpgradeStepwise(db_handle_t handle, int target) {
  for (int version = DBGetSchemaVersion(handle); version < target;) {
    const UpgradeStep *step = FindUpgradeStep(version);
    if (step == nullptr) break;
    UpgradeDatabaseTo(step->to);
    rusage own{};
    getrusage(RUSAGE_SELF, &own);
    printf("#peak %ld\n", own.ru_maxrss);
    fflush(stdout);
    int reached = DBGetSchemaVersion(handle);
    if (reached <= version) break;
    version = reached;
  }
  return DBGetSchemaVersion(handle) == target;
}

void AnswerQuestions(bool answerYes) {
  ForceRepair = answerYes;
  if (!answerYes) {
    // Questions read the keyboard; end of input answers no.
    int none = open("/dev/null", O_RDONLY);
    dup2(none, STDIN_FILENO);
    close(none);
  }
}

int Seed(const std::string &engine, const std::string &database, const Options &options) {
  bench::Connection c(engine, database, ServerParams);
  if (c.handle == nullptr) return 1;
  DbHandle = c.handle;
  DbSyntax = DBGetEngine(c.handle);
  std::string error;
  if (!upgradetest::LoadBaseline(error) ||
      !upgradetest::AddBaselineNodes({.firstNode = 100,
                                      .nodes = options.nodes,
                                      .itemsPerNode = kItemsPerNode,
                                      .rowsPerItem = kRowsPerItem},
                                     error) ||
      !upgradetest::AddBaselineLogs(options.logs, error)) {
    fprintf(stderr, "%s: seed: %s\n", engine.c_str(), error.c_str());
    return 1;
  }
  if (options.from > 14) {
    // The messages of the way to the start version are not the benchmark's.
    int none = open("/dev/null", O_WRONLY);
    dup2(none, STDOUT_FILENO);
    close(none);
    AnswerQuestions(options.answerYes);
    if (!UpgradeStepwise(c.handle, options.from)) {
      fprintf(stderr, "%s: seed: the baseline did not reach version %d\n", engine.c_str(), options.from);
      return 1;
    }
  }
  if (engine == "pgsql") DBQuery(c.handle, "ANALYZE");
  return 0;
}

// The upgrade in this (child) process, its messages into the pipe.
int Upgrade(const std::string &engine, const std::string &database, const Options &options, int pipeOut) {
  dup2(pipeOut, STDOUT_FILENO);
  close(pipeOut);
  bench::Connection c(engine, database, ServerParams);
  if (c.handle == nullptr) return 1;
  DbHandle = c.handle;
  DbSyntax = DBGetSyntax(c.handle);
  AnswerQuestions(options.answerYes);
  // The whole chain in one call, as the command runs it.
  if (options.rehearse)
    return RehearseUpgradeTo(options.to) && DBGetSchemaVersion(c.handle) == options.from ? 0 : 2;
  // One step per call, as the command's loop runs them, so that the
  // peak memory can be read after each step.
  return UpgradeStepwise(c.handle, options.to) ? 0 : 2;
}

struct StepTime {
  std::string step;
  double seconds;
  long peakKb = 0;  // of the upgrading process after the step
};

void Bench(const std::string &engine, const Options &options) {
  std::string database = engine == "sqlite" ? "/tmp/" + kDatabase + ".db" : kDatabase;
  if (engine == "sqlite") {
    unlink(database.c_str());
  } else {
    std::string create = "CREATE DATABASE " + database;
    if (engine == "mysql") create += " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
    if (engine == "pgsql") create += " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0";
    if (!bench::Admin(engine, kDatabase, create, ServerParams)) return;
  }

  rusage usage{};
  Clock::time_point seedStart = Clock::now();
  if (bench::InChild([&] { return Seed(engine, database, options); }, usage) != 0) return;
  double seedSeconds = Since(seedStart);
  bench::InChild([&] { return ConnectOnly(engine, database); }, usage);
  long floorKb = usage.ru_maxrss;

  int fds[2];
  if (pipe(fds) != 0) return;
  std::vector<StepTime> steps;
  std::string log;
  Clock::time_point start = Clock::now();
  int code = -1;
  // The child upgrades; this process reads its messages as they come and
  // times the steps by them.
  fflush(stdout);
  pid_t upgrader = fork();
  if (upgrader == 0) {
    close(fds[0]);
    int result = Upgrade(engine, database, options, fds[1]);
    fflush(stdout);
    _exit(result);
  }
  close(fds[1]);
  FILE *in = fdopen(fds[0], "r");
  Clock::time_point stepStart = start;
  std::string current;
  char line[512];
  while (fgets(line, sizeof(line), in) != nullptr) {
    std::string text(line);
    if (text.starts_with("#peak ")) {
      if (!steps.empty()) steps.back().peakKb = atol(text.c_str() + 6);
      continue;
    }
    if ((text.starts_with("Database upgrade ") || text.starts_with("Upgrading from version ") ||
         text.starts_with("Rehearsal: ")) &&
        !current.empty()) {
      steps.push_back({current, Since(stepStart)});
      current.clear();
    }
    if (text.starts_with("Upgrading from version ")) {
      current = text.substr(23, text.size() - 24);
      stepStart = Clock::now();
    }
    if (!text.starts_with("Creating indexes for table")) log += text;
  }
  fclose(in);
  int status = 0;
  if (wait4(upgrader, &status, 0, &usage) == upgrader && WIFEXITED(status)) code = WEXITSTATUS(status);
  double total = Since(start);
  long floorAfterKb = usage.ru_maxrss;
  rusage after{};
  if (bench::InChild([&] { return ConnectOnly(engine, database); }, after) == 0)
    floorAfterKb = after.ru_maxrss;

  // The steps that raised the peak, in order.
  std::string growth;
  long previousKb = floorKb;
  for (const StepTime &step : steps) {
    if (step.peakKb - previousKb >= 256) {
      char item[96];
      snprintf(item, sizeof(item), "%s%s +%ld", growth.empty() ? "" : ", ", step.step.c_str(),
               step.peakKb - previousKb);
      growth += item;
    }
    previousKb = std::max(previousKb, step.peakKb);
  }
  // Time, peak memory and three slowest steps of the version ranges the
  // steps come in.
  const struct { int from, to; } kRanges[] = {{14, 47}, {47, 92}, {92, kToolSchemaVersion}};
  std::string ranges;
  for (const auto &range : kRanges) {
    std::vector<StepTime> inRange;
    for (const StepTime &step : steps) {
      int from = atoi(step.step.c_str());
      if (from >= range.from && from < range.to) inRange.push_back(step);
    }
    if (inRange.empty()) continue;
    double seconds = 0;
    long peakKb = 0;
    for (const StepTime &step : inRange) {
      seconds += step.seconds;
      peakKb = std::max(peakKb, step.peakKb);
    }
    std::sort(inRange.begin(), inRange.end(),
              [](const StepTime &a, const StepTime &b) { return a.seconds > b.seconds; });
    char item[256];
    snprintf(item, sizeof(item), "%s%d..%d %.1f s peak %ld KiB (", ranges.empty() ? "" : "; ", range.from,
             range.to, seconds, peakKb);
    ranges += item;
    for (size_t i = 0; i < inRange.size() && i < 3; i++) {
      snprintf(item, sizeof(item), "%s%s %.1f s", i > 0 ? ", " : "", inRange[i].step.c_str(),
               inRange[i].seconds);
      ranges += item;
    }
    ranges += ")";
  }
  std::sort(steps.begin(), steps.end(),
            [](const StepTime &a, const StepTime &b) { return a.seconds > b.seconds; });
  std::string slowest;
  for (size_t i = 0; i < steps.size() && i < options.slowest; i++) {
    char item[96];
    snprintf(item, sizeof(item), "%s%s %.1f s", i > 0 ? ", " : "", steps[i].step.c_str(), steps[i].seconds);
    slowest += item;
  }
  printf(
      "%-6s %-3s %d -> %d  nodes %6d  rows %8d  events %d  alarms %d  seed %6.1f s  %s %7.1f s  peak "
      "%6ld KiB (connected before %ld, after %ld)  ranges: %s  slowest: %s  peak raised by: %s%s\n",
      engine.c_str(), options.answerYes ? "yes" : "no", options.from, options.to, options.nodes,
      options.nodes * kItemsPerNode * kRowsPerItem, options.logs.eventLogRows, options.logs.alarms,
      seedSeconds, options.rehearse ? "rehearsal" : "upgrade", total, usage.ru_maxrss, floorKb, floorAfterKb,
      ranges.c_str(), slowest.c_str(), growth.c_str(), code == 0 ? "" : "  FAILED");
  if (code != 0) fprintf(stderr, "%s", log.c_str());
  fflush(stdout);

  if (options.keep)
    printf("kept: %s\n", database.c_str());
  else if (engine == "sqlite")
    unlink(database.c_str());
  else
    bench::Admin(engine, kDatabase, "", ServerParams);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::vector<std::string> engines;
  bool nodesGiven = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    auto next = [&]() { return i + 1 < argc ? atoi(argv[++i]) : 0; };
    if (arg == "--no")
      options.answerYes = false;
    else if (arg == "--rehearse")
      options.rehearse = true;
    else if (arg == "--keep")
      options.keep = true;
    else if (arg == "--from")
      options.from = next();
    else if (arg == "--to")
      options.to = next();
    else if (arg == "--events")
      options.logs.eventLogRows = next();
    else if (arg == "--alarms")
      options.logs.alarms = next();
    else if (arg == "--params" && i + 1 < argc)
      ServerParams = argv[++i];
    else if (arg == "--slowest")
      options.slowest = static_cast<size_t>(next());
    else if (!nodesGiven && !arg.empty() && isdigit(static_cast<unsigned char>(arg[0])) != 0) {
      options.nodes = atoi(arg.c_str());
      nodesGiven = true;
    } else
      engines.push_back(arg);
  }
  if (engines.empty()) engines = {"sqlite", "pgsql", "mysql"};
  DBInit(0, 0);
  for (const std::string &engine : engines) Bench(engine, options);
  return 0;
}
