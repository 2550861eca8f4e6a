// What steps 73 -> 92 send to the dialects that cannot run here (SQL
// Server, Oracle, the sixth engine), through a recording connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_steps.h"
#include "session/globals.h"

namespace {

using upgradetest::Statements;
using Recorded73To92 = upgradetest::RecordedStepTest;

TEST_F(Recorded73To92, TextColumnsAreRedefinedOnMySqlOnly) {
  for (int syntax : {DB_SYNTAX_MSSQL, DB_SYNTAX_ORACLE, DB_SYNTAX_DB2}) {
    use(syntax);
    EXPECT_EQ(runStep(78), 1);
    EXPECT_EQ(
        recording->statements,
        (Statements{"DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'", "DROP TABLE modules",
                    "UPDATE config SET var_value='79' WHERE var_name='DBFormatVersion'"}))
        << syntax;
  }
  use(DB_SYNTAX_MYSQL);
  EXPECT_EQ(runStep(78), 1);
  ASSERT_EQ(recording->statements.size(), 2u + 2 * 27 + 1);
  EXPECT_EQ(recording->statements[2],
            "UPDATE users SET cert_mapping_data='' WHERE cert_mapping_data IS NULL");
  EXPECT_EQ(recording->statements[3], "ALTER TABLE users MODIFY COLUMN cert_mapping_data text not null");
  EXPECT_EQ(recording->statements[55], "ALTER TABLE situations MODIFY COLUMN comments text not null");
}

TEST_F(Recorded73To92, RebuildsWriteValuesAsTheDialectsLiterals) {
  const struct {
    int syntax;
    const char *text;  // $SQL:TEXT
  } dialects[] = {{DB_SYNTAX_MSSQL, "text"}, {DB_SYNTAX_ORACLE, "clob"}};
  for (const auto &d : dialects) {
    use(d.syntax);
    recording->answers = {{"FROM dci_schedules", {{"3", "it's"}, {"3", "x\\y #1"}}},
                          {"FROM address_lists", {{"1", "0", "2", "o'b", "10.0.0.1"}}}};
    EXPECT_EQ(runStep(80), 1);
    std::string text = d.text;
    EXPECT_EQ(
        recording->statements,
        (Statements{
            "SELECT item_id,schedule FROM dci_schedules", "DROP TABLE dci_schedules",
            "CREATE TABLE dci_schedules (schedule_id integer not null,item_id integer not null,schedule "
            "varchar(255) not null,PRIMARY KEY(item_id,schedule_id))",
            "INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(3,1,'it''s')",
            "INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(3,2,'x\\y #1')",
            "SELECT DISTINCT list_type,community_id,addr_type,addr1,addr2 FROM address_lists",
            "DROP TABLE address_lists",
            "CREATE TABLE address_lists (list_type integer not null,community_id integer not null,addr_type "
            "integer not null,addr1 varchar(15) not null,addr2 varchar(15) not null,PRIMARY "
            "KEY(list_type,community_id,addr_type,addr1,addr2))",
            "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) "
            "VALUES(1,0,2,'o''b','10.0.0.1')",
            "CREATE TABLE object_custom_attributes (object_id integer not null,attr_name varchar(127) not "
            "null,attr_value " +
                text + " not null,PRIMARY KEY(object_id,attr_name))",
            "CREATE TABLE web_maps (id integer not null,title varchar(63) not null,properties " + text +
                " not null,data " + text + " not null,PRIMARY KEY(id))",
            "UPDATE config SET var_value='81' WHERE var_name='DBFormatVersion'"}))
        << d.syntax;
  }
}

TEST_F(Recorded73To92, MetadataMoveQuotesTheDecodedValues) {
  for (int syntax : {DB_SYNTAX_MSSQL, DB_SYNTAX_ORACLE}) {
    use(syntax);
    recording->failWhen = "SELECT var_value FROM metadata";  // no such table yet
    recording->answers = {
        {"var_name='DBFormatVersion'", {{"86"}}},
        {"var_name='IDataTableCreationCommand'", {{"CREATE TABLE idata_%d (v varchar(9) default #27x#27)"}}},
    };
    EXPECT_EQ(runStep(86), 1);
    Statements expected = {
        "SELECT var_value FROM metadata WHERE var_name='SchemaVersion'",
        "CREATE TABLE metadata (var_name varchar(63) not null,var_value varchar(255) not null,PRIMARY "
        "KEY(var_name))",
        "SELECT var_value FROM config WHERE var_name='DBFormatVersion'",
        "DELETE FROM metadata WHERE var_name='SchemaVersion'",
        "INSERT INTO metadata (var_name,var_value) VALUES ('SchemaVersion','86')",
        "DELETE FROM config WHERE var_name='DBFormatVersion'",
        "SELECT var_value FROM config WHERE var_name='DBSyntax'",
        "SELECT var_value FROM config WHERE var_name='IDataTableCreationCommand'",
        "DELETE FROM metadata WHERE var_name='IDataTableCreationCommand'",
        "INSERT INTO metadata (var_name,var_value) VALUES ('IDataTableCreationCommand','CREATE TABLE idata_%d "
        "(v varchar(9) default ''x'')')",
        "DELETE FROM config WHERE var_name='IDataTableCreationCommand'",
    };
    for (int n = 0; n <= 3; n++)
      expected.push_back("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_" +
                         std::to_string(n) + "'");
    expected.push_back("UPDATE metadata SET var_value='87' WHERE var_name='SchemaVersion'");
    EXPECT_EQ(recording->statements, expected) << syntax;
  }
}

TEST_F(Recorded73To92, LongTextColumnsTakeTheDialectsType) {
  const struct {
    int syntax;
    const char *text;
  } dialects[] = {{DB_SYNTAX_MSSQL, "text"}, {DB_SYNTAX_ORACLE, "clob"}, {DB_SYNTAX_DB2, "long varchar"}};
  for (const auto &d : dialects) {
    use(d.syntax);
    for (int from : {81, 87, 88, 89, 90}) EXPECT_EQ(runStep(from), 1);
    std::string t = d.text;
    Statements withText;
    for (const std::string &s : recording->statements)
      if (s.find(" " + t + " ") != std::string::npos || s.ends_with(" " + t)) withText.push_back(s);
    EXPECT_EQ(
        withText,
        (Statements{
            "CREATE TABLE config_clob (var_name varchar(63) not null,var_value " + t +
                " not null,PRIMARY KEY(var_name))",
            "ALTER TABLE templates ADD apply_filter " + t, "ALTER TABLE containers ADD auto_bind_filter " + t,
            "ALTER TABLE items ADD perftab_settings " + t,
            "CREATE TABLE userdb_custom_attributes (object_id integer not null,attr_name varchar(255) "
            "not null,attr_value " +
                t + " not null,PRIMARY KEY(object_id,attr_name))"}))
        << d.syntax;
  }
}

}  // namespace
