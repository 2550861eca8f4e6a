// Bulk SQL: the built-in batch texts of the upgrade steps and CREATE
// TABLE statements.
#pragma once

#include "runtime/tv_string.h"

// The text with "$SQL:TEXT4K", "$SQL:TEXT" and "$SQL:INT64" replaced by
// the types of the connected dialect.
String ExpandTypeMacros(const char *text);
// Runs a batch text, one statement per line, up to its "<END>" line.
// Returns true when every statement succeeded or IgnoreSqlErrors is set.
bool ExecSqlBatch(const char *batch);
// Runs one CREATE TABLE statement, with the MySQL table type of -I/-M.
bool CreateTableSql(const char *statement);
