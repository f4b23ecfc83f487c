#pragma once

#include <optional>
#include <string>

#include <QMessageBox>
#include <QString>

#include "ui/toolkit.h"

namespace ui {

// The toolkit on Qt Widgets and POSIX: what QtToolkit() returns.
class QtWidgetsToolkit final : public Toolkit {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    bool SelectDirectory(std::string& directory, unsigned options, int helpContext) override;
    bool FileExists(const std::string& pattern) override;
};

// What a message box looks like for a set of MB_* flags: the icon from the
// icon bits, the buttons from the button bits (button sets other than OK,
// OK/Cancel and Yes/No fall back to OK).
struct MessageBoxLook {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};
MessageBoxLook MessageBoxLookFor(unsigned flags);

// The ID* answer for the button that closed a box with these buttons. A box
// closed without a button (Escape, the window manager) answers as its
// cancelling button would: IDCANCEL, IDNO, or IDOK when OK is the only one.
int MessageBoxAnswer(QMessageBox::StandardButton clicked, QMessageBox::StandardButtons buttons);

// "Name|pattern|Name|pattern..." as QFileDialog's "Name (pattern);;..." list;
// several patterns in one entry ("*.mdb;*.accdb") become space-separated.
QString QtFileFilter(const std::string& filter);

} // namespace ui
