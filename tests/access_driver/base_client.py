"""LibreOffice Base as a client: stores a .odb document on sdbc:odbc:<DSN>,
opens it again, and answers one case of the client matrix on stdout.

Usage: base_client.py PROFILE_DIR DSN SQL [PARAM]
SQL "TABLES" lists the tables, "TABLE name" opens one as Base opens a table.
"""
import os
import subprocess
import sys
import time

import uno
from com.sun.star.beans import PropertyValue


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


def start_office(profile):
    pipe = "tarnwick%d" % os.getpid()
    office = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
         "-env:UserInstallation=file://" + profile, "--accept=pipe,name=%s;urp;" % pipe],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    resolver = uno.getComponentContext().ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", uno.getComponentContext())
    for _ in range(600):
        try:
            return office, resolver.resolve(
                "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except Exception:
            time.sleep(0.1)
    office.kill()
    sys.exit("LibreOffice did not answer")


def main():
    profile, dsn, sql = sys.argv[1:4]
    param = sys.argv[4] if len(sys.argv) > 4 else None
    office, ctx = start_office(profile)
    try:
        smgr = ctx.ServiceManager
        dbctx = smgr.createInstanceWithContext("com.sun.star.sdb.DatabaseContext", ctx)
        # A document that uses only the ODBC connection, no embedded engine.
        source = dbctx.createInstance()
        source.URL = "sdbc:odbc:" + dsn
        odb = uno.systemPathToFileUrl(os.path.join(profile, dsn + ".odb"))
        source.DatabaseDocument.storeAsURL(odb, ())
        source = dbctx.getByName(odb)
        conn = source.getConnection("", "")
        if sql == "TABLES":
            print("\n".join(conn.Tables.ElementNames))
            return
        rowset = smgr.createInstanceWithContext("com.sun.star.sdb.RowSet", ctx)
        rowset.ActiveConnection = conn
        if sql.startswith("TABLE "):
            # As Base opens a table: the table as a command of type TABLE.
            rowset.CommandType = 0
            rowset.Command = sql[6:]
        else:
            rowset.CommandType = 2
            rowset.Command = sql
            rowset.EscapeProcessing = False
        if param is not None:
            rowset.setString(1, param)
        try:
            rowset.execute()
        except Exception as e:
            print("ERROR:", getattr(e, "Message", e))
            return
        columns = rowset.Columns.ElementNames
        while rowset.next():
            print("\t".join("NULL" if rowset.getString(i + 1) == "" and rowset.wasNull()
                            else rowset.getString(i + 1) for i in range(len(columns))))
        conn.close()
    finally:
        try:
            desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
            desktop.terminate()
        except Exception:
            pass
        office.wait(timeout=30)


main()
