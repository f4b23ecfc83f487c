#!/usr/bin/python3
"""The client matrix: real ODBC clients from Debian's packages query data
sources that the installer made for the Access driver, one table row per
client and case.

Usage: client_matrix.py BUILD_DIR FIXTURES_DIR [CLIENT ...]
       client_matrix.py --installed PACKAGE_DIR FIXTURES_DIR [CLIENT ...]

The first registers the build tree's driver in a sandbox (ODBCSYSINI). The
second, as root, installs the package in a private mount namespace whose /etc,
/usr and /var are overlays that vanish with it, and uses /etc's registration
as a user of the installed package would.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
HOSTILE = "x' OR 'a'='a"

# Each client prints the rows of SQL on DSN (with PARAM bound to its one
# marker when given) tab-separated, NULL as NULL, "ERROR: ..." on failure;
# the SQL "TABLES" asks for the table list.
PYODBC = r'''
import sys, pyodbc
dsn, sql, param = sys.argv[1], sys.argv[2], sys.argv[3:]
try:
    cur = pyodbc.connect("DSN=" + dsn).cursor()
    rows = [(t.table_name,) for t in cur.tables(tableType="TABLE")] if sql == "TABLES" else cur.execute(sql, *param).fetchall()
    for row in rows:
        print("\t".join("NULL" if v is None else str(v) for v in row))
except pyodbc.Error as e:
    print("ERROR:", e)
'''
PHP = r'''<?php
[$dsn, $sql] = [$argv[1], $argv[2]];
$c = odbc_connect($dsn, "", "");
if ($sql === "TABLES") { $r = odbc_tables($c, null, null, null, "TABLE"); }
else { $r = odbc_prepare($c, $sql); if ($r && !@odbc_execute($r, array_slice($argv, 3))) $r = false; }
if (!$r) { echo "ERROR: ", odbc_errormsg($c), "\n"; exit; }
while ($row = odbc_fetch_array($r)) {
  if ($sql === "TABLES") $row = [$row["TABLE_NAME"]];
  echo implode("\t", array_map(fn($v) => $v === null ? "NULL" : $v, array_values($row))), "\n";
}
'''
PERL = r'''
use DBI;
my ($dsn, $sql, @param) = @ARGV;
my $d = DBI->connect("dbi:ODBC:$dsn", "", "", {RaiseError => 1, PrintError => 0, LongReadLen => 65536});
my $rows = eval {
  $sql eq "TABLES" ? [map { [$_->[2]] } @{$d->table_info(undef, undef, undef, "TABLE")->fetchall_arrayref}]
                   : $d->selectall_arrayref($sql, undef, @param) };
if (!$rows) { print "ERROR: $@"; exit; }
binmode STDOUT; print join("\t", map { defined $_ ? $_ : "NULL" } @$_), "\n" for @$rows;
'''
R = r'''
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(RODBC))
ch <- odbcConnect(args[1])
rows <- if (args[2] == "TABLES") sqlTables(ch, tableType = "TABLE")["TABLE_NAME"] else
  sqlQuery(ch, args[2], as.is = TRUE, errors = TRUE)
close(ch)
if (!is.data.frame(rows)) { cat("ERROR:", rows, "\n"); quit() }
rows[is.na(rows)] <- "NULL"
if (nrow(rows) > 0) writeLines(do.call(paste, c(rows, sep = "\t")))
'''


def r(dsn, sql, param):
    if param:
        return None  # RODBC binds no parameters.
    return ["Rscript", "-e", R, dsn, sql]


def isql(dsn, sql, param):
    if param or sql == "TABLES":
        return None  # isql binds no parameters and lists no tables on its own.
    # isql shows NULL as an empty field.
    return ["sh", "-c", 'printf "%s\\n" "$1" | isql -b -x0x09 "$0" | grep -v "^SQLRowCount" | sed "s/\t\t/\tNULL\t/g; s/\t\t/\tNULL\t/g; s/\t$/\tNULL/; s/^\t/NULL\t/"', dsn, sql]


CLIENTS = {
    "pyodbc": lambda d, s, p: ["/usr/bin/python3", "-c", PYODBC, d, s] + p,
    "php": lambda d, s, p: ["php", "-r", PHP.replace("<?php", ""), "--", d, s] + p,
    "perl": lambda d, s, p: ["perl", "-e", PERL, d, s] + p,
    "isql": isql,
    "r": r,
    "base": lambda d, s, p: ["/usr/bin/python3", os.path.join(HERE, "base_client.py"), BASE_PROFILE, d, s] + p,
}
BASE_PROFILE = ""

# case, data source, SQL, parameters, check of the printed rows
CASES = [
    ("count", "jet3", "select count(*) from Table1", [], lambda rows: rows == ["2"]),
    ("row with NULLs", "nulls",
     "select PROJ_PROP_CATEGORY, PROJ_INFO_STATUS_DATE, PROJ_TYPE, PROJ_CHECKEDOUT, PROJ_CHECKEDOUTDATE from MSP_PROJECTS",
     [], lambda rows: rows == ["\t".join(["NULL"] * 5)]),
    # mdbtools lists its system tables as tables too; Base hides them itself.
    ("table list", "jet3", "TABLES", [],
     lambda rows: sorted(r for r in rows if not r.startswith("MSys")) == ["Table1", "Table2", "Table3", "Table4"]),
    ("date", "jet3", "select G from Table1 where A = 'a'", [], lambda rows: len(rows) == 1 and rows[0].startswith("1981-12-12 00:00:00")),
    ("parameter", "jet3", "select A, G from Table1 where A = ?", ["abcdefg"],
     lambda rows: len(rows) == 1 and rows[0].startswith("abcdefg\t1974-09-21")),
    ("hostile parameter", "jet3", "select A from Table1 where A = ?", [HOSTILE],
     lambda rows: all(r.startswith("ERROR:") and "single quote" in r for r in rows) and len(rows) <= 1),
    # Base opens a table by name; the others read it with SELECT *.
    ("open table", "unicode", "TABLE Table", [], lambda rows: "2\tääkkösiä" in rows and "3\tМир" in rows),
    ("non-ASCII text", "unicode", 'select * from "Table" where ID = 3', [], lambda rows: rows == ["3\tМир"]),
]


def make_data_sources(build, fixtures, sandbox):
    if build is not None:
        subprocess.run([os.path.join(TOP, "scripts", "make-sandbox.sh"), build, sandbox], check=True)
        os.environ["ODBCSYSINI"] = sandbox
    # The tests' installer client (tests/driver_setup): SQLConfigDataSource in
    # a program of this build, which in a sanitized build carries the runtime
    # the setup library needs.
    client = os.environ.get("TARNWICK_CONFIG_DSN_CLIENT",
                            os.path.join(TOP, "build", "tests", "driver_setup", "config_dsn_client"))
    for dsn, path in [("jet3", "jackcess/testV1997.mdb"), ("nulls", "jackcess/test2V2003.mdb"),
                      ("unicode", "jackcess/testUnicodeCompV2003.mdb")]:
        folder, name = os.path.split(os.path.join(fixtures, path))
        # The attribute list as the program builds it.
        attributes = ["DSN=" + dsn, "FIL=MS Access", "JetIniPath=odbcddp.ini", "DBQ=" + name,
                      "DefaultDir=" + folder + "/", "Description=", "UID=", "PWD="]
        made = subprocess.run([client, "add-sys", "Microsoft Access Driver (*.mdb)"] + attributes,
                              capture_output=True, text=True)
        if made.returncode != 0:
            sys.exit("the installer refused the data source %s: %s" % (dsn, made.stdout + made.stderr))


def install_in_namespace(package, scratch):
    """Inside the private namespace: overlays, then dpkg installs the package."""
    for lower in ("/etc", "/usr", "/var"):
        layer = os.path.join(scratch, lower.strip("/"))
        os.makedirs(layer + "/upper")
        os.makedirs(layer + "/work")
        subprocess.run(["mount", "-t", "overlay", "tarnwick-clients", "-o",
                        "lowerdir=%s,upperdir=%s/upper,workdir=%s/work" % (lower, layer, layer), lower], check=True)
    subprocess.run(["dpkg", "-i", package], check=True, stdout=subprocess.DEVNULL)
    print(subprocess.run(["odbcinst", "-q", "-d", "-n", "Microsoft Access Driver (*.mdb)"],
                         capture_output=True, text=True, check=True).stdout.strip().replace("\n", "; "))


def names_another_mdbtools(sandbox):
    """An administrator may name another mdbtools build in the driver's own
    odbcinst.ini section; the driver then loads that one, or says it cannot."""
    with open(os.path.join(sandbox, "odbcinst.ini"), "a") as entry:
        entry.write("MdbtoolsDriver=/nonexistent/libmdbodbc.so\n")
    out = subprocess.run(CLIENTS["pyodbc"]("jet3", "select count(*) from Table1", []),
                         capture_output=True, text=True, timeout=60)
    ok = "Cannot load mdbtools' ODBC driver /nonexistent/libmdbodbc.so" in out.stdout
    print("%s pyodbc  %-18s %s" % ("PASS" if ok else "FAIL", "other mdbtools", out.stdout.strip()[:150]))
    return ok


def main():
    global BASE_PROFILE
    if sys.argv[1] == "--installed":
        if os.geteuid() != 0:
            print("SKIP: installing the package in a private mount namespace needs root")
            return 77
        if not os.environ.get("TARNWICK_IN_NAMESPACE"):
            os.environ["TARNWICK_IN_NAMESPACE"] = "1"
            return subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable] +
                                  sys.argv).returncode
    build, fixtures = sys.argv[1:3]
    wanted = sys.argv[3:] or list(CLIENTS)
    sandbox = tempfile.mkdtemp(prefix="tarnwick-clients-")
    BASE_PROFILE = os.path.join(sandbox, "base-profile")
    failures = 0
    installed = build == "--installed"
    try:
        if installed:
            subprocess.run(["mount", "-t", "tmpfs", "tarnwick-clients", sandbox], check=True)
            packages = glob.glob(os.path.join(sys.argv[2], "*.deb"))
            if len(packages) != 1:
                sys.exit("expected one package in %s, found %s" % (sys.argv[2], packages))
            install_in_namespace(os.path.abspath(packages[0]), os.path.join(sandbox, "layers"))
            build, fixtures = None, sys.argv[3]
            wanted = sys.argv[4:] or list(CLIENTS)
        make_data_sources(build, fixtures, sandbox)
        for client in wanted:
            if client == "base" and not shutil.which("soffice"):
                print("SKIP base: soffice is not installed")
                continue
            if client == "r" and subprocess.run(["Rscript", "-e", "library(RODBC)"], capture_output=True).returncode:
                print("SKIP r: RODBC is not installed")
                continue
            if client == "perl" and subprocess.run(["perl", "-MDBD::ODBC", "-e1"], capture_output=True).returncode:
                print("SKIP perl: DBD::ODBC is not installed (Debian 13 has no libdbd-odbc-perl)")
                continue
            for case, dsn, sql, param, check in CASES:
                if sql.startswith("TABLE ") and client != "base":
                    sql = 'select * from "%s"' % sql[6:]
                command = CLIENTS[client](dsn, sql, param)
                if command is None:
                    print("n/a  %-7s %s" % (client, case))
                    continue
                out = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=180)
                rows = [line for line in out.stdout.splitlines() if line]
                if out.returncode != 0:
                    rows.append("EXIT %d: %s" % (out.returncode, out.stderr.strip()[-300:]))
                ok = check(rows)
                failures += not ok
                print("%s %-7s %-18s %s" % ("PASS" if ok else "FAIL", client, case, " | ".join(rows)[:150]))
        if not installed and "pyodbc" in wanted:
            failures += not names_another_mdbtools(sandbox)
    finally:
        if installed:
            subprocess.run(["umount", "--lazy", sandbox])
        shutil.rmtree(sandbox, ignore_errors=True)
    return 1 if failures else 0


sys.exit(main())
