// A user's whole request on the real window, with the real toolkit and the real
// installer: type the three values, press Create, and open the database
// through the new data source with another ODBC client.

#include <filesystem>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "form_harness.h"
#include "odbc_sandbox.h"

using namespace tarnwick::testing;

class EndToEndTest : public QObject {
    Q_OBJECT

    OdbcSandbox sandbox_;

    static void PressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

private slots:
    void initTestCase() { sandbox_.Export(); }

    void typedValuesGiveAWorkingDataSource() {
        const std::string database = FixturePath("dates.mdb");
        QVERIFY2(std::filesystem::is_regular_file(database), database.c_str());
        const std::string directory = database.substr(0, database.rfind('/') + 1);
        const std::filesystem::path startDirectory = std::filesystem::current_path();
        // As after browsing for the file: its folder is the current directory,
        // so the bare name typed below exists.
        std::filesystem::current_path(directory);

        TForm1 form;
        ShowAsMainWindow(form);
        // Any box that opens would be unexpected; close it and let the checks fail.
        BoxAnswerer answerer(QMessageBox::Cancel);

        QVERIFY(form.DBNameBtn->hasFocus());
        PressTab();
        QVERIFY(form.DBNameEdit->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), "dates.mdb");
        PressTab();
        QVERIFY(form.DSNNameEdit->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), "Tarnwick Dates");
        PressTab();
        QVERIFY(form.DirectoryEdit->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(directory));
        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);

        std::filesystem::current_path(startDirectory);
        QCOMPARE(answerer.seen(), QStringList());
        QCOMPARE(LogText(form), QString("Database name: dates.mdb\n"
                                        "DSN: Tarnwick Dates\n"
                                        "Creating System DSN...\n"
                                        "System DSN created successfully!"));
        QVERIFY(!form.CancelBBtn->isEnabled());
        QCOMPARE(form.DBNameEditTag(), 0);

        const CommandResult query = RunIsql(sandbox_, "Tarnwick Dates", "SELECT IDCol FROM DateTest\n");
        QVERIFY2(query.exitCode == 0, query.output.c_str());
        QVERIFY2(query.output.find("6 rows fetched") != std::string::npos, query.output.c_str());
    }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
