#include "attribute_list.h"

#include <cstring>

#include <odbcinst.h>

namespace tarnwick::setup {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

std::string Excerpt(const std::string& text) {
    constexpr std::size_t limit = 60;
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        shown += (c < 0x20 || c == 0x7f) ? '?' : text[i];
    }
    if (text.size() > limit) {
        shown += "...";
    }
    return shown;
}

std::string QuotedExcerpt(const std::string& text) {
    std::string quoted(1, '"');
    quoted += Excerpt(text);
    quoted += '"';
    return quoted;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

ParsedAttributes ParseAttributeList(const char* list) {
    ParsedAttributes parsed;
    if (list == nullptr) {
        return parsed;
    }
    for (const char* entry = list; *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text(entry);
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            parsed.errors.push_back(
                {ODBC_ERROR_INVALID_KEYWORD_VALUE, "The attribute list entry \"" + Excerpt(text) +
                                                       "\" is not of the form keyword=value. A ';' inside a value "
                                                       "splits the list there; remove it from the value."});
            continue;
        }
        parsed.attributes.push_back({text.substr(0, equals), text.substr(equals + 1)});
    }
    return parsed;
}

const Attribute* FindAttribute(const std::vector<Attribute>& attributes, const std::string& keyword) {
    for (const auto& attribute : attributes) {
        if (EqualsIgnoringCase(attribute.keyword, keyword)) {
            return &attribute;
        }
    }
    return nullptr;
}

} // namespace tarnwick::setup
