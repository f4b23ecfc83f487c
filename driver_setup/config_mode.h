#pragma once

#include <optional>
#include <string>

namespace tarnwick::setup {

// The config mode (ODBC_SYSTEM_DSN, ODBC_USER_DSN or ODBC_BOTH_DSN) that
// unixODBC set for the ConfigDSN call in progress, or why it cannot be known.
struct ConfigMode {
    std::optional<int> mode;
    std::string problem; // set when there is no mode
};

// Learns the config mode without ever waiting on unixODBC's config-mode lock.
//
// From 2.3.13 on, SQLConfigDataSource holds that (non-recursive) lock for the
// whole ConfigDSN call, and SQLGetConfigMode takes it again, so asking would
// wait for ever. In this order:
//   1. ODBCSEARCH, when it holds one of unixODBC's three names, is the mode:
//      unixODBC itself lets it override the config mode everywhere.
//   2. A release without the lock (before 2.3.13) is asked with SQLGetConfigMode.
//   3. Otherwise a child process asks: it inherits the lock's state, so it
//      answers at once where a release no longer holds the lock during
//      ConfigDSN, and is stopped after a short bound where it does.
// When none of them answers, `problem` says why and what to do.
ConfigMode CurrentConfigMode();

} // namespace tarnwick::setup
