#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::setup {

// The longest line unixODBC reads back whole: its reader takes lines with
// fgets into a 1000-byte buffer, so a longer line is read as several lines and
// its tail becomes a bogus entry (or even a section header).
constexpr std::size_t kMaxIniLineLength = 999;

// An odbc.ini file as unixODBC 2.3.11 reads it, editable without disturbing what
// an edit does not touch.
//
// How unixODBC reads the file: a line that starts with '[' opens a section, named
// by what lies between the brackets, trimmed; before the first section only blank
// lines and comments ('#' or ';', after blanks) may appear, anything else makes it
// refuse the whole file. Inside a section a line whose first byte is neither a
// blank nor '#' or ';' is an entry "name=value" split at the first '=', both
// trimmed; lines that start with a blank are ignored. Names of sections and
// entries compare without regard to ASCII case, and the first one of a name wins.
//
// Every line keeps its exact bytes; edits replace or remove whole lines of one
// section and leave comments, blank lines and the order of all else as they were.
class IniDocument {
public:
    struct Entry {
        std::string name;
        std::string value;
    };

    explicit IniDocument(const std::string& text);

    // Why unixODBC cannot read this file reliably (with the line number), or
    // nothing when it can. Such a file must not be edited: what unixODBC would
    // make of the result cannot be foreseen.
    const std::optional<std::string>& Problem() const { return problem_; }

    std::vector<std::string> SectionNames() const;
    bool HasSection(const std::string& name) const;

    // The entries of the first section of that name, in file order.
    std::vector<Entry> Entries(const std::string& section) const;

    // The value unixODBC finds for `key` in `section`.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;

    // Makes the first section of that name read "[name]" followed by exactly
    // `entries`, or appends such a section when there is none. The new entries
    // take the place of the first old one; comments and ignored lines inside the
    // section stay where they were.
    void SetSection(const std::string& name, const std::vector<Entry>& entries);

    // Removes the first section of that name: its header and every line up to its
    // last entry, and a blank line before it when no text follows directly.
    // Comments and blank lines after its last entry stay, since they usually
    // introduce what follows. Returns false when there is no such section.
    bool RemoveSection(const std::string& name);

    std::string Text() const;

private:
    enum class Kind { Other, Section, Entry };

    struct Line {
        std::string text; // the line's bytes, with its '\n' when it has one
        Kind kind = Kind::Other;
        std::string name;  // of the section or entry
        std::string value; // of an entry
    };

    std::size_t FindSection(const std::string& name) const;
    std::size_t SectionEnd(std::size_t header) const;

    std::vector<Line> lines_;
    std::optional<std::string> problem_;
};

// Trims the bytes that unixODBC trims from names and values (isspace in the C locale).
std::string TrimIniBlanks(const std::string& text);

} // namespace tarnwick::setup
