#!/usr/bin/env bash
# Runs an installed tvdbmgr once on a new SQLite database configured by
# the installed sample configuration file: init from the installed
# script, check, then export, which has to find the installed schema
# script by itself. The documentation has to be in place too. Fails with
# the tool's output when a command does not end as it should.
#   installed_tool.sh <prefix>                 the tool is <prefix>/bin/tvdbmgr
#   installed_tool.sh --from-build <build>     installs the build under a
#                                              scratch root first (prefix /usr)
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$1" = --from-build ]; then
  DESTDIR=$work/root "${CMAKE:-cmake}" --install "$2" --prefix /usr >/dev/null
  prefix=$work/root/usr
else
  prefix=$1
fi
tool=$prefix/bin/tvdbmgr
scripts=$prefix/share/tvdbmgr/sql
docs=$prefix/share/doc/tvdbmgr
# The commented sample, with the two keys of an SQLite database set.
sed -e 's|^# DBDriver = .*|DBDriver = sqlite|' -e "s|^# DBName = .*|DBName = $work/talvex.db|" \
  "$docs/examples/talvexd.conf" > "$work/talvexd.conf"
for doc in README.md.gz changelog.Debian.gz copyright; do
  [ -s "$docs/$doc" ] || { echo "$docs/$doc is missing" >&2; exit 1; }
done

# Runs the tool with the arguments; its output must end with the line.
expect_last_line() {
  local last=$1
  shift
  local out
  if ! out=$(env -u TALVEX_INSTALL_PATH -u TALVEX_CONFIG_FILE NO_COLOR=1 \
      "$tool" -c "$work/talvexd.conf" "$@" </dev/null 2>&1); then
    printf 'tvdbmgr %s: exit code not 0\n%s\n' "$*" "$out" >&2
    exit 1
  fi
  if [ "$(printf '%s\n' "$out" | tail -n 1)" != "$last" ]; then
    printf 'tvdbmgr %s: expected "%s" at the end of\n%s\n' "$*" "$last" "$out" >&2
    exit 1
  fi
}

expect_last_line "Database initialized successfully" init "$scripts/dbinit_sqlite.sql"
expect_last_line "Database check completed" check
expect_last_line "Database export complete." export "$work/export.db"
echo "installed tvdbmgr in $prefix: init, check and export passed"
