#!/usr/bin/env python3
"""Times the tool's upgrade of a database against the engine's own client
replaying the statements the tool sent.

The database must be at the version to start from (upgrade_old_bench
leaves one behind, e.g. --from 209 --to 209). The script saves it, runs
`tvdbmgr -t -f upgrade` on it (to 245) and notes when each step starts,
restores the saved database and replays the traced statements that change
it, without the reads and without the tool's journal, in one session of
the engine's client (`psql`, `mysql`, the `sqlite3` shell), each step in a
transaction of its own as the tool commits them. PostgreSQL's statement savepoints are the driver's own
and never appear in the trace. Prints, per step and for the whole run, the
tool's time, the replay's and their ratio, .

  bench/replay_upgrade.py --engine pgsql|mysql|sqlite --database NAME|FILE
                          [--port N] [--tool build/bin/tvdbmgr] [--steps 20,24,52,209]
                          [--rounds N]

--steps limits the per-step lines to the steps starting at those versions
(the whole run is always shown); --rounds repeats tool and replay and takes
the medians. Servers are reached as tvtest/tvtest on 127.0.0.1 (MariaDB
sessions take the tool's sql_mode, NO_ENGINE_SUBSTITUTION).
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TRACE = re.compile(r"\x1b\[1m>>> \x1b\[32;1m(.*?)\x1b\[0m\n", re.S)
# The report of a failed statement: the statement, cut to its first 4 KiB.
FAILED = re.compile(r"SQL query failed \(.*?\):\n\x1b\[33;1m(.*?)\x1b\[0m", re.S)
STEP = re.compile(r"Upgrading from version (\d+) to (\d+)\n")
SILENT_52 = "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'"
READ = re.compile(r"\s*(SELECT|SHOW|PRAGMA|WITH\s+\w+\s+AS\s*\(\s*SELECT)\b", re.I)


def server_env(args):
    env = dict(os.environ)
    env.pop("NO_COLOR", None)
    env["PGPASSWORD"] = "tvtest"
    env["MYSQL_PWD"] = "tvtest"
    return env


def save(args, env, where):
    if args.engine == "sqlite":
        shutil.copyfile(args.database, where)
    elif args.engine == "pgsql":
        subprocess.run(["pg_dump", "-h", "127.0.0.1", "-p", str(args.port), "-U", "tvtest", "-Fc", "-f", where,
                        args.database], check=True, env=env)
    else:
        with open(where, "wb") as out:
            subprocess.run(["mysqldump", "-h", "127.0.0.1", "-P", str(args.port), "-u", "tvtest", args.database],
                           check=True, env=env, stdout=out)


def restore(args, env, saved):
    if args.engine == "sqlite":
        shutil.copyfile(saved, args.database)
        return
    if args.engine == "pgsql":
        base = ["psql", "-h", "127.0.0.1", "-p", str(args.port), "-U", "tvtest", "-q", "-d", "postgres", "-c"]
        subprocess.run(base + ["DROP DATABASE IF EXISTS " + args.database], check=True, env=env)
        subprocess.run(base + ["CREATE DATABASE " + args.database], check=True, env=env)
        subprocess.run(["pg_restore", "-h", "127.0.0.1", "-p", str(args.port), "-U", "tvtest", "-d", args.database,
                        saved], check=True, env=env)
        return
    mysql = ["mysql", "-h", "127.0.0.1", "-P", str(args.port), "-u", "tvtest"]
    subprocess.run(mysql + ["-e", "DROP DATABASE IF EXISTS {0}; CREATE DATABASE {0}".format(args.database)],
                   check=True, env=env)
    with open(saved, "rb") as dump:
        subprocess.run(mysql + [args.database], check=True, env=env, stdin=dump)


def config(args, directory):
    path = os.path.join(directory, "tvdbmgr.conf")
    with open(path, "w") as f:
        if args.engine == "sqlite":
            f.write("DBDriver = sqlite\nDBName = %s\n" % os.path.abspath(args.database))
        else:
            f.write("DBDriver = %s\nDBServer = 127.0.0.1\nDBName = %s\nDBLogin = tvtest\nDBPassword = tvtest\n"
                    "DBDrvParams = port=%d\n" % (args.engine, args.database, args.port))
    return path


def run_tool(args, env, conf):
    """The tool's output, the start time of each step (from, seconds since
    the start) and its end."""
    start = time.monotonic()
    proc = subprocess.Popen([args.tool, "-t", "-f", "-c", conf, "upgrade"], stdout=subprocess.PIPE, env=env)
    output = bytearray()
    marks = []
    pending = b""
    # The tool flushes its output at each step's first line, so the time a
    # step's line arrives is the time the step starts.
    while True:
        chunk = proc.stdout.read1(65536)
        if not chunk:
            break
        now = time.monotonic() - start
        output += chunk
        pending += chunk
        for m in STEP.finditer(pending.decode("utf-8", "replace")):
            marks.append((int(m.group(1)), now))
        cut = pending.rfind(b"\n")
        pending = pending[cut + 1:] if cut >= 0 else pending
    proc.wait()
    end = time.monotonic() - start
    text = output.decode("utf-8", "replace")
    if not text.endswith("Database upgrade succeeded\n"):
        sys.exit("the upgrade did not succeed:\n" + text[-2000:])
    return text, marks, end


def steps_of(text, engine):
    """[(from, [statements that change the database])] in order."""
    steps = []
    for part in re.split(r"(?=Upgrading from version \d+ to \d+\n)", text):
        m = STEP.match(part)
        if not m:
            continue
        # A statement that failed is reported right after its trace; the
        # engine did not apply it, so the replay leaves it out.
        events = sorted([(m.start(), "sent", m.group(1)) for m in TRACE.finditer(part)] +
                        [(m.start(), "failed", m.group(1)) for m in FAILED.finditer(part)])
        statements = []
        for _, kind, text in events:
            if kind == "sent":
                statements.append(text)
            elif statements and statements[-1].startswith(text[:4096]):
                statements.pop()
        statements = [s for s in statements
                      if not READ.match(s) and "tvdbmgr_upgrade_journal" not in s and s.strip() != "COMMIT"]
        # The statements sent without a trace (whose failure means absence)
        # are put back where the tool sends them: 52 -> 53 removes the old
        # template before it stores the new, and each table's old time-stamp
        # index (made by 24 -> 25, asked with -f) before its new one.
        if int(m.group(1)) == 52:
            statements = [SILENT_52] + with_old_index_drops(statements, engine)
        steps.append((int(m.group(1)), statements))
    return steps


# MySQL/MariaDB read the catalogue first and trace the one ALTER TABLE
# that swaps a table's indexes, so nothing of theirs is put back.
OLD_INDEX_DROP = {
    "pgsql": "DROP INDEX IF EXISTS idx_idata_%d_timestamp",
    "sqlite": "DROP INDEX IF EXISTS idx_idata_%d_timestamp",
}
NEW_INDEX = re.compile(r"CREATE INDEX idx_idata_(\d+)_\w+ ON idata_")


def with_old_index_drops(statements, engine):
    """52 -> 53's statements with the untraced drop of each table's old
    index before the table's new one, unless the trace drops it itself."""
    traced = {int(d) for s in statements for d in re.findall(r"DROP INDEX idx_idata_(\d+)_timestamp\b", s)}
    out = []
    for s in statements:
        m = NEW_INDEX.match(s)
        if m and engine in OLD_INDEX_DROP and int(m.group(1)) not in traced:
            out.append(OLD_INDEX_DROP[engine] % int(m.group(1)))
        out.append(s)
    return out


CLOCK = {
    "pgsql": "SELECT '%s', extract(epoch from clock_timestamp());",
    "mysql": "SELECT '%s', UNIX_TIMESTAMP(NOW(6));",
    "sqlite": "SELECT '%s', (julianday('now') - 2440587.5) * 86400.0;",
}


def replay(args, env, directory, steps):
    """Seconds per step (from) and in all: one session, each step in a
    transaction of its own, the steps marked by a read of the clock."""
    path = os.path.join(directory, "replay.sql")
    with open(path, "w") as f:
        if args.engine == "mysql":
            f.write("SET SESSION sql_mode='NO_ENGINE_SUBSTITUTION';\n")
        for start, statements in steps:
            f.write(CLOCK[args.engine] % ("step %d" % start) + "\nBEGIN;\n")
            for s in statements:
                f.write(s.rstrip().rstrip(";") + ";\n")
            f.write("COMMIT;\n")
        f.write(CLOCK[args.engine] % "end" + "\n")
    if args.engine == "pgsql":
        command = ["psql", "-h", "127.0.0.1", "-p", str(args.port), "-U", "tvtest", "-q", "-X", "-A", "-t", "-F",
                   "\t", "-v", "ON_ERROR_STOP=1", "-f", path, args.database]
    elif args.engine == "mysql":
        command = ["mysql", "-h", "127.0.0.1", "-P", str(args.port), "-u", "tvtest", "-N", "-B", args.database]
    else:
        command = ["sqlite3", "-bail", "-separator", "\t", args.database]
    begin = time.monotonic()
    with open(path) as f:
        out = subprocess.run(command, stdin=f if args.engine != "pgsql" else subprocess.DEVNULL,
                             capture_output=True, text=True, env=env)
    total = time.monotonic() - begin
    if out.returncode != 0:
        sys.exit("the replay failed: " + out.stderr[-2000:])
    stamps = [(line.split("\t")[0], float(line.split("\t")[1])) for line in out.stdout.splitlines()
              if line.startswith("step ") or line.startswith("end\t")]
    times = {}
    for (label, at), (_, after) in zip(stamps, stamps[1:]):
        times[int(label.split()[1])] = after - at
    return times, total


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--engine", required=True, choices=["pgsql", "mysql", "sqlite"])
    p.add_argument("--database", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--tool", default="build/bin/tvdbmgr")
    p.add_argument("--steps", default="")
    p.add_argument("--rounds", type=int, default=1)
    args = p.parse_args()
    shown = {int(s) for s in args.steps.split(",") if s}
    env = server_env(args)
    directory = tempfile.mkdtemp(prefix="tvdbmgr-replay.")
    saved = os.path.join(directory, "saved")
    save(args, env, saved)
    conf = config(args, directory)
    tool_rounds, replay_rounds = [], []
    try:
        for _ in range(args.rounds):
            restore(args, env, saved)
            text, marks, end = run_tool(args, env, conf)
            steps = steps_of(text, args.engine)
            tool_steps = {start: (marks[i + 1][1] if i + 1 < len(marks) else end) - at
                          for i, (start, at) in enumerate(marks)}
            tool_rounds.append((tool_steps, end))
            restore(args, env, saved)
            replay_rounds.append(replay(args, env, directory, steps))
        statements = {start: len(s) for start, s in steps}

        def median(values):
            return statistics.median(values) if values else float("nan")

        print("%-6s %8s %10s %10s %6s" % ("step", "stmts", "tool s", "replay s", "ratio"))
        for start, _ in steps:
            if shown and start not in shown:
                continue
            t = median([r[0].get(start, 0.0) for r in tool_rounds])
            r = median([r[0].get(start, 0.0) for r in replay_rounds])
            print("%-6d %8d %10.2f %10.2f %6.2f" % (start, statements[start], t, r, t / r if r > 0 else 0))
        t = median([r[1] for r in tool_rounds])
        r = median([r[1] for r in replay_rounds])
        print("%-6s %8d %10.2f %10.2f %6.2f   %s, %d round(s)" %
              ("all", sum(statements.values()), t, r, t / r if r > 0 else 0, args.engine, args.rounds))
    finally:
        restore(args, env, saved)
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
