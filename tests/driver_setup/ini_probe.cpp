// Lists an odbc.ini as unixODBC's installer library reads it for System DSNs:
// run with ODBCSYSINI naming the folder that holds it. Given "both", lists it
// as a client does that reads System and User DSNs together (ODBCINI naming
// the user's file), which reads the system file by rules of its own. Prints "refused" when
// the library cannot read the file; otherwise, for every section it lists, in
// its order, "[name]", followed (for the first section of each name, which is
// the one every lookup finds) by "name=value" for each entry it lists, with
// the value that a lookup of that entry's name gives. Names and values are
// escaped as EscapedForListing describes.
//
// The library caches what it looked up, within one process, so each file is
// listed by a process of its own.
#include <cstdio>
#include <string>
#include <vector>

#include <odbcinst.h>

#include "ini_listing.h"

namespace {

constexpr int kListSize = 1 << 20;
constexpr int kValueSize = 4096;
constexpr const char* kFile = "odbc.ini";

// The strings of a list that SQLGetPrivateProfileString returns: each ends in
// a NUL, and an empty one ends the list.
std::vector<std::string> Strings(const std::vector<char>& list) {
    std::vector<std::string> strings;
    for (const char* p = list.data(); *p != '\0'; p += strings.back().size() + 1) {
        strings.emplace_back(p);
    }
    return strings;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using tarnwick::testing::EscapedForListing;
    const bool both = argc > 1 && std::string(argv[1]) == "both";
    if (!SQLSetConfigMode(both ? ODBC_BOTH_DSN : ODBC_SYSTEM_DSN)) {
        std::fputs("SQLSetConfigMode failed\n", stderr);
        return 2;
    }
    std::vector<char> sections(kListSize, '\0');
    if (SQLGetPrivateProfileString(nullptr, nullptr, "", sections.data(), kListSize, kFile) < 0) {
        std::fputs(tarnwick::testing::kRefusedListing.data(), stdout);
        return 0;
    }
    std::vector<std::string> listed;
    for (const auto& section : Strings(sections)) {
        std::printf("[%s]\n", EscapedForListing(section).c_str());
        bool seen = false;
        for (const auto& earlier : listed) {
            seen = seen || SameIgnoringCase(earlier, section);
        }
        listed.push_back(section);
        if (seen) {
            continue;
        }
        std::vector<char> keys(kListSize, '\0');
        if (SQLGetPrivateProfileString(section.c_str(), nullptr, "", keys.data(), kListSize, kFile) < 0) {
            std::fprintf(stderr, "listing the entries of [%s] failed\n", EscapedForListing(section).c_str());
            return 2;
        }
        for (const auto& key : Strings(keys)) {
            std::vector<char> value(kValueSize, '\0');
            if (SQLGetPrivateProfileString(section.c_str(), key.c_str(), "", value.data(), kValueSize, kFile) < 0) {
                std::fprintf(stderr, "looking up %s failed\n", EscapedForListing(key).c_str());
                return 2;
            }
            std::printf("%s=%s\n", EscapedForListing(key).c_str(), EscapedForListing(value.data()).c_str());
        }
    }
    return 0;
}
