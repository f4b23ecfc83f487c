#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dsn {

// What the program hands the privileged helper and what it answers, as exact,
// length-prefixed byte streams (the attribute list holds NULs):
//
//   request: "tarnwick-system-dsn 1\n"
//            "directory <n>\n" <n bytes> "\n"
//            "driver <n>\n" <n bytes> "\n"
//            "attributes <n>\n" <n bytes> "\n"
//            "end\n"
//   answer:  "tarnwick-system-dsn-answer 1\n"
//            "result <0|1>\n"
//            then per error record "record <code> <n>\n" <n bytes> "\n"
//            "end\n"
//
// Numbers are decimal without leading zeros. The request names no kind: the
// helper only ever adds a System DSN, so nothing else can be asked of it.

// Neither stream may be longer; the helper reads one byte more to notice.
inline constexpr std::size_t MaxSystemDsnMessage = 64 * 1024;

// The longest current directory a request may carry (Linux's PATH_MAX).
inline constexpr std::size_t MaxRequestDirectory = 4096;

struct SystemDsnRequest {
    std::string directory; // the caller's current directory, absolute
    std::string driver;
    std::string attributes; // every byte up to and including the empty entry's NUL
};

struct InstallerRecord {
    std::uint32_t code = 0;
    std::string message;
    friend bool operator==(const InstallerRecord&, const InstallerRecord&) = default;
};

struct SystemDsnAnswer {
    bool created = false;
    std::vector<InstallerRecord> records;
};

std::string EncodeRequest(const SystemDsnRequest& request);
std::string EncodeAnswer(const SystemDsnAnswer& answer);

// Both refuse anything but one exact, complete stream of at most
// MaxSystemDsnMessage bytes; `problem`, when given, then says what was wrong.
std::optional<SystemDsnRequest> DecodeRequest(std::string_view stream, std::string* problem = nullptr);
std::optional<SystemDsnAnswer> DecodeAnswer(std::string_view stream, std::string* problem = nullptr);

// The length of an installer attribute list: its entries, each ended by NUL,
// and the empty entry's NUL that ends the list.
std::size_t AttributeListLength(const char* attributes);

} // namespace dsn
