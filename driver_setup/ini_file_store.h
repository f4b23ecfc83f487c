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
//   - every writer of ours holds an exclusive flock on the file's folder while
//     it reads, edits and replaces the file (the file itself is a new inode
//     after every write, the folder stays the same);
//   - the new text goes to a temporary file in the same folder, is flushed to
//     disk and renamed over the old file, and the folder is flushed after;
//   - owner and permission bits are kept; a missing file is created with
//     `newFileMode`, without ever replacing one that appears meanwhile;
//   - a symbolic link is followed, and the file it leads to is replaced;
//   - text that unixODBC would refuse to read is never written.
// An edit that returns neither text nor errors leaves the file as it is. Any
// failure removes the temporary file and leaves the old file as it was, byte
// for byte; the errors name the file and the operating system's reason.
std::vector<SetupError> EditIniFile(const std::string& path, mode_t newFileMode,
                                    const std::function<FileEdit(std::string current)>& edit);

} // namespace tarnwick::setup
