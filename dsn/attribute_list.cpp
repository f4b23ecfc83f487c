#include "dsn/attribute_list.h"

#include <cstring>
#include <string_view>

namespace dsn {

namespace {

constexpr std::string_view Placeholder = "%s";

// Counts the '%' of the template, and those that start a "%s".
constexpr int CountConversions(const char* text, bool onlyStrings) {
    int count = 0;
    for (int i = 0; text[i] != '\0'; ++i) {
        if (text[i] == '%' && (!onlyStrings || text[i + 1] == 's')) {
            ++count;
        }
    }
    return count;
}

// The template holds three %s and no other conversion, so substituting them
// gives exactly what sprintf would, at any length.
static_assert(CountConversions(AttributeTemplate, true) == 3);
static_assert(CountConversions(AttributeTemplate, false) == 3);

const char* OrEmpty(const char* value) { return value != nullptr ? value : ""; }

} // namespace

std::string FormatAttributeText(const char* dsnName, const char* database, const char* directory) {
    const char* const values[] = {OrEmpty(dsnName), OrEmpty(database), OrEmpty(directory)};
    const std::string_view pattern = AttributeTemplate;

    std::size_t length = pattern.size() - 3 * Placeholder.size();
    for (const char* value : values) {
        length += std::strlen(value);
    }
    std::string text;
    text.reserve(length);

    std::size_t from = 0;
    for (const char* value : values) {
        const std::size_t at = pattern.find(Placeholder, from);
        text.append(pattern, from, at - from);
        text.append(value);
        from = at + Placeholder.size();
    }
    text.append(pattern, from);
    return text;
}

std::vector<char> BuildAttributeList(const char* dsnName, const char* database, const char* directory) {
    const std::string text = FormatAttributeText(dsnName, database, directory);
    std::vector<char> list(text.begin(), text.end());
    list.push_back('\0');
    ReplaceSemicolons(list.data());
    return list;
}

} // namespace dsn

void ReplaceSemicolons(char* text) {
    const std::size_t length = std::strlen(text);
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == ';') {
            text[i] = '\0';
        }
    }
}
