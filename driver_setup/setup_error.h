#pragma once

#include <string>

namespace tarnwick::setup {

// One installer error record: an ODBC_ERROR_* code and a message that says what
// was refused and why, in words a person can act on.
struct SetupError {
    int code = 0;
    std::string message;
};

} // namespace tarnwick::setup
