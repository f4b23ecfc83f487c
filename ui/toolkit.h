#pragma once

#include <optional>
#include <string>

namespace ui {

// Message-box flags and answers, numbered as the Windows API numbers them.
inline constexpr unsigned MB_OK = 0;
inline constexpr unsigned MB_OKCANCEL = 1;
inline constexpr unsigned MB_YESNO = 4;
inline constexpr unsigned MB_ICONERROR = 16;
inline constexpr unsigned MB_ICONQUESTION = 32;
inline constexpr unsigned MB_ICONWARNING = 48;
inline constexpr unsigned MB_ICONINFORMATION = 64;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Options of the directory chooser.
enum SelectDirectoryOption : unsigned {
    sdAllowCreate = 1,   // the user may type a directory that does not exist
    sdPerformCreate = 2, // such a directory is created once confirmed
    sdPrompt = 4,        // and confirmation is asked for first
};

// Everything the window's handlers need from dialogs, message boxes and the
// file system. The Qt implementation is QtToolkit(); tests script their own.
class Toolkit {
public:
    virtual ~Toolkit() = default;

    // A message box with no owner window (the main window stays enabled).
    // Returns IDOK or IDCANCEL (IDYES or IDNO for MB_YESNO).
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;

    // The open-file dialog, with a filter "Name|pattern". Returns the full path of
    // the confirmed file, or nothing when the user cancelled. Confirming a file
    // makes its folder the process's current directory. May throw.
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;

    // The directory chooser. `directory` is the starting directory on entry and
    // the chosen one, as the user sees it, when the result is true. With
    // sdAllowCreate | sdPerformCreate | sdPrompt a missing directory is created
    // (with its parents) after the user confirms. The help context is accepted
    // and has no effect: there is no help system.
    virtual bool SelectDirectory(std::string& directory, unsigned options, int helpContext) = 0;

    // Whether a regular, non-hidden file matches `pattern` (used unchanged,
    // relative to the current directory, '*' and '?' as in shell globbing).
    virtual bool FileExists(const std::string& pattern) = 0;
};

// The real toolkit: Qt dialogs and POSIX file calls.
Toolkit& QtToolkit();

// A file name split at its last '/': "/srv/data/sales.mdb" gives the bare name
// "sales.mdb" and the directory "/srv/data/" (trailing '/' kept); a name with
// no '/' gives itself and an empty directory.
struct FileNameParts {
    std::string bareName;
    std::string directory;
};
FileNameParts SplitFileName(const std::string& fileName);

} // namespace ui
