#include "ini_document.h"

#include <algorithm>
#include <cstring>

#include "attribute_list.h"

namespace tarnwick::setup {

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsCommentStart(char c) { return c == '#' || c == ';'; }

// What unixODBC sees of a piece: its C string, which ends at a NUL byte.
std::string_view UpToNul(std::string_view piece) { return piece.substr(0, piece.find('\0')); }

std::string_view SkipLeadingBlanks(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsIniBlank(text[begin])) {
        ++begin;
    }
    return text.substr(begin);
}

// A piece that unixODBC reads as nothing anywhere in the file: blank, or a
// comment after blanks. Only such pieces may stand before the first section.
bool IsBlankOrComment(std::string_view piece) {
    const std::string_view seen = SkipLeadingBlanks(UpToNul(piece));
    return seen.empty() || IsCommentStart(seen.front());
}

// The length of the piece that fgets(buffer, 1000, file) reads at `position`.
std::size_t PieceSize(std::string_view text, std::size_t position) {
    const std::size_t limit = std::min(kMaxIniLineLength, text.size() - position);
    const auto* start = text.data() + position;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', limit));
    return newline == nullptr ? limit : static_cast<std::size_t>(newline - start) + 1;
}

} // namespace

std::string_view TrimIniBlanks(std::string_view text) {
    text = SkipLeadingBlanks(text);
    std::size_t end = text.size();
    while (end > 0 && IsIniBlank(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

IniDocument::IniDocument(std::string text) : storage_(std::move(text)), originalSize_(storage_.size()) {
    storage_.reserve(originalSize_ + kRoomForEdits);
    constexpr std::size_t kRoomForLines = 256;
    lines_.reserve(static_cast<std::size_t>(std::count(storage_.begin(), storage_.end(), '\n')) + kRoomForLines);
    problem_ = Scan(storage_, &lines_);
}

std::optional<std::string> IniDocument::ProblemIn(std::string_view text) { return Scan(text, nullptr); }

std::optional<std::string> IniDocument::Scan(std::string_view text, std::vector<Line>* lines) {
    std::optional<std::string> problem;
    bool inSection = false;
    std::size_t number = 1; // of the line (not piece) for messages
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t size = PieceSize(text, position);
        const std::string_view piece = text.substr(position, size);
        Line line{position, static_cast<std::uint32_t>(size), Kind::Other};
        position += size;

        if (!inSection) {
            // Until the first section unixODBC looks at a piece's first byte for
            // the '[' and skips no blanks; anything but blanks and comments
            // makes it refuse the file.
            if (piece.front() == '[') {
                line.kind = Kind::Section;
                inSection = true;
            } else if (!problem && !IsBlankOrComment(piece)) {
                problem = "line " + std::to_string(number) +
                          (SkipLeadingBlanks(UpToNul(piece)).front() == '['
                               ? " is a [section] header after blanks, which unixODBC does not accept for the "
                                 "first section"
                               : " is neither a comment nor a [section] header, but no section has begun yet");
            }
        } else {
            const std::string_view seen = SkipLeadingBlanks(UpToNul(piece));
            if (!seen.empty() && seen.front() == '[') {
                line.kind = Kind::Section;
            } else if (!seen.empty() && !IsCommentStart(seen.front())) {
                line.kind = Kind::Entry;
            }
        }
        if (lines != nullptr) {
            lines->push_back(line);
        } else if (problem) {
            break; // only the verdict is wanted
        }
        if (piece.back() == '\n') {
            ++number;
        }
    }
    return problem;
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : lines_) {
        if (line.kind == Kind::Section) {
            names.emplace_back(NameOf(line));
        }
    }
    return names;
}

bool IniDocument::HasSection(const std::string& name) const { return FindSection(name) != kNotFound; }

std::vector<IniDocument::Section> IniDocument::Sections() const {
    std::vector<Section> sections;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section) {
            sections.push_back({std::string(NameOf(lines_[i])), EntriesFrom(i)});
        }
    }
    return sections;
}

std::vector<IniDocument::Entry> IniDocument::Entries(const std::string& section) const {
    const std::size_t header = FindSection(section);
    return header == kNotFound ? std::vector<Entry>() : EntriesFrom(header);
}

std::vector<IniDocument::Entry> IniDocument::EntriesFrom(std::size_t header) const {
    std::vector<Entry> entries;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Entry) {
            entries.push_back({std::string(NameOf(lines_[i])), std::string(ValueOf(lines_[i]))});
        }
    }
    return entries;
}

std::optional<std::string> IniDocument::Value(const std::string& section, const std::string& key) const {
    const std::size_t header = FindSection(section);
    if (header == kNotFound) {
        return std::nullopt;
    }
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Entry && EqualsIgnoringCase(NameOf(lines_[i]), key)) {
            return std::string(ValueOf(lines_[i]));
        }
    }
    return std::nullopt;
}

void IniDocument::SetSection(const std::string& name, const std::vector<Entry>& entries) {
    const std::size_t header = FindSection(name);
    if (header == kNotFound && !lines_.empty()) {
        // Before the new lines are stored, so that an appended section follows
        // the file's own bytes in storage_ and TakeText can hand them over as they are.
        Line& last = lines_.back();
        if (Bytes(last).back() != '\n') {
            last = Add(std::string(Bytes(last)), last.kind); // a copy: Add may move storage_
        }
        if (!TrimIniBlanks(Bytes(last)).empty()) {
            lines_.push_back(Add("", Kind::Other));
        }
    }

    std::vector<Line> replacement;
    replacement.reserve(entries.size() + 1);
    replacement.push_back(Add("[" + name + "]", Kind::Section));
    for (const auto& entry : entries) {
        replacement.push_back(Add(entry.name + "=" + entry.value, Kind::Entry));
    }
    if (header == kNotFound) {
        lines_.insert(lines_.end(), replacement.begin(), replacement.end());
        return;
    }

    const std::size_t end = SectionEnd(header);
    std::vector<Line> kept;
    std::size_t insertAt = kNotFound;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Entry) {
            if (insertAt == kNotFound) {
                insertAt = kept.size();
            }
            continue;
        }
        kept.push_back(lines_[i]);
    }
    if (insertAt == kNotFound) {
        insertAt = 0;
    }
    // Only the file's last line can lack its '\n', and the new entries never
    // follow it: they go where the first old entry was, or right after the header.
    std::vector<Line> section{replacement.front()};
    section.insert(section.end(), kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(insertAt));
    section.insert(section.end(), replacement.begin() + 1, replacement.end());
    section.insert(section.end(), kept.begin() + static_cast<std::ptrdiff_t>(insertAt), kept.end());

    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(header), section.begin(), section.end());
    UnindentSectionFrom(header + section.size());
}

bool IniDocument::RemoveSection(const std::string& name) {
    const std::size_t header = FindSection(name);
    if (header == kNotFound) {
        return false;
    }
    // Up to the last entry; comments and blank lines after it, which may stand
    // anywhere, even before the first section, are left for what follows.
    const std::size_t end = SectionEnd(header);
    std::size_t last = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Entry) {
            last = i;
        }
    }
    std::size_t first = header;
    // The blank line that SetSection put before an appended section goes with it,
    // so that adding and removing a data source gives the file back as it was.
    const bool blankFollows = last + 1 == lines_.size() || TrimIniBlanks(Bytes(lines_[last + 1])).empty();
    if (first > 0 && Bytes(lines_[first - 1]) == "\n" && blankFollows) {
        --first;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(last + 1));
    UnindentSectionFrom(first);
    return true;
}

// The next section header at or after `index`, when it follows blanks, is
// written flush left. unixODBC reads it the same either way, but it refuses an
// indented header for the first section, which this one may now be; and
// clients that read the system file together with their user's own take an
// indented header for no header at all, so its entries would become those of
// the section before it.
void IniDocument::UnindentSectionFrom(std::size_t index) {
    while (index < lines_.size() && lines_[index].kind == Kind::Other) {
        ++index;
    }
    if (index == lines_.size() || lines_[index].kind != Kind::Section || Bytes(lines_[index]).front() == '[') {
        return;
    }
    // Ending in '\n' even when the piece did not (one of 999 bytes that a long
    // line goes on from): what followed then starts a line of its own, which
    // unixODBC cuts into the same pieces as before.
    const std::string content(SkipLeadingBlanks(Content(lines_[index])));
    lines_[index] = Add(content, Kind::Section);
}

std::string IniDocument::Text() const {
    std::size_t size = 0;
    for (const auto& line : lines_) {
        size += line.size;
    }
    std::string text;
    text.reserve(size);
    // Lines that an edit left in place lie next to each other in storage_: copy
    // each such run at once.
    std::size_t runBegin = 0;
    std::size_t runEnd = 0;
    for (const auto& line : lines_) {
        if (line.begin != runEnd) {
            text.append(storage_, runBegin, runEnd - runBegin);
            runBegin = line.begin;
        }
        runEnd = line.begin + line.size;
    }
    text.append(storage_, runBegin, runEnd - runBegin);
    return text;
}

bool IniDocument::Changed() const {
    const std::string_view original = std::string_view(storage_).substr(0, originalSize_);
    std::size_t offset = 0;
    for (const auto& line : lines_) {
        if (line.size > original.size() - offset) {
            return true;
        }
        if (line.begin != offset && Bytes(line) != original.substr(offset, line.size)) {
            return true;
        }
        offset += line.size;
    }
    return offset != original.size();
}

std::string IniDocument::TakeText() {
    bool inPlace = true;
    std::size_t expected = 0;
    for (const auto& line : lines_) {
        if (line.begin != expected) {
            inPlace = false;
            break;
        }
        expected += line.size;
    }
    std::string text = inPlace && expected == storage_.size() ? std::move(storage_) : Text();
    storage_.clear();
    lines_.clear();
    return text;
}

std::string_view IniDocument::Bytes(const Line& line) const {
    return std::string_view(storage_).substr(line.begin, line.size);
}

std::string_view IniDocument::Content(const Line& line) const {
    std::string_view bytes = Bytes(line);
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
    }
    return bytes;
}

std::string_view IniDocument::Seen(const Line& line) const { return SkipLeadingBlanks(UpToNul(Bytes(line))); }

std::string_view IniDocument::NameOf(const Line& line) const {
    const std::string_view seen = Seen(line);
    if (line.kind == Kind::Section) {
        // "[name]", or up to the piece's end when the bracket is never closed
        const std::size_t close = seen.find(']', 1);
        return TrimIniBlanks(seen.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return TrimIniBlanks(seen.substr(0, seen.find('=')));
}

std::string_view IniDocument::ValueOf(const Line& entry) const {
    const std::string_view seen = Seen(entry);
    const std::size_t equals = seen.find('=');
    return equals == std::string_view::npos ? std::string_view() : TrimIniBlanks(seen.substr(equals + 1));
}

IniDocument::Line IniDocument::Add(std::string_view content, Kind kind) {
    // Callers add single lines, which their checks keep below kMaxIniLineLength.
    const Line line{storage_.size(), static_cast<std::uint32_t>(content.size() + 1), kind};
    storage_.append(content);
    storage_ += '\n';
    return line;
}

std::size_t IniDocument::FindSection(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && EqualsIgnoringCase(NameOf(lines_[i]), name)) {
            return i;
        }
    }
    return kNotFound;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
    std::size_t end = header + 1;
    while (end < lines_.size() && lines_[end].kind != Kind::Section) {
        ++end;
    }
    return end;
}

} // namespace tarnwick::setup
