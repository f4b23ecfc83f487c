#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::setup {

// The longest line unixODBC reads back whole: it reads with fgets into a
// buffer of 1000 bytes (INI_MAX_LINE), which takes at most 999 bytes at a time,
// the '\n' among them. A line of 999 bytes still reads whole (its '\n' comes
// as a blank piece of its own); a longer one is read as several lines, each of
// which may be an entry, a comment or even a section header of its own.
constexpr std::size_t kMaxIniLineLength = 999;

// An odbc.ini file as unixODBC (2.3.11 to 2.3.14 alike) reads it for a System
// DSN, editable without disturbing what an edit does not touch.
//
// How unixODBC reads the file: in pieces of at most 999 bytes, each ending at a
// '\n' or where the 999 bytes end (a longer line yields several pieces); a NUL
// byte ends what is seen of a piece. Before the first section only blank pieces
// and comments ('#' or ';', after blanks) may appear, and the first section's
// '[' must be the piece's first byte; anything else makes it refuse the whole
// file. After that, blanks (isspace in the C locale) at a piece's start are
// skipped: what then starts with '[' opens a section, named by what lies up to
// the next ']' (or the piece's end), trimmed; what starts with '#' or ';' is a
// comment; anything else is an entry "name=value" split at the first '=' (no
// '=' gives an empty value), both trimmed. Names of sections and entries
// compare without regard to ASCII case, and the first one of a name wins.
//
// The document keeps those pieces as its lines, each with its exact bytes;
// edits replace or remove whole pieces of one section and leave comments, blank
// lines and the order of all else as they were. Every piece that does not end a
// line is exactly 999 bytes long, so removing or inserting whole pieces never
// moves where unixODBC cuts the others.
//
// (Clients that read System DSNs together with their user's own file read the
// system file more narrowly: lines that start with a blank are nothing to them,
// and an entry must start with a letter or digit. Edits therefore write headers
// and entries flush left, and a section header that follows an edited section
// indented is moved flush left, which unixODBC reads as before.)
class IniDocument {
public:
    struct Entry {
        std::string name;
        std::string value;

        bool operator==(const Entry&) const = default;
    };

    struct Section {
        std::string name;
        std::vector<Entry> entries;

        bool operator==(const Section&) const = default;
    };

    // Spare capacity that a text handed to the constructor should have, so that
    // a typical edit (a data source of a few lines) can be stored without
    // copying a large file once more.
    static constexpr std::size_t kRoomForEdits = 64 * 1024;

    explicit IniDocument(std::string text);

    // Why unixODBC refuses to read this file at all (with the line number), or
    // nothing when it reads it. Such a file must not be edited: no client sees
    // a data source in it, and which lines its author meant as what cannot be
    // told.
    const std::optional<std::string>& Problem() const { return problem_; }

    // What Problem() would say of a document of this text, without building one.
    static std::optional<std::string> ProblemIn(std::string_view text);

    // Every section header, in file order, repeated names included.
    std::vector<std::string> SectionNames() const;

    // Every section with its entries, in file order, as unixODBC builds its list.
    std::vector<Section> Sections() const;
    bool HasSection(const std::string& name) const;

    // The entries of the first section of that name, in file order.
    std::vector<Entry> Entries(const std::string& section) const;

    // The value unixODBC finds for `key` in `section`.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;

    // Makes the first section of that name read "[name]" followed by exactly
    // `entries`, or appends such a section when there is none. The new entries
    // take the place of the first old one; comments and blank lines inside the
    // section stay where they were, and an indented header right after it is
    // moved flush left (see above).
    void SetSection(const std::string& name, const std::vector<Entry>& entries);

    // Removes the first section of that name: its header and every line up to its
    // last entry, and a blank line before it when no text follows directly.
    // Comments and blank lines after that stay, since they usually introduce what
    // follows, and they are the only lines that may stand before a section should
    // the removed one have been the first; an indented header after them is
    // moved flush left (see above). Returns false when there is no such section.
    bool RemoveSection(const std::string& name);

    std::string Text() const;

    // Whether Text() differs from the text the document was made from.
    bool Changed() const;

    // Text(), leaving the document empty. Cheaper for a large file when the
    // edits only appended: the file's bytes are handed over rather than copied.
    std::string TakeText();

private:
    enum class Kind : std::uint8_t { Other, Section, Entry };

    // A line is one piece as unixODBC reads it (see above). Its bytes (with the
    // '\n' when it has one) lie in storage_, which holds
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
    std::string_view Seen(const Line& line) const;    // what unixODBC sees: up to a NUL, leading blanks skipped
    std::string_view NameOf(const Line& line) const;  // of a section or entry
    std::string_view ValueOf(const Line& entry) const;

    // Splits `text` into the pieces unixODBC reads (when `lines` is given) and
    // says why unixODBC could not read it, if it could not.
    static std::optional<std::string> Scan(std::string_view text, std::vector<Line>* lines);

    Line Add(std::string_view content, Kind kind); // stores a new line ending in '\n'
    std::size_t FindSection(std::string_view name) const;
    std::size_t SectionEnd(std::size_t header) const;
    std::vector<Entry> EntriesFrom(std::size_t header) const;
    void UnindentSectionFrom(std::size_t index);

    std::string storage_;
    std::size_t originalSize_ = 0; // the leading part of storage_ that was the file
    std::vector<Line> lines_;
    std::optional<std::string> problem_;
};

// Trims the bytes that unixODBC trims from names and values (isspace in the C locale).
std::string_view TrimIniBlanks(std::string_view text);

} // namespace tarnwick::setup
