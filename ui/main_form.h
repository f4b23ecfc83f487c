#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "system_dsn_client/elevating_installer.h"
#include "dsn/installer.h"
#include "dsn/window_operations.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace Ui {
class TForm1;
}
namespace ui {
class Toolkit;
}

// The open-file dialog's settings; the dialog itself is run through the toolkit.
struct OpenDialog {
    std::string Filter;
};

// The "Create System DSN" window: the form's components and their handlers.
class TForm1 : public QWidget, public dsn::WindowOperations {
    Q_OBJECT

public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    // The log and the Cancel button, as the registration core uses them.
    void AppendLogLine(const std::string& line) override;
    void DisableCancel() override;

    // What the handlers talk to; the real toolkit by default, and the
    // installer that asks for an administrator where the system odbc.ini
    // needs one.
    void SetToolkit(ui::Toolkit& toolkit) { toolkit_ = &toolkit; }
    void SetInstaller(dsn::Installer& installer) { installer_ = &installer; }
    // Where the window's own installer finds pkexec and the helper (by default
    // the installed ones), and how long it waits for them.
    void SetElevationSettings(dsn::ElevatingInstaller::Settings settings);

    // The database field's must-create flag: 1 once the user has accepted that
    // the database file does not exist yet, else 0.
    int DBNameEditTag() const { return dbNameEditTag_; }

    QStatusBar* StatusBar1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLineEdit* DBNameEdit = nullptr;
    QLineEdit* DSNNameEdit = nullptr;
    QLineEdit* DirectoryEdit = nullptr;
    QPushButton* CancelBBtn = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* DBNameBtn = nullptr;
    QPushButton* DirBrowseBtn = nullptr;
    OpenDialog OpenDialog1;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* BitBtn3 = nullptr;

public slots:
    void BitBtn2Click();
    void CancelBBtnClick();
    void DBNameBtnClick();
    void DirBrowseBtnClick();
    void BitBtn3Click();
    void Memo1Click();
    void DSNNameEditEnter();
    void DBNameEditExit();

protected:
    // Turns the fields' focus changes and the log's clicks into the handlers
    // Qt has no signals for.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TForm1> form_;
    ui::Toolkit* toolkit_;
    dsn::ElevatingInstaller elevatingInstaller_;
    dsn::Installer* installer_;
    int dbNameEditTag_ = 0;
    // Set while Create runs: the wait for an administrator's authentication
    // keeps the window painting, and a click that arrives meanwhile must not
    // start a second request on top of the first.
    bool creating_ = false;
};

// The one main window, set when it is created and valid until the program ends.
extern TForm1* Form1;
