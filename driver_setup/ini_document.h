#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

    // Spare capacity that a text handed to the constructor should have, so that
    // a typical edit (a data source of a few lines) can be stored without
    // copying a large file once more.
    static constexpr std::size_t kRoomForEdits = 64 * 1024;

    explicit IniDocument(std::string text);

    // Why unixODBC cannot read this file reliably (with the line number), or
    // nothing when it can. Such a file must not be edited: what unixODBC would
    // make of the result cannot be foreseen.
    const std::optional<std::string>& Problem() const { return problem_; }

    // What Problem() would say of a document of this text, without building one.
    static std::optional<std::string> ProblemIn(std::string_view text);

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
    // last entry or ignored (indented) line, and a blank line before it when no
    // text follows directly. Comments and blank lines after that stay, since they
    // usually introduce what follows, and they are the only lines that may stand
    // before a section should the removed one have been the first. Returns false
    // when there is no such section.
    bool RemoveSection(const std::string& name);

    std::string Text() const;

    // Whether Text() differs from the text the document was made from.
    bool Changed() const;

    // Text(), leaving the document empty. Cheaper for a large file when the
    // edits only appended: the file's bytes are handed over rather than copied.
    std::string TakeText();

private:
    enum class Kind : std::uint8_t { Other, Section, Entry };

    // A line's bytes (with its '\n' when it has one) lie in storage_, which holds
    // the file as read followed by the lines that edits made. Lines refer to it by
    // offset rather than owning strings: a file of ten thousand data sources has a
    // hundred thousand lines, and one allocation each made reading it slow.
    struct Line {
        std::size_t begin = 0;
        std::uint32_t size = 0;
        Kind kind = Kind::Other;
    };

    std::string_view Bytes(const Line& line) const;
    std::string_view Content(const Line& line) const; // without the '\n'
    std::string_view NameOf(const Line& line) const; // of a section or entry
    std::string_view ValueOf(const Line& entry) const;

    // Splits `text` into lines (when `lines` is given) and says why unixODBC
    // could not read it, if it could not.
    static std::optional<std::string> Scan(std::string_view text, std::vector<Line>* lines);

    Line Add(std::string_view content, Kind kind); // stores a new line ending in '\n'
    std::size_t FindSection(std::string_view name) const;
    std::size_t SectionEnd(std::size_t header) const;

    std::string storage_;
    std::size_t originalSize_ = 0; // the leading part of storage_ that was the file
    std::vector<Line> lines_;
    std::optional<std::string> problem_;
};

// Trims the bytes that unixODBC trims from names and values (isspace in the C locale).
std::string_view TrimIniBlanks(std::string_view text);

} // namespace tarnwick::setup
