// The check against the per-row check it replaced (tvdbmgr_rowwise, built
// from tests/check/rowwise): on randomised databases with defects of every
// kind, answered yes, no and mixed, both print the same bytes and leave
// the same rows behind, on every engine.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_db.h"

extern char **environ;

namespace {

// Runs binary with args, keys on standard input; returns standard output.
std::string RunBinary(const std::string &binary, const std::vector<std::string> &args,
                      const std::string &keys) {
  const std::string dir = tvtest::TempDir();
  const std::string in = dir + "/keys", out = dir + "/out";
  tvtest::WriteFile(in, keys);
  std::vector<std::string> store = {binary};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
    while (waitpid(pid, &status, 0) < 0) {
    }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream file(out);
  std::stringstream text;
  text << file.rdbuf();
  std::string cleanup = "rm -rf '" + dir + "'";
  EXPECT_EQ(system(cleanup.c_str()), 0);
  EXPECT_EQ(status, 0) << binary;
  return text.str();
}

const char *const kTables[] = {
    "zones",
    "nodes",
    "interfaces",
    "network_services",
    "object_properties",
    "nsmap",
    "subnets",
    "container_members",
    "cluster_members",
    "acl",
    "dct_node_map",
    "policy_source_list",
    "policy_event_list",
    "policy_action_list",
    "event_groups",
    "actions",
    "raw_dci_values",
};

// The statements of one randomised database: a few hundred objects, some
// without properties, flagged deleted, stamped 0, unlinked, linkable to a
// subnet by one of their interfaces, or referred to by rows whose target
// is gone; references duplicated across policy rules, subnets sharing an
// address, components whose node id names another component or themselves.
struct Seed {
  std::vector<std::string> statements;
  std::vector<int> nodes;  // with a collected-data table when withData
};

Seed MakeSeed(unsigned seed, bool withData, long long now) {
  std::mt19937 rng(seed);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  auto pick = [&](const std::vector<int> &from) { return from[rng() % from.size()]; };
  Seed s;
  auto add = [&](const std::string &sql) { s.statements.push_back(sql); };
  auto object = [&](int id, const std::string &name) {
    if (chance(12)) return;  // lost
    const int deleted = chance(10) ? 1 : 0;
    const long long stamp = chance(8) ? 0 : 1262304000 + static_cast<long long>(rng() % 1000);
    add("INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,inherit_access_rights,"
        "comments) VALUES (" +
        std::to_string(id) + ",'" + name + "',0," + std::to_string(deleted) + "," + std::to_string(stamp) +
        ",1,'')");
  };
  auto ip = [&](int net) {
    return "10." + std::to_string(net) + "." + std::to_string(rng() % 4) + "." +
           std::to_string(1 + rng() % 250);
  };

  for (int z = 1; z <= 8; z++) {
    add("INSERT INTO zones (id,zone_guid) VALUES (" + std::to_string(z) + "," + std::to_string(z) + ")");
    object(z, "zone-" + std::to_string(z));
  }
  // Subnets 10.n.0.0 for n < 6 (10.2 twice); interfaces in 10.n for n < 9.
  int subnetId = 500;
  for (int n = 0; n < 6; n++) {
    const std::string address = "'10." + std::to_string(n) + ".0.0'";
    for (int copy = 0; copy < (n == 2 ? 2 : 1); copy++)
      add("INSERT INTO subnets (id,ip_addr) VALUES (" + std::to_string(subnetId++) + "," + address + ")");
  }
  std::set<int> nodeSet;
  while (nodeSet.size() < 40) nodeSet.insert(100 + static_cast<int>(rng() % 300));
  std::vector<int> nodes(nodeSet.begin(), nodeSet.end());
  std::vector<int> gone = {90, 95, 401, 450, 999};  // ids of no node
  for (int id : nodes) {
    const std::string primary = chance(30) ? "0.0.0.0" : ip(static_cast<int>(rng() % 9));
    add("INSERT INTO nodes (id,primary_ip,community) VALUES (" + std::to_string(id) + ",'" + primary +
        "','public')");
    object(id, "node-" + std::to_string(id) + (chance(20) ? "-\xD0\xB6" : ""));
    if (chance(45))
      add("INSERT INTO nsmap (subnet_id,node_id) VALUES (" + std::to_string(500 + rng() % 7) + "," +
          std::to_string(id) + ")");
    if (chance(10))
      add("INSERT INTO container_members (container_id,object_id) VALUES (2," + std::to_string(id) + ")");
    if (chance(10))
      add("INSERT INTO cluster_members (cluster_id,node_id) VALUES (50," + std::to_string(id) + ")");
    if (chance(30)) add("INSERT INTO acl (object_id,user_id) VALUES (" + std::to_string(id) + ",1)");
    if (withData) s.nodes.push_back(id);
  }
  auto components = [&](const char *table, const char *name, int first, int count, bool withAddress) {
    std::vector<int> ids;
    for (int i = 0; i < count; i++) ids.push_back(first + i * 3 + static_cast<int>(rng() % 3));
    for (int id : ids) {
      int node = pick(nodes);
      if (chance(6))
        node = pick(gone);
      else if (chance(5))
        node = pick(ids);  // another component, or itself
      std::string sql = std::string("INSERT INTO ") + table + " (id,node_id";
      if (withAddress) {
        sql += ",ip_addr,ip_netmask) VALUES (" + std::to_string(id) + "," + std::to_string(node) + ",'" +
               ip(static_cast<int>(rng() % 9)) + "','" + (chance(70) ? "255.255.0.0" : "255.255.255.0") +
               "')";
      } else {
        sql += ",poller_node_id) VALUES (" + std::to_string(id) + "," + std::to_string(node) + ",0)";
      }
      add(sql);
      object(id, std::string(name) + "-" + std::to_string(id));
    }
  };
  components("interfaces", "eth", 1000, 80, true);
  components("network_services", "svc", 3000, 25, false);
  // Its own node, without properties until the check creates them.
  add("INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask) VALUES (1500,1500,'10.1.0.1','255.255.0.0')");
  // Ids past the bitmaps of the servers' screen (2^26 and up).
  add("INSERT INTO nodes (id,primary_ip,community) VALUES (67108900,'0.0.0.0','public')");
  object(67108900, "node-far");
  if (withData) s.nodes.push_back(67108900);
  add("INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask) VALUES (67108901,67108900,'10.1.0.2','255.255.0.0')");
  object(67108901, "eth-far");
  add("INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask) VALUES (1501," + std::to_string(pick(nodes)) +
      ",'10.1.0.3','255.255.0.0')");
  object(1501, "eth-near");

  for (int cluster : {50, 51, 52}) {
    object(cluster, "cluster-" + std::to_string(cluster));
    std::set<int> members;
    for (int k = 0; k < 4; k++) members.insert(chance(50) ? pick(gone) : pick(nodes));
    if (cluster == 50) continue;  // its members are the nodes above
    for (int m : members)
      add("INSERT INTO cluster_members (cluster_id,node_id) VALUES (" + std::to_string(cluster) + "," +
          std::to_string(m) + ")");
  }
  for (int tmpl : {60, 61, 62}) {
    object(tmpl, "template-" + std::to_string(tmpl));
    std::set<int> mapped;
    for (int k = 0; k < 5; k++) mapped.insert(chance(30) ? pick(gone) : pick(nodes));
    for (int m : mapped)
      add("INSERT INTO dct_node_map (template_id,node_id) VALUES (" + std::to_string(tmpl) + "," +
          std::to_string(m) + ")");
  }
  for (int extra = 700; extra < 720; extra++) object(extra, "extra-" + std::to_string(extra));

  // Groups 0x80000001 to 0x80000003 exist, 0x80000004 to 0x80000006 do not;
  // events 25 to 30 exist, 100000 to 100002 do not; actions 1 to 3 exist.
  for (int g = 1; g <= 3; g++)
    add("INSERT INTO event_groups (id) VALUES (" + std::to_string(-2147483648LL + g) + ")");
  for (int a = 1; a <= 3; a++) add("INSERT INTO actions (action_id) VALUES (" + std::to_string(a) + ")");
  std::vector<int> referable = nodes;
  referable.insert(referable.end(), {700, 705, 710, 994, 995, 996});
  for (int rule = 1; rule <= 8; rule++) {
    std::set<long long> objects, events, actions;
    for (int k = 0; k < 3; k++) objects.insert(pick(referable));
    for (int k = 0; k < 3; k++) {
      const int kind = static_cast<int>(rng() % 4);
      const int n = static_cast<int>(rng() % 6);
      events.insert(kind == 0 ? -2147483648LL + 1 + n : kind == 1 ? 25 + n : 100000 + n % 3);
    }
    for (int k = 0; k < 2; k++) actions.insert(1 + rng() % 5);
    const std::string r = std::to_string(rule);
    for (long long o : objects)
      add("INSERT INTO policy_source_list (rule_id,object_id) VALUES (" + r + "," + std::to_string(o) + ")");
    for (long long e : events)
      add("INSERT INTO policy_event_list (rule_id,event_code) VALUES (" + r + "," + std::to_string(e) + ")");
    for (long long a : actions)
      add("INSERT INTO policy_action_list (rule_id,action_id) VALUES (" + r + "," + std::to_string(a) + ")");
  }

  if (withData) {
    for (int id : s.nodes) {
      const std::string table = "idata_" + std::to_string(id);
      add("CREATE TABLE " + table +
          " (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))");
      add("INSERT INTO " + table + " VALUES (1,1000,'old')");
      if (chance(25)) add("INSERT INTO " + table + " VALUES (2," + std::to_string(now + 86400) + ",'new')");
    }
    for (int item = 1; item <= 4; item++)
      add("INSERT INTO raw_dci_values (item_id,last_poll_time) VALUES (" + std::to_string(item) + "," +
          std::to_string(item % 2 == 0 ? now + 86400 : 1000) + ")");
  }
  return s;
}

class CheckDifferential : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    ASSERT_TRUE(db->initSchema());
  }

  void load(const Seed &seed) {
    for (int id : dropTables) db->exec("DROP TABLE idata_" + std::to_string(id));
    dropTables = seed.nodes;
    for (const char *table : kTables) db->exec(std::string("DELETE FROM ") + table);
    // DDL first and outside the transaction, which it would end on MySQL.
    for (const std::string &sql : seed.statements) {
      if (sql.rfind("CREATE", 0) == 0) {
        ASSERT_TRUE(db->exec(sql)) << sql;
      }
    }
    DBBegin(db->handle());
    for (const std::string &sql : seed.statements) {
      if (sql.rfind("CREATE", 0) != 0) {
        ASSERT_TRUE(db->exec(sql)) << sql;
      }
    }
    ASSERT_TRUE(DBCommit(db->handle()));
  }

  // Everything the checks read or change; times the check wrote read as
  // "now", GUIDs are left out.
  std::string snapshot(long long since) {
    const std::string recent = "CASE WHEN %s>=" + std::to_string(since) + " AND %s<" +
                               std::to_string(since + 3600) + " THEN -1 ELSE %s END";
    auto normalised = [&](const std::string &column) {
      std::string s = recent;
      for (size_t at; (at = s.find("%s")) != std::string::npos;) s.replace(at, 2, column);
      return s;
    };
    std::string out;
    for (const std::string &q : {
             "SELECT object_id,name,status,is_deleted," + normalised("last_modified") +
                 ",inherit_access_rights,status_thresholds,image FROM object_properties ORDER BY object_id",
             std::string("SELECT id FROM zones ORDER BY id"),
             std::string("SELECT id,primary_ip FROM nodes ORDER BY id"),
             std::string("SELECT id,node_id,ip_addr,ip_netmask FROM interfaces ORDER BY id"),
             std::string("SELECT id,node_id FROM network_services ORDER BY id"),
             std::string("SELECT subnet_id,node_id FROM nsmap ORDER BY subnet_id,node_id"),
             std::string("SELECT object_id,user_id FROM acl ORDER BY object_id,user_id"),
             std::string(
                 "SELECT container_id,object_id FROM container_members ORDER BY container_id,object_id"),
             std::string("SELECT cluster_id,node_id FROM cluster_members ORDER BY cluster_id,node_id"),
             std::string("SELECT template_id,node_id FROM dct_node_map ORDER BY template_id,node_id"),
             std::string("SELECT rule_id,object_id FROM policy_source_list ORDER BY rule_id,object_id"),
             std::string("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"),
             std::string("SELECT rule_id,action_id FROM policy_action_list ORDER BY rule_id,action_id"),
             "SELECT item_id," + normalised("last_poll_time") + " FROM raw_dci_values ORDER BY item_id",
         })
      out += q + "\n" + db->rows(q) + "\n";
    for (int id : dropTables)
      out += std::to_string(id) + ": " +
             db->rows("SELECT item_id,idata_timestamp FROM idata_" + std::to_string(id) +
                      " ORDER BY item_id,idata_timestamp") +
             "\n";
    return out;
  }

  std::unique_ptr<tvtest::TestDatabase> db;
  std::vector<int> dropTables;  // collected-data tables of the loaded seed
};

TEST_P(CheckDifferential, SameOutputAndRowsAsThePerRowCheck) {
  if (!db) return;
  const long long start = static_cast<long long>(time(nullptr));
  int compared = 0;
  std::string everyYes;  // the outputs of the runs answered yes throughout
  for (unsigned seed : {1u, 2u, 3u}) {
    const bool withData = seed == 3;
    const Seed data = MakeSeed(seed, withData, start);
    std::mt19937 rng(seed * 7919);
    std::string mixed;
    for (int i = 0; i < 400; i++) mixed += rng() % 3 == 0 ? 'n' : 'y';
    for (const std::string &keys : {std::string(400, 'y'), std::string(400, 'n'), mixed}) {
      std::vector<std::string> args = {"-c", db->configPath(), "check"};
      if (withData) args.insert(args.begin(), "-d");
      std::string outputs[2], rows[2];
      const std::string binaries[2] = {tvtest::ToolPath(), TVDBMGR_ROWWISE_BINARY};
      for (int version = 0; version < 2; version++) {
        load(data);
        if (HasFatalFailure()) return;
        outputs[version] = RunBinary(binaries[version], args, keys);
        if (GetParam() == "mysql") db->reconnect();
        rows[version] = snapshot(start);
      }
      const std::string context = "seed " + std::to_string(seed) + ", keys " + keys.substr(0, 12) + "...";
      EXPECT_EQ(outputs[0], outputs[1]) << context;
      EXPECT_EQ(rows[0], rows[1]) << context;
      if (keys == std::string(400, 'y')) everyYes += outputs[0];
      compared++;
    }
  }
  EXPECT_EQ(compared, 9);
  // Between them the databases have defects of every kind the checks know.
  for (const char *question :
       {"Missing zone object", "Missing node object", "Unlinked node object", "can be linked to subnet",
        "Missing interface object", "Unlinked interface object", "Missing network service object",
        "Unlinked network service object", "refers to non-existing node", "mapped to non-existent node",
        "has invalid timestamp", "used in policy", "Invalid event ID", "Invalid event group ID",
        "Invalid action ID", "Found collected data for node", "Found DCIs"})
    EXPECT_NE(everyYes.find(question), std::string::npos) << question;
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckDifferential, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
