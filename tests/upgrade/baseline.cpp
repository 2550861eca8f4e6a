#include "baseline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "db/db.h"
#include "session/batch.h"
#include "session/globals.h"

namespace upgradetest {
namespace {

const char *SyntaxName(int syntax) {
  static const char *const names[] = {"MYSQL", "PGSQL", "MSSQL", "ORACLE", "SQLITE", "DB2"};
  return syntax >= 0 && syntax < 6 ? names[syntax] : "UNKNOWN";
}

bool Run(const std::string &statement, std::string &error) {
  char errorText[DBDRV_MAX_ERROR_TEXT] = "";
  if (DBQueryEx(DbHandle, statement.c_str(), errorText)) return true;
  error = statement + ": " + errorText;
  return false;
}

// The statements of a script: separated by ";" outside single quotes,
// "--" lines left out, each statement's lines joined by blanks.
std::vector<std::string> SplitScript(const std::string &text) {
  std::vector<std::string> statements;
  std::string current;
  bool quoted = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!quoted && line.compare(0, 2, "--") == 0) continue;
    for (char c : line) {
      if (c == '\'') quoted = !quoted;
      if (c == ';' && !quoted) {
        statements.push_back(current);
        current.clear();
      } else {
        current += c;
      }
    }
    if (!current.empty()) current += quoted ? '\n' : ' ';
  }
  if (current.find_first_not_of(" ") != std::string::npos) statements.push_back(current);
  return statements;
}

// Sends rows as multi-row INSERTs, which every engine here takes.
class RowWriter {
 public:
  RowWriter(std::string head, std::string &error) : head_(std::move(head)), error_(error) {}
  bool add(const std::string &values) {
    sql_ += (count_ == 0 ? head_ + " VALUES " : std::string(",")) + values;
    return ++count_ < 500 || flush();
  }
  bool flush() {
    if (count_ == 0) return true;
    count_ = 0;
    std::string sql;
    sql.swap(sql_);
    return Run(sql, error_);
  }

 private:
  std::string head_;
  std::string &error_;
  std::string sql_;
  int count_ = 0;
};

// The decoded template of the per-node tables, or "" when it is missing.
std::string DataTableTemplate() {
  std::string value;
  if (!DBTakeFirstValue(
          DBSelect(DbHandle, "SELECT var_value FROM config WHERE var_name='IDataTableCreationCommand'"),
          value))
    return "";
  DecodeSQLString(value.data());
  value.resize(strlen(value.c_str()));
  return value;
}

std::string WithNodeId(const std::string &format, int id) {
  std::string out;
  for (size_t i = 0; i < format.size(); i++) {
    if (format.compare(i, 2, "%d") == 0) {
      out += std::to_string(id);
      i++;
    } else {
      out += format[i];
    }
  }
  return out;
}

bool AddNodeRows(const BaselineNodes &set, std::string &error) {
  RowWriter nodes(
      "INSERT INTO nodes (id,name,status,is_deleted,image_id,inherit_access_rights,primary_ip,is_snmp,is_agent,"
      "is_bridge,is_router,is_local_mgmt,discovery_flags,node_type,description,community,snmp_oid,secret)",
      error);
  RowWriter access("INSERT INTO access_options (object_id,inherit_rights)", error);
  RowWriter items("INSERT INTO items (item_id,node_id,datatype,name,description,transformation)", error);
  for (int n = 0; n < set.nodes; n++) {
    int id = set.firstNode + n;
    std::string nodeId = std::to_string(id);
    char ip[32];
    snprintf(ip, sizeof(ip), "10.%d.%d.%d", (id >> 16) & 255, (id >> 8) & 255, id & 255);
    // The six capability flags vary from node to node.
    std::string flags;
    for (int bit = 0; bit < 5; bit++) flags += std::to_string((id >> bit) & 1) + ",";
    if (!nodes.add("(" + nodeId + ",'node-" + nodeId + "'," + std::to_string(id % 5) + ",0,0,1,'" + ip +
                   "'," + flags + "0,0,'#00','public','#00','#00')") ||
        !access.add("(" + nodeId + ",1)"))
      return false;
    for (int k = 0; k < set.itemsPerNode; k++) {
      // The last item of a node collects texts, the others numbers.
      std::string datatype = k == set.itemsPerNode - 1 ? "4" : "0";
      if (!items.add("(" + std::to_string(id * 100 + k) + "," + nodeId + "," + datatype + ",'Item." +
                     std::to_string(k) + "','Item " + std::to_string(k) + "','#00')"))
        return false;
    }
  }
  return nodes.flush() && access.flush() && items.flush();
}

bool AddDataTables(const BaselineNodes &set, std::string &error) {
  std::string format = DataTableTemplate();
  if (format.empty()) {
    error = "no IDataTableCreationCommand in config";
    return false;
  }
  for (int n = 0; n < set.nodes; n++) {
    int id = set.firstNode + n;
    if (!Run(WithNodeId(format, id), error)) return false;
    RowWriter rows("INSERT INTO idata_" + std::to_string(id) + " (item_id,idata_timestamp,idata_value)",
                   error);
    for (int k = 0; k < set.itemsPerNode; k++)
      for (int r = 0; r < set.rowsPerItem; r++)
        if (!rows.add("(" + std::to_string(id * 100 + k) + "," + std::to_string(1262304000 + r * 60) + ",'" +
                      std::to_string(r * (k + 1)) + "')"))
          return false;
    if (!rows.flush()) return false;
  }
  return true;
}

// Runs add in a transaction of its own, committed when add succeeds.
bool InOneTransaction(const std::function<bool()> &add, std::string &error) {
  if (!DBBegin(DbHandle)) {
    error = std::string("BEGIN: ") + DBGetLastError(DbHandle);
    return false;
  }
  if (add()) {
    if (DBCommit(DbHandle)) return true;
    error = std::string("COMMIT: ") + DBGetLastError(DbHandle);
    return false;
  }
  DBRollback(DbHandle);
  return false;
}

bool AddLogRows(const BaselineLogs &set, std::string &error) {
  RowWriter events("INSERT INTO event_log (event_id)", error);
  for (int n = 1; n <= set.eventLogRows; n++)
    if (!events.add("(" + std::to_string(n) + ")")) return false;
  RowWriter alarms(
      "INSERT INTO alarms (alarm_id,severity,alarm_timestamp,is_ack,source_event_id,message,alarm_key,ack_by)",
      error);
  for (int n = 1; n <= set.alarms; n++) {
    // Every fourth message holds an encoded character, as the server
    // stored texts then.
    std::string id = std::to_string(n);
    std::string message = n % 4 == 0 ? "Node#20down " + id : "Threshold reached " + id;
    if (!alarms.add("(" + id + "," + std::to_string(n % 5) + "," + std::to_string(1262304000 + n) + "," +
                    std::to_string(n % 2) + "," + std::to_string(n % (set.eventLogRows + 1)) + ",'" +
                    message + "','key-" + id + "',0)"))
      return false;
  }
  return events.flush() && alarms.flush();
}

}  // namespace

bool LoadBaseline(std::string &error) {
  std::ifstream in(TVDBMGR_BASELINE_V14, std::ios::binary);
  if (!in) {
    error = std::string("cannot read ") + TVDBMGR_BASELINE_V14;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  String expanded = ExpandTypeMacros(text.str().c_str());
  for (const std::string &statement : SplitScript(expanded.str()))
    if (!Run(statement, error)) return false;
  return Run(std::string("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                         "('DBSyntax','") +
                 SyntaxName(DbSyntax) + "',0,1)",
             error);
}

bool AddBaselineNodes(const BaselineNodes &set, std::string &error) {
  if (set.itemsPerNode >= 100) {
    error = "at most 99 items per node";
    return false;
  }
  return InOneTransaction([&] { return AddNodeRows(set, error) && AddDataTables(set, error); }, error);
}

bool AddBaselineLogs(const BaselineLogs &set, std::string &error) {
  return InOneTransaction([&] { return AddLogRows(set, error); }, error);
}

}  // namespace upgradetest
