#!/bin/bash
# Writes every statement a tvdbmgr binary sends for the whole upgrade
# 14 -> 245 of the same small network, one file per engine, so that two
# builds can be compared statement for statement (a restructuring must
# leave them byte-identical):
#
#   bench/trace_chain.sh OUTDIR [engine...]      (default: sqlite pgsql mysql)
#   diff -r before/ after/
#
# TOOL (default build/bin/tvdbmgr) and BENCH (default
# build/bench/upgrade_old_bench) name the binaries; NODES (default 20),
# EVENTS and ALARMS (default 50) the size of the network. The servers are
# the test servers of .ci/start-servers (source their env file first).
# What differs from run to run by design (the database's name, the time
# of day, generated GUIDs) is replaced by a placeholder.
set -euo pipefail
out=${1:?usage: trace_chain.sh OUTDIR [engine...]}
shift
engines=("$@")
[ ${#engines[@]} -gt 0 ] || engines=(sqlite pgsql mysql)
tool=${TOOL:-build/bin/tvdbmgr}
bench=${BENCH:-build/bench/upgrade_old_bench}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for engine in "${engines[@]}"; do
  seeded=$("$bench" --keep --from 14 --to 14 --events "${EVENTS:-50}" --alarms "${ALARMS:-50}" \
    "${NODES:-20}" "$engine" 2>&1)
  db=$(grep -o 'tvbench_upgrade_old_[0-9]*' <<<"$seeded" | head -1)
  [ -n "$db" ] || { echo "trace_chain: no $engine database was left: $seeded" >&2; exit 1; }
  conf="$work/$engine.conf"
  case $engine in
    sqlite) printf 'DBDriver = sqlite\nDBName = /tmp/%s.db\n' "$db" >"$conf" ;;
    pgsql) printf 'DBDriver = pgsql\nDBServer = 127.0.0.1\nDBName = %s\nDBLogin = tvtest\nDBPassword = tvtest\nDBDrvParams = port=%s\n' \
      "$db" "${TVDBMGR_TEST_PG_PORT:-5432}" >"$conf" ;;
    mysql) printf 'DBDriver = mysql\nDBServer = 127.0.0.1\nDBName = %s\nDBLogin = tvtest\nDBPassword = tvtest\nDBDrvParams = port=%s\n' \
      "$db" "${TVDBMGR_TEST_MY_PORT:-3306}" >"$conf" ;;
  esac
  NO_COLOR=1 "$tool" -t -f -c "$conf" upgrade >"$work/$engine.raw" 2>&1 || true
  sed -E -e "s/$db/DATABASE/g" \
    -e 's/[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}/GUID/g' \
    -e 's/\b1[6-9][0-9]{8}\b/TIME/g' "$work/$engine.raw" >"$out/$engine.trace"
  echo "$engine: $(grep -c '^>>> ' "$out/$engine.trace" || true) statements traced -> $out/$engine.trace"
  case $engine in
    sqlite) rm -f "/tmp/$db.db" ;;
    pgsql) PGPASSWORD=tvtest psql -q -h 127.0.0.1 -p "${TVDBMGR_TEST_PG_PORT:-5432}" -U tvtest -d tvtest \
      -c "DROP DATABASE $db" ;;
    mysql) mysql -h 127.0.0.1 -P "${TVDBMGR_TEST_MY_PORT:-3306}" -u tvtest -ptvtest -e "DROP DATABASE $db" ;;
  esac
done
