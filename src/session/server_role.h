// What the server behind the connection is besides a database: a node of
// a MariaDB Galera cluster, or a read-only standby. Some of what the tool
// does is wrong or impossible there, and is refused before it starts.
#pragma once

#include "db/db.h"

enum class ServerFact { kYes, kNo, kUnknown };

// Whether hdb is connected to a MySQL/MariaDB server with wsrep_on set
// globally (a Galera node). kUnknown after printing why the server could
// not tell.
ServerFact IsGaleraNode(db_handle_t hdb);

// Whether hdb is connected to a PostgreSQL server in recovery (a hot
// standby) or to a MySQL/MariaDB server with read_only or
// innodb_read_only set. An account with SUPER or READ ONLY ADMIN could
// still write under read_only, but what it wrote would set the replica
// apart from its primary, so read_only counts whoever connects. kUnknown
// after printing why the server could not tell; kNo on other engines.
ServerFact IsReadOnlyStandby(db_handle_t hdb);

// The exit code of a run that the server's role refuses before the
// command starts: the one of a database the tool cannot work with. A
// stricter failure code, where one is asked for, replaces it here.
inline constexpr int kServerRoleRefusedExit = 5;

// For the driver, after connecting and taking the lock: refuses command
// when the server cannot take it (a changing command on a read-only
// standby, -M on a Galera node), printing why. Returns 0 when the command
// may run, else the exit code to end with.
int RefuseCommandForServerRole(db_handle_t hdb, const char *command);
