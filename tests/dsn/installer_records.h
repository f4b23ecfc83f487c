#pragma once

#include <string>
#include <vector>

namespace tarnwick::testing {

// The error records libodbcinst holds now, each as the line the report shows
// for it, read straight from SQLInstallerError.
std::vector<std::string> HeldRecordLines();

// Removes every record libodbcinst holds. Its own clearing removes only the
// newest one, so this repeats it.
void ClearInstallerRecords();

// Adds a record, as a setup library does.
void PostInstallerRecord(unsigned code, const std::string& text);

} // namespace tarnwick::testing
