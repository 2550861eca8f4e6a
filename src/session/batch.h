// Bulk SQL: the built-in batch texts of the upgrade steps and CREATE
// TABLE statements.
#pragma once

#include "runtime/tv_string.h"
#include "session/table_loop.h"

// The text with "$SQL:TEXT4K", "$SQL:TEXT" and "$SQL:INT64" replaced by
// the types of the connected dialect.
String ExpandTypeMacros(const char *text);
// Runs a batch text, one statement per line, up to its "<END>" line. A
// failed statement is reported; under kEnds it ends the batch (false),
// under any other rule the batch goes on past it. Returns true when the
// batch ran to its end.
bool ExecSqlBatch(const char *batch, TableLoop::OnFailure rule);
// Runs one CREATE TABLE statement, with the MySQL table type of -I/-M.
bool CreateTableSql(const char *statement);
