#pragma once

#include <string>

namespace dsn {

// The two things the registration core does to the main window. The window
// class implements them on its log and its Cancel button; tests record them.
class WindowOperations {
public:
    virtual ~WindowOperations() = default;

    // Appends one whole line to the message log. The line may itself end in
    // a line feed, which stays part of it.
    virtual void AppendLogLine(const std::string& line) = 0;

    // Disables the Cancel button.
    virtual void DisableCancel() = 0;
};

} // namespace dsn
