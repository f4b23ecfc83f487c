#include <memory>

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>

#include "recording_toolkit.h"
#include "ui/main_form.h"

using tarnwick::testing::RecordingToolkit;

namespace {

struct Expected {
    const char* className;
    QRect geometry;
    QString text;
    QString family;
    int pointSize;
    bool bold;
    QColor textColour; // invalid: the style's own
};

void Activate(QWidget& window) {
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        toolkit_ = std::make_unique<RecordingToolkit>();
        form_ = std::make_unique<TForm1>();
        form_->SetToolkit(*toolkit_);
    }
    void cleanup() {
        form_.reset();
        toolkit_.reset();
    }

    void windowFrame() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Create System DSN"));
        QCOMPARE(form_->size(), QSize(257, 250));
        QCOMPARE(form_->minimumSize(), QSize(257, 250));
        QCOMPARE(form_->maximumSize(), QSize(257, 250));
        const Qt::WindowFlags flags = form_->windowFlags();
        QVERIFY(flags.testFlag(Qt::Window));
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        for (auto box : {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                         Qt::WindowCloseButtonHint, Qt::WindowContextHelpButtonHint}) {
            QVERIFY2(!flags.testFlag(box), qPrintable(QString::number(box, 16)));
        }
        QCOMPARE(form_->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(form_->font().pointSize(), 8);
        QVERIFY(!form_->font().bold());
        QVERIFY(!form_->windowIcon().isNull());
        QCOMPARE(Form1, form_.get());
    }

    void centredOnScreen() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        const QPoint screenCentre = form_->screen()->availableGeometry().center();
        const QPoint centre = form_->geometry().center();
        QVERIFY2((centre - screenCentre).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("centre %1,%2").arg(centre.x()).arg(centre.y())));
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QColor>("textColour");

        const QString sans = QStringLiteral("MS Sans Serif");
        const QString serif = QStringLiteral("Times New Roman");
        const auto row = [&](const char* name, const char* className, QRect geometry, const char* text,
                             const QString& family, int pointSize, bool bold, QColor colour = QColor()) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className) << geometry
                                << QString::fromLatin1(text) << family << pointSize << bold << colour;
        };
        // Labels size themselves to their caption, so only their place is fixed.
        row("Label1", "QLabel", QRect(8, 0, 0, 0), "Database File Name", sans, 8, false);
        row("Label2", "QLabel", QRect(8, 40, 0, 0), "DSN Name", sans, 8, false);
        row("Label3", "QLabel", QRect(8, 88, 0, 0), "Directory for Database", sans, 8, false);
        row("StatusBar1", "QStatusBar", QRect(0, 231, 257, 19), "", sans, 8, false);
        row("Memo1", "QPlainTextEdit", QRect(0, 164, 257, 67), "", sans, 8, false);
        row("DBNameEdit", "QLineEdit", QRect(8, 16, 121, 21), "", sans, 8, false);
        row("DSNNameEdit", "QLineEdit", QRect(8, 56, 121, 21), "", sans, 8, false);
        row("DirectoryEdit", "QLineEdit", QRect(8, 104, 185, 21), "", sans, 8, false);
        row("CancelBBtn", "QPushButton", QRect(176, 136, 75, 25), "Cancel", serif, 10, true, QColor(255, 0, 0));
        row("BitBtn2", "QPushButton", QRect(8, 136, 75, 25), "Create", serif, 10, true, QColor(0, 128, 0));
        row("DBNameBtn", "QPushButton", QRect(136, 16, 49, 21), "Browse", sans, 8, false);
        row("DirBrowseBtn", "QPushButton", QRect(200, 104, 49, 21), "Browse", sans, 8, false);
        row("BitBtn3", "QPushButton", QRect(92, 136, 75, 25), "Close", sans, 8, false);
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, family);
        QFETCH(int, pointSize);
        QFETCH(bool, bold);
        QFETCH(QColor, textColour);

        auto* widget = form_->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget(), form_.get());
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            QCOMPARE(label->pos(), geometry.topLeft());
            QCOMPARE(label->text(), text);
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(text));
        } else {
            QCOMPARE(widget->geometry(), geometry);
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), text);
            QVERIFY(!button->autoDefault());
        }
        QCOMPARE(widget->font().family(), family);
        QCOMPARE(widget->font().pointSize(), pointSize);
        QCOMPARE(widget->font().bold(), bold);
        if (textColour.isValid()) {
            for (auto group : {QPalette::Active, QPalette::Inactive}) {
                QCOMPARE(widget->palette().color(group, QPalette::ButtonText), textColour);
            }
            QVERIFY(widget->palette().color(QPalette::Disabled, QPalette::ButtonText) != textColour);
        }
    }

    // A screen reader names each field by its label (the label's buddy) and the
    // log by its own accessible name; the two Browse buttons, named by their
    // text, say in their descriptions what each browses for.
    void accessibleNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("description");
        QTest::newRow("DBNameEdit") << "DBNameEdit"
                                    << "Database File Name"
                                    << "";
        QTest::newRow("DSNNameEdit") << "DSNNameEdit"
                                     << "DSN Name"
                                     << "";
        QTest::newRow("DirectoryEdit") << "DirectoryEdit"
                                       << "Directory for Database"
                                       << "";
        QTest::newRow("Memo1") << "Memo1"
                               << "Message log"
                               << "";
        QTest::newRow("DBNameBtn") << "DBNameBtn"
                                   << "Browse"
                                   << "Browse for the Access database file";
        QTest::newRow("DirBrowseBtn") << "DirBrowseBtn"
                                      << "Browse"
                                      << "Browse for the directory of the database";
    }
    void accessibleNames() {
        QFETCH(QString, name);
        QFETCH(QString, spoken);
        QFETCH(QString, description);
        auto* widget = form_->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible != nullptr);
        QCOMPARE(accessible->text(QAccessible::Name), spoken);
        QCOMPARE(accessible->text(QAccessible::Description), description);
    }

    void componentReferences() {
        QCOMPARE(form_->StatusBar1, form_->findChild<QStatusBar*>("StatusBar1"));
        QCOMPARE(form_->Memo1, form_->findChild<QPlainTextEdit*>("Memo1"));
        QCOMPARE(form_->DBNameEdit, form_->findChild<QLineEdit*>("DBNameEdit"));
        QCOMPARE(form_->DSNNameEdit, form_->findChild<QLineEdit*>("DSNNameEdit"));
        QCOMPARE(form_->DirectoryEdit, form_->findChild<QLineEdit*>("DirectoryEdit"));
        QCOMPARE(form_->CancelBBtn, form_->findChild<QPushButton*>("CancelBBtn"));
        QCOMPARE(form_->BitBtn2, form_->findChild<QPushButton*>("BitBtn2"));
        QCOMPARE(form_->DBNameBtn, form_->findChild<QPushButton*>("DBNameBtn"));
        QCOMPARE(form_->DirBrowseBtn, form_->findChild<QPushButton*>("DirBrowseBtn"));
        QCOMPARE(form_->Label1, form_->findChild<QLabel*>("Label1"));
        QCOMPARE(form_->Label2, form_->findChild<QLabel*>("Label2"));
        QCOMPARE(form_->Label3, form_->findChild<QLabel*>("Label3"));
        QCOMPARE(form_->BitBtn3, form_->findChild<QPushButton*>("BitBtn3"));
        QCOMPARE(form_->OpenDialog1.Filter, std::string("MS Access Database|*.mdb"));
    }

    void logAndStatusBar() {
        QPlainTextEdit* memo = form_->Memo1;
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->focusPolicy(), Qt::ClickFocus);
        QVERIFY(memo->tabChangesFocus());
        QVERIFY(!form_->StatusBar1->isSizeGripEnabled());
    }

    void startsEmptyAndEnabled() {
        for (QLineEdit* edit : {form_->DBNameEdit, form_->DSNNameEdit, form_->DirectoryEdit}) {
            QVERIFY(edit->text().isEmpty());
        }
        QVERIFY(form_->Memo1->toPlainText().isEmpty());
        QVERIFY(form_->StatusBar1->currentMessage().isEmpty());
        QCOMPARE(form_->DBNameEditTag(), 0);
        for (QWidget* child : form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY2(child->isEnabled(), qPrintable(child->objectName()));
        }
    }

    // The focus starts on the database Browse button; Tab walks the form's tab
    // order, skips the log and comes back round from Close.
    void tabOrder() {
        Activate(*form_);
        QCOMPARE(QApplication::focusWidget(), form_->DBNameBtn);
        const QList<QWidget*> expected{form_->DBNameEdit,   form_->DSNNameEdit, form_->DirectoryEdit,
                                       form_->DirBrowseBtn, form_->BitBtn2,     form_->CancelBBtn,
                                       form_->BitBtn3,      form_->DBNameBtn,   form_->DBNameEdit};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // From the log too, Tab moves on instead of typing a tab.
        QTest::mouseClick(form_->Memo1->viewport(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), form_->Memo1);
        QTest::keyClick(form_->Memo1, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != form_->Memo1);
        QVERIFY(form_->Memo1->toPlainText().isEmpty());
    }

    void appendLogLine_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("shown");
        QTest::newRow("one line") << QStringList{"DSN: Sales"} << "DSN: Sales";
        QTest::newRow("lines in order") << QStringList{"Database name: a.mdb", "DSN: a", "Creating System DSN..."}
                                        << "Database name: a.mdb\nDSN: a\nCreating System DSN...";
        QTest::newRow("own line feed stays one line")
            << QStringList{" ODBC Error 1: General installer error\n", " ODBC Error 2: x\n", "next"}
            << " ODBC Error 1: General installer error\n ODBC Error 2: x\nnext";
        QTest::newRow("empty line") << QStringList{"a", "", "b"} << "a\n\nb";
        QTest::newRow("not Latin-1") << QStringList{"DSN: Grüße ✓"} << "DSN: Grüße ✓";
    }
    void appendLogLine() {
        QFETCH(QStringList, lines);
        QFETCH(QString, shown);
        for (const QString& line : lines) {
            form_->AppendLogLine(line.toStdString());
        }
        QCOMPARE(form_->Memo1->toPlainText(), shown);
        QCOMPARE(form_->Memo1->blockCount(), lines.size());
    }

    void appendAfterEmptying() {
        form_->AppendLogLine("old");
        form_->Memo1->setPlainText(QString());
        form_->AppendLogLine("new");
        QCOMPARE(form_->Memo1->toPlainText(), QStringLiteral("new"));
    }

    void disableCancel() {
        form_->DisableCancel();
        QVERIFY(!form_->CancelBBtn->isEnabled());
        QVERIFY(form_->BitBtn2->isEnabled());
        QVERIFY(form_->BitBtn3->isEnabled());
    }

    // Leaving the database field for another control is an exit: its handler
    // checks the file. Another window taking and giving back the focus is not.
    void databaseFieldExit() {
        Activate(*form_);
        form_->DBNameEdit->setFocus(Qt::MouseFocusReason);
        form_->DBNameEdit->setText(QStringLiteral("tarnwick-no-such-file.mdb"));
        toolkit_->answers = {ui::IDCANCEL, ui::IDCANCEL};

        QWidget other;
        Activate(other);
        Activate(*form_);
        QCOMPARE(QApplication::focusWidget(), form_->DBNameEdit);
        QVERIFY(toolkit_->existenceChecks.empty());

        QTest::keyClick(form_->DBNameEdit, Qt::Key_Tab);
        QCOMPARE(toolkit_->existenceChecks, std::vector<std::string>{"tarnwick-no-such-file.mdb"});
    }

    // Entering the DSN field re-enables Cancel; the window becoming active
    // again with the focus already there is no enter.
    void dataSourceFieldEnter() {
        Activate(*form_);
        QTest::mouseClick(form_->DSNNameEdit, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), form_->DSNNameEdit);
        form_->DisableCancel();

        QWidget other;
        Activate(other);
        Activate(*form_);
        QCOMPARE(QApplication::focusWidget(), form_->DSNNameEdit);
        QVERIFY(!form_->CancelBBtn->isEnabled());

        QTest::mouseClick(form_->DirectoryEdit, Qt::LeftButton);
        QVERIFY(!form_->CancelBBtn->isEnabled());
        QTest::keyClick(form_->DirectoryEdit, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), form_->DSNNameEdit);
        QVERIFY(form_->CancelBBtn->isEnabled());
    }

    void logClickShowsHint() {
        Activate(*form_);
        QTest::mouseClick(form_->Memo1->viewport(), Qt::LeftButton);
        QCOMPARE(form_->StatusBar1->currentMessage(), QStringLiteral("Used to display messages only."));
    }

    void buttonGlyphs() {
        for (QPushButton* button : {form_->BitBtn2, form_->CancelBBtn, form_->BitBtn3}) {
            QVERIFY(!button->icon().isNull());
            QCOMPARE(button->iconSize(), QSize(16, 16));
            const QImage normal = button->icon().pixmap(QSize(16, 16), QIcon::Normal).toImage();
            const QImage disabled = button->icon().pixmap(QSize(16, 16), QIcon::Disabled).toImage();
            QVERIFY2(normal != disabled, qPrintable(button->objectName()));
        }
        for (QPushButton* button : {form_->DBNameBtn, form_->DirBrowseBtn}) {
            QVERIFY(button->icon().isNull());
        }
    }

private:
    std::unique_ptr<RecordingToolkit> toolkit_;
    std::unique_ptr<TForm1> form_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
