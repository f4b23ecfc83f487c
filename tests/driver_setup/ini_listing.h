#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tarnwick::testing {

// How ini_probe prints a section or entry name or a value: printable ASCII as
// it is, every other byte (and the backslash) as \xHH, so that listings of
// files holding any bytes compare exactly and read in a test failure.
inline std::string EscapedForListing(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
    return out;
}

// The first line of a listing when unixODBC refuses the file as a whole.
inline constexpr std::string_view kRefusedListing = "refused\n";

} // namespace tarnwick::testing
