// What steps 216 -> 228 send to the dialects that cannot run here (SQL
// Server, Oracle, the sixth engine), through a recording connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorded_steps.h"
#include "session/globals.h"
#include "upgrade/network_map_object.h"

namespace {

using upgradetest::OracleNullable;
using upgradetest::Statements;
using Recorded216To228 = upgradetest::RecordedStepTest;

// The two statements of a recoding that finds nothing to decode.
Statements Recoding(int syntax, const std::string &table, const std::string &key, const std::string &column) {
  if (syntax == DB_SYNTAX_ORACLE)
    return {"UPDATE " + table + " SET " + column + "='' WHERE to_char(" + column + ")='#00'",
            "SELECT " + key + "," + column + " FROM (SELECT " + key + "," + column + " FROM " + table +
                " WHERE " + column + " LIKE '%#%' ORDER BY " + key + ") WHERE ROWNUM<=10000"};
  if (syntax == DB_SYNTAX_MSSQL)
    return {"UPDATE " + table + " SET " + column + "='' WHERE CAST(" + column + " AS nvarchar(4000))=N'#00'",
            "SELECT TOP 10000 " + key + "," + column + " FROM " + table + " WHERE " + column +
                " LIKE '%#%' ORDER BY " + key};
  return {"UPDATE " + table + " SET " + column + "='' WHERE " + column + "='#00'",
          "SELECT " + key + "," + column + " FROM " + table + " WHERE " + column + " LIKE '%#%'"};
}

// Oracle relaxes every column through the block that ignores an already
// nullable column (ORA-01451); no statement of these steps sends a bare
// MODIFY ... null. The other dialects only recode.
TEST_F(Recorded216To228, TextColumnsAreRelaxedOnOracleOnlyThenRecoded) {
  const std::pair<const char *, const char *> nodeColumns[] = {
      {"nodes", "community"},
      {"nodes", "usm_auth_password"},
      {"nodes", "usm_priv_password"},
      {"nodes", "snmp_oid"},
      {"nodes", "secret"},
      {"nodes", "agent_version"},
      {"nodes", "platform_name"},
      {"nodes", "uname"},
      {"items", "name"},
      {"items", "description"},
      {"items", "transformation"},
      {"items", "instance"},
  };
  for (int syntax : {DB_SYNTAX_ORACLE, DB_SYNTAX_MSSQL, DB_SYNTAX_DB2}) {
    use(syntax);
    EXPECT_EQ(runStep(216), 1);
    Statements expected = {"ALTER TABLE nodes ADD snmp_port integer", "UPDATE nodes SET snmp_port=161",
                           "ALTER TABLE items ADD snmp_port integer", "UPDATE items SET snmp_port=0"};
    for (const auto &[table, column] : nodeColumns) {
      if (syntax == DB_SYNTAX_ORACLE) expected.push_back(OracleNullable(table, column));
      for (const std::string &s :
           Recoding(syntax, table, table == std::string("nodes") ? "id" : "item_id", column))
        expected.push_back(s);
    }
    expected.push_back("UPDATE metadata SET var_value='217' WHERE var_name='SchemaVersion'");
    EXPECT_EQ(recording->statements, expected) << syntax;

    use(syntax);
    EXPECT_EQ(runStep(217), 1);
    expected.clear();
    if (syntax == DB_SYNTAX_ORACLE) expected.push_back(OracleNullable("snmp_communities", "community"));
    for (const std::string &s : Recoding(syntax, "snmp_communities", "id", "community"))
      expected.push_back(s);
    expected.push_back("UPDATE metadata SET var_value='218' WHERE var_name='SchemaVersion'");
    EXPECT_EQ(recording->statements, expected) << syntax;
  }
}

TEST_F(Recorded216To228, ImageLibraryTableAsWritten) {
  for (int syntax : {DB_SYNTAX_ORACLE, DB_SYNTAX_MSSQL}) {
    use(syntax);
    EXPECT_EQ(runStep(218), 1);
    ASSERT_EQ(recording->statements.size(), 11u);
    EXPECT_EQ(
        recording->statements[0],
        "CREATE TABLE images (   guid varchar(36) not null,   mimetype varchar(64) not null,   name "
        "varchar(255) not null,   category varchar(255) not null,   protected integer default 0,      PRIMARY "
        "KEY(guid),   UNIQUE(name, category))");
    EXPECT_EQ(recording->statements[1],
              "INSERT INTO images (guid, mimetype, name, category, protected) VALUES "
              "('1ddb76a3-a05f-4a42-acda-22021768feaf', 'image/png', 'ATM', 'Network Objects', 1)");
  }
}

// The map conversion writes every text as the dialect's literal, names
// cut to the 63 characters of object_properties.name.
TEST_F(Recorded216To228, MapConversionQuotesEveryText) {
  use(DB_SYNTAX_ORACLE);
  const std::string longName = std::string(60, 'a') + "#27bcdef";
  recording->answers = {
      {"FROM maps", {{"2", "O#27Brien#27s map", "it#27s#0D#0A", "7"}, {"3", longName, "#00", "1"}}},
      {"max(object_id)", {{"4"}}},
      {"FROM submap_object_positions WHERE map_id=2", {{"101", "10", "-20"}}},
      {"FROM submap_links WHERE map_id=2", {{"101", "102", "Gi0#2F1", "#27x#27", "3"}}},
  };
  EXPECT_EQ(runStep(227), 1);
  const Statements &s = recording->statements;
  ASSERT_EQ(s.size(), 17u);
  EXPECT_EQ(s[0], "DROP TABLE web_maps");
  EXPECT_EQ(s[1], "SELECT map_id,map_name,description,root_object_id FROM maps");
  EXPECT_EQ(s[2], "SELECT max(object_id) FROM object_properties");
  EXPECT_EQ(s[3],
            "INSERT INTO network_maps (id,map_type,layout,seed,background) VALUES "
            "(10,0,32767,0,'00000000-0000-0000-0000-000000000000')");
  const std::string objectColumns =
      "INSERT INTO object_properties (object_id,guid,name,status,is_deleted,is_system,inherit_access_rights,"
      "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
      "status_single_threshold,status_thresholds,location_type,latitude,longitude,image,comments) VALUES (10,'";
  EXPECT_EQ(s[4].substr(0, objectColumns.size()), objectColumns);
  EXPECT_EQ(s[4].find("','O''Brien''s map',0,0,0,1,"), objectColumns.size() + 36) << s[4];
  EXPECT_TRUE(
      s[4].ends_with(",0,0,0,0,'0',0,'00000000',0,'0.000000','0.000000',"
                     "'00000000-0000-0000-0000-000000000000','it''s\r\n')"))
      << s[4];
  EXPECT_EQ(s[5], "INSERT INTO container_members (container_id,object_id) VALUES (6,10)");
  EXPECT_EQ(s[6], "SELECT object_id,x,y FROM submap_object_positions WHERE map_id=2 AND submap_id=7");
  EXPECT_EQ(
      s[7],
      "INSERT INTO network_map_elements (map_id,element_id,element_type,element_data) VALUES (10,101,1,'" +
          NetworkMapElementXml({101, 101, 10, -20}) + "')");
  EXPECT_EQ(
      s[8],
      "SELECT object_id1,object_id2,port1,port2,link_type FROM submap_links WHERE map_id=2 AND submap_id=7");
  EXPECT_EQ(s[9],
            "INSERT INTO network_map_links (map_id,element1,element2,link_type,link_name,connector_name1,"
            "connector_name2) VALUES (10,101,102,3,'','Gi0/1','''x''')");
  // The recording answers max(object_id) with 4 again, so the second map
  // also gets 10; an engine gives it 11.
  EXPECT_NE(s[12].find("','" + std::string(60, 'a') + "''bc',0,0,0,1,"), std::string::npos) << s[12];
  EXPECT_TRUE(s[12].ends_with(",'')")) << s[12];
  EXPECT_EQ(s[14], "SELECT object_id,x,y FROM submap_object_positions WHERE map_id=3 AND submap_id=1");
  EXPECT_EQ(s[16], "UPDATE metadata SET var_value='228' WHERE var_name='SchemaVersion'");
}

TEST_F(Recorded216To228, ElementXmlHoldsIdsAndPosition) {
  EXPECT_EQ(
      NetworkMapElementXml({7, 7, -3, 2147483647}),
      "<element><id>7</id><type>1</type><posX>-3</posX><posY>2147483647</posY><objectId>7</objectId></element>");
  EXPECT_EQ(
      NetworkMapElementXml({4294967295u, 4294967295u, 0, 0}),
      "<element><id>4294967295</id><type>1</type><posX>0</posX><posY>0</posY><objectId>4294967295</objectId>"
      "</element>");
}

}  // namespace
