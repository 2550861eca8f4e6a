#!/usr/bin/env bash
# Builds tvdbmgr and runs it on a small SQLite database: init, then the
# commands an operator runs most (upgrade, check, unlock, export).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

demo=$(mktemp -d /tmp/tvdbmgr-demo.XXXXXX)
cat > "$demo/talvexd.conf" <<CONF
DBDriver = sqlite
DBName = $demo/talvex.db
CONF
export TALVEX_CONFIG_FILE="$demo/talvexd.conf"
tool=build/bin/tvdbmgr

$tool init build/lib/sql/dbinit_sqlite.sql
$tool upgrade
$tool -f check
$tool unlock
$tool export "$demo/export.db"
echo "Demo files are in $demo"
