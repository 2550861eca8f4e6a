#!/usr/bin/env python3
"""Times per-table schema statements on MariaDB sent over 1, 2 and 4
connections at once, to decide whether the upgrade's per-node-table steps
should spread their statements over several connections.

  bench/parallel_ddl.py [--tables 1000] [--rows 100] [--connections 1,2,4]
                        [--port N] [--keep]

Makes a database of its own with TABLES tables shaped like the collected
data tables (item_id, idata_timestamp, idata_value; ROWS rows each), then
for each connection count sends, table by table, what the upgrade sends:
a row of a journal table in the session's open transaction followed by
the schema statement whose implicit commit makes both final. Each
connection takes every k-th table and has a journal row of its own (the
form a parallel upgrade would need, one row per worker). Two statements
are timed: a CREATE INDEX on every table, then one ALTER TABLE that drops
that index and adds another. Between connection counts the indexes go
again, untimed. Each connection is a `mysql` client reading its
statements from a pipe, so the tool's own cost is not in the figures.
The server is the test server of .ci/start-servers (source its env file
first), reached as tvtest/tvtest on 127.0.0.1.
"""
import argparse
import os
import subprocess
import sys
import time


def client(args, database=None):
    command = ["mysql", "-h", "127.0.0.1", "-P", str(args.port), "-u", "tvtest", "--batch", "--skip-column-names"]
    if database:
        command.append(database)
    env = dict(os.environ, MYSQL_PWD="tvtest")
    return command, env


def run_sql(args, sql, database=None):
    command, env = client(args, database)
    subprocess.run(command, input=sql.encode(), check=True, env=env)


def run_parallel(args, database, scripts):
    """Runs one script per connection at once; returns the wall time."""
    command, env = client(args, database)
    start = time.monotonic()
    workers = [subprocess.Popen(command, stdin=subprocess.PIPE, env=env) for _ in scripts]
    for worker, script in zip(workers, scripts):
        worker.stdin.write(script.encode())
        worker.stdin.close()
    for worker in workers:
        if worker.wait() != 0:
            sys.exit("parallel_ddl: a connection failed")
    return time.monotonic() - start


def shares(args, connections, statement):
    """The statements of each connection: every k-th table, each schema
    statement preceded by the worker's journal row."""
    scripts = []
    for worker in range(connections):
        lines = ["SET autocommit=0;"]
        for n in range(worker, args.tables, connections):
            lines.append(f"REPLACE INTO bench_journal (worker,position) VALUES ({worker},{n});")
            lines.append(statement.format(n=n) + ";")
        lines.append("COMMIT;")
        scripts.append("\n".join(lines) + "\n")
    return scripts


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tables", type=int, default=1000)
    parser.add_argument("--rows", type=int, default=100)
    parser.add_argument("--connections", default="1,2,4")
    parser.add_argument("--port", type=int, default=int(os.environ.get("TVDBMGR_TEST_MY_PORT", "3306")))
    parser.add_argument("--keep", action="store_true", help="leave the database behind")
    args = parser.parse_args()
    database = f"tvbench_parallel_ddl_{os.getpid()}"
    run_sql(args, f"CREATE DATABASE {database}")
    try:
        values = ",".join(f"({item},{1600000000 + row},'{row}')" for item in range(10)
                          for row in range(args.rows // 10))
        run_sql(args, "CREATE TABLE template_data (item_id integer not null,idata_timestamp integer not null,"
                      "idata_value varchar(255)) ENGINE=InnoDB;\n"
                      f"INSERT INTO template_data VALUES {values};\n"
                      "CREATE TABLE bench_journal (worker integer not null,position integer not null,"
                      "PRIMARY KEY(worker)) ENGINE=InnoDB;\n", database)
        setup = run_parallel(args, database, shares(
            args, 4, "CREATE TABLE idata_{n} LIKE template_data;\nINSERT INTO idata_{n} SELECT * FROM template_data"))
        print(f"{args.tables} tables of {args.rows} rows made in {setup:.1f} s (4 connections)")
        print("connections | CREATE INDEX | ALTER TABLE DROP INDEX, ADD INDEX")
        first = None
        for connections in (int(c) for c in args.connections.split(",")):
            create = run_parallel(args, database, shares(
                args, connections, "CREATE INDEX idx_idata_{n}_timestamp ON idata_{n}(idata_timestamp)"))
            alter = run_parallel(args, database, shares(
                args, connections, "ALTER TABLE idata_{n} DROP INDEX idx_idata_{n}_timestamp,"
                                   "ADD INDEX idx_idata_{n}_id_timestamp (item_id,idata_timestamp)"))
            first = first or (create, alter)
            print(f"{connections} | {create:.1f} s ({first[0] / create:.2f}x) | {alter:.1f} s ({first[1] / alter:.2f}x)",
                  flush=True)
            run_parallel(args, database, shares(args, 4, "DROP INDEX idx_idata_{n}_id_timestamp ON idata_{n}"))
    finally:
        if not args.keep:
            run_sql(args, f"DROP DATABASE {database}")


if __name__ == "__main__":
    main()
