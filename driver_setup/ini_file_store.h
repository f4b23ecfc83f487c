#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "setup_error.h"

namespace tarnwick::setup {

// What an edit makes of the file's current text: the new text (none when
// nothing changes), or the reasons it refuses (then nothing is written).
struct FileEdit {
    std::optional<std::string> text;
    std::vector<SetupError> errors;
};

// Replaces the whole file with what `edit` makes of its current text (empty
// when the file does not exist yet; the edit may keep the string), so that no
// reader ever sees half of it:
//   - every writer of ours holds an exclusive flock on a lock file beside the
//     file (".odbc.ini.lock", 0600, its owner's alone) while it reads, edits
//     and replaces the file, and waits at most a few seconds for it;
//   - unixODBC's own writer rewrites the file in place without a lock: the
//     file is read, edited and replaced under a read lease, so a program that
//     has it open for writing is waited for, and one that opens it meanwhile
//     makes the edit start over; where no lease can be had, a file that shows
//     the signs of a rewrite in progress is waited for, a bounded time; a file
//     that changed while it was read is read again, and the new copy is
//     renamed into place only while the file is still the one that was read;
//   - the new text goes to a temporary file in the same folder, is flushed to
//     disk and renamed over the old file, and the folder is flushed after;
//     temporary files that a writer left behind when it died are removed;
//   - owner, permission bits and extended attributes (ACLs, security labels)
//     are kept; a missing file is created with `newFileMode`, without ever
//     replacing one that appears meanwhile;
//   - a symbolic link is followed, and the file it leads to is replaced;
//   - text that unixODBC would refuse to read is never written.
// An edit that returns neither text nor errors leaves the file as it is. Any
// failure removes the temporary file and leaves the old file as it was, byte
// for byte; the errors name the file and the operating system's reason.
std::vector<SetupError> EditIniFile(const std::string& path, mode_t newFileMode,
                                    const std::function<FileEdit(std::string current)>& edit);

} // namespace tarnwick::setup
