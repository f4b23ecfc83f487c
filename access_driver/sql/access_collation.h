#pragma once

#include <string>
#include <string_view>

namespace tarnwick::access {

// The bytes by which the ACCESS collation orders UTF-8 text: two texts compare
// equal under ACCESS exactly when their keys are equal, and keys compared
// bytewise (memcmp, std::string's <) order as ACCESS does. For an index over a
// text column whose lookups must find 'ärger' for 'ÄRGER'. Empty when ICU
// cannot build the key.
std::string AccessCollationKey(std::string_view utf8);

} // namespace tarnwick::access
