#include "upgrade/rehearsal_copy.h"

#include <cstdio>
#include <string>
#include <vector>

#include "session/cluster_lock.h"
#include "session/globals.h"
#include "session/sql_exec.h"

namespace {

constexpr char kCopySuffix[] = "_tvdbmgr_rehearsal";
// MySQL's limit on a database name.
constexpr size_t kMaxNameLength = 64;
// "Access denied for user to database", "you need (at least one of) the
// ... privilege(s)".
constexpr int kAccessDenied[] = {1044, 1227};

std::string Quoted(const std::string &name) {
  std::string quoted = "`";
  for (char c : name) quoted += c == '`' ? std::string("``") : std::string(1, c);
  return quoted + "`";
}

// The connected database's name; empty when it cannot be read (reported).
std::string ConnectedDatabase() {
  Result row(SelectSql("SELECT DATABASE()"));
  if (row == nullptr || DBGetNumRows(row.get()) == 0) return "";
  std::string name;
  DBTakeFirstValue(row.release(), name);
  return name;
}

bool FailedForLackOfPrivilege() {
  Result errors(DBSelect(DbHandle, "SHOW ERRORS"));
  if (errors == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(errors.get()); row++)
    for (int code : kAccessDenied)
      if (DBGetFieldLong(errors.get(), row, 1) == code) return true;
  return false;
}

// CREATE DATABASE with the real database's character set and collation,
// which the tables that the steps create without their own take.
bool CreateCopyDatabase(const std::string &copy) {
  std::string statement = "CREATE DATABASE " + copy;
  Result charset(SelectSql(
      "SELECT default_character_set_name,default_collation_name FROM information_schema.schemata WHERE "
      "schema_name=DATABASE()"));
  if (charset == nullptr) return false;
  if (DBGetNumRows(charset.get()) > 0) {
    char set[65], collation[65];
    statement += std::string(" CHARACTER SET ") + DBGetField(charset.get(), 0, 0, set, sizeof(set)) +
                 " COLLATE " + DBGetField(charset.get(), 0, 1, collation, sizeof(collation));
  }
  TraceSql(statement.c_str());
  char errorText[DBDRV_MAX_ERROR_TEXT];
  if (DBQueryEx(DbHandle, statement.c_str(), errorText)) return true;
  if (FailedForLackOfPrivilege())
    printf(
        "ERROR: the rehearsal upgrades a scratch copy of the database, %s, and this account lacks the "
        "CREATE privilege for it (%s).\n"
        "Grant it (GRANT ALL ON %s.* TO the account) or rehearse with an account that has it.\n",
        copy.c_str(), errorText, copy.c_str());
  else
    ReportSqlError(errorText, statement.c_str());
  return false;
}

bool ReadTables(std::vector<std::string> &tables) {
  Result rows(
      SelectSql("SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE() AND "
                "table_type='BASE TABLE' ORDER BY table_name"));
  if (rows == nullptr) return false;
  for (int row = 0; row < DBGetNumRows(rows.get()); row++) {
    char name[256];
    DBGetField(rows.get(), row, 0, name, sizeof(name));
    // The lock of this very run stays with the real database.
    if (std::string(name) != kClusterLockTable) tables.emplace_back(name);
  }
  return true;
}

}  // namespace

std::string RehearsalCopyName() {
  std::string real = ConnectedDatabase();
  if (real.empty()) return "";
  if (real.size() + sizeof(kCopySuffix) - 1 > kMaxNameLength) {
    printf(
        "ERROR: the rehearsal's scratch copy of database %s would need a name longer than the %zu "
        "characters MySQL allows.\n",
        real.c_str(), kMaxNameLength);
    return "";
  }
  return Quoted(real + kCopySuffix);
}

bool RehearsalCopy::make() {
  std::string name = ConnectedDatabase();
  std::string copy = RehearsalCopyName();
  if (name.empty() || copy.empty()) return false;
  real_ = Quoted(name);
  // A rehearsal killed before its end leaves its copy behind.
  if (!DropLeftRehearsalCopy() || !CreateCopyDatabase(copy)) return false;
  copy_ = copy;
  std::vector<std::string> tables;
  if (!ReadTables(tables)) return false;
  printf("Copying %zu tables into %s for the rehearsal\n", tables.size(), copy_.c_str());
  fflush(stdout);
  for (const std::string &table : tables) {
    const std::string into = copy_ + "." + Quoted(table), from = real_ + "." + Quoted(table);
    if (!ExecSql(("CREATE TABLE " + into + " LIKE " + from).c_str()) ||
        !ExecSql(("INSERT INTO " + into + " SELECT * FROM " + from).c_str()))
      return false;
  }
  if (!ExecSql(("USE " + copy_).c_str())) return false;
  switched_ = true;
  return true;
}

RehearsalCopy::~RehearsalCopy() {
  if (switched_) ExecSql(("USE " + real_).c_str());
  if (!copy_.empty()) ExecSql(("DROP DATABASE " + copy_).c_str());
}

bool DropLeftRehearsalCopy() {
  if (DbSyntax != DB_SYNTAX_MYSQL) return true;
  Result left(SelectSql((std::string("SELECT schema_name FROM information_schema.schemata WHERE "
                                     "schema_name=CONCAT(DATABASE(),'") +
                         kCopySuffix + "')")
                            .c_str()));
  if (left == nullptr) return false;
  if (DBGetNumRows(left.get()) == 0) return true;
  const std::string copy = RehearsalCopyName();
  if (copy.empty()) return false;
  printf("Dropping %s, left behind by an interrupted rehearsal\n", copy.c_str());
  return ExecSql(("DROP DATABASE " + copy).c_str());
}
