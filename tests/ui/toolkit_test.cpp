#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "dialog_driver.h"
#include "ui/directory_chooser.h"
#include "ui/qt_toolkit.h"
#include "ui/toolkit.h"

using tarnwick::testing::WhenShown;

namespace {

void Touch(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

// Presses a message box's button by its role once the box shows, recording
// what the box looked like.
struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* modalWidget = nullptr;
    bool seen = false;
};

void AnswerBox(SeenBox& seen, QMessageBox::StandardButton press) {
    WhenShown<QMessageBox>([&seen, press](QMessageBox* box) {
        seen.text = box->text();
        seen.caption = box->windowTitle();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.modality = box->windowModality();
        seen.modalWidget = QApplication::activeModalWidget();
        seen.seen = true;
        box->button(press)->click();
    });
}

// Confirms `path` in the file dialog as a user typing it would. (selectFile
// leaves the name field alone while it has the focus.) Should the dialog
// refuse the name, it is cancelled, so the test fails instead of waiting for
// a window nobody closes.
void ConfirmFile(QFileDialog* dialog, const QString& path) {
    if (auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        dialog->setDirectory(QFileInfo(path).absolutePath());
        nameField->setText(path);
    } else {
        dialog->selectFile(path);
    }
    static_cast<QDialog*>(dialog)->accept();
    if (dialog->isVisible()) {
        dialog->reject();
    }
}

} // namespace

class ToolkitTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const std::filesystem::path root = dir_.path().toStdString();
        std::filesystem::create_directories(root / "data" / "sub.mdb");
        Touch(root / "data" / "sales.mdb");
        Touch(root / "data" / "Sales2.MDB");
        Touch(root / "data" / ".hidden.mdb");
        Touch(root / "data" / "data[1].mdb");
        Touch(root / "data" / "back\\slash.mdb");
        std::filesystem::create_symlink(root / "data" / "sales.mdb", root / "data" / "link.mdb");
        std::filesystem::create_symlink(root / "data" / "missing.mdb", root / "data" / "dangling.mdb");
        start_ = QDir::currentPath();
    }
    void cleanup() { QDir::setCurrent(start_); }

    // FindFirst with mask 0: the text unchanged against the current
    // directory, '*' and '?' as wildcards, only regular non-hidden files.
    void fileExists_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("exists");
        QTest::newRow("regular file, relative") << "sales.mdb" << true;
        QTest::newRow("regular file, absolute") << "@/data/sales.mdb" << true;
        QTest::newRow("regular file, dotted path") << "./../data/sales.mdb" << true;
        QTest::newRow("missing") << "nothing.mdb" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("directory") << "sub.mdb" << false;
        QTest::newRow("directory with slash") << "sub.mdb/" << false;
        QTest::newRow("current directory") << "." << false;
        QTest::newRow("hidden file") << ".hidden.mdb" << false;
        QTest::newRow("hidden file by wildcard") << ".hid*" << false;
        QTest::newRow("star") << "*.mdb" << true;
        QTest::newRow("star matching only a directory") << "sub*" << false;
        QTest::newRow("question mark") << "sale?.mdb" << true;
        QTest::newRow("question mark needs one character") << "sales?.mdb" << false;
        QTest::newRow("case-sensitive") << "SALES.mdb" << false;
        QTest::newRow("case-sensitive extension") << "Sales2.MDB" << true;
        QTest::newRow("brackets are plain characters") << "data[1].mdb" << true;
        QTest::newRow("brackets are no character class") << "data1.mdb" << false;
        QTest::newRow("backslash is a plain character") << "back\\slash.mdb" << true;
        QTest::newRow("link to a file") << "link.mdb" << true;
        QTest::newRow("dangling link") << "dangling.mdb" << false;
        QTest::newRow("blank") << " " << false;
    }
    void fileExists() {
        QFETCH(QString, pattern);
        QFETCH(bool, exists);
        pattern.replace(QStringLiteral("@"), dir_.path());
        QVERIFY(QDir::setCurrent(dir_.path() + QStringLiteral("/data")));
        QCOMPARE(ui::QtToolkit().FileExists(pattern.toStdString()), exists);
    }

    void splitFileName_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("bareName");
        QTest::addColumn<QString>("directory");
        QTest::newRow("in a folder") << "/srv/data/sales.mdb"
                                     << "sales.mdb"
                                     << "/srv/data/";
        QTest::newRow("at the root") << "/x.mdb"
                                     << "x.mdb"
                                     << "/";
        QTest::newRow("no slash") << "sales.mdb"
                                  << "sales.mdb"
                                  << "";
        QTest::newRow("relative path") << "data/sales.mdb"
                                       << "sales.mdb"
                                       << "data/";
        QTest::newRow("any extension") << "/srv/notes.txt"
                                       << "notes.txt"
                                       << "/srv/";
        QTest::newRow("ends in a slash") << "/srv/data/"
                                         << ""
                                         << "/srv/data/";
        QTest::newRow("backslash is no separator") << "/srv/a\\b.mdb"
                                                   << "a\\b.mdb"
                                                   << "/srv/";
        QTest::newRow("not ASCII") << "/srv/données/ventes.mdb"
                                   << "ventes.mdb"
                                   << "/srv/données/";
    }
    void splitFileName() {
        QFETCH(QString, fileName);
        QFETCH(QString, bareName);
        QFETCH(QString, directory);
        const ui::FileNameParts parts = ui::SplitFileName(fileName.toStdString());
        QCOMPARE(QString::fromStdString(parts.bareName), bareName);
        QCOMPARE(QString::fromStdString(parts.directory), directory);
        QCOMPARE(QString::fromStdString(parts.directory + parts.bareName), fileName);
    }

    void fileFilter_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qtFilter");
        QTest::newRow("the form's filter") << "MS Access Database|*.mdb"
                                           << "MS Access Database (*.mdb)";
        QTest::newRow("two entries") << "Access|*.mdb|All files|*"
                                     << "Access (*.mdb);;All files (*)";
        QTest::newRow("several patterns") << "Databases|*.mdb;*.accdb"
                                          << "Databases (*.mdb *.accdb)";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fileFilter() {
        QFETCH(QString, filter);
        QFETCH(QString, qtFilter);
        QCOMPARE(ui::QtFileFilter(filter.toStdString()), qtFilter);
    }

    void messageBoxLook_data() {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("buttons");
        QTest::newRow("MB_ICONERROR") << 16U << int(QMessageBox::Critical) << int(QMessageBox::Ok);
        QTest::newRow("MB_OKCANCEL | MB_ICONWARNING")
            << 49U << int(QMessageBox::Warning) << int(QMessageBox::Ok | QMessageBox::Cancel);
        QTest::newRow("MB_YESNO | MB_ICONQUESTION")
            << 36U << int(QMessageBox::Question) << int(QMessageBox::Yes | QMessageBox::No);
        QTest::newRow("MB_OK") << 0U << int(QMessageBox::NoIcon) << int(QMessageBox::Ok);
        QTest::newRow("MB_ICONINFORMATION") << 64U << int(QMessageBox::Information) << int(QMessageBox::Ok);
    }
    void messageBoxLook() {
        QFETCH(unsigned, flags);
        QFETCH(int, icon);
        QFETCH(int, buttons);
        const ui::MessageBoxLook look = ui::MessageBoxLookFor(flags);
        QCOMPARE(int(look.icon), icon);
        QCOMPARE(int(look.buttons), buttons);
    }

    void messageBoxAnswer_data() {
        QTest::addColumn<int>("clicked");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("answer");
        const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
        QTest::newRow("OK") << int(QMessageBox::Ok) << okCancel << ui::IDOK;
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << okCancel << ui::IDCANCEL;
        QTest::newRow("closed with OK/Cancel") << int(QMessageBox::NoButton) << okCancel << ui::IDCANCEL;
        QTest::newRow("closed with OK only") << int(QMessageBox::NoButton) << int(QMessageBox::Ok) << ui::IDOK;
        QTest::newRow("Yes") << int(QMessageBox::Yes) << int(QMessageBox::Yes | QMessageBox::No) << ui::IDYES;
        QTest::newRow("closed with Yes/No")
            << int(QMessageBox::NoButton) << int(QMessageBox::Yes | QMessageBox::No) << ui::IDNO;
    }
    void messageBoxAnswer() {
        QFETCH(int, clicked);
        QFETCH(int, buttons);
        QFETCH(int, answer);
        QCOMPARE(ui::MessageBoxAnswer(QMessageBox::StandardButton(clicked), QMessageBox::StandardButtons(buttons)),
                 answer);
    }

    // The real box: no owner, not modal (the main window stays usable),
    // caption, text, icon and buttons from the flags; the answer by button.
    void realMessageBox_data() {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("error box, OK") << 16U << int(QMessageBox::Ok) << ui::IDOK;
        QTest::newRow("OK/Cancel warning, OK") << 49U << int(QMessageBox::Ok) << ui::IDOK;
        QTest::newRow("OK/Cancel warning, Cancel") << 49U << int(QMessageBox::Cancel) << ui::IDCANCEL;
    }
    void realMessageBox() {
        QFETCH(unsigned, flags);
        QFETCH(int, press);
        QFETCH(int, answer);
        QWidget mainWindow;
        mainWindow.show();
        SeenBox seen;
        AnswerBox(seen, QMessageBox::StandardButton(press));
        QCOMPARE(ui::QtToolkit().MessageBox("Specified file does not exist.", "NO FILE", flags), answer);
        QVERIFY(seen.seen);
        QCOMPARE(seen.text, QStringLiteral("Specified file does not exist."));
        QCOMPARE(seen.caption, QStringLiteral("NO FILE"));
        const ui::MessageBoxLook look = ui::MessageBoxLookFor(flags);
        QCOMPARE(seen.icon, look.icon);
        QCOMPARE(seen.buttons, look.buttons);
        QCOMPARE(seen.modality, Qt::NonModal);
        QCOMPARE(seen.modalWidget, nullptr);
        QVERIFY(mainWindow.isEnabled());
    }

    // The open-file dialog: the filter from "Name|pattern", the confirmed
    // file's full path, and its folder as the new current directory.
    void openFile() {
        const QString folder = dir_.path() + QStringLiteral("/data");
        QStringList filters;
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            ConfirmFile(dialog, folder + QStringLiteral("/sales.mdb"));
        });
        const auto file = ui::QtToolkit().OpenFile("MS Access Database|*.mdb");
        QCOMPARE(filters, QStringList{QStringLiteral("MS Access Database (*.mdb)")});
        QVERIFY(file.has_value());
        QCOMPARE(QString::fromStdString(*file), folder + QStringLiteral("/sales.mdb"));
        QCOMPARE(QDir::currentPath(), folder);
        QVERIFY(ui::QtToolkit().FileExists("sales.mdb"));
    }

    // A name that does not exist yet may be confirmed too.
    void openFileNewName() {
        const QString folder = dir_.path() + QStringLiteral("/data");
        WhenShown<QFileDialog>([&](QFileDialog* dialog) { ConfirmFile(dialog, folder + QStringLiteral("/new.mdb")); });
        const auto file = ui::QtToolkit().OpenFile("MS Access Database|*.mdb");
        QVERIFY(file.has_value());
        QCOMPARE(QString::fromStdString(*file), folder + QStringLiteral("/new.mdb"));
        QCOMPARE(QDir::currentPath(), folder);
    }

    void openFileCancelled() {
        WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        QVERIFY(!ui::QtToolkit().OpenFile("MS Access Database|*.mdb").has_value());
        QCOMPARE(QDir::currentPath(), start_);
    }

    // Typing a missing directory: after Yes it is created with its parents and
    // returned as typed.
    void selectDirectoryCreatesAfterYes() {
        const QString wanted = dir_.path() + QStringLiteral("/made/by/chooser");
        SeenBox prompt;
        WhenShown<ui::DirectoryChooser>([&](ui::DirectoryChooser* chooser) {
            chooser->PathEdit()->setText(wanted);
            AnswerBox(prompt, QMessageBox::Yes);
            chooser->accept();
            if (chooser->isVisible()) {
                chooser->reject();
            }
        });
        std::string directory;
        QVERIFY(
            ui::QtToolkit().SelectDirectory(directory, ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt, 1000));
        QCOMPARE(QString::fromStdString(directory), wanted);
        QVERIFY(QFileInfo(wanted).isDir());
        QVERIFY(prompt.seen);
        QCOMPARE(prompt.caption, QStringLiteral("Confirm"));
        QVERIFY(prompt.text.contains(wanted));
        QCOMPARE(prompt.icon, QMessageBox::Question);
        QCOMPARE(prompt.buttons, QMessageBox::Yes | QMessageBox::No);
    }

    // No keeps the chooser open and creates nothing; Cancel then gives false
    // and leaves the string alone.
    void selectDirectoryNoThenCancel() {
        const QString wanted = dir_.path() + QStringLiteral("/not/made");
        SeenBox prompt;
        bool stillOpen = false;
        WhenShown<ui::DirectoryChooser>([&](ui::DirectoryChooser* chooser) {
            chooser->PathEdit()->setText(wanted);
            AnswerBox(prompt, QMessageBox::No);
            chooser->accept();
            stillOpen = chooser->isVisible();
            chooser->reject();
        });
        std::string directory = "unchanged";
        QVERIFY(
            !ui::QtToolkit().SelectDirectory(directory, ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt, 1000));
        QVERIFY(prompt.seen);
        QVERIFY(stillOpen);
        QCOMPARE(directory, std::string("unchanged"));
        QVERIFY(!QFileInfo::exists(wanted));
        QVERIFY(!QFileInfo::exists(dir_.path() + QStringLiteral("/not")));
    }

    // An existing directory is taken as it is, with no question; the chooser
    // starts in the current directory when given none.
    void selectDirectoryExisting() {
        QVERIFY(QDir::setCurrent(dir_.path()));
        QString initial;
        WhenShown<ui::DirectoryChooser>([&](ui::DirectoryChooser* chooser) {
            initial = chooser->PathEdit()->text();
            chooser->PathEdit()->setText(QStringLiteral("data"));
            chooser->accept();
            if (chooser->isVisible()) {
                chooser->reject();
            }
        });
        std::string directory;
        QVERIFY(
            ui::QtToolkit().SelectDirectory(directory, ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt, 1000));
        QCOMPARE(initial, dir_.path());
        QCOMPARE(directory, std::string("data"));
    }

    // A regular file is no directory: an error box, and the chooser stays.
    void selectDirectoryRefusesFile() {
        const QString file = dir_.path() + QStringLiteral("/data/sales.mdb");
        SeenBox error;
        bool stillOpen = false;
        WhenShown<ui::DirectoryChooser>([&](ui::DirectoryChooser* chooser) {
            chooser->PathEdit()->setText(file);
            AnswerBox(error, QMessageBox::Ok);
            chooser->accept();
            stillOpen = chooser->isVisible();
            chooser->reject();
        });
        std::string directory;
        QVERIFY(
            !ui::QtToolkit().SelectDirectory(directory, ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt, 1000));
        QVERIFY(error.seen);
        QCOMPARE(error.icon, QMessageBox::Critical);
        QVERIFY(stillOpen);
        QVERIFY(QFileInfo(file).isFile());
    }

private:
    QTemporaryDir dir_;
    QString start_;
};

QTEST_MAIN(ToolkitTest)
#include "toolkit_test.moc"
