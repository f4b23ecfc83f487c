#include "form_harness.h"

#include <stdexcept>
#include <utility>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace tarnwick::testing {

namespace {

void Fail(ScriptedToolkit::Failure failure, const char* what) {
    switch (failure) {
    case ScriptedToolkit::Failure::None:
        return;
    case ScriptedToolkit::Failure::StandardException:
        throw std::runtime_error(what);
    case ScriptedToolkit::Failure::OtherException:
        throw 42; // anything at all may escape a dialog
    }
}

} // namespace

int ScriptedToolkit::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    boxes.push_back({text, caption, flags});
    int answer = ui::IDOK;
    if (!boxAnswers.empty()) {
        answer = boxAnswers.front();
        boxAnswers.pop_front();
    }
    if (showBox) {
        answer = showBox(boxes.back());
    }
    return answer;
}

std::optional<std::string> ScriptedToolkit::OpenFile(const std::string& filter) {
    openFileFilters.push_back(filter);
    Fail(openFileFailure, "the file dialog failed");
    return openFileAnswer;
}

bool ScriptedToolkit::SelectDirectory(std::string& directory, unsigned options, int helpContext) {
    directoryRequests.push_back({directory, options, helpContext});
    Fail(directoryFailure, "the directory chooser failed");
    if (!directoryAnswer) {
        return false;
    }
    directory = *directoryAnswer;
    return true;
}

bool ScriptedToolkit::FileExists(const std::string& pattern) {
    existenceChecks.push_back(pattern);
    return ui::QtToolkit().FileExists(pattern);
}

bool CountingInstaller::ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                                         const char* attributes) {
    ++requests;
    return dsn::SystemInstaller().ConfigDataSource(parentWindow, request, driver, attributes);
}

std::int16_t CountingInstaller::InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message,
                                               std::uint16_t capacity, std::uint16_t* textLength) {
    return dsn::SystemInstaller().InstallerError(index, errorCode, message, capacity, textLength);
}

bool SilentRefusingInstaller::ConfigDataSource(void*, std::uint16_t, const char*, const char*) {
    ++requests;
    return false;
}

std::int16_t SilentRefusingInstaller::InstallerError(std::uint16_t, std::uint32_t*, char*, std::uint16_t,
                                                     std::uint16_t*) {
    return 100;
}

void RecordingForm::AppendLogLine(const std::string& line) {
    loggedLines.push_back(line);
    TForm1::AppendLogLine(line);
}

void ShowAsMainWindow(TForm1& form) {
    Form1 = &form;
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) {
        throw std::runtime_error("the main window did not become active");
    }
}

QString LogText(const TForm1& form) { return form.Memo1->toPlainText(); }

FormState StateOf(const TForm1& form) {
    return {form.DBNameEdit->text(),      form.DSNNameEdit->text(),          form.DirectoryEdit->text(),
            form.CancelBBtn->isEnabled(), form.StatusBar1->currentMessage(), form.DBNameEditTag()};
}

char* toString(const FormState& state) {
    const QString text =
        QStringLiteral("database '%1', DSN '%2', directory '%3', Cancel %4, status '%5', flag %6")
            .arg(state.database, state.dataSource, state.directory,
                 state.cancelEnabled ? QStringLiteral("enabled") : QStringLiteral("disabled"), state.status)
            .arg(state.mustCreate);
    return QTest::toString(text);
}

void Fill(TForm1& form, const QString& database, const QString& dataSource, const QString& directory) {
    form.DBNameEdit->setText(database);
    form.DSNNameEdit->setText(dataSource);
    form.DirectoryEdit->setText(directory);
}

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton button, std::function<void(QDialog*)> answerDialog)
    : button_(button), answerDialog_(std::move(answerDialog)), timer_(new QTimer) {
    // Polled rather than single-shot: the box opens inside a handler, after the
    // test has handed control to the event loop.
    timer_->setInterval(20);
    QObject::connect(timer_, &QTimer::timeout, [this] {
        QWidget* open = QApplication::activeModalWidget();
        if (open == nullptr) {
            // Boxes without an owner need not be modal.
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible() && qobject_cast<QMessageBox*>(window) != nullptr) {
                    open = window;
                    break;
                }
            }
        }
        if (open == nullptr || !open->isVisible()) {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(open)) {
            seen_.append(box->text());
            if (QAbstractButton* answer = box->button(button_)) {
                answer->click();
            } else {
                box->reject();
            }
        } else if (auto* dialog = qobject_cast<QDialog*>(open)) {
            seen_.append(dialog->windowTitle());
            if (answerDialog_) {
                answerDialog_(dialog);
            } else {
                dialog->reject();
            }
        }
    });
    timer_->start();
}

BoxAnswerer::~BoxAnswerer() { delete timer_; }

} // namespace tarnwick::testing
