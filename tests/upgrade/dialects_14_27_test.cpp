// The dialect branches of steps 14 -> 27 as Oracle and SQL Server get
// them, through a recording connection.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "recorded_steps.h"

namespace {

using upgradetest::Statements;

class RecordedOldSteps : public upgradetest::RecordedStepTest {
 protected:
  // The statements of one step run on the dialect.
  Statements run(int syntax, int from) {
    use(syntax);
    EXPECT_EQ(runStep(from), 1) << syntax << " step " << from;
    return recording->statements;
  }
};

// Only the statements that begin with one of the prefixes, in order.
Statements Starting(const Statements &all, const std::vector<std::string> &prefixes) {
  Statements chosen;
  for (const std::string &s : all)
    for (const std::string &p : prefixes)
      if (s.compare(0, p.size(), p) == 0) {
        chosen.push_back(s);
        break;
      }
  return chosen;
}

TEST_F(RecordedOldSteps, EventTablesOfStep17) {
  const std::vector<std::string> prefixes = {"ALTER TABLE alarms ADD source_event_id",
                                             "ALTER TABLE snmp_trap_cfg ADD", "CREATE TABLE event_cfg",
                                             "CREATE TABLE event_log", "CREATE TABLE modules"};
  const struct {
    int syntax;
    Statements expected;
  } cases[] = {
      {DB_SYNTAX_ORACLE,
       {"CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity "
        "integer,flags integer,message varchar(255),description clob,PRIMARY KEY(event_code))",
        "ALTER TABLE alarms ADD source_event_id number(20)",
        "ALTER TABLE snmp_trap_cfg ADD event_code integer default 0 not null",
        "CREATE TABLE event_log (event_id number(20) not null,event_code integer,event_timestamp "
        "integer,event_source integer,event_severity integer,event_message varchar(255),root_event_id "
        "number(20) default 0,PRIMARY KEY(event_id))",
        "CREATE TABLE modules (module_id integer not null,module_name varchar(63),exec_name "
        "varchar(255),module_flags integer default 0 not null,description clob,license_key "
        "varchar(255),PRIMARY KEY(module_id))"}},
      {DB_SYNTAX_MSSQL,
       {"CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity "
        "integer,flags integer,message varchar(255),description text,PRIMARY KEY(event_code))",
        "ALTER TABLE alarms ADD source_event_id bigint",
        "ALTER TABLE snmp_trap_cfg ADD event_code integer not null default 0",
        "CREATE TABLE event_log (event_id bigint not null,event_code integer,event_timestamp "
        "integer,event_source integer,event_severity integer,event_message varchar(255),root_event_id "
        "bigint default 0,PRIMARY KEY(event_id))",
        "CREATE TABLE modules (module_id integer not null,module_name varchar(63),exec_name "
        "varchar(255),module_flags integer not null default 0,description text,license_key "
        "varchar(255),PRIMARY KEY(module_id))"}},
  };
  for (const auto &c : cases) EXPECT_EQ(Starting(run(c.syntax, 17), prefixes), c.expected) << c.syntax;
}

// Oracle already indexes the primary key's column list and refuses a
// second index on it.
TEST_F(RecordedOldSteps, RawValueIndexOfStep23) {
  const std::vector<std::string> prefixes = {"CREATE TABLE raw_dci_values", "CREATE INDEX"};
  const std::string table =
      "CREATE TABLE raw_dci_values (\titem_id integer not null,   raw_value varchar(255),   last_poll_time "
      "integer,   PRIMARY KEY(item_id))";
  EXPECT_EQ(Starting(run(DB_SYNTAX_ORACLE, 23), prefixes), Statements{table});
  EXPECT_EQ(Starting(run(DB_SYNTAX_MSSQL, 23), prefixes),
            (Statements{table, "CREATE INDEX idx_raw_dci_values_item_id ON raw_dci_values(item_id)"}));
}

// Objects gather one class table at a time; SQL Server has no SUBSTR.
TEST_F(RecordedOldSteps, ObjectPropertiesOfStep26) {
  const auto copy = [](const std::string &cut, const std::string &status, const std::string &table) {
    return "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
           "last_modified) SELECT a.object_id,COALESCE(" +
           cut + "(o.name,1,63),'')," + status +
           ",CASE WHEN o.is_deleted<>0 THEN 1 ELSE 0 END,COALESCE(o.image_id,0),CASE WHEN a.inherit_rights<>0 "
           "THEN 1 ELSE 0 END,TIME FROM access_options a JOIN " +
           table +
           " o ON o.id=a.object_id WHERE (a.object_id<0 OR a.object_id>=10) AND NOT EXISTS (SELECT 1 FROM "
           "object_properties p WHERE p.object_id=a.object_id)";
  };
  for (const auto &[syntax, cut] : {std::pair{DB_SYNTAX_ORACLE, "SUBSTR"}, {DB_SYNTAX_MSSQL, "SUBSTRING"}}) {
    Statements copies = Starting(run(syntax, 26), {"INSERT INTO object_properties"});
    for (std::string &s : copies) s = std::regex_replace(s, std::regex(",[0-9]{10} "), ",TIME ");
    const std::string status = "COALESCE(o.status,0)";
    EXPECT_EQ(copies, (Statements{copy(cut, status, "nodes"), copy(cut, status, "interfaces"),
                                  copy(cut, status, "subnets"), copy(cut, "5", "templates"),
                                  copy(cut, status, "network_services"), copy(cut, status, "containers")}))
        << syntax;
  }
}

}  // namespace
