#include "ini_document.h"

#include "attribute_list.h"

namespace tarnwick::setup {

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsCommentStart(char c) { return c == '#' || c == ';'; }

std::string SectionName(const std::string& line) {
    const std::size_t close = line.find(']', 1);
    return TrimIniBlanks(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

std::string LineNumbered(std::size_t index) { return "line " + std::to_string(index + 1); }

} // namespace

std::string TrimIniBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsIniBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsIniBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

IniDocument::IniDocument(const std::string& text) {
    bool inSection = false;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t newline = text.find('\n', position);
        const std::size_t next = newline == std::string::npos ? text.size() : newline + 1;
        Line line{text.substr(position, next - position), Kind::Other, {}, {}};
        position = next;

        const std::string content = line.text.substr(0, line.text.size() - (newline == std::string::npos ? 0 : 1));
        const std::size_t number = lines_.size();
        if (!problem_ && content.size() > kMaxIniLineLength) {
            problem_ = LineNumbered(number) + " is longer than " + std::to_string(kMaxIniLineLength) +
                       " bytes, and unixODBC reads it in pieces";
        }
        if (!problem_ && content.find('\0') != std::string::npos) {
            problem_ = LineNumbered(number) + " contains a NUL byte";
        }

        if (!content.empty() && content[0] == '[') {
            line.kind = Kind::Section;
            line.name = SectionName(content);
            inSection = true;
        } else if (!inSection) {
            const std::string trimmed = TrimIniBlanks(content);
            if (!problem_ && !trimmed.empty() && !IsCommentStart(trimmed[0])) {
                problem_ = LineNumbered(number) + " is neither a comment nor a [section] header, but no section "
                                                  "has begun yet";
            }
        } else if (!content.empty() && !IsIniBlank(content[0]) && !IsCommentStart(content[0])) {
            line.kind = Kind::Entry;
            const std::size_t equals = content.find('=');
            line.name = TrimIniBlanks(content.substr(0, equals));
            line.value = equals == std::string::npos ? std::string() : TrimIniBlanks(content.substr(equals + 1));
        }
        lines_.push_back(std::move(line));
    }
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : lines_) {
        if (line.kind == Kind::Section) {
            names.push_back(line.name);
        }
    }
    return names;
}

bool IniDocument::HasSection(const std::string& name) const { return FindSection(name) != kNotFound; }

std::vector<IniDocument::Entry> IniDocument::Entries(const std::string& section) const {
    std::vector<Entry> entries;
    const std::size_t header = FindSection(section);
    if (header == kNotFound) {
        return entries;
    }
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::Entry) {
            entries.push_back({lines_[i].name, lines_[i].value});
        }
    }
    return entries;
}

std::optional<std::string> IniDocument::Value(const std::string& section, const std::string& key) const {
    for (const auto& entry : Entries(section)) {
        if (EqualsIgnoringCase(entry.name, key)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

void IniDocument::SetSection(const std::string& name, const std::vector<Entry>& entries) {
    std::vector<Line> replacement;
    replacement.push_back({"[" + name + "]\n", Kind::Section, name, {}});
    for (const auto& entry : entries) {
        replacement.push_back({entry.name + "=" + entry.value + "\n", Kind::Entry, entry.name, entry.value});
    }

    const std::size_t header = FindSection(name);
    if (header == kNotFound) {
        if (!lines_.empty()) {
            Line& last = lines_.back();
            if (last.text.back() != '\n') {
                last.text += '\n';
            }
            if (!TrimIniBlanks(last.text).empty()) {
                lines_.push_back({"\n", Kind::Other, {}, {}});
            }
        }
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

    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header), lines_.begin() + static_cast<std::ptrdiff_t>(end));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(header), section.begin(), section.end());
}

bool IniDocument::RemoveSection(const std::string& name) {
    const std::size_t header = FindSection(name);
    if (header == kNotFound) {
        return false;
    }
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
    const bool blankFollows = last + 1 == lines_.size() || TrimIniBlanks(lines_[last + 1].text).empty();
    if (first > 0 && lines_[first - 1].text == "\n" && blankFollows) {
        --first;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.begin() + static_cast<std::ptrdiff_t>(last + 1));
    return true;
}

std::string IniDocument::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line.text;
    }
    return text;
}

std::size_t IniDocument::FindSection(const std::string& name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && EqualsIgnoringCase(lines_[i].name, name)) {
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
