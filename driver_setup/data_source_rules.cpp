#include "data_source_rules.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include <odbcinst.h>

#include "ini_document.h"

namespace tarnwick::setup {

namespace {

constexpr const char* kForbiddenNameCharacters = "[]{}(),;?*=!@\\";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool IsAsciiAlphanumeric(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool HasControl(const std::string& text) {
    for (char c : text) {
        if (IsControl(c)) {
            return true;
        }
    }
    return false;
}

// The length of the UTF-8 sequence that starts at text[at], or nothing when
// no valid one does: shortest forms only, no surrogates, nothing past U+10FFFF.
std::optional<std::size_t> Utf8SequenceAt(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        secondLow = lead == 0xe0 ? 0xa0 : 0x80;  // shorter forms would do
        secondHigh = lead == 0xed ? 0x9f : 0xbf; // U+D800 on are surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        secondLow = lead == 0xf0 ? 0x90 : 0x80;
        secondHigh = lead == 0xf4 ? 0x8f : 0xbf; // past U+10FFFF
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length || byte(at + 1) < secondLow || byte(at + 1) > secondHigh) {
        return std::nullopt;
    }
    for (std::size_t i = at + 2; i < at + length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return std::nullopt;
        }
    }
    return length;
}

// Where `text` stops being UTF-8, or nothing when all of it is.
std::optional<std::size_t> InvalidUtf8At(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto length = Utf8SequenceAt(text, at);
        if (!length) {
            return at;
        }
        at += *length;
    }
    return std::nullopt;
}

// In UTF-8 text: whether it holds a C1 control character, U+0080 to U+009F.
bool HasC1Control(std::string_view utf8) {
    for (std::size_t at = 0; at + 1 < utf8.size(); ++at) {
        if (static_cast<unsigned char>(utf8[at]) == 0xc2 && static_cast<unsigned char>(utf8[at + 1]) <= 0x9f) {
            return true;
        }
    }
    return false;
}

std::string HexByte(char c) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(c));
    return hex;
}

// A name for a message: as it is, but bytes that are no UTF-8 or C1 controls
// as "\xHH", which a message can carry and a reader can see.
std::string ShownName(const std::string& name) {
    if (!InvalidUtf8At(name) && !HasC1Control(name)) {
        return QuotedExcerpt(name);
    }
    std::string shown;
    for (std::size_t at = 0; at < name.size();) {
        const auto length = Utf8SequenceAt(name, at);
        const bool c1 = length == 2u && static_cast<unsigned char>(name[at + 1]) <= 0x9f;
        if (length && !c1) {
            shown.append(name, at, *length);
            at += *length;
            continue;
        }
        for (std::size_t i = at; i < at + (c1 ? 2 : 1); ++i) {
            shown += "\\x" + HexByte(name[i]).substr(2);
        }
        at += c1 ? 2 : 1;
    }
    return QuotedExcerpt(shown);
}

bool HasOuterBlank(const std::string& text) { return !text.empty() && (text.front() == ' ' || text.back() == ' '); }

} // namespace

std::vector<SetupError> CheckDataSourceName(const std::string& name) {
    std::vector<SetupError> errors;
    auto refuse = [&](const std::string& why) {
        errors.push_back({ODBC_ERROR_INVALID_DSN, "The data source name " + ShownName(name) + " " + why});
    };
    if (name.empty()) {
        errors.push_back({ODBC_ERROR_INVALID_DSN, "The data source name is empty."});
        return errors;
    }
    if (name.size() > kMaxDataSourceNameLength) {
        refuse("is " + std::to_string(name.size()) + " bytes long; at most " +
               std::to_string(kMaxDataSourceNameLength) + " are allowed.");
    }
    std::string forbidden;
    for (char c : name) {
        if (std::string(kForbiddenNameCharacters).find(c) != std::string::npos &&
            forbidden.find(c) == std::string::npos) {
            forbidden += c;
        }
    }
    if (!forbidden.empty()) {
        refuse("contains " + std::string(forbidden.size() == 1 ? "the character " : "the characters ") + forbidden +
               "; none of [ ] { } ( ) , ; ? * = ! @ \\ may appear in a data source name.");
    }
    const auto invalidAt = InvalidUtf8At(name);
    if (invalidAt) {
        refuse("is not valid UTF-8 (byte " + std::to_string(*invalidAt + 1) + " is " + HexByte(name[*invalidAt]) +
               "); clients could neither show nor type it.");
    }
    if (HasControl(name) || (!invalidAt && HasC1Control(name))) {
        refuse("contains a line break, tab or other control character.");
    }
    if (HasOuterBlank(name)) {
        refuse("begins or ends with a blank, which unixODBC would drop when looking it up.");
    }
    if (EqualsIgnoringCase(name, "ODBC") || EqualsIgnoringCase(name, "ODBC Data Sources")) {
        refuse("is reserved: odbc.ini uses a section of that name for its own settings.");
    }
    if (EqualsIgnoringCase(name, "Default")) {
        refuse("is reserved: unixODBC connects to the data source of that name whenever a name it is asked "
               "for does not exist.");
    }
    return errors;
}

std::vector<SetupError> CheckDriverName(const std::string& driver) {
    std::vector<SetupError> errors;
    if (driver.empty()) {
        errors.push_back({ODBC_ERROR_INVALID_NAME, "No driver name was given."});
    } else if (HasControl(driver) || HasOuterBlank(driver) || driver.size() + 7 > kMaxIniLineLength) {
        errors.push_back({ODBC_ERROR_INVALID_NAME, "The driver name " + QuotedExcerpt(driver) +
                                                       " cannot be stored as a data source's Driver entry."});
    }
    return errors;
}

std::vector<SetupError> CheckEntry(const std::string& keyword, const std::string& value) {
    std::vector<SetupError> errors;
    auto refuse = [&](const std::string& why) { errors.push_back({ODBC_ERROR_INVALID_KEYWORD_VALUE, why}); };
    if (keyword.empty()) {
        refuse("An attribute has no keyword before its '=' (\"=" + Excerpt(value) + "\").");
    } else {
        const std::string cannot = "The keyword " + QuotedExcerpt(keyword) + " cannot be stored in odbc.ini: ";
        if (keyword.find_first_of("[]") != std::string::npos) {
            refuse(cannot + "it contains a bracket, which marks section headers.");
        }
        if (HasControl(keyword)) {
            refuse(cannot + "it contains a line break, tab or other control character.");
        }
        if (HasOuterBlank(keyword)) {
            refuse(cannot + "it begins or ends with a blank, which unixODBC drops.");
        }
        if (keyword.front() == '#' || keyword.front() == ';') {
            refuse(cannot + "it begins with '" + std::string(1, keyword.front()) + "', which marks a comment.");
        }
        // Clients that read System DSNs along with their user's own file take
        // only lines that start with an ASCII letter or digit for entries.
        if (errors.empty() && !IsAsciiAlphanumeric(keyword.front())) {
            refuse(cannot + "it does not begin with a letter or digit, and clients that read User DSNs too would "
                            "not see it.");
        }
    }
    const std::string ofKeyword =
        "The value of " + (keyword.empty() ? std::string("an attribute") : QuotedExcerpt(keyword));
    if (HasControl(value)) {
        refuse(ofKeyword + " contains a line break, tab or other control character, which odbc.ini cannot hold.");
    }
    if (HasOuterBlank(value)) {
        refuse(ofKeyword + " begins or ends with a blank, which unixODBC would drop when reading it back.");
    }
    const std::size_t length = keyword.size() + 1 + value.size();
    if (length > kMaxIniLineLength) {
        refuse("The entry " + QuotedExcerpt(keyword) + " is " + std::to_string(length) +
               " bytes long as keyword=value; " + "unixODBC reads back at most " + std::to_string(kMaxIniLineLength) +
               " bytes a line.");
    }
    return errors;
}

std::vector<SetupError> CheckAttributes(const std::vector<Attribute>& attributes) {
    std::vector<SetupError> errors;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        const Attribute& attribute = attributes[i];
        bool repeated = false;
        for (std::size_t j = 0; j < i && !repeated; ++j) {
            repeated = EqualsIgnoringCase(attributes[j].keyword, attribute.keyword);
        }
        if (repeated) {
            errors.push_back({ODBC_ERROR_INVALID_KEYWORD_VALUE, "The keyword " + QuotedExcerpt(attribute.keyword) +
                                                                    " appears more than once in the attribute list."});
            continue;
        }
        if (EqualsIgnoringCase(attribute.keyword, "DSN")) {
            continue; // the name has rules of its own
        }
        if (EqualsIgnoringCase(attribute.keyword, "Driver")) {
            errors.push_back({ODBC_ERROR_INVALID_KEYWORD_VALUE,
                              "The keyword Driver is not accepted in the attribute list: a data source always "
                              "uses the driver being configured, and a Driver entry would make every client "
                              "load the library it names."});
            continue;
        }
        auto entryErrors = CheckEntry(attribute.keyword, attribute.value);
        errors.insert(errors.end(), entryErrors.begin(), entryErrors.end());
    }
    return errors;
}

std::string DatabasePath(const std::string& dbq, const std::string& defaultDir, const std::string& currentDirectory) {
    if (!dbq.empty() && dbq.front() == '/') {
        return dbq;
    }
    auto join = [](const std::string& directory, const std::string& name) {
        return directory + (!directory.empty() && directory.back() == '/' ? "" : "/") + name;
    };
    std::string path = join(defaultDir.empty() ? currentDirectory : defaultDir, dbq);
    if (path.front() != '/') {
        path = join(currentDirectory, path);
    }
    return path;
}

} // namespace tarnwick::setup
