#!/usr/bin/python3
"""The client matrix: real ODBC clients from Debian's packages query data
sources that the installer made for the Access driver, one table row per
client and case. Every expected answer is computed here from mdb-export's
rows of the same file (libmdb's reader), never from the driver.

Usage: client_matrix.py BUILD_DIR FIXTURES_DIR [CLIENT ...]
       client_matrix.py --installed PACKAGE_DIR FIXTURES_DIR [CLIENT ...]

The first registers the build tree's driver in a sandbox (ODBCSYSINI). The
second, as root, installs the package in a private mount namespace whose /etc,
/usr and /var are overlays that vanish with it, and uses /etc's registration
as a user of the installed package would.
"""
import csv
import datetime
import decimal
import glob
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
HOSTILE = "x' OR 'a'='a"
FIXTURES = ""
# The Qt client (qt_client.cpp), built beside the tests.
QT_CLIENT = os.environ.get("TARNWICK_QT_CLIENT", "")

# Each client prints the rows of SQL on DSN (with PARAMs bound to its
# markers, as text) tab-separated, NULL as NULL, "ERROR: ..." on failure;
# the SQL "TABLES" asks for the list of tables of type TABLE, and
# "PASTEND sql" fetches every row and then asks for three more, printing
# "AFTER n" with the number of further rows it was given (0 is right).
PYODBC = r'''
import sys, pyodbc
dsn, sql, param = sys.argv[1], sys.argv[2], sys.argv[3:]
try:
    cur = pyodbc.connect("dsn=" + dsn).cursor()
    past = sql.startswith("PASTEND ")
    rows = [(t.table_name,) for t in cur.tables(tableType="TABLE")] if sql == "TABLES" else cur.execute(sql[8:] if past else sql, *param).fetchall()
    for row in rows:
        print("\t".join("NULL" if v is None else str(v) for v in row))
    if past:
        print("AFTER", sum(cur.fetchone() is not None for _ in range(3)))
except pyodbc.Error as e:
    print("ERROR:", e)
'''
# pandas reads in chunks of three rows: it stops only at the end of the rows.
PANDAS = r'''
import sys, warnings, pyodbc, pandas
warnings.simplefilter("ignore")
dsn, sql, param = sys.argv[1], sys.argv[2], sys.argv[3:]
try:
    chunks = pandas.read_sql(sql, pyodbc.connect("DSN=" + dsn), params=param or None, chunksize=3)
    for chunk in chunks:
        for row in chunk.itertuples(index=False):
            print("\t".join("NULL" if v is None or v != v else str(v) for v in row))
except Exception as e:
    print("ERROR:", e)
'''
PDO = r'''<?php
[$dsn, $sql] = [$argv[1], $argv[2]];
try {
  $c = new PDO("odbc:$dsn", "", "", [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
  $past = str_starts_with($sql, "PASTEND ");
  $s = $c->prepare($past ? substr($sql, 8) : $sql);
  $s->execute(array_slice($argv, 3));
  while (($row = $s->fetch(PDO::FETCH_NUM)) !== false)
    echo implode("\t", array_map(fn($v) => $v === null ? "NULL" : $v, $row)), "\n";
  if ($past) { $n = 0; for ($i = 0; $i < 3; $i++) $n += $s->fetch(PDO::FETCH_NUM) !== false; echo "AFTER $n\n"; }
} catch (PDOException $e) { echo "ERROR: ", $e->getMessage(), "\n"; }
'''
PHP = r'''<?php
[$dsn, $sql] = [$argv[1], $argv[2]];
$c = odbc_connect($dsn, "", "");
$past = str_starts_with($sql, "PASTEND ");
if ($sql === "TABLES") { $r = odbc_tables($c, null, null, null, "TABLE"); }
else { $r = odbc_prepare($c, $past ? substr($sql, 8) : $sql); if ($r && !@odbc_execute($r, array_slice($argv, 3))) $r = false; }
if (!$r) { echo "ERROR: ", odbc_errormsg($c), "\n"; exit; }
while ($row = odbc_fetch_array($r)) {
  if ($sql === "TABLES") $row = [$row["TABLE_NAME"]];
  echo implode("\t", array_map(fn($v) => $v === null ? "NULL" : $v, array_values($row))), "\n";
}
if ($past) { $n = 0; for ($i = 0; $i < 3; $i++) $n += odbc_fetch_row($r) ? 1 : 0; echo "AFTER $n\n"; }
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
    if param or sql.startswith("PASTEND "):
        return None  # RODBC binds no parameters and fetches only to the end.
    return ["Rscript", "-e", R, dsn, sql]


def isql(dsn, sql, param):
    if param or sql == "TABLES" or sql.startswith("PASTEND "):
        return None  # isql binds no parameters, lists no tables, fetches to the end.
    # isql shows NULL as an empty field, and its errors (-v: with the
    # driver's record) on stderr.
    return ["sh", "-c", 'printf "%s\\n" "$1" | isql -v -b -x0x09 "$0" 2>&1 | grep -v "^SQLRowCount" | sed "s/\t\t/\tNULL\t/g; s/\t\t/\tNULL\t/g; s/\t$/\tNULL/; s/^\t/NULL\t/; s/^\\[ISQL\\]ERROR/ERROR/"', dsn, sql]


def without(*modes):
    """A client that cannot list tables ("TABLES") or fetch past the end
    ("PASTEND") through its own interface: those cases are n/a for it."""
    def wrap(command):
        return lambda d, s, p: None if any(s.startswith(m) for m in modes) else command(d, s, p)
    return wrap


CLIENTS = {
    "pyodbc": lambda d, s, p: ["/usr/bin/python3", "-c", PYODBC, d, s] + p,
    "php": lambda d, s, p: ["php", "-r", PHP.replace("<?php", ""), "--", d, s] + p,
    "pdo": without("TABLES")(lambda d, s, p: ["php", "-r", PDO.replace("<?php", ""), "--", d, s] + p),
    # DBI hands out no rows of a finished statement, whatever the driver says.
    "perl": without("PASTEND")(lambda d, s, p: ["perl", "-e", PERL, d, s] + p),
    "pandas": without("TABLES", "PASTEND")(lambda d, s, p: ["/usr/bin/python3", "-c", PANDAS, d, s] + p),
    "qt": lambda d, s, p: [QT_CLIENT, d, s] + p,
    "isql": isql,
    "r": r,
    "base": without("PASTEND")(
        lambda d, s, p: ["/usr/bin/python3", os.path.join(HERE, "base_client.py"), BASE_PROFILE, d, s] + p),
}
BASE_PROFILE = ""

NULL_MARK = "\x01NULL\x01"
FILES = {"jet3": "jackcess/testV1997.mdb", "nulls": "jackcess/test2V2003.mdb",
         "unicode": "jackcess/testUnicodeCompV2003.mdb", "dates": "dates.mdb"}


def export(path, table):
    """A table's rows as mdb-export reads them: text, NULL as None, dates as
    the engine's text form."""
    out = subprocess.run(["mdb-export", "-b", "strip", "-0", NULL_MARK, "-T", "%Y-%m-%d %H:%M:%S", path, table],
                         capture_output=True, text=True, check=True).stdout
    return [{k: None if v == NULL_MARK else v for k, v in row.items()} for row in csv.DictReader(io.StringIO(out))]


def same(printed, expected):
    """One printed field against its expected value: NULL, a number (however
    the client spells it), a date (as a prefix: some clients add fractions),
    or text."""
    if expected is None:
        return printed == "NULL"
    if isinstance(expected, (int, float, decimal.Decimal)):
        try:
            return abs(decimal.Decimal(printed) - decimal.Decimal(expected)) <= decimal.Decimal("1e-9") * max(1, abs(decimal.Decimal(expected)))
        except decimal.InvalidOperation:
            return False
    if isinstance(expected, datetime.datetime):
        return printed.replace("T", " ").startswith(expected.strftime("%Y-%m-%d %H:%M:%S"))
    return printed == expected


def rows_are(expected):
    """The check that the printed rows are exactly `expected`, in order."""
    def check(rows):
        return len(rows) == len(expected) and all(
            len(row.split("\t")) == len(want) and all(same(f, w) for f, w in zip(row.split("\t"), want))
            for row, want in zip(rows, expected))
    return check


def when(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")


def make_cases(fixtures, generated):
    """Every case with its expected rows, computed from mdb-export's rows."""
    path = {dsn: os.path.join(fixtures, f) for dsn, f in FILES.items()}
    t1 = export(path["jet3"], "Table1")
    by_a = sorted(t1, key=lambda r: r["A"])
    first, second = t1[0], t1[1]
    projects = export(path["nulls"], "MSP_PROJECTS")
    uni = export(path["unicode"], "Table")
    dates = export(path["dates"], "DateTest")
    printable = [r for r in uni if r["Unicode"] is not None and r["Unicode"].isprintable()]
    apostrophe = next(r["Unicode"] for r in uni if r["Unicode"] and "'" in r["Unicode"])
    cyrillic = next(r["Unicode"] for r in uni if r["Unicode"] and any("\u0400" <= c <= "\u04ff" for c in r["Unicode"]))
    tables = subprocess.run(["mdb-tables", "-1", path["jet3"]], capture_output=True, text=True, check=True).stdout.split()
    money = [decimal.Decimal(r["H"]) for r in t1]
    day = when(second["G"])
    null_columns = ["PROJ_PROP_CATEGORY", "PROJ_INFO_STATUS_DATE", "PROJ_TYPE", "PROJ_CHECKEDOUT", "PROJ_CHECKEDOUTDATE"]
    cases = [
        ("count", "jet3", "select count(*) from Table1", [], rows_are([[len(t1)]])),
        ("row with NULLs", "nulls", "select %s from MSP_PROJECTS" % ", ".join(null_columns), [],
         rows_are([[r[c] for c in null_columns] for r in projects])),
        ("IS NULL", "nulls", "select PROJ_ID from MSP_PROJECTS where PROJ_TYPE is null and PROJ_NAME is not null", [],
         rows_are([[int(r["PROJ_ID"])] for r in projects if r["PROJ_TYPE"] is None and r["PROJ_NAME"] is not None])),
        # MSys tables are SYSTEM TABLEs, not listed as tables.
        ("table list", "jet3", "TABLES", [], lambda rows: sorted(rows) == sorted(tables)),
        ("date", "jet3", "select G from Table1 where A = 'a'", [],
         rows_are([[when(r["G"])] for r in t1 if r["A"] == "a"])),
        ("#date#", "jet3", "select A from Table1 where G = #%d/%d/%d#" % (day.month, day.day, day.year), [],
         rows_are([[r["A"]] for r in t1 if when(r["G"]) == day])),
        ("{d} escape", "jet3", "select A from Table1 where G = {d '%s'}" % first["G"][:10], [],
         rows_are([[r["A"]] for r in t1 if r["G"][:10] == first["G"][:10]])),
        ("currency", "jet3", "select sum(H), sum(H) * 2, max(H) - min(H) from Table1", [],
         rows_are([[sum(money), 2 * sum(money), max(money) - min(money)]])),
        ("TOP", "jet3", "select top 1 A, E from Table1 order by E desc", [],
         rows_are([[r["A"], int(r["E"])] for r in sorted(t1, key=lambda r: -int(r["E"]))[:1]])),
        ("IIf Nz Year", "jet3", "select A, IIf(I, 'yes', 'no'), Nz(B, 'none'), Year(G) from Table1 order by A", [],
         rows_are([[r["A"], "yes" if r["I"] == "1" else "no", r["B"] if r["B"] is not None else "none",
                    when(r["G"]).year] for r in by_a])),
        ("parameter", "jet3", "select A, G from Table1 where A = ?", [second["A"]],
         rows_are([[second["A"], when(second["G"])]])),
        # Access compares text without case.
        ("text without case", "jet3", "select A from Table1 where A = ?", [second["A"].upper()],
         rows_are([[r["A"]] for r in t1 if r["A"].lower() == second["A"].lower()])),
        ("integer parameter", "jet3", "select A from Table1 where E = ?", [second["E"]],
         rows_are([[r["A"]] for r in t1 if r["E"] == second["E"]])),
        ("date parameter", "jet3", "select A from Table1 where G = ?", [second["G"]],
         rows_are([[r["A"]] for r in t1 if r["G"] == second["G"]])),
        # PHP and Perl bind a date as the text the user typed, often without a time.
        ("date-only parameter", "jet3", "select A from Table1 where G = ?", [second["G"][:10]],
         rows_are([[r["A"]] for r in t1 if r["G"][:10] == second["G"][:10] and r["G"][11:] == "00:00:00"])),
        ("hostile parameter", "jet3", "select A from Table1 where A = ?", [HOSTILE], rows_are([])),
        ("apostrophe parameter", "unicode", 'select ID from "Table" where "Unicode" = ?', [apostrophe],
         rows_are([[int(r["ID"])] for r in uni if r["Unicode"] == apostrophe])),
        ("non-ASCII parameter", "unicode", 'select ID from "Table" where "Unicode" = ?', [cyrillic],
         rows_are([[int(r["ID"])] for r in uni if r["Unicode"] == cyrillic])),
        # Base opens a table by name; the others read it with SELECT *.
        ("open table", "unicode", "TABLE Table", [],
         lambda rows: all("%s\t%s" % (r["ID"], r["Unicode"]) in rows for r in printable)),
        ("non-ASCII text", "unicode", 'select * from "Table" where ID = %s' % printable[2]["ID"], [],
         rows_are([[int(printable[2]["ID"]), printable[2]["Unicode"]]])),
        ("memo", "dates", "select IDCol, LongTextCol from DateTest where IDCol = 1", [],
         rows_are([[1, r["LongTextCol"]] for r in dates if r["IDCol"] == "1"])),
        ("past the end", "jet3", "PASTEND select A from Table1 order by A", [],
         lambda rows: rows_are([[r["A"]] for r in by_a] + [["AFTER", 0]])(
             [r.replace("AFTER ", "AFTER\t") for r in rows])),
        ("INSERT refused", "jet3", "insert into Table1 (A) values ('x')", [],
         lambda rows: any(r.startswith("ERROR") for r in rows) and any("read-only" in r for r in rows)
         and unchanged(path["jet3"])),
    ]
    if "related" in generated:
        cases += related_cases(generated["related"])
    if "retyped" in generated:
        cases += retyped_cases(generated["retyped"])
    return cases


def related_cases(path):
    """A join and a GROUP BY over two tables that share a key: Table1.D
    refers to Table3.a in the generated file."""
    rows, keys = export(path, "Table1"), export(path, "Table3")
    names = {k["a"]: k["b"] for k in keys if k["a"] is not None}
    joined = sorted(((int(r["E"]), names[r["D"]]) for r in rows if r["D"] in names), key=lambda p: p[0])
    groups = {}
    for r in rows:
        if r["D"] in names:
            count, total = groups.get(int(r["D"]), (0, 0))
            groups[int(r["D"])] = (count + 1, total + int(r["E"]))
    return [
        ("join", "related", "select t.E, k.b from Table1 t inner join Table3 k on t.D = k.a order by t.E", [],
         rows_are([[e, b] for e, b in joined])),
        ("GROUP BY, ORDER BY", "related",
         "select k.a, count(*), sum(t.E) from Table1 as t, Table3 as k where t.D = k.a group by k.a order by k.a desc",
         [], rows_are([[a, c, s] for a, (c, s) in sorted(groups.items(), reverse=True)])),
    ]


CHECKSUMS = {}


def checksum(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def unchanged(path):
    return checksum(path) == CHECKSUMS[path]


def retyped_cases(path):
    """A Single column read and computed with: Table1.F of the generated file,
    whose rows E 1000 and 1001 hold 1.1 and -3.4e38 as Singles. mdb-export
    prints a Single's shortest decimal; the value is that decimal rounded to
    a 4-byte float."""
    rows = {int(r["E"]): r for r in export(path, "Table1")}
    single = {e: struct.unpack("<f", struct.pack("<f", float(rows[e]["F"])))[0] for e in (1000, 1001)}
    return [
        ("Single", "retyped", "select E, F, F * 2 from Table1 where E in (1000, 1001) order by E", [],
         rows_are([[e, single[e], single[e] * 2] for e in (1000, 1001)])),
    ]


def make_generated_files(sandbox):
    """Files made by the tests' generator with libmdb's own row packing into a
    copy of a fixture: two related tables, and Table1 with a Single and a
    Binary column. Empty where the generator is not built."""
    generator = os.environ.get("TARNWICK_MAKE_ACCESS_FILE", "")
    if not os.access(generator, os.X_OK):
        return {}
    jet3 = os.path.join(FIXTURES, FILES["jet3"])
    made = {"related": os.path.join(sandbox, "related.mdb"), "retyped": os.path.join(sandbox, "retyped.mdb")}
    subprocess.run([generator, jet3, made["related"], "60", "7"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([generator, "--retype", jet3, made["retyped"]], check=True, stdout=subprocess.DEVNULL)
    return made


def make_data_sources(build, fixtures, sandbox, generated):
    if build is not None:
        subprocess.run([os.path.join(TOP, "scripts", "make-sandbox.sh"), build, sandbox], check=True)
        os.environ["ODBCSYSINI"] = sandbox
    # The tests' installer client (tests/driver_setup): SQLConfigDataSource in
    # a program of this build, which in a sanitized build carries the runtime
    # the setup library needs.
    client = os.environ.get("TARNWICK_CONFIG_DSN_CLIENT",
                            os.path.join(TOP, "build", "tests", "driver_setup", "config_dsn_client"))
    sources = [(dsn, os.path.join(fixtures, f)) for dsn, f in FILES.items()]
    sources += sorted(generated.items())
    for dsn, path in sources:
        folder, name = os.path.split(path)
        # The attribute list as the program builds it.
        attributes = ["DSN=" + dsn, "FIL=MS Access", "JetIniPath=odbcddp.ini", "DBQ=" + name,
                      "DefaultDir=" + folder + "/", "Description=", "UID=", "PWD="]
        made = subprocess.run([client, "add-sys", "Microsoft Access Driver (*.mdb)"] + attributes,
                              capture_output=True, text=True)
        if made.returncode != 0:
            sys.exit("the installer refused the data source %s: %s" % (dsn, made.stdout + made.stderr))
        CHECKSUMS[path] = checksum(path)


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


def names_another_sqlite_driver(sandbox):
    """An administrator may name another sqliteodbc build in the driver's own
    odbcinst.ini section; the driver then loads that one, or says it cannot."""
    with open(os.path.join(sandbox, "odbcinst.ini"), "a") as entry:
        entry.write("SQLiteDriver=/nonexistent/libsqlite3odbc.so\n")
    out = subprocess.run(CLIENTS["pyodbc"]("jet3", "select count(*) from Table1", []),
                         capture_output=True, text=True, timeout=60)
    ok = "Cannot load the SQLite ODBC driver /nonexistent/libsqlite3odbc.so" in out.stdout
    print("%s pyodbc  %-20s %s" % ("PASS" if ok else "FAIL", "other SQLite driver", out.stdout.strip()[:150]))
    return ok


def main():
    global BASE_PROFILE, FIXTURES
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
        FIXTURES = fixtures
        generated = make_generated_files(sandbox)
        if not generated:
            print("SKIP join, GROUP BY, Single: the tests' file generator is not built")
        make_data_sources(build, fixtures, sandbox, generated)
        cases = make_cases(fixtures, generated)
        passed = {}
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
            if client == "pandas" and subprocess.run(["/usr/bin/python3", "-c", "import pandas"],
                                                     capture_output=True).returncode:
                print("SKIP pandas: python3-pandas is not installed")
                continue
            if client == "qt" and not os.access(QT_CLIENT, os.X_OK):
                print("SKIP qt: the Qt client is not built (Qt 6 SQL missing)")
                continue
            if client == "qt" and not glob.glob("/usr/lib/*/qt6/plugins/sqldrivers/libqsqlodbc.so"):
                print("SKIP qt: Qt's ODBC driver (libqt6sql6-odbc) is not installed")
                continue
            passed[client] = [0, 0]
            for case, dsn, sql, param, check in cases:
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
                passed[client][0] += ok
                passed[client][1] += 1
                print("%s %-7s %-20s %s" % ("PASS" if ok else "FAIL", client, case, " | ".join(rows)[:150]))
        print("cases passed: " + ", ".join("%s %d/%d" % (c, p, n) for c, (p, n) in passed.items()))
        if not installed and "pyodbc" in wanted:
            failures += not names_another_sqlite_driver(sandbox)
    finally:
        if installed:
            subprocess.run(["umount", "--lazy", sandbox])
        shutil.rmtree(sandbox, ignore_errors=True)
    return 1 if failures else 0


sys.exit(main())
