#pragma once

// ASCII-only case handling, for the keywords, names and patterns that Access
// spells in English whatever the text around them.

#include <cstddef>
#include <string_view>

namespace tarnwick::access {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

} // namespace tarnwick::access
