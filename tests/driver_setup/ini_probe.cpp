// Lists odbc.ini files as unixODBC's installer library reads them for System
// DSNs: run with ODBCSYSINI naming a folder of its own, it copies each FILE in
// turn into that folder's odbc.ini and lists it. Given "both" first, it lists
// them as a client does that reads System and User DSNs together (ODBCINI
// naming the user's file), which reads the system file by rules of its own.
//
// Each listing begins with a line "\x01" and the file's number (from 0),
// which no listing line can begin with. Then "refused" when the library
// cannot read the file; otherwise, for every section it lists, in its order,
// "[name]", followed (for the first section of each name, which is the one
// every lookup finds) by "name=value" for each entry it lists, with the value
// that a lookup of that entry's name gives. Names and values are escaped as
// EscapedForListing describes.
//
// The library caches the values it looked up for 20 seconds, by file name
// ("odbc.ini"), section, entry, default value and config mode, but not what
// file that name stood for. Every file is therefore looked up with a default
// value of its own, which no earlier lookup can have been cached under.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
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

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << bytes.str();
    return in.good() && out.good();
}

// Prints the listing of what odbc.ini holds now; false when a lookup failed.
bool List(const std::string& unlisted) {
    using tarnwick::testing::EscapedForListing;
    std::vector<char> sections(kListSize, '\0');
    if (SQLGetPrivateProfileString(nullptr, nullptr, "", sections.data(), kListSize, kFile) < 0) {
        std::fputs(tarnwick::testing::kRefusedListing.data(), stdout);
        return true;
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
            return false;
        }
        for (const auto& key : Strings(keys)) {
            std::vector<char> value(kValueSize, '\0');
            const int length = SQLGetPrivateProfileString(section.c_str(), key.c_str(), unlisted.c_str(), value.data(),
                                                          kValueSize, kFile);
            if (length < 0 || unlisted == value.data()) {
                std::fprintf(stderr, "looking up %s failed\n", EscapedForListing(key).c_str());
                return false;
            }
            std::printf("%s=%s\n", EscapedForListing(key).c_str(), EscapedForListing(value.data()).c_str());
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files(argv + 1, argv + argc);
    const bool both = !files.empty() && files.front() == "both";
    if (both) {
        files.erase(files.begin());
    }
    const char* folder = std::getenv("ODBCSYSINI");
    if (folder == nullptr || !SQLSetConfigMode(both ? ODBC_BOTH_DSN : ODBC_SYSTEM_DSN)) {
        std::fputs("usage: ODBCSYSINI=FOLDER ini_probe [both] FILE...\n", stderr);
        return 2;
    }
    const std::string odbcIni = std::string(folder) + "/" + kFile;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!CopyFile(files[i], odbcIni)) {
            std::fprintf(stderr, "cannot copy %s to %s\n", files[i].c_str(), odbcIni.c_str());
            return 2;
        }
        std::printf("\x01%zu\n", i);
        if (!List("\x01unlisted in file " + std::to_string(i))) {
            return 2;
        }
    }
    return 0;
}
