// The Create command against the real installer, in a sandbox where the Access
// driver is registered with our setup library.

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "form_harness.h"
#include "odbc_sandbox.h"

using namespace tarnwick::testing;

namespace {

std::vector<std::string> SuccessLines(const std::string& database, const std::string& dataSource) {
    return {"Database name: " + database, "DSN: " + dataSource, "Creating System DSN...",
            "System DSN created successfully!"};
}

std::string FixtureDirectory() {
    std::string directory = FixturePath("dates.mdb");
    return directory.substr(0, directory.rfind('/') + 1);
}

QString Joined(const std::vector<std::string>& lines) {
    QStringList text;
    for (const std::string& line : lines) {
        text.append(QString::fromStdString(line));
    }
    return text.join('\n');
}

// Stands for an installer waiting for an administrator: while its request
// runs, the window's events are processed (as the elevating installer's wait
// hook does) and Create is clicked again, then the window is closed.
class ReenteringInstaller : public CountingInstaller {
public:
    explicit ReenteringInstaller(TForm1& form) : form_(form) {}

    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override {
        if (requests == 0) {
            QTest::mouseClick(form_.BitBtn2, Qt::LeftButton);
            form_.BitBtn2Click();
            form_.close();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        return CountingInstaller::ConfigDataSource(parentWindow, request, driver, attributes);
    }

private:
    TForm1& form_;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Makes the System DSN request one the window must ask an administrator for:
// as root the effective user becomes nobody, otherwise the system folder is
// made read-only meanwhile.
class WithoutWriteAccess {
public:
    explicit WithoutWriteAccess(const std::string& systemFolder) : folder_(systemFolder) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            switched_ = nobody != nullptr && seteuid(nobody->pw_uid) == 0;
        } else {
            chmod(folder_.c_str(), 0555);
        }
    }
    ~WithoutWriteAccess() {
        if (switched_) {
            if (seteuid(0) != 0) {
                std::abort(); // every later test would run as nobody
            }
        } else {
            chmod(folder_.c_str(), 0700);
        }
    }
    WithoutWriteAccess(const WithoutWriteAccess&) = delete;
    WithoutWriteAccess& operator=(const WithoutWriteAccess&) = delete;

private:
    std::string folder_;
    bool switched_ = false;
};

} // namespace

class CreateCommandTest : public QObject {
    Q_OBJECT

    OdbcSandbox sandbox_;
    ScriptedToolkit toolkit_;
    CountingInstaller installer_;
    std::unique_ptr<RecordingForm> form_;

    void Press() { QTest::mouseClick(form_->BitBtn2, Qt::LeftButton); }

    // A new window whose installer runs a stand-in pkexec (in `standIn`) that
    // notes each run in "runs", answers "created" after `seconds`, and is
    // filled for a System DSN; returns the stand-in's folder.
    std::string ShowWithStandInPkexec(const QTemporaryDir& standIn, const std::string& seconds) {
        chmod(standIn.path().toUtf8().constData(), 0755);
        const std::string dir = standIn.path().toStdString();
        WriteFile(dir + "/pkexec", "#!/bin/sh\necho run >>'" + dir + "/runs'\ncat >/dev/null\nsleep " + seconds +
                                       "\nprintf 'tarnwick-system-dsn-answer 1\\nresult 1\\nend\\n'\n");
        WriteFile(dir + "/helper", "");
        chmod((dir + "/pkexec").c_str(), 0755);
        chmod((dir + "/helper").c_str(), 0755);

        form_ = std::make_unique<RecordingForm>();
        form_->SetToolkit(toolkit_);
        form_->SetElevationSettings({dir + "/helper", dir + "/pkexec", std::chrono::seconds(20), nullptr});
        ShowAsMainWindow(*form_);
        Fill(*form_, "dates.mdb", "ThroughPkexec", QString::fromStdString(FixtureDirectory()));
        return dir;
    }

private slots:
    void initTestCase() { sandbox_.Export(); }

    void init() {
        toolkit_ = ScriptedToolkit();
        installer_.requests = 0;
        sandbox_.WriteOdbcIni("");
        form_ = std::make_unique<RecordingForm>();
        form_->SetToolkit(toolkit_);
        form_->SetInstaller(installer_);
        ShowAsMainWindow(*form_);
    }

    void cleanup() { form_.reset(); }

    void refusesMissingOrUnsafeValues_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<bool>("cancelEnabled");
        QTest::addColumn<QString>("expected");

        const QString dbEmpty = "Database name can not be empty.";
        const QString dsnEmpty = "You must enter a name for DSN entry.";
        const QString dirEmpty = "Directory can not be empty.";
        const QString dbSemicolon = "Database name can not contain ';'.";
        const QString dsnSemicolon = "DSN name can not contain ';'.";
        const QString dirSemicolon = "Directory can not contain ';'.";

        QTest::newRow("all three empty") << ""
                                         << ""
                                         << "" << true << dbEmpty + "\n" + dsnEmpty + "\n" + dirEmpty;
        QTest::newRow("DSN and directory empty: no leading line feed") << "sales.mdb"
                                                                       << ""
                                                                       << "" << true << dsnEmpty + "\n" + dirEmpty;
        QTest::newRow("only the database empty") << ""
                                                 << "Sales"
                                                 << "/srv/data/" << true << dbEmpty;
        QTest::newRow("only the directory empty, Cancel disabled") << "sales.mdb"
                                                                   << "Sales"
                                                                   << "" << false << dirEmpty;
        QTest::newRow("DSN name adding a driver of its own") << "sales.mdb"
                                                             << "a;Driver=/tmp/x.so"
                                                             << "/srv/data/" << true << dsnSemicolon;
        QTest::newRow("semicolon in the database name") << "sales;x.mdb"
                                                        << "Sales"
                                                        << "/srv/data/" << true << dbSemicolon;
        QTest::newRow("semicolon in the directory, Cancel disabled") << "sales.mdb"
                                                                     << "Sales"
                                                                     << "/srv/data;PWD=x/" << false << dirSemicolon;
        QTest::newRow("a lone semicolon") << ";"
                                          << "Sales"
                                          << "/srv/data/" << true << dbSemicolon;
        QTest::newRow("semicolons in all three")
            << "a;b"
            << ";"
            << "c;" << true << dbSemicolon + "\n" + dsnSemicolon + "\n" + dirSemicolon;
        QTest::newRow("empty fields first, then semicolons")
            << ""
            << "x;y"
            << "" << true << dbEmpty + "\n" + dirEmpty + "\n" + dsnSemicolon;
    }

    void refusesMissingOrUnsafeValues() {
        QFETCH(QString, database);
        QFETCH(QString, dataSource);
        QFETCH(QString, directory);
        QFETCH(bool, cancelEnabled);
        QFETCH(QString, expected);

        Fill(*form_, database, dataSource, directory);
        form_->CancelBBtn->setEnabled(cancelEnabled);
        form_->AppendLogLine("a line from an earlier attempt");
        form_->loggedLines.clear();
        const FormState before = StateOf(*form_);

        Press();

        QCOMPARE(toolkit_.boxes.size(), 1u);
        QCOMPARE(QString::fromStdString(toolkit_.boxes[0].text), expected);
        QCOMPARE(toolkit_.boxes[0].caption, std::string("PARAMETER ERROR"));
        QCOMPARE(toolkit_.boxes[0].flags, ui::MB_ICONERROR);
        QCOMPARE(LogText(*form_), QString());
        QVERIFY(form_->loggedLines.empty());
        QCOMPARE(installer_.requests, 0);
        QCOMPARE(sandbox_.ReadOdbcIni(), std::string());
        QCOMPARE(StateOf(*form_), before);
    }

    void blanksCountAsFilled() {
        Fill(*form_, " ", " ", " ");
        Press();
        QVERIFY(toolkit_.boxes.empty());
        QCOMPARE(installer_.requests, 1);
        QVERIFY(!form_->loggedLines.empty());
        QCOMPARE(form_->loggedLines[0], std::string("Database name:  "));
    }

    void createsTheDataSource() {
        const std::string directory = FixtureDirectory();
        Fill(*form_, "dates.mdb", "TarnwickDates", QString::fromStdString(directory));
        QVERIFY(form_->CancelBBtn->isEnabled());

        Press();

        QVERIFY(toolkit_.boxes.empty());
        QCOMPARE(installer_.requests, 1);
        // Code 0 has no message: the core's four lines and nothing after them.
        QCOMPARE(form_->loggedLines, SuccessLines("dates.mdb", "TarnwickDates"));
        QCOMPARE(LogText(*form_), Joined(SuccessLines("dates.mdb", "TarnwickDates")));
        QVERIFY(!form_->CancelBBtn->isEnabled());
        QVERIFY(sandbox_.ReadOdbcIni().find("[TarnwickDates]") != std::string::npos);
        // The fields keep what the user typed.
        QCOMPARE(form_->DSNNameEdit->text(), QString("TarnwickDates"));

        const CommandResult query = RunIsql(sandbox_, "TarnwickDates", "SELECT IDCol FROM DateTest\n");
        QVERIFY2(query.exitCode == 0, query.output.c_str());
        QVERIFY2(query.output.find("6 rows fetched") != std::string::npos, query.output.c_str());
    }

    void onlyTheLastAttemptStaysInTheLog() {
        Fill(*form_, "first.mdb", "TarnwickFirst", "/srv/data/");
        Press();
        QCOMPARE(LogText(*form_), Joined(SuccessLines("first.mdb", "TarnwickFirst")));

        Fill(*form_, "second.mdb", "TarnwickSecond", "/srv/data/");
        Press();
        QCOMPARE(LogText(*form_), Joined(SuccessLines("second.mdb", "TarnwickSecond")));

        form_->DSNNameEdit->clear();
        Press();
        QCOMPARE(LogText(*form_), QString());
        QCOMPARE(toolkit_.boxes.size(), 1u);
    }

    void clickWhileCreatingStartsNoSecondRequest() {
        ReenteringInstaller reentering(*form_);
        form_->SetInstaller(reentering);
        Fill(*form_, "dates.mdb", "TarnwickOnce", QString::fromStdString(FixtureDirectory()));

        Press();

        QCOMPARE(reentering.requests, 1);
        QCOMPARE(form_->loggedLines, SuccessLines("dates.mdb", "TarnwickOnce"));
        // Once the first has returned, Create works again.
        form_->show();
        Press();
        QCOMPARE(reentering.requests, 2);
    }

    // The window's own installer through QProcess, with a stand-in pkexec that
    // answers after half a second: meanwhile the window keeps handling its
    // events and repainting, and a click on Create starts nothing.
    void helperRouteKeepsTheWindowPaintingAndIgnoresCreate() {
        QTemporaryDir standIn;
        QVERIFY(standIn.isValid());
        const std::string dir = ShowWithStandInPkexec(standIn, "0.5");

        PaintCounter counter;
        form_->Memo1->viewport()->installEventFilter(&counter);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            form_->Memo1->viewport()->update();
            if (ticks == 3) {
                Press();
            }
        });
        ticker.start(30);
        {
            const WithoutWriteAccess regularUser(sandbox_.Dir());
            Press();
        }
        ticker.stop();

        QCOMPARE(form_->loggedLines, SuccessLines("dates.mdb", "ThroughPkexec"));
        QCOMPARE(ReadFile(dir + "/runs"), std::string("run\n"));
        QVERIFY2(ticks >= 5, "the window's events were not handled during the wait");
        QVERIFY2(counter.paints >= 1, "the log did not repaint during the wait");
    }

    // Input that reaches the window through the window system while pkexec
    // waits for the authentication dialog is dropped. Held back instead, a
    // click on Create would start a second request once the first had ended.
    // Needs a real X server (see under_x.py) and xdotool to click through it.
    void clickDuringAuthenticationIsDiscarded() {
        if (QGuiApplication::platformName() != "xcb" || QStandardPaths::findExecutable("xdotool").isEmpty()) {
            QSKIP("needs the xcb platform and xdotool");
        }
        QTemporaryDir standIn;
        QVERIFY(standIn.isValid());
        const std::string dir = ShowWithStandInPkexec(standIn, "1");
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        const QPoint create = form_->BitBtn2->mapToGlobal(form_->BitBtn2->rect().center());

        bool clicked = false;
        QTimer clicker;
        clicker.setSingleShot(true);
        connect(&clicker, &QTimer::timeout, [&] {
            clicked = QProcess::execute("xdotool", {"mousemove", QString::number(create.x()),
                                                    QString::number(create.y()), "click", "1"}) == 0;
        });
        clicker.start(300);
        {
            const WithoutWriteAccess regularUser(sandbox_.Dir());
            Press();
            // Whatever input came meanwhile is delivered now, if it was kept.
            QTest::qWait(500);
        }

        QVERIFY2(clicked, "xdotool could not click");
        QCOMPARE(ReadFile(dir + "/runs"), std::string("run\n"));
        QCOMPARE(form_->loggedLines, SuccessLines("dates.mdb", "ThroughPkexec"));
    }

    void refusalWithoutRecords_data() {
        QTest::addColumn<bool>("cancelEnabled");
        QTest::newRow("Cancel enabled") << true;
        QTest::newRow("Cancel disabled") << false;
    }

    void refusalWithoutRecords() {
        QFETCH(bool, cancelEnabled);
        SilentRefusingInstaller refusing;
        form_->SetInstaller(refusing);
        Fill(*form_, "sales.mdb", "Sales", "/srv/data/");
        form_->CancelBBtn->setEnabled(cancelEnabled);

        Press();

        QCOMPARE(refusing.requests, 1);
        const std::vector<std::string> expected = {
            "Database name: sales.mdb",
            "DSN: Sales",
            "Creating System DSN...",
            "Error creating DSN (CreateDSN):From button",
            " No ODBC driver error messages provided.",
        };
        QCOMPARE(form_->loggedLines, expected);
        QCOMPARE(LogText(*form_), Joined(expected));
        QCOMPARE(form_->CancelBBtn->isEnabled(), cancelEnabled);
        QVERIFY(toolkit_.boxes.empty());
    }
};

QTEST_MAIN(CreateCommandTest)
#include "create_command_test.moc"
