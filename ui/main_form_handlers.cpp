#include "ui/main_form.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QString>

#include "dsn/create_dsn.h"
#include "ui/toolkit.h"

// The window's commands. Each handler runs to completion on the GUI thread.

namespace {

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }

void SetTextOf(QLineEdit* edit, const std::string& text) { edit->setText(QString::fromStdString(text)); }

void AddProblem(std::string& message, const char* problem) {
    if (!message.empty()) {
        message += "\n";
    }
    message += problem;
}

// The attribute list separates its entries with ';', so a value holding one
// would be cut there and its tail read as entries of its own (a DSN name
// "a;Driver=/tmp/x.so" would redirect every client of the new data source to
// another library). Such values are refused before anything is requested.
bool HoldsSeparator(const std::string& value) { return value.find(';') != std::string::npos; }

// Runs its action when the scope ends, however it ends.
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> action_;
};

void EnableCancel(QPushButton* cancel) {
    if (!cancel->isEnabled()) {
        cancel->setEnabled(true);
    }
}

} // namespace

void TForm1::BitBtn2Click() {
    // A click delivered while the previous request still waits (for an
    // administrator's authentication) is ignored, not stacked on top of it.
    if (creating_) {
        return;
    }
    creating_ = true;
    const ScopeExit done([this] { creating_ = false; });

    std::string message;
    Memo1->setPlainText(QString());

    const std::string database = TextOf(DBNameEdit);
    const std::string dataSource = TextOf(DSNNameEdit);
    const std::string directory = TextOf(DirectoryEdit);

    // Blanks are a value like any other: only a text of length 0 is empty.
    if (database.empty()) {
        AddProblem(message, "Database name can not be empty.");
    }
    if (dataSource.empty()) {
        AddProblem(message, "You must enter a name for DSN entry.");
    }
    if (directory.empty()) {
        AddProblem(message, "Directory can not be empty.");
    }
    if (HoldsSeparator(database)) {
        AddProblem(message, "Database name can not contain ';'.");
    }
    if (HoldsSeparator(dataSource)) {
        AddProblem(message, "DSN name can not contain ';'.");
    }
    if (HoldsSeparator(directory)) {
        AddProblem(message, "Directory can not contain ';'.");
    }
    if (!message.empty()) {
        toolkit_->MessageBox(message, "PARAMETER ERROR", ui::MB_ICONERROR);
        return;
    }

    // The core writes its progress lines and disables Cancel through the one
    // main window, as do the result lines below.
    const std::int8_t result =
        CreateDSN(dsn::AccessDriverName, database.c_str(), dataSource.c_str(), directory.c_str(), *Form1, *installer_);

    const char* tableMessage = dsn::LookupErrorMessage(result);
    if (tableMessage == nullptr) {
        return;
    }
    Form1->AppendLogLine(std::string(tableMessage) + "From button");
    if (dsn::AsksForInstallerDetail(tableMessage) && DisplayODBCErrors(*Form1, *installer_) == 0) {
        Form1->AppendLogLine(" No ODBC driver error messages provided.");
    }
}

void TForm1::CancelBBtnClick() {
    DBNameEdit->setText(QString());
    dbNameEditTag_ = 0;
    DSNNameEdit->setText(QString());
    DirectoryEdit->setText(QString());
    StatusBar1->showMessage(QString());
}

void TForm1::DBNameBtnClick() {
    std::optional<std::string> fileName;
    try {
        fileName = toolkit_->OpenFile(OpenDialog1.Filter);
    } catch (...) {
        toolkit_->MessageBox("Error ocurred while browsing for Database", "BROWSE ERROR", ui::MB_ICONERROR);
        return;
    }
    // Browsing re-enables Cancel even when the user then cancels the dialog.
    EnableCancel(CancelBBtn);
    if (!fileName) {
        return;
    }
    const ui::FileNameParts parts = ui::SplitFileName(*fileName);
    SetTextOf(DBNameEdit, parts.bareName);
    SetTextOf(DirectoryEdit, parts.directory);
}

void TForm1::DirBrowseBtnClick() {
    std::string directory;
    // Enabled before the chooser opens: whatever it then does, even throw
    // (the application shows what escapes a handler), Cancel is back.
    EnableCancel(CancelBBtn);
    if (toolkit_->SelectDirectory(directory, ui::sdAllowCreate | ui::sdPerformCreate | ui::sdPrompt, 1000)) {
        SetTextOf(DirectoryEdit, directory);
    }
}

void TForm1::BitBtn3Click() { Form1->close(); }

void TForm1::Memo1Click() { StatusBar1->showMessage(QStringLiteral("Used to display messages only.")); }

void TForm1::DSNNameEditEnter() { EnableCancel(CancelBBtn); }

void TForm1::DBNameEditExit() {
    const std::string name = TextOf(DBNameEdit);
    if (name.empty()) {
        return;
    }
    const bool found = toolkit_->FileExists(name);
    if (found || dbNameEditTag_ == 1) {
        return;
    }
    const int answer =
        toolkit_->MessageBox("Specified file does not exist.", "NO FILE", ui::MB_OKCANCEL | ui::MB_ICONWARNING);
    if (answer == ui::IDOK) {
        dbNameEditTag_ = 1;
        StatusBar1->showMessage(QStringLiteral("Database must be created."));
    }
}
