#include "transfer/source_rows.h"

#include <cstring>

const char kSourceRowsTable[] = "tvdbmgr_source_rows";

namespace {

struct Table : sqlite3_vtab {
  SourceRows *source;
};

struct Cursor : sqlite3_vtab_cursor {
  SourceRows *source;
  sqlite3_int64 rowid;
};

SourceRows &SourceOf(sqlite3_vtab_cursor *cursor) { return *static_cast<Cursor *>(cursor)->source; }

int Connect(sqlite3 *file, void *aux, int, const char *const *, sqlite3_vtab **table, char **error) {
  auto *source = static_cast<SourceRows *>(aux);
  std::string declaration = "CREATE TABLE x(";
  for (int c = 0; c < source->columns; c++) declaration += (c > 0 ? ",c" : "c") + std::to_string(c);
  declaration += ")";
  int rc = sqlite3_declare_vtab(file, declaration.c_str());
  if (rc != SQLITE_OK) {
    *error = sqlite3_mprintf("%s", sqlite3_errmsg(file));
    return rc;
  }
  // Nothing that the file's schema defines may read the rows.
  sqlite3_vtab_config(file, SQLITE_VTAB_DIRECTONLY);
  auto *t = new Table{};
  t->source = source;
  *table = t;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab *table) {
  delete static_cast<Table *>(table);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab *, sqlite3_index_info *) { return SQLITE_OK; }

int Open(sqlite3_vtab *table, sqlite3_vtab_cursor **cursor) {
  auto *c = new Cursor{};
  c->source = static_cast<Table *>(table)->source;
  *cursor = c;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor *cursor) {
  delete static_cast<Cursor *>(cursor);
  return SQLITE_OK;
}

// The source cannot rewind: a second scan would see rows missing.
int Filter(sqlite3_vtab_cursor *cursor, int, const char *, int, sqlite3_value **) {
  SourceRows &source = SourceOf(cursor);
  if (source.read) {
    sqlite3_free(cursor->pVtab->zErrMsg);
    cursor->pVtab->zErrMsg = sqlite3_mprintf("the source rows can be read only once");
    return SQLITE_ERROR;
  }
  source.read = true;
  return SQLITE_OK;
}

// Called once SQLite is done with the current row, so that after a
// failed INSERT the current row is the one the file refused.
int Next(sqlite3_vtab_cursor *cursor) {
  SourceRows &source = SourceOf(cursor);
  source.progress.row();
  source.ended = !DBFetch(source.rows);
  static_cast<Cursor *>(cursor)->rowid++;
  return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor *cursor) { return SourceOf(cursor).ended ? 1 : 0; }

// Bound as a quoted literal would be, so that the file's column affinity
// stores the same value; an integer where the column would make one of
// its text anyway.
int Column(sqlite3_vtab_cursor *cursor, sqlite3_context *context, int column) {
  SourceRows &source = SourceOf(cursor);
  int64_t integer;
  if (source.numeric[column] && DBGetFieldAsyncInteger(source.rows, column, &integer)) {
    sqlite3_result_int64(context, integer);
    return SQLITE_OK;
  }
  size_t length;
  const char *value = DBGetFieldAsyncData(source.rows, column, &length);
  if (value == nullptr)
    sqlite3_result_null(context);
  else
    sqlite3_result_text64(context, value, length, SQLITE_TRANSIENT, SQLITE_UTF8);
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor *cursor, sqlite3_int64 *rowid) {
  *rowid = static_cast<Cursor *>(cursor)->rowid;
  return SQLITE_OK;
}

// Eponymous only (no xCreate): the table exists while the module is
// registered, without a statement that would change the file's schema.
sqlite3_module MakeModule() {
  sqlite3_module module;
  memset(&module, 0, sizeof(module));
  module.xConnect = Connect;
  module.xBestIndex = BestIndex;
  module.xDisconnect = Disconnect;
  module.xDestroy = Disconnect;
  module.xOpen = Open;
  module.xClose = Close;
  module.xFilter = Filter;
  module.xNext = Next;
  module.xEof = Eof;
  module.xColumn = Column;
  module.xRowid = Rowid;
  return module;
}

const sqlite3_module kModule = MakeModule();

}  // namespace

SourceRowsTable::SourceRowsTable(sqlite3 *file, SourceRows &source)
    : file_(file), rc_(sqlite3_create_module_v2(file, kSourceRowsTable, &kModule, &source, nullptr)) {}

// Registering nothing under the name removes the module and disconnects
// its table.
SourceRowsTable::~SourceRowsTable() {
  if (rc_ == SQLITE_OK) sqlite3_create_module_v2(file_, kSourceRowsTable, nullptr, nullptr, nullptr);
}

bool SourceRowsTable::ready(std::string &error) const {
  if (rc_ == SQLITE_OK) return true;
  error = sqlite3_errstr(rc_);
  return false;
}
