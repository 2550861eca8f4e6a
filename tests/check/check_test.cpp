// The check command end to end on every engine: a fresh database with
// seeded defects of each kind, answered yes, no, or partly.
#include <gtest/gtest.h>

#include <ctime>

#include "session/globals.h"
#include "support/test_db.h"

namespace {

using tvtest::kBanner;
const std::string kHeader = kBanner + "Checking database (excluding collected data):\n";

std::string Line(const std::string &title) {
  std::string line = "* " + title;
  line.resize(2 + 67, ' ');
  return line;
}
std::string Mark(const std::string &text) { return " [" + text + "]\n"; }
std::string Passed(const std::string &title) { return Line(title) + Mark("PASSED"); }
std::string Ask(const std::string &question, bool yes) {
  return "\r" + question + " (Y/N) " + (yes ? "Y\n" : "N\n");
}

const char *const kTitles[] = {
    "Checking zone objects...",      "Checking node objects...",
    "Checking interface objects...", "Checking network service objects...",
    "Checking cluster objects...",   "Checking template to node mapping...",
    "Checking object properties...", "Checking event processing policy...",
};

std::string AllPassed() {
  std::string out;
  for (const char *title : kTitles) out += Passed(title);
  return out;
}

class Check : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = tvtest::OpenOrSkip(GetParam());
    if (!db) return;
    ASSERT_TRUE(db->initSchema());
  }

  tvtest::RunResult run(const std::string &keys, const std::vector<std::string> &options = {},
                        const std::vector<std::string> &env = {"NO_COLOR=1"}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-c", db->configPath(), "check"});
    tvtest::RunResult r = tvtest::RunTool(args, keys, env);
    EXPECT_EQ(r.exitCode, 0);
    if (GetParam() == "mysql") db->reconnect();
    return r;
  }

  void object(int id, const std::string &name, int deleted = 0, int lastModified = 1262304000) {
    db->exec(
        "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,"
        "inherit_access_rights,comments) VALUES (" +
        std::to_string(id) + ",'" + name + "',0," + std::to_string(deleted) + "," +
        std::to_string(lastModified) + ",1,'')");
  }
  void node(int id, const std::string &primaryIp) {
    db->exec("INSERT INTO nodes (id,primary_ip,community) VALUES (" + std::to_string(id) + ",'" + primaryIp +
             "','public')");
  }
  void iface(int id, int nodeId, const std::string &ip, const std::string &mask) {
    db->exec("INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask) VALUES (" + std::to_string(id) + "," +
             std::to_string(nodeId) + ",'" + ip + "','" + mask + "')");
  }
  void subnet(int id, const std::string &ip) {
    db->exec("INSERT INTO subnets (id,ip_addr) VALUES (" + std::to_string(id) + ",'" + ip + "')");
  }

  // One defect of every kind the checks know, next to healthy rows of the
  // same kinds.
  void seedDefects() {
    db->exec("DELETE FROM object_properties WHERE object_id=4");  // the default zone needs none
    db->exec("INSERT INTO zones (id,zone_guid) VALUES (5,5)");    // no properties

    subnet(100, "10.0.0.0");
    subnet(101, "10.1.1.0");
    node(10, "10.0.0.5");  // linked to a subnet
    object(10, "web");
    db->exec("INSERT INTO nsmap (subnet_id,node_id) VALUES (100,10)");
    node(11, "0.0.0.0");  // no properties, no parent
    node(12, "0.0.0.0");  // no parent, no address to link by
    object(12, "orphan");
    db->exec("INSERT INTO acl (object_id,user_id) VALUES (12,1)");
    node(13, "10.1.1.5");  // can be linked to subnet 101
    object(13, "linkable");
    node(14, "0.0.0.0");  // deleted, never reported
    object(14, "gone", 1);
    node(15, "0.0.0.0");  // in a container
    object(15, "contained");
    db->exec("INSERT INTO container_members (container_id,object_id) VALUES (1,15)");
    node(16, "0.0.0.0");  // in a cluster
    object(16, "member");

    // Inserted in id order, which is also node order: the checks read
    // without ORDER BY, and engines return either order.
    iface(119, 10, "10.0.0.5", "255.255.255.0");     // no properties
    iface(120, 12, "192.168.5.7", "255.255.255.0");  // unlinked once node 12 is deleted
    object(120, "eth-orphan");
    iface(121, 14, "192.168.6.7", "255.255.255.0");  // node flagged deleted
    object(121, "eth-dead");
    iface(130, 13, "10.1.1.5", "255.255.255.0");
    object(130, "eth-link");

    db->exec("INSERT INTO network_services (id,node_id,poller_node_id) VALUES (140,10,0)");   // no properties
    db->exec("INSERT INTO network_services (id,node_id,poller_node_id) VALUES (141,997,0)");  // node gone
    object(141, "svc-gone");

    db->exec("INSERT INTO clusters (id,cluster_type) VALUES (50,0)");
    object(50, "cl");
    db->exec("INSERT INTO cluster_members (cluster_id,node_id) VALUES (50,16)");
    db->exec("INSERT INTO cluster_members (cluster_id,node_id) VALUES (50,999)");
    db->exec(
        "INSERT INTO cluster_members (cluster_id,node_id) VALUES (51,998)");  // cluster without properties

    db->exec("INSERT INTO templates (id) VALUES (60)");
    object(60, "tmpl");
    db->exec("INSERT INTO dct_node_map (template_id,node_id) VALUES (60,10)");
    db->exec("INSERT INTO dct_node_map (template_id,node_id) VALUES (60,996)");
    db->exec(
        "INSERT INTO dct_node_map (template_id,node_id) VALUES (61,995)");  // template without properties

    object(70, "stale", 0, 0);

    db->exec("INSERT INTO event_groups (id) VALUES (-2147483647)");  // 0x80000001
    db->exec("INSERT INTO actions (action_id) VALUES (7)");
    db->exec("INSERT INTO policy_source_list (rule_id,object_id) VALUES (1,10)");
    db->exec("INSERT INTO policy_source_list (rule_id,object_id) VALUES (1,994)");
    db->exec("INSERT INTO policy_source_list (rule_id,object_id) VALUES (2,994)");
    db->exec("INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,25)");
    db->exec("INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,100000)");
    db->exec("INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,-2147483647)");
    db->exec("INSERT INTO policy_event_list (rule_id,event_code) VALUES (2,-2147483643)");  // 0x80000005
    db->exec("INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
    db->exec("INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,8)");
  }

  // Everything the checks may change, for before/after comparisons.
  std::string snapshot() {
    std::string s;
    for (const char *q : {
             "SELECT object_id,name,is_deleted,last_modified FROM object_properties ORDER BY object_id",
             "SELECT id,primary_ip FROM nodes ORDER BY id",
             "SELECT id,node_id FROM interfaces ORDER BY id",
             "SELECT id,node_id FROM network_services ORDER BY id",
             "SELECT subnet_id,node_id FROM nsmap ORDER BY subnet_id,node_id",
             "SELECT object_id,user_id FROM acl ORDER BY object_id,user_id",
             "SELECT cluster_id,node_id FROM cluster_members ORDER BY cluster_id,node_id",
             "SELECT template_id,node_id FROM dct_node_map ORDER BY template_id,node_id",
             "SELECT rule_id,object_id FROM policy_source_list ORDER BY rule_id,object_id",
             "SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code",
             "SELECT rule_id,action_id FROM policy_action_list ORDER BY rule_id,action_id",
         })
      s += std::string(q) + "\n" + db->rows(q) + "\n";
    return s;
  }

  std::unique_ptr<tvtest::TestDatabase> db;
};

TEST_P(Check, CleanDatabasePassesEveryCheckAndCommits) {
  if (!db) return;
  tvtest::RunResult r = run("", {}, {});
  std::string expected = kBanner + "Checking database (excluding collected data):\n";
  for (const char *title : kTitles) {
    std::string padded = title;
    padded.resize(67, ' ');
    expected += "\33[1m*\33[0m " + padded + " \33[37;1m[\33[32;1mPASSED\33[37;1m]\33[0m\n";
  }
  expected += "Database doesn't contain any errors\nDatabase check completed\n";
  EXPECT_EQ(r.out, expected);

  // With -d a ninth line; a fresh database has no nodes and no polled values.
  r = run("", {"-d"});
  EXPECT_EQ(r.out, kBanner + "Checking database (including collected data):\n" + AllPassed() +
                       Passed("Checking collected data...") +
                       "Database doesn't contain any errors\nDatabase check completed\n");
}

TEST_P(Check, AllYesRepairsEverythingAndCommits) {
  if (!db) return;
  seedDefects();
  tvtest::RunResult r = run(std::string(40, 'y'));
  auto y = [](const std::string &q) { return Ask(q, true); };
  std::string expected =
      kHeader + Line(kTitles[0]) + y("Missing zone object 5 properties. Create?") + Line(kTitles[0]) +
      Mark("FIXED ") + Line(kTitles[1]) + y("Missing node object 11 properties. Create?") +
      y("Unlinked node object 11 (\"\"). Delete it?") +
      y("Unlinked node object 12 (\"orphan\"). Delete it?") +
      y("Unlinked node object 13 (\"linkable\") can be linked to subnet 101 (10.1.1.0). Link?") +
      Line(kTitles[1]) + Mark("FIXED ") + Line(kTitles[2]) +
      y("Missing interface object 119 properties. Create?") +
      y("Unlinked interface object 120 (\"eth-orphan\"). Delete it?") +
      y("Unlinked interface object 121 (\"eth-dead\"). Delete it?") + Line(kTitles[2]) + Mark("FIXED ") +
      Line(kTitles[3]) + y("Missing network service object 140 properties. Create?") +
      y("Unlinked network service object 141 (\"svc-gone\"). Delete it?") + Line(kTitles[3]) +
      Mark("FIXED ") + Line(kTitles[4]) +
      y("Cluster object cl [50] refers to non-existing node 999. Dereference?") +
      y("Cluster object <unknown> [51] refers to non-existing node 998. Dereference?") + Line(kTitles[4]) +
      Mark("FIXED ") + Line(kTitles[5]) +
      y("Template 60 [tmpl] mapped to non-existent node 996. Delete this mapping?") +
      y("Template 61 [<unknown>] mapped to non-existent node 995. Delete this mapping?") + Line(kTitles[5]) +
      Mark("FIXED ") + Line(kTitles[6]) + y("Object 70 [stale] has invalid timestamp. Fix it?") +
      Line(kTitles[6]) + Mark("FIXED ") + Line(kTitles[7]) +
      y("Invalid object ID 994 used in policy. Delete it from policy?") +
      y("Invalid object ID 994 used in policy. Delete it from policy?") +
      y("Invalid event ID 0x000186A0 referenced in policy. Delete this reference?") +
      y("Invalid event group ID 0x80000005 referenced in policy. Delete this reference?") +
      y("Invalid action ID 8 referenced in policy. Delete this reference?") + Line(kTitles[7]) +
      Mark("FIXED ") + "20 errors was found, 20 errors was corrected\nAll errors in database was fixed\n" +
      "Commit changes? (Y/N) Y\nCommitting changes...\nChanges was successfully committed to database\n"
      "Database check completed\n";
  EXPECT_EQ(r.out, expected);

  // The repairs themselves.
  EXPECT_EQ(db->rows("SELECT object_id,name,status,is_deleted,inherit_access_rights,status_thresholds,image "
                     "FROM object_properties WHERE object_id IN (5,119,140) ORDER BY object_id"),
            "5|lost_zone_5|5|0|1|00000000|00000000-0000-0000-0000-000000000000\n"
            "119|lost_interface_119|5|0|1|00000000|00000000-0000-0000-0000-000000000000\n"
            "140|lost_network service_140|5|0|1|00000000|00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(db->value("SELECT count(DISTINCT guid) FROM object_properties WHERE object_id IN (5,119,140)"),
            "3");
  const long long now = static_cast<long long>(time(nullptr));
  for (const char *id : {"5", "70"}) {
    long long stamp = std::stoll(
        db->value(std::string("SELECT last_modified FROM object_properties WHERE object_id=") + id));
    EXPECT_LE(stamp, now);
    EXPECT_GT(stamp, now - 600);
  }
  EXPECT_EQ(db->rows("SELECT id FROM nodes ORDER BY id"), "10\n13\n14\n15\n16");
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE object_id IN (11,12,120,121,141)"), "0");
  EXPECT_EQ(db->value("SELECT count(*) FROM acl WHERE object_id=12"), "0");
  EXPECT_EQ(db->rows("SELECT id FROM interfaces ORDER BY id"), "119\n130");
  EXPECT_EQ(db->rows("SELECT id FROM network_services ORDER BY id"), "140");
  EXPECT_EQ(db->rows("SELECT subnet_id,node_id FROM nsmap ORDER BY subnet_id"), "100|10\n101|13");
  EXPECT_EQ(db->rows("SELECT cluster_id,node_id FROM cluster_members"), "50|16");
  EXPECT_EQ(db->rows("SELECT template_id,node_id FROM dct_node_map"), "60|10");
  EXPECT_EQ(db->rows("SELECT object_id FROM policy_source_list"), "10");
  EXPECT_EQ(db->rows("SELECT event_code FROM policy_event_list ORDER BY event_code"), "-2147483647\n25");
  EXPECT_EQ(db->rows("SELECT action_id FROM policy_action_list"), "7");

  // Nothing is left to repair.
  EXPECT_EQ(run("").out,
            kHeader + AllPassed() + "Database doesn't contain any errors\nDatabase check completed\n");
}

TEST_P(Check, AllNoChangesNothingAndRollsBackWithoutAsking) {
  if (!db) return;
  seedDefects();
  const std::string before = snapshot();
  tvtest::RunResult r = run(std::string(40, 'n'));
  const std::string tail = Line(kTitles[7]) + Mark("ERROR ") +
                           "19 errors was found, 0 errors was corrected\nDatabase still contain "
                           "errors\nDatabase check completed\n";
  ASSERT_GE(r.out.size(), tail.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  // The link offer and the delete question for node 13, counted once.
  EXPECT_NE(
      r.out.find(
          Ask("Unlinked node object 13 (\"linkable\") can be linked to subnet 101 (10.1.1.0). Link?", false) +
          Ask("Unlinked node object 13 (\"linkable\"). Delete it?", false)),
      std::string::npos);
  // Node 12 was kept, so its interface is no defect.
  EXPECT_EQ(r.out.find("interface object 120"), std::string::npos);
  EXPECT_EQ(r.out.find("Commit changes?"), std::string::npos);
  EXPECT_EQ(snapshot(), before);

  // End of input answers no as well.
  EXPECT_EQ(run("").out, r.out);
}

TEST_P(Check, MixedAnswersAskWhetherToCommit) {
  if (!db) return;
  seedDefects();
  // Yes to the zone, no to the 19 questions after it, then the commit question.
  for (bool commit : {false, true}) {
    tvtest::RunResult r = run("y" + std::string(19, 'n') + (commit ? "y" : "n"));
    const std::string summary =
        "19 errors was found, 1 errors was corrected\nDatabase still contain errors\n";
    const std::string ending = commit ? "Commit changes? (Y/N) Y\nCommitting changes...\nChanges was "
                                        "successfully committed to database\n"
                                      : "Commit changes? (Y/N) N\nRolling back changes...\nAll changes made "
                                        "to database was cancelled\n";
    EXPECT_NE(r.out.find(Line(kTitles[0]) + Mark("FIXED ")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(Line(kTitles[1]) + Mark("ERROR ")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(summary + ending + "Database check completed\n"), std::string::npos) << r.out;
    EXPECT_EQ(db->value("SELECT name FROM object_properties WHERE object_id=5"),
              commit ? "lost_zone_5" : "<none>");
  }
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE object_id IN (11,119,140)"), "0");
}

TEST_P(Check, LinkOffersCountOnceWhetherTakenOrDeclined) {
  if (!db) return;
  subnet(102, "10.2.0.0");
  subnet(103, "10.3.0.0");
  // Two interfaces in two known subnets: the first offer declined, the
  // second taken.
  node(30, "10.2.0.5");
  object(30, "two-nets");
  iface(301, 30, "10.2.0.5", "255.255.0.0");
  object(301, "if1");
  iface(302, 30, "10.3.0.9", "255.255.255.0");
  object(302, "if2");
  // Every offer declined, then the delete question declined too.
  node(31, "10.2.7.7");
  object(31, "stubborn");
  iface(311, 31, "10.2.7.7", "255.255.0.0");
  object(311, "if3");
  tvtest::RunResult r = run("nynnn");
  EXPECT_EQ(
      r.out,
      kHeader + Passed(kTitles[0]) + Line(kTitles[1]) +
          Ask("Unlinked node object 30 (\"two-nets\") can be linked to subnet 102 (10.2.0.0). Link?", false) +
          Ask("Unlinked node object 30 (\"two-nets\") can be linked to subnet 103 (10.3.0.0). Link?", true) +
          Ask("Unlinked node object 31 (\"stubborn\") can be linked to subnet 102 (10.2.0.0). Link?", false) +
          Ask("Unlinked node object 31 (\"stubborn\"). Delete it?", false) + Line(kTitles[1]) +
          Mark("ERROR ") + Passed(kTitles[2]) + Passed(kTitles[3]) + Passed(kTitles[4]) + Passed(kTitles[5]) +
          Passed(kTitles[6]) + Passed(kTitles[7]) +
          "2 errors was found, 1 errors was corrected\nDatabase still contain errors\n"
          "Commit changes? (Y/N) N\nRolling back changes...\nAll changes made to database was cancelled\n"
          "Database check completed\n");
  EXPECT_EQ(db->value("SELECT count(*) FROM nsmap"), "0");
}

// Makes every DELETE on table fail inside the engine.
void BlockDeletes(tvtest::TestDatabase &db, const std::string &table) {
  if (db.engine() == "sqlite") {
    db.exec("CREATE TRIGGER keep_" + table + " BEFORE DELETE ON " + table +
            " BEGIN SELECT RAISE(ABORT, 'kept'); END");
  } else if (db.engine() == "pgsql") {
    db.exec(
        "CREATE FUNCTION keep_rows() RETURNS trigger AS $$BEGIN RAISE EXCEPTION 'kept'; END$$ LANGUAGE "
        "plpgsql");
    db.exec("CREATE TRIGGER keep_" + table + " BEFORE DELETE ON " + table +
            " FOR EACH ROW EXECUTE FUNCTION keep_rows()");
  } else {
    db.exec("CREATE TRIGGER keep_" + table + " BEFORE DELETE ON " + table +
            " FOR EACH ROW SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='kept'");
  }
}

TEST_P(Check, FailedRepairIsReportedAndMarksTheCheckAsError) {
  if (!db) return;
  db->exec("INSERT INTO zones (id,zone_guid) VALUES (5,5)");
  node(20, "0.0.0.0");
  object(20, "blocked");
  db->exec("INSERT INTO acl (object_id,user_id) VALUES (20,1)");
  BlockDeletes(*db, "nodes");
  // With colours: the marks in their own colour, the statement in yellow.
  tvtest::RunResult r = run("yyy", {}, {});
  auto line = [](const std::string &title) {
    std::string padded = title;
    padded.resize(67, ' ');
    return "\33[1m*\33[0m " + padded;
  };
  auto mark = [](const std::string &color, const std::string &text) {
    return " \33[37;1m[\33[" + color + ";1m" + text + "\33[37;1m]\33[0m\n";
  };
  EXPECT_EQ(
      r.out.rfind(kHeader + line(kTitles[0]) + Ask("Missing zone object 5 properties. Create?", true) +
                      line(kTitles[0]) + mark("33", "FIXED ") + line(kTitles[1]) +
                      Ask("Unlinked node object 20 (\"blocked\"). Delete it?", true) + "SQL query failed (",
                  0),
      0u)
      << r.out;
  // Only the nodes statement ran: the node keeps its acl and properties.
  EXPECT_NE(r.out.find("):\n\33[33;1mDELETE FROM nodes WHERE id=20\33[0m\n" + line(kTitles[1]) +
                       mark("31", "ERROR ") + line(kTitles[2]) + mark("32", "PASSED")),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("DELETE FROM acl"), std::string::npos);
  EXPECT_EQ(r.out.find("DELETE FROM object_properties"), std::string::npos);
  EXPECT_NE(r.out.find("2 errors was found, 1 errors was corrected\nDatabase still contain errors\n"
                       "Commit changes? (Y/N) Y\nCommitting changes...\n"
                       "Changes was successfully committed to database\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(db->value("SELECT name FROM object_properties WHERE object_id=20"), "blocked");
  EXPECT_EQ(db->value("SELECT count(*) FROM acl WHERE object_id=20"), "1");
  EXPECT_EQ(db->value("SELECT name FROM object_properties WHERE object_id=5"), "lost_zone_5");
}

TEST_P(Check, FailedLookupCountsAsMissingTarget) {
  if (!db) return;
  db->exec("INSERT INTO actions (action_id) VALUES (7)");
  db->exec("INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
  db->exec("DROP TABLE actions");
  // With -t the set query is echoed; when it fails, every rule's row is
  // read without it and counts as referring to a missing action.
  tvtest::RunResult r = run("yy", {"-t"});
  const std::string lookup =
      "SELECT a.rule_id,a.action_id FROM policy_action_list a LEFT JOIN actions t ON "
      "t.action_id=a.action_id WHERE t.action_id IS NULL ORDER BY a.rule_id,a.action_id";
  const size_t echo = r.out.find(">>> " + lookup + "\nSQL query failed (");
  ASSERT_NE(echo, std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("):\n" + lookup + "\n>>> SELECT a.rule_id,a.action_id FROM policy_action_list a ORDER BY " +
                     "a.rule_id,a.action_id\n" +
                     Ask("Invalid action ID 7 referenced in policy. Delete this reference?", true) +
                     ">>> DELETE FROM policy_action_list WHERE action_id=7\n",
                 echo),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(">>> SELECT z.id FROM zones z LEFT JOIN object_properties p ON p.object_id=z.id WHERE "
                       "p.object_id IS NULL AND z.id<>4 ORDER BY z.id LIMIT 1000\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n"),
            std::string::npos);
  EXPECT_EQ(db->value("SELECT count(*) FROM policy_action_list"), "0");
}

// Rows sent in multi-row INSERTs of 500.
void InsertRows(tvtest::TestDatabase &db, const std::string &head, const std::vector<std::string> &rows) {
  for (size_t start = 0; start < rows.size(); start += 500) {
    std::string sql = head + " VALUES ";
    for (size_t i = start; i < rows.size() && i < start + 500; i++) sql += (i > start ? "," : "") + rows[i];
    db.exec(sql);
  }
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A clean check sends the same statements for 3 nodes as for 3,000: the
// lookups are answered by set queries, not per row.
TEST_P(Check, CleanCheckSendsTheSameStatementsWhateverTheNodeCount) {
  if (!db) return;
  size_t statements[2];
  int index = 0;
  for (int nodes : {3, 3000}) {
    db->exec("DELETE FROM nsmap");
    db->exec("DELETE FROM nodes");
    db->exec("DELETE FROM object_properties WHERE object_id>=1000");
    db->exec("INSERT INTO subnets (id,ip_addr) VALUES (100,'10.0.0.0')");
    std::vector<std::string> nodeRows, links, properties;
    for (int i = 0; i < nodes; i++) {
      const std::string id = std::to_string(1000 + i);
      nodeRows.push_back("(" + id + ",'10.0.0.1','public')");
      links.push_back("(100," + id + ")");
      properties.push_back("(" + id + ",'n" + id + "',0,0,1262304000,1,'')");
    }
    InsertRows(*db, "INSERT INTO nodes (id,primary_ip,community)", nodeRows);
    InsertRows(*db, "INSERT INTO nsmap (subnet_id,node_id)", links);
    InsertRows(*db,
               "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,"
               "inherit_access_rights,comments)",
               properties);
    db->exec("DELETE FROM subnets");
    tvtest::RunResult r = run("", {"-t"});
    EXPECT_NE(r.out.find("Database doesn't contain any errors"), std::string::npos) << r.out;
    statements[index++] = Count(r.out, ">>> ");
  }
  EXPECT_EQ(statements[0], statements[1]);
}

// Rows past the first block are read by a query that resumes after the
// last key of the block before: every row once, in key order, also when
// a row needs questions for two reasons (two interfaces in three have no
// properties, and no interface has a node).
TEST_P(Check, WalksPastTheFirstBlockInKeyOrder) {
  if (!db) return;
  std::vector<std::string> rows, properties;
  for (int i = 2100; i > 0; i--) {  // inserted in descending order
    const std::string id = std::to_string(10000 + i * 2);
    rows.push_back("(" + id + ",999,'10.0.0.1','255.0.0.0')");
    if (i % 3 == 0) properties.push_back("(" + id + ",'if" + id + "',0,0,1262304000,1,'')");
  }
  InsertRows(*db, "INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask)", rows);
  InsertRows(*db,
             "INSERT INTO object_properties (object_id,name,status,is_deleted,last_modified,"
             "inherit_access_rights,comments)",
             properties);
  tvtest::RunResult r = run("", {"-t"});
  std::string expected;
  for (int i = 1; i <= 2100; i++) {
    const std::string id = std::to_string(10000 + i * 2);
    if (i % 3 != 0) expected += Ask("Missing interface object " + id + " properties. Create?", false);
    expected +=
        Ask("Unlinked interface object " + id + " (\"" + (i % 3 != 0 ? "" : "if" + id) + "\"). Delete it?",
            false);
  }
  std::string asked;
  for (size_t at = r.out.find("\r"); at != std::string::npos; at = r.out.find("\r", at + 1))
    asked += r.out.substr(at, r.out.find('\n', at) + 1 - at);
  EXPECT_EQ(asked, expected);
  // A query per reason for a question each, except on MySQL/MariaDB.
  const size_t reasons = db->engine() == "mysql" ? 1 : 2;
  if (db->engine() == "sqlite" || tvtest::ViaOdbc()) {
    // Three blocks of interfaces, one of network services.
    EXPECT_EQ(Count(r.out, " ORDER BY c.id LIMIT 1000\n"), 4 * reasons);
    EXPECT_NE(r.out.find(" AND c.id>12000 ORDER BY c.id LIMIT 1000\n"), std::string::npos);
    EXPECT_NE(r.out.find(" AND c.id>14000 ORDER BY c.id LIMIT 1000\n"), std::string::npos);
  } else {
    // The servers' own drivers screen the interfaces first and read
    // three blocks of the 2,100 screened ids, none of the network
    // services.
    EXPECT_EQ(Count(r.out, "SELECT id,node_id FROM interfaces ORDER BY id\n"), 1u);
    EXPECT_EQ(Count(r.out, " AND c.id IN ("), 3 * reasons);
    EXPECT_NE(r.out.find(" AND c.id IN (10002,10004,"), std::string::npos);
    EXPECT_NE(r.out.find(" AND c.id IN (14002,"), std::string::npos);
    EXPECT_EQ(Count(r.out, "FROM network_services c"), 0u);
  }
  EXPECT_NE(r.out.find("3500 errors was found, 0 errors was corrected\n"), std::string::npos);
}

// Names in questions are cut at 63 characters, not at 63 bytes.
TEST_P(Check, NamesAreCutByCharacters) {
  if (!db) return;
  auto repeat = [](const std::string &letter, int count) {
    std::string s;
    for (int i = 0; i < count; i++) s += letter;
    return s;
  };
  const struct {
    int cluster;
    std::string stored, shown;
    bool sqliteOnly;  // the servers refuse names over 63 characters
  } cases[] = {
      {52, repeat("ж", 40), repeat("ж", 40), false},
      {53, repeat("я", 70), repeat("я", 63), true},
  };
  std::string keys;
  for (const auto &c : cases) {
    if (c.sqliteOnly && db->engine() != "sqlite") continue;
    object(c.cluster, c.stored);
    db->exec("INSERT INTO cluster_members (cluster_id,node_id) VALUES (" + std::to_string(c.cluster) +
             ",900)");
    keys += "n";
  }
  tvtest::RunResult r = run(keys);
  for (const auto &c : cases) {
    if (c.sqliteOnly && db->engine() != "sqlite") continue;
    EXPECT_NE(r.out.find(Ask("Cluster object " + c.shown + " [" + std::to_string(c.cluster) +
                                 "] refers to non-existing node 900. Dereference?",
                             false)),
              std::string::npos)
        << r.out;
  }
}

TEST_P(Check, FutureCollectedDataWithOptionD) {
  if (!db) return;
  const long long future = static_cast<long long>(time(nullptr)) + 86400;
  node(40, "0.0.0.0");
  object(40, "with-data");
  db->exec("INSERT INTO container_members (container_id,object_id) VALUES (1,40)");
  node(41, "0.0.0.0");  // its collected-data table is missing
  object(41, "no-table");
  db->exec("INSERT INTO container_members (container_id,object_id) VALUES (1,41)");
  db->exec(
      "CREATE TABLE idata_40 (item_id integer not null,idata_timestamp integer not null,idata_value "
      "varchar(255))");
  db->exec("INSERT INTO idata_40 VALUES (1,1000,'old')");
  db->exec("INSERT INTO idata_40 VALUES (1," + std::to_string(future) + ",'a')");
  db->exec("INSERT INTO idata_40 VALUES (2," + std::to_string(future + 5) + ",'b')");
  db->exec("INSERT INTO raw_dci_values (item_id,last_poll_time) VALUES (1,1000)");
  db->exec("INSERT INTO raw_dci_values (item_id,last_poll_time) VALUES (2," + std::to_string(future) + ")");
  db->exec("INSERT INTO raw_dci_values (item_id,last_poll_time) VALUES (3," + std::to_string(future) + ")");

  // Without -d nothing of this is looked at.
  EXPECT_EQ(run("").out,
            kHeader + AllPassed() + "Database doesn't contain any errors\nDatabase check completed\n");

  tvtest::RunResult r = run("", {"-d", "-f"});
  const std::string title = "Checking collected data...";
  // Node 40 is asked about; node 41 is reported and skipped.
  const size_t line =
      r.out.find(Line(title) +
                 Ask("Found collected data for node [40] with timestamp in the future. Delete them?", true) +
                 "SQL query failed (");
  ASSERT_NE(line, std::string::npos) << r.out;
  const size_t report = r.out.find("):\nSELECT count(*) FROM idata_41 WHERE idata_timestamp>", line);
  ASSERT_NE(report, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + Ask("Found DCIs with last poll timestamp in the future. Fix it?", true) +
                           Line(title) + Mark("FIXED ") + "2 errors was found, 2 errors was corrected\n",
                       report),
            std::string::npos)
      << r.out;
  EXPECT_EQ(db->rows("SELECT item_id,idata_timestamp FROM idata_40"), "1|1000");
  const long long now = static_cast<long long>(time(nullptr));
  for (const char *item : {"2", "3"}) {
    long long polled =
        std::stoll(db->value(std::string("SELECT last_poll_time FROM raw_dci_values WHERE item_id=") + item));
    EXPECT_LE(polled, now);
    EXPECT_GT(polled, now - 600);
  }
  EXPECT_EQ(db->value("SELECT last_poll_time FROM raw_dci_values WHERE item_id=1"), "1000");
}

// A stage that could not read what it checks finds nothing to ask about,
// but it has not passed.
TEST_P(Check, StageWithAFailedQueryIsNotMarkedPassed) {
  if (!db) return;
  node(41, "0.0.0.0");  // its collected-data table is missing
  object(41, "no-table");
  db->exec("INSERT INTO container_members (container_id,object_id) VALUES (1,41)");
  tvtest::RunResult r = run("", {"-d"});
  const std::string title = "Checking collected data...";
  const size_t report = r.out.find("SELECT count(*) FROM idata_41 WHERE idata_timestamp>");
  ASSERT_NE(report, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Line(title) + Mark("ERROR "), report), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(Passed(title)), std::string::npos) << r.out;
}

TEST_P(Check, VersionAndLockDecideWhetherToStart) {
  if (!db) return;
  const std::string aborted = "Database check aborted\n";
  const std::string tool = std::to_string(kToolSchemaVersion);
  const std::string older = std::to_string(kToolSchemaVersion - 1);
  const std::string newer = std::to_string(kToolSchemaVersion + 1);
  const struct {
    std::string version;
    std::string message;
  } versions[] = {
      {older, "Your database has format version " + older + ", this tool is compiled for version " + tool +
                  ".\nUse \"upgrade\" command to upgrade your database first.\n"},
      {newer, "Your database has format version " + newer + ", this tool is compiled for version " + tool +
                  ".\nYou need to upgrade your server before using this database.\n"},
  };
  db->exec("INSERT INTO zones (id,zone_guid) VALUES (5,5)");  // would be a defect
  for (const auto &v : versions) {
    db->exec("UPDATE metadata SET var_value='" + v.version + "' WHERE var_name='SchemaVersion'");
    EXPECT_EQ(run("yyy", {"-f"}).out, kHeader + v.message + aborted);
  }
  db->exec("UPDATE metadata SET var_value='" + tool + "' WHERE var_name='SchemaVersion'");
  EXPECT_EQ(db->value("SELECT count(*) FROM object_properties WHERE object_id=5"), "0");

  // A lock that differs from UNLOCKED only in case is a lock; declined, the
  // check does not start and the lock stays.
  db->exec("UPDATE config SET var_value='unlocked' WHERE var_name='DBLockStatus'");
  const std::string lockQuestion =
      "Database is locked by server unlocked []\nDo you wish to force database unlock? (Y/N) ";
  EXPECT_EQ(run("n").out, kHeader + lockQuestion + "N\n" + aborted);
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"), "unlocked");

  // Accepted, the lock is removed even when the repairs are rolled back.
  tvtest::RunResult r = run("ynn");
  EXPECT_EQ(r.out.substr(0, kHeader.size() + lockQuestion.size() + 24),
            kHeader + lockQuestion + "Y\nDatabase lock removed\n");
  EXPECT_NE(r.out.find("1 errors was found, 0 errors was corrected\n"), std::string::npos);
  EXPECT_EQ(db->value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"), "UNLOCKED");

  // Without a lock row there is no question; -f with -G shows none at all.
  db->exec("DELETE FROM config WHERE var_name='DBLockStatus'");
  r = run("", {"-f", "-G"});
  EXPECT_EQ(r.out, kHeader + Line(kTitles[0]) + Line(kTitles[0]) + Mark("FIXED ") +
                       std::string(AllPassed()).substr(Passed(kTitles[0]).size()) +
                       "1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n"
                       "Committing changes...\nChanges was successfully committed to database\n"
                       "Database check completed\n");
  EXPECT_EQ(db->value("SELECT name FROM object_properties WHERE object_id=5"), "lost_zone_5");
}

INSTANTIATE_TEST_SUITE_P(Engines, Check, ::testing::ValuesIn(tvtest::AllEngines()));

}  // namespace
