#include "ui/qt_toolkit.h"

#include <string_view>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include <glob.h>
#include <sys/stat.h>

#include "ui/directory_chooser.h"

namespace ui {

namespace {

QString FromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) { return text.toUtf8().toStdString(); }

// FindFirst knows only '*' and '?' as wildcards; glob() would also read
// brackets and backslashes, so "data[1].mdb" could never find itself.
std::string EscapeForGlob(const std::string& pattern) {
    std::string escaped;
    escaped.reserve(pattern.size());
    for (char c : pattern) {
        if (c == '[' || c == ']' || c == '\\') {
            escaped.push_back('\\');
        }
        escaped.push_back(c);
    }
    return escaped;
}

bool IsHiddenName(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return !name.empty() && name.front() == '.';
}

} // namespace

MessageBoxLook MessageBoxLookFor(unsigned flags) {
    MessageBoxLook look;
    switch (flags & 0xF0U) {
    case MB_ICONERROR:
        look.icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        look.icon = QMessageBox::Question;
        break;
    case MB_ICONWARNING:
        look.icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        look.icon = QMessageBox::Information;
        break;
    default:
        look.icon = QMessageBox::NoIcon;
        break;
    }
    switch (flags & 0x0FU) {
    case MB_OKCANCEL:
        look.buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MB_YESNO:
        look.buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    default:
        look.buttons = QMessageBox::Ok;
        break;
    }
    return look;
}

int MessageBoxAnswer(QMessageBox::StandardButton clicked, QMessageBox::StandardButtons buttons) {
    switch (clicked) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        break;
    }
    if (buttons.testFlag(QMessageBox::Cancel)) {
        return IDCANCEL;
    }
    if (buttons.testFlag(QMessageBox::No)) {
        return IDNO;
    }
    return IDOK;
}

QString QtFileFilter(const std::string& filter) {
    const QStringList parts = FromBytes(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified());
    }
    return entries.join(QStringLiteral(";;"));
}

int QtWidgetsToolkit::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    const MessageBoxLook look = MessageBoxLookFor(flags);
    QMessageBox box(look.icon, FromBytes(caption), FromBytes(text), look.buttons);
    // A box without an owner leaves the main window usable, so the box must
    // not be modal. Only while a modal dialog is open (the directory chooser
    // asking to create a folder) would a non-modal box be blocked by it.
    box.setWindowModality(QApplication::activeModalWidget() != nullptr ? Qt::ApplicationModal : Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec();
    const auto clicked =
        box.clickedButton() != nullptr ? box.standardButton(box.clickedButton()) : QMessageBox::NoButton;
    return MessageBoxAnswer(clicked, look.buttons);
}

std::optional<std::string> QtWidgetsToolkit::OpenFile(const std::string& filter) {
    QFileDialog dialog(nullptr, QStringLiteral("Open"), QDir::currentPath(), QtFileFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The user may type the name of a database that does not exist yet.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString file = QDir::cleanPath(QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath());
    // The existence check looks a bare name up in the current directory, so the
    // confirmed file's folder becomes the current one.
    QDir::setCurrent(QFileInfo(file).absolutePath());
    return ToBytes(file);
}

bool QtWidgetsToolkit::SelectDirectory(std::string& directory, unsigned options, int /*helpContext*/) {
    DirectoryChooser chooser(FromBytes(directory), options, *this);
    if (chooser.exec() != QDialog::Accepted) {
        return false;
    }
    directory = ToBytes(chooser.Directory());
    return true;
}

bool QtWidgetsToolkit::FileExists(const std::string& pattern) {
    if (pattern.empty()) {
        return false;
    }
    glob_t matches{};
    const int status = glob(EscapeForGlob(pattern).c_str(), 0, nullptr, &matches);
    bool found = false;
    if (status == 0) {
        for (std::size_t i = 0; i < matches.gl_pathc && !found; ++i) {
            const char* path = matches.gl_pathv[i];
            struct stat info {};
            found = !IsHiddenName(path) && stat(path, &info) == 0 && S_ISREG(info.st_mode);
        }
    }
    globfree(&matches);
    return found;
}

Toolkit& QtToolkit() {
    static QtWidgetsToolkit toolkit;
    return toolkit;
}

FileNameParts SplitFileName(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    if (slash == std::string::npos) {
        return {fileName, {}};
    }
    return {fileName.substr(slash + 1), fileName.substr(0, slash + 1)};
}

} // namespace ui
