#!/usr/bin/env bash
# Loads the database scripts of sql/ into fresh scratch databases and checks
# that they agree with each other:
#   dbinit_sqlite.sql   -> a new SQLite file
#   dbinit_pgsql.sql    -> a new PostgreSQL database (psql, ON_ERROR_STOP)
#   dbinit_mysql.sql    -> a new MariaDB/MySQL database (mysql client)
#   dbschema_sqlite.sql -> a new SQLite file (the export file schema)
# Checks: the files split into statements the way the tool's batch runner
# splits them; every table of the export list plus metadata exists with the
# same column names in all four; the metadata rows; the built-in rows; equal
# row counts across the three init scripts; an empty export schema; and the
# collected-data table and index templates run on their engine.
#
# Connection settings (defaults in brackets; the tests' own variables,
# TVDBMGR_TEST_PG_HOST and the like, are the defaults where they are set):
#   TVDBMGR_PG_HOST [127.0.0.1] TVDBMGR_PG_PORT [5432]
#   TVDBMGR_PG_USER [tvtest]    TVDBMGR_PG_PASSWORD [tvtest]
#   TVDBMGR_MY_HOST [127.0.0.1] TVDBMGR_MY_PORT [3306]
#   TVDBMGR_MY_USER [tvtest]    TVDBMGR_MY_PASSWORD [tvtest]
#   TVDBMGR_SQL_DIR [the sql/ folder of this repository]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
sql_dir=${TVDBMGR_SQL_DIR:-$here/../../sql}
# The scripts make a database at the version the tool is built for.
tool_version=$(sed -n 's/^constexpr int kToolSchemaVersion = \([0-9]*\);$/\1/p' "$here/../../src/session/globals.h")

pg_host=${TVDBMGR_PG_HOST:-${TVDBMGR_TEST_PG_HOST:-127.0.0.1}}
pg_port=${TVDBMGR_PG_PORT:-${TVDBMGR_TEST_PG_PORT:-5432}}
pg_user=${TVDBMGR_PG_USER:-${TVDBMGR_TEST_USER:-tvtest}}
export PGPASSWORD=${TVDBMGR_PG_PASSWORD:-${TVDBMGR_TEST_PASSWORD:-tvtest}}
my_host=${TVDBMGR_MY_HOST:-${TVDBMGR_TEST_MY_HOST:-127.0.0.1}}
my_port=${TVDBMGR_MY_PORT:-${TVDBMGR_TEST_MY_PORT:-3306}}
my_user=${TVDBMGR_MY_USER:-${TVDBMGR_TEST_USER:-tvtest}}
export MYSQL_PWD=${TVDBMGR_MY_PASSWORD:-${TVDBMGR_TEST_PASSWORD:-tvtest}}

export_tables="config config_clob users user_groups user_group_members user_profiles
userdb_custom_attributes object_properties object_custom_attributes zones nodes clusters
cluster_members cluster_sync_subnets cluster_resources subnets interfaces network_services
vpn_connectors vpn_connector_networks containers conditions cond_dci_map templates dct_node_map
nsmap container_members container_categories acl trusted_nodes items dci_schedules
raw_dci_values event_cfg event_log actions event_groups event_group_members event_policy
policy_source_list policy_event_list policy_action_list policy_time_range_list
policy_situation_attr_list time_ranges deleted_objects thresholds alarms alarm_notes
snmp_trap_cfg snmp_trap_pmap agent_pkg object_tools object_tools_acl object_tools_table_columns
syslog script_library snmp_trap_log agent_configs address_lists graphs graph_acl certificates
audit_log situations snmp_communities ap_common ap_bindings ap_config_files usm_credentials
network_maps network_map_elements network_map_links images dashboards dashboard_elements
business_services slm_checks node_links slm_agreements slm_tickets slm_service_history
organizations persons job_history reports report_results"

idata_table='CREATE TABLE idata_%d (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255) null)'
idata_index_pg='CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)'
idata_index_other='CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)'

passed=0
failed=0
ok() { passed=$((passed + 1)); printf 'ok     %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAILED %s\n' "$1"; [ $# -lt 2 ] || printf '%s\n' "$2" | sed 's/^/       /' | head -40; }
# check NAME EXPECTED ACTUAL
check() { if [ "$2" = "$3" ]; then ok "$1"; else fail "$1" "expected: $2
actual:   $3"; fi; }

work=$(mktemp -d)
suffix="$$_$(date +%s)"
pg_db="tvdbmgr_chk_pg_$suffix"
my_db="tvdbmgr_chk_my_$suffix"
pg_made=0
my_made=0
cleanup() {
    [ $pg_made = 1 ] && dropdb -h "$pg_host" -p "$pg_port" -U "$pg_user" --if-exists "$pg_db" >/dev/null 2>&1
    [ $my_made = 1 ] && mysql -h "$my_host" -P "$my_port" -u "$my_user" -e "DROP DATABASE IF EXISTS $my_db" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

pgq() { psql -X -q -At -F '|' -h "$pg_host" -p "$pg_port" -U "$pg_user" -d "$pg_db" -v ON_ERROR_STOP=1 -c "$1"; }
myq() { mysql -h "$my_host" -P "$my_port" -u "$my_user" -N -B "$my_db" -e "$1" | tr '\t' '|'; }
ltq() { sqlite3 -bail "$work/init.db" "$1"; }
scq() { sqlite3 -bail "$work/schema.db" "$1"; }

# Splits a script as the batch runner does (";" outside single quotes, no
# comments, no double quotes) and prints one line per problem found.
lint() {
    LC_ALL=C awk '
    BEGIN { RS = "\001" }
    {
        text = $0; n = length(text); inq = 0; stmt = ""; count = 0
        for (i = 1; i <= n + 1; i++) {
            c = (i <= n) ? substr(text, i, 1) : ";"
            if (c == "\\") { print "backslash at offset " i; continue }
            if (c !~ /[ -~\n]/) { print "byte outside printable ASCII at offset " i }
            if (c == "\047") inq = !inq
            if (!inq && c == ";") {
                s = stmt; gsub(/^[ \t\r\n]+/, "", s)
                if (s != "") {
                    count++
                    if (s !~ /^(CREATE TABLE|CREATE INDEX|INSERT INTO) /)
                        print "statement " count " does not start with CREATE TABLE, CREATE INDEX or INSERT INTO: " substr(s, 1, 60)
                    t = s; gsub(/\047[^\047]*\047/, "", t)
                    if (t ~ /"|--|\/\*|#/) print "statement " count " has a double quote, comment or # outside quotes: " substr(s, 1, 60)
                }
                stmt = ""
            } else stmt = stmt c
        }
        if (inq) print "unterminated quote"
        if (count == 0) print "no statement"
    }' "$1"
}

for f in dbinit_sqlite.sql dbinit_pgsql.sql dbinit_mysql.sql dbschema_sqlite.sql; do
    if [ ! -f "$sql_dir/$f" ]; then fail "$f exists"; continue; fi
    problems=$(lint "$sql_dir/$f")
    if [ -z "$problems" ]; then ok "$f splits into plain statements"; else fail "$f splits into plain statements" "$problems"; fi
done

# ---- load -----------------------------------------------------------------
loaded=""
if out=$(sqlite3 -bail "$work/init.db" < "$sql_dir/dbinit_sqlite.sql" 2>&1); then
    ok "dbinit_sqlite.sql loads into SQLite"; loaded="$loaded sqlite"
else fail "dbinit_sqlite.sql loads into SQLite" "$out"; fi
if out=$(sqlite3 -bail "$work/schema.db" < "$sql_dir/dbschema_sqlite.sql" 2>&1); then
    ok "dbschema_sqlite.sql loads into SQLite"; loaded="$loaded schema"
else fail "dbschema_sqlite.sql loads into SQLite" "$out"; fi
if out=$(createdb -h "$pg_host" -p "$pg_port" -U "$pg_user" "$pg_db" 2>&1); then
    pg_made=1
    if out=$(psql -X -q -h "$pg_host" -p "$pg_port" -U "$pg_user" -d "$pg_db" -v ON_ERROR_STOP=1 \
                  -f "$sql_dir/dbinit_pgsql.sql" 2>&1 >/dev/null) && [ -z "$out" ]; then
        ok "dbinit_pgsql.sql loads into PostgreSQL"; loaded="$loaded pgsql"
    else fail "dbinit_pgsql.sql loads into PostgreSQL" "$out"; fi
else fail "create PostgreSQL scratch database $pg_db" "$out"; fi
if out=$(mysql -h "$my_host" -P "$my_port" -u "$my_user" -e "CREATE DATABASE $my_db" 2>&1); then
    my_made=1
    if out=$(mysql -h "$my_host" -P "$my_port" -u "$my_user" --show-warnings "$my_db" \
                   < "$sql_dir/dbinit_mysql.sql" 2>&1) && [ -z "$out" ]; then
        ok "dbinit_mysql.sql loads into MariaDB/MySQL (server default sql_mode)"; loaded="$loaded mysql"
    else fail "dbinit_mysql.sql loads into MariaDB/MySQL (server default sql_mode)" "$out"; fi
else fail "create MariaDB/MySQL scratch database $my_db" "$out"; fi

has() { case " $loaded " in *" $1 "*) return 0;; esac; return 1; }

# ---- tables and columns ---------------------------------------------------
columns() {
    case $1 in
    sqlite) ltq "SELECT m.name||'.'||p.name FROM sqlite_master m JOIN pragma_table_info(m.name) p WHERE m.type='table'" ;;
    schema) scq "SELECT m.name||'.'||p.name FROM sqlite_master m JOIN pragma_table_info(m.name) p WHERE m.type='table'" ;;
    pgsql) pgq "SELECT table_name||'.'||column_name FROM information_schema.columns WHERE table_schema=current_schema()" ;;
    mysql) myq "SELECT CONCAT(table_name,'.',column_name) FROM information_schema.columns WHERE table_schema=DATABASE()" ;;
    esac | tr 'A-Z' 'a-z' | LC_ALL=C sort
}
expected_tables=$(printf '%s\n' $export_tables metadata | LC_ALL=C sort)
reference=""
for e in sqlite pgsql mysql schema; do
    has $e || continue
    cols=$(columns $e)
    tables=$(printf '%s\n' "$cols" | cut -d. -f1 | LC_ALL=C sort -u)
    check "$e: the export tables and metadata, no other table" "$expected_tables" "$tables"
    if [ -z "$reference" ]; then
        reference=$cols; reference_name=$e
    elif [ "$cols" = "$reference" ]; then
        ok "$e: same columns as $reference_name"
    else
        fail "$e: same columns as $reference_name" "$(diff <(printf '%s\n' "$reference") <(printf '%s\n' "$cols") | grep '^[<>]')"
    fi
done

# ---- metadata -------------------------------------------------------------
metadata() {
    local q="SELECT var_name||'='||var_value FROM metadata ORDER BY var_name"
    case $1 in
    sqlite) ltq "$q" ;;
    schema) scq "$q" ;;
    pgsql) pgq "$q" ;;
    mysql) myq "SELECT CONCAT(var_name,'=',var_value) FROM metadata ORDER BY var_name" ;;
    esac
}
for e in sqlite pgsql mysql; do
    has $e || continue
    case $e in
    sqlite) syntax=SQLITE; index=$idata_index_other ;;
    pgsql) syntax=PGSQL; index=$idata_index_pg ;;
    mysql) syntax=MYSQL; index=$idata_index_other ;;
    esac
    check "$e: metadata rows" "IDataIndexCreationCommand_0=$index
IDataTableCreationCommand=$idata_table
SchemaVersion=$tool_version
Syntax=$syntax" "$(metadata $e)"
done
has schema && check "schema: metadata rows" "IDataTableCreationCommand=$idata_table
SchemaVersion=$tool_version" "$(metadata schema)"

# ---- rows -----------------------------------------------------------------
run() {
    case $1 in sqlite) ltq "$2" ;; pgsql) pgq "$2" ;; mysql) myq "$2" ;; schema) scq "$2" ;; esac
}
counts() {
    local t q=""
    for t in $export_tables; do q="$q${q:+ UNION ALL }SELECT '$t', COUNT(*) FROM $t"; done
    run "$1" "$q" | tr '\t' '|' | LC_ALL=C sort
}
reference=""
for e in sqlite pgsql mysql; do
    has $e || continue
    check "$e: DBLockStatus is UNLOCKED" "UNLOCKED" "$(run $e "SELECT var_value FROM config WHERE var_name='DBLockStatus'")"
    check "$e: DBLockInfo holds the empty text" "#00" "$(run $e "SELECT var_value FROM config WHERE var_name='DBLockInfo'")"
    check "$e: built-in user 0 and group -2147483648 with empty GUIDs" "1|1" \
        "$(run $e "SELECT (SELECT COUNT(*) FROM users WHERE id=0 AND guid=''), (SELECT COUNT(*) FROM user_groups WHERE id=-2147483648 AND guid='')")"
    check "$e: built-in objects 1 to 4 and zone 4" "4|1" \
        "$(run $e "SELECT (SELECT COUNT(*) FROM object_properties WHERE object_id IN (1,2,3,4) AND last_modified<>0), (SELECT COUNT(*) FROM zones WHERE id=4)")"
    c=$(counts $e)
    if [ -z "$reference" ]; then
        reference=$c; reference_name=$e
    elif [ "$c" = "$reference" ]; then
        ok "$e: same row counts as $reference_name"
    else
        fail "$e: same row counts as $reference_name" "$(diff <(printf '%s\n' "$reference") <(printf '%s\n' "$c") | grep '^[<>]')"
    fi
done
if has schema; then
    nonempty=$(counts schema | grep -v '|0$')
    check "schema: every export table is empty" "" "$nonempty"
fi

# ---- templates ------------------------------------------------------------
for e in sqlite pgsql mysql; do
    has $e || continue
    t=$(run $e "SELECT var_value FROM metadata WHERE var_name='IDataTableCreationCommand'")
    i=$(run $e "SELECT var_value FROM metadata WHERE var_name='IDataIndexCreationCommand_0'")
    # shellcheck disable=SC2059
    if out=$(run $e "$(printf "$t" 7)" 2>&1) && out=$(run $e "$(printf "$i" 7 7)" 2>&1) &&
       out=$(run $e "INSERT INTO idata_7 (item_id,idata_timestamp,idata_value) VALUES (1,2,NULL)" 2>&1); then
        ok "$e: collected-data table and index templates run"
    else
        fail "$e: collected-data table and index templates run" "$out"
    fi
done

echo
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
