#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QDialog;
class QTimer;

#include "dsn/installer.h"
#include "ui/main_form.h"
#include "ui/toolkit.h"

namespace tarnwick::testing {

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned flags = 0;
};

// Dialogs and boxes answer from a script and are recorded; file existence is
// the real file system (the real toolkit's check).
class ScriptedToolkit : public ui::Toolkit {
public:
    enum class Failure { None, StandardException, OtherException };

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    bool SelectDirectory(std::string& directory, unsigned options, int helpContext) override;
    bool FileExists(const std::string& pattern) override;

    // Message boxes: what was shown, and the answers to give (IDOK once these run out).
    std::vector<MessageBoxCall> boxes;
    std::deque<int> boxAnswers;
    // Runs while a box is "open", e.g. to show a real window that takes the focus.
    std::function<int(const MessageBoxCall&)> showBox;

    // Open-file dialog: the file the user confirms (nothing: cancelled), or a failure.
    std::optional<std::string> openFileAnswer;
    Failure openFileFailure = Failure::None;
    std::vector<std::string> openFileFilters;

    // Directory chooser: the chosen directory (nothing: cancelled), or a failure.
    std::optional<std::string> directoryAnswer;
    Failure directoryFailure = Failure::None;
    struct DirectoryRequest {
        std::string start;
        unsigned options = 0;
        int helpContext = 0;
    };
    std::vector<DirectoryRequest> directoryRequests;

    std::vector<std::string> existenceChecks;
};

// The real installer, counting the data sources it is asked for.
class CountingInstaller : public dsn::Installer {
public:
    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override;
    std::int16_t InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message, std::uint16_t capacity,
                                std::uint16_t* textLength) override;

    int requests = 0;
};

// An installer that refuses every request and then holds no error records,
// which the real one never does.
class SilentRefusingInstaller : public dsn::Installer {
public:
    bool ConfigDataSource(void*, std::uint16_t, const char*, const char*) override;
    std::int16_t InstallerError(std::uint16_t, std::uint32_t*, char*, std::uint16_t, std::uint16_t*) override;

    int requests = 0;
};

// The real window, recording every line that reaches its log.
class RecordingForm : public TForm1 {
public:
    void AppendLogLine(const std::string& line) override;

    std::vector<std::string> loggedLines;
};

// Shows `form` as the one main window (Form1) and waits until it is active,
// so focus changes and clicks behave as for a user.
void ShowAsMainWindow(TForm1& form);

// The log lines as the window shows them.
QString LogText(const TForm1& form);

// The field texts and the Cancel button's state, to check that nothing changed.
struct FormState {
    QString database;
    QString dataSource;
    QString directory;
    bool cancelEnabled = false;
    QString status;
    int mustCreate = 0;
    bool operator==(const FormState&) const = default;
};
FormState StateOf(const TForm1& form);
char* toString(const FormState& state); // for QCOMPARE

void Fill(TForm1& form, const QString& database, const QString& dataSource, const QString& directory);

// While it lives, answers every real message box that opens, modal or not (by
// pressing `button`), and hands any other modal dialog to `answerDialog` (by
// default it is rejected), recording what it saw, so a test never waits on a
// window nobody will close.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button, std::function<void(QDialog*)> answerDialog = {});
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // The texts of the boxes answered so far (a dialog's window title).
    const QStringList& seen() const { return seen_; }

private:
    QMessageBox::StandardButton button_;
    std::function<void(QDialog*)> answerDialog_;
    QStringList seen_;
    QTimer* timer_;
};

} // namespace tarnwick::testing
