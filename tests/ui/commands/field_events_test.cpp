// Leaving and entering the fields, the log's hint, Cancel and Close, driven
// by real focus changes and clicks on the window.

#include <filesystem>
#include <memory>
#include <string>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "form_harness.h"
#include "odbc_sandbox.h"

using namespace tarnwick::testing;

class FieldEventsTest : public QObject {
    Q_OBJECT

    ScriptedToolkit toolkit_;
    std::unique_ptr<RecordingForm> form_;
    std::filesystem::path startDirectory_;
    std::unique_ptr<QTemporaryDir> folder_;

    // A user's click into a control, which also gives it the focus.
    void ClickInto(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
        QVERIFY(widget->hasFocus());
    }

    // Leaves the database field for the DSN field, as Tab does.
    void LeaveDatabaseField() {
        QVERIFY(form_->DBNameEdit->hasFocus());
        QTest::keyClick(form_->DBNameEdit, Qt::Key_Tab);
        QVERIFY(!form_->DBNameEdit->hasFocus());
    }

    void TypeDatabaseAndLeave(const QString& text) {
        ClickInto(form_->DBNameEdit);
        form_->DBNameEdit->clear();
        QTest::keyClicks(form_->DBNameEdit, text);
        LeaveDatabaseField();
    }

    void CheckNoFileBox(const MessageBoxCall& box) {
        QCOMPARE(box.text, std::string("Specified file does not exist."));
        QCOMPARE(box.caption, std::string("NO FILE"));
        QCOMPARE(box.flags, 49u);
    }

private slots:
    void init() {
        startDirectory_ = std::filesystem::current_path();
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        // Bare names are looked up in the current directory.
        std::filesystem::current_path(folder_->path().toStdString());
        toolkit_ = ScriptedToolkit();
        form_ = std::make_unique<RecordingForm>();
        form_->SetToolkit(toolkit_);
        ShowAsMainWindow(*form_);
    }

    void cleanup() {
        form_.reset();
        std::filesystem::current_path(startDirectory_);
        folder_.reset();
    }

    void leavingAnEmptyFieldShowsNothing() {
        ClickInto(form_->DBNameEdit);
        LeaveDatabaseField();
        QVERIFY(toolkit_.boxes.empty());
        QVERIFY(toolkit_.existenceChecks.empty());
        QCOMPARE(form_->DBNameEditTag(), 0);
    }

    void existingFileIsNotQuestioned_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("warns");
        QTest::newRow("bare name in the current directory") << "sales.mdb" << false;
        QTest::newRow("full path") << "FULL" << false;
        QTest::newRow("wildcard matching a file") << "s*.mdb" << false;
        QTest::newRow("name of a directory") << "folder.mdb" << true;
        QTest::newRow("hidden file") << ".hidden.mdb" << true;
        QTest::newRow("blanks") << "   " << true;
    }

    void existingFileIsNotQuestioned() {
        QFETCH(QString, typed);
        QFETCH(bool, warns);
        WriteFile("sales.mdb", "");
        WriteFile(".hidden.mdb", "");
        std::filesystem::create_directory("folder.mdb");
        if (typed == "FULL") {
            typed = QDir::current().absoluteFilePath("sales.mdb");
        }
        toolkit_.boxAnswers = {ui::IDCANCEL};

        TypeDatabaseAndLeave(typed);

        QCOMPARE(toolkit_.existenceChecks, std::vector<std::string>{typed.toStdString()});
        QCOMPARE(toolkit_.boxes.size(), warns ? 1u : 0u);
        if (warns) {
            CheckNoFileBox(toolkit_.boxes[0]);
        }
    }

    void acceptingAMissingFileSilencesTheWarningUntilCancel() {
        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(toolkit_.boxes.size(), 1u);
        CheckNoFileBox(toolkit_.boxes[0]);
        QCOMPARE(form_->DBNameEditTag(), 1);
        QCOMPARE(form_->StatusBar1->currentMessage(), QString("Database must be created."));

        TypeDatabaseAndLeave("another-missing.mdb");
        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(toolkit_.boxes.size(), 1u);
        QCOMPARE(form_->DBNameEditTag(), 1);

        QTest::mouseClick(form_->CancelBBtn, Qt::LeftButton);
        QCOMPARE(form_->DBNameEditTag(), 0);

        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(toolkit_.boxes.size(), 2u);
        CheckNoFileBox(toolkit_.boxes[1]);
    }

    void cancellingTheWarningKeepsAsking() {
        toolkit_.boxAnswers = {ui::IDCANCEL, ui::IDCANCEL};
        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(toolkit_.boxes.size(), 1u);
        QCOMPARE(form_->DBNameEditTag(), 0);
        QCOMPARE(form_->StatusBar1->currentMessage(), QString());

        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(toolkit_.boxes.size(), 2u);
        QCOMPARE(form_->DBNameEditTag(), 0);
    }

    // The real box takes the focus from the window while it is open; that must
    // not count as leaving the field again, or the box would reopen itself.
    void theRealBoxDoesNotTriggerItself_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("flag");
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << 0;
        QTest::newRow("OK") << int(QMessageBox::Ok) << 1;
    }

    void theRealBoxDoesNotTriggerItself() {
        QFETCH(int, button);
        QFETCH(int, flag);
        toolkit_.showBox = [this](const MessageBoxCall& box) {
            // Were the box to reopen itself, stop after a few rounds, so the
            // count below fails instead of the test never ending.
            if (toolkit_.boxes.size() > 3) {
                return ui::IDCANCEL;
            }
            return ui::QtToolkit().MessageBox(box.text, box.caption, box.flags);
        };
        BoxAnswerer answerer(static_cast<QMessageBox::StandardButton>(button));

        TypeDatabaseAndLeave("missing.mdb");
        // The box is gone; the main window becomes active again, as a window
        // manager would make it, and gets its focus back.
        ShowAsMainWindow(*form_);
        QCoreApplication::processEvents();

        QCOMPARE(toolkit_.boxes.size(), 1u);
        QCOMPARE(answerer.seen(), QStringList{"Specified file does not exist."});
        QCOMPARE(form_->DBNameEditTag(), flag);
    }

    void onlyEnteringTheDsnFieldEnablesCancel_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("enables");
        QTest::newRow("DSN field") << "DSNNameEdit" << true;
        QTest::newRow("database field") << "DBNameEdit" << false;
        QTest::newRow("directory field") << "DirectoryEdit" << false;
    }

    void onlyEnteringTheDsnFieldEnablesCancel() {
        QFETCH(QString, field);
        QFETCH(bool, enables);
        form_->BitBtn2->setFocus(Qt::OtherFocusReason);
        form_->CancelBBtn->setEnabled(false);

        ClickInto(form_->findChild<QLineEdit*>(field));

        QCOMPARE(form_->CancelBBtn->isEnabled(), enables);
        QVERIFY(toolkit_.boxes.empty());
    }

    void tabbingIntoTheDsnFieldEnablesCancel() {
        ClickInto(form_->DBNameEdit);
        form_->CancelBBtn->setEnabled(false);
        LeaveDatabaseField();
        QVERIFY(form_->DSNNameEdit->hasFocus());
        QVERIFY(form_->CancelBBtn->isEnabled());
    }

    void cancelClearsTheInputsButKeepsTheLog() {
        TypeDatabaseAndLeave("missing.mdb");
        QCOMPARE(form_->DBNameEditTag(), 1);
        Fill(*form_, "missing.mdb", "Sales", "/srv/data/");
        form_->AppendLogLine("Database name: missing.mdb");
        form_->AppendLogLine(" ODBC Error 1: General installer error\n");
        const QString log = LogText(*form_);

        QTest::mouseClick(form_->CancelBBtn, Qt::LeftButton);

        QCOMPARE(StateOf(*form_), (FormState{"", "", "", true, "", 0}));
        QCOMPARE(LogText(*form_), log);
        QVERIFY(toolkit_.boxes.size() == 1);
    }

    void cancelLeavesItsOwnStateAlone() {
        // A disabled button cannot be clicked; the handler itself must not
        // enable it either.
        form_->CancelBBtn->setEnabled(false);
        form_->CancelBBtnClick();
        QVERIFY(!form_->CancelBBtn->isEnabled());
    }

    void clickingTheLogShowsItsHint() {
        QTest::mouseClick(form_->Memo1->viewport(), Qt::LeftButton);
        QCOMPARE(form_->StatusBar1->currentMessage(), QString("Used to display messages only."));
        QVERIFY(toolkit_.boxes.empty());
    }

    // Last: it ends the application's event loop.
    void closeEndsTheEventLoopWithExitCodeZero() {
        QTimer::singleShot(0, form_.get(), [this] { QTest::mouseClick(form_->BitBtn3, Qt::LeftButton); });
        const int exitCode = QApplication::exec();
        QCOMPARE(exitCode, 0);
        QVERIFY(!form_->isVisible());
    }
};

QTEST_MAIN(FieldEventsTest)
#include "field_events_test.moc"
