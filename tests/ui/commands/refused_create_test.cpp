// The Create command when the installer refuses: the Access driver is not
// registered in this process's sandbox, so unixODBC itself answers with its
// error records.

#include <memory>
#include <string>
#include <vector>

#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "form_harness.h"
#include "odbc_sandbox.h"

using namespace tarnwick::testing;

class RefusedCreateTest : public QObject {
    Q_OBJECT

    OdbcSandbox sandbox_{OdbcSandbox::Driver::NotRegistered};
    ScriptedToolkit toolkit_;
    CountingInstaller installer_;

private slots:
    void initTestCase() { sandbox_.Export(); }

    void reportsTheInstallerRecords_data() {
        QTest::addColumn<bool>("cancelEnabled");
        QTest::newRow("Cancel enabled") << true;
        QTest::newRow("Cancel disabled by an earlier success") << false;
    }

    void reportsTheInstallerRecords() {
        QFETCH(bool, cancelEnabled);
        RecordingForm form;
        form.SetToolkit(toolkit_);
        form.SetInstaller(installer_);
        ShowAsMainWindow(form);
        Fill(form, "sales.mdb", "Sales", "/srv/data/");
        form.CancelBBtn->setEnabled(cancelEnabled);

        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);

        QCOMPARE(installer_.requests, 1);
        QVERIFY(toolkit_.boxes.empty());
        const std::vector<std::string> head = {
            "Database name: sales.mdb",
            "DSN: Sales",
            "Creating System DSN...",
            "Error creating DSN (CreateDSN):From button",
        };
        QVERIFY(form.loggedLines.size() > head.size());
        QCOMPARE(std::vector<std::string>(form.loggedLines.begin(), form.loggedLines.begin() + 4), head);
        // unixODBC's own record for a driver it does not know.
        QCOMPARE(form.loggedLines[4], std::string(" ODBC Error 1: General installer error\n"));
        const QRegularExpression recordLine(R"(^ ODBC Error -?\d+: [^\n]*\n$)");
        for (std::size_t i = 4; i < form.loggedLines.size(); ++i) {
            QVERIFY2(recordLine.match(QString::fromStdString(form.loggedLines[i])).hasMatch(),
                     form.loggedLines[i].c_str());
        }
        QVERIFY(!LogText(form).contains("No ODBC driver error messages provided."));
        QCOMPARE(form.CancelBBtn->isEnabled(), cancelEnabled);
        QCOMPARE(sandbox_.ReadOdbcIni(), std::string());
        installer_.requests = 0;
    }
};

QTEST_MAIN(RefusedCreateTest)
#include "refused_create_test.moc"
