#pragma once

#include <cstdint>

// The messages of the result codes 0 to 16, shared by a family of database
// operations; CreateDSN gives only 0 and 10. Code 0 (success) has none.
inline constexpr int ErrorMessageCount = 17;
extern const char* const ErrorMessages[ErrorMessageCount];

namespace dsn {

// Shown for a code outside the table. Such a code is never produced, but it
// is not success either, so it must not look like code 0.
inline constexpr char UnknownResultMessage[] = "Unknown result code";

// The message of a result code, the code widened with its sign: null for 0,
// the table's entry for 1 to 16, UnknownResultMessage for anything else.
const char* LookupErrorMessage(std::int8_t code);

// A message asks for the installer's error records when its last byte is ':'.
// Null and empty messages do not.
bool AsksForInstallerDetail(const char* message);

} // namespace dsn
