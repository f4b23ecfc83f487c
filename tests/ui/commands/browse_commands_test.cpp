// The two Browse buttons: scripted dialogs for every outcome, and once the
// real open-file dialog, which also moves the current directory.

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "form_harness.h"
#include "odbc_sandbox.h"

using namespace tarnwick::testing;

Q_DECLARE_METATYPE(ScriptedToolkit::Failure)

class BrowseCommandsTest : public QObject {
    Q_OBJECT

    OdbcSandbox sandbox_;
    ScriptedToolkit toolkit_;
    std::unique_ptr<RecordingForm> form_;

    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
    void initTestCase() { sandbox_.Export(); }

    void init() {
        toolkit_ = ScriptedToolkit();
        form_ = std::make_unique<RecordingForm>();
        form_->SetToolkit(toolkit_);
        ShowAsMainWindow(*form_);
    }

    void cleanup() { form_.reset(); }

    void confirmedFileFillsBothFields_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("directory");
        QTest::newRow("file in a folder") << "/srv/data/sales.mdb"
                                          << "sales.mdb"
                                          << "/srv/data/";
        QTest::newRow("file at the root") << "/x.mdb"
                                          << "x.mdb"
                                          << "/";
        QTest::newRow("extension not checked") << "/home/ann/notes.txt"
                                               << "notes.txt"
                                               << "/home/ann/";
        QTest::newRow("blanks and non-ASCII kept") << "/srv/My Data/Données 2024.mdb"
                                                   << "Données 2024.mdb"
                                                   << "/srv/My Data/";
    }

    void confirmedFileFillsBothFields() {
        QFETCH(QString, fileName);
        QFETCH(QString, database);
        QFETCH(QString, directory);
        Fill(*form_, "old.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(false);
        toolkit_.openFileAnswer = fileName.toStdString();

        Click(form_->DBNameBtn);

        QCOMPARE(toolkit_.openFileFilters, std::vector<std::string>{"MS Access Database|*.mdb"});
        QCOMPARE(form_->DBNameEdit->text(), database);
        QCOMPARE(form_->DirectoryEdit->text(), directory);
        QCOMPARE(form_->DSNNameEdit->text(), QString("Sales"));
        QVERIFY(form_->CancelBBtn->isEnabled());
        QVERIFY(toolkit_.boxes.empty());
    }

    void cancelledFileDialogOnlyEnablesCancel() {
        Fill(*form_, "old.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(false);
        FormState expected = StateOf(*form_);
        expected.cancelEnabled = true;

        Click(form_->DBNameBtn);

        QCOMPARE(toolkit_.openFileFilters.size(), 1u);
        QCOMPARE(StateOf(*form_), expected);
        QVERIFY(toolkit_.boxes.empty());
    }

    void failingFileDialogChangesNothing_data() {
        QTest::addColumn<ScriptedToolkit::Failure>("failure");
        QTest::addColumn<bool>("cancelEnabled");
        QTest::newRow("std::exception, Cancel disabled") << ScriptedToolkit::Failure::StandardException << false;
        QTest::newRow("std::exception, Cancel enabled") << ScriptedToolkit::Failure::StandardException << true;
        QTest::newRow("anything else thrown") << ScriptedToolkit::Failure::OtherException << false;
    }

    void failingFileDialogChangesNothing() {
        QFETCH(ScriptedToolkit::Failure, failure);
        QFETCH(bool, cancelEnabled);
        Fill(*form_, "old.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(cancelEnabled);
        const FormState before = StateOf(*form_);
        toolkit_.openFileFailure = failure;
        toolkit_.openFileAnswer = "/srv/data/sales.mdb";

        Click(form_->DBNameBtn);

        QCOMPARE(toolkit_.boxes.size(), 1u);
        QCOMPARE(toolkit_.boxes[0].text, std::string("Error ocurred while browsing for Database"));
        QCOMPARE(toolkit_.boxes[0].caption, std::string("BROWSE ERROR"));
        QCOMPARE(toolkit_.boxes[0].flags, ui::MB_ICONERROR);
        QCOMPARE(StateOf(*form_), before);
    }

    void chosenDirectoryFillsTheField_data() {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("plain") << "/srv/data";
        QTest::newRow("kept exactly as returned") << "/srv/new folder/";
    }

    void chosenDirectoryFillsTheField() {
        QFETCH(QString, chosen);
        Fill(*form_, "sales.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(false);
        toolkit_.directoryAnswer = chosen.toStdString();

        Click(form_->DirBrowseBtn);

        QCOMPARE(toolkit_.directoryRequests.size(), 1u);
        QCOMPARE(toolkit_.directoryRequests[0].start, std::string());
        const unsigned options = ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt;
        QCOMPARE(toolkit_.directoryRequests[0].options, options);
        QCOMPARE(toolkit_.directoryRequests[0].helpContext, 1000);
        QCOMPARE(form_->DirectoryEdit->text(), chosen);
        QCOMPARE(form_->DBNameEdit->text(), QString("sales.mdb"));
        QVERIFY(form_->CancelBBtn->isEnabled());
    }

    void cancelledDirectoryChooserLeavesTheField() {
        Fill(*form_, "sales.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(false);
        FormState expected = StateOf(*form_);
        expected.cancelEnabled = true;

        Click(form_->DirBrowseBtn);

        QCOMPARE(toolkit_.directoryRequests.size(), 1u);
        QCOMPARE(StateOf(*form_), expected);
        QVERIFY(toolkit_.boxes.empty());
    }

    // The chooser's failure is left to the application, which shows whatever
    // escapes a handler; by then Cancel is enabled and the field unchanged.
    void failingDirectoryChooserEscapesTheHandler() {
        Fill(*form_, "sales.mdb", "Sales", "/old/");
        form_->CancelBBtn->setEnabled(false);
        FormState expected = StateOf(*form_);
        expected.cancelEnabled = true;
        toolkit_.directoryFailure = ScriptedToolkit::Failure::StandardException;
        toolkit_.directoryAnswer = "/srv/data";

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, form_->DirBrowseBtnClick());

        QVERIFY(toolkit_.boxes.empty());
        QCOMPARE(StateOf(*form_), expected);
    }

    void eitherBrowseEnablesCancelAfterASuccess_data() {
        QTest::addColumn<bool>("databaseBrowse");
        QTest::newRow("database Browse") << true;
        QTest::newRow("directory Browse") << false;
    }

    void eitherBrowseEnablesCancelAfterASuccess() {
        QFETCH(bool, databaseBrowse);
        const std::string dataSource = databaseBrowse ? "TarnwickBrowseDb" : "TarnwickBrowseDir";
        Fill(*form_, "sales.mdb", QString::fromStdString(dataSource), "/srv/data/");
        QTest::mouseClick(form_->BitBtn2, Qt::LeftButton);
        QVERIFY2(!form_->CancelBBtn->isEnabled(), qPrintable(LogText(*form_)));

        // Both dialogs are cancelled: the button comes back all the same.
        Click(databaseBrowse ? form_->DBNameBtn : form_->DirBrowseBtn);

        QVERIFY(form_->CancelBBtn->isEnabled());
        QCOMPARE(form_->DBNameEdit->text(), QString("sales.mdb"));
        QCOMPARE(form_->DirectoryEdit->text(), QString("/srv/data/"));
    }

    void realFileDialogMovesTheCurrentDirectory() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = QDir(folder.path()).filePath("sales.mdb");
        WriteFile(path.toStdString(), "not really a database");
        const std::filesystem::path startDirectory = std::filesystem::current_path();

        form_->SetToolkit(ui::QtToolkit());
        int attempts = 0;
        {
            BoxAnswerer answerer(QMessageBox::Cancel, [&](QDialog* dialog) {
                auto* fileDialog = qobject_cast<QFileDialog*>(dialog);
                if (fileDialog == nullptr) {
                    dialog->reject();
                    return;
                }
                // Typed into the name field, as a user would. (selectFile() leaves
                // that field alone while it has the focus.)
                auto* nameField = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (nameField == nullptr || ++attempts > 3) {
                    dialog->reject();
                    return;
                }
                nameField->setText(path);
                dialog->accept(); // QFileDialog::accept, through the public base
            });
            Click(form_->DBNameBtn);
            QCOMPARE(answerer.seen().size(), 1);
        }
        const std::filesystem::path now = std::filesystem::current_path();
        std::filesystem::current_path(startDirectory);

        QCOMPARE(form_->DBNameEdit->text(), QString("sales.mdb"));
        const QString folderPath = QDir(folder.path()).canonicalPath();
        QCOMPARE(QDir(form_->DirectoryEdit->text()).canonicalPath(), folderPath);
        QVERIFY(form_->DirectoryEdit->text().endsWith('/'));
        QCOMPARE(QDir(QString::fromStdString(now.string())).canonicalPath(), folderPath);
    }
};

QTEST_MAIN(BrowseCommandsTest)
#include "browse_commands_test.moc"
