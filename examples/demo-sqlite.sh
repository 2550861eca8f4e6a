#!/usr/bin/env bash
# Builds tvdbmgr (the tool alone, not the tests) and shows its main job on
# SQLite: a database at schema version 14, the oldest the upgrade takes
# (the test data of the upgrade tests, loaded with sqlite3), upgraded to
# 245, checked and exported; then a new database made by init takes the
# export in by import.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Building tvdbmgr"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tvdbmgr sql_scripts

demo=$(mktemp -d /tmp/tvdbmgr-demo.XXXXXX)
tool=build/bin/tvdbmgr
configure() {
  printf 'DBDriver = sqlite\nDBName = %s\n' "$demo/$1" > "$demo/talvexd.conf"
}
configure old.db
export TALVEX_CONFIG_FILE="$demo/talvexd.conf"

echo "== A database at schema version 14"
# The type macros as the tool expands them for SQLite, and the dialect
# record that a server of that time wrote.
sed -e 's/\$SQL:TEXT4K/varchar(4000)/g' -e 's/\$SQL:TEXT/varchar/g' -e 's/\$SQL:INT64/number(20)/g' \
  tests/upgrade/baseline_v14.sql | sqlite3 "$demo/old.db"
sqlite3 "$demo/old.db" \
  "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('DBSyntax','SQLITE',0,1)"

echo "== tvdbmgr -f upgrade   (-f answers the upgrade's questions with yes)"
$tool -f upgrade
echo "== tvdbmgr check"
$tool check </dev/null
echo "== tvdbmgr export $demo/export.db"
$tool export "$demo/export.db"

configure new.db
echo "== tvdbmgr init build/lib/sql/dbinit_sqlite.sql   (a new, empty database)"
$tool init build/lib/sql/dbinit_sqlite.sql
echo "== tvdbmgr -f import $demo/export.db"
$tool -f import "$demo/export.db"
echo "Demo files are in $demo"
