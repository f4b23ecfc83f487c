#include "dsn/attribute_list.h"

#include <cstring>
#include <string_view>

namespace dsn {

namespace {

constexpr std::string_view Placeholder = "%s";

constexpr int CountPlaceholders(std::string_view text) {
    int count = 0;
    for (auto at = text.find(Placeholder); at != std::string_view::npos; at = text.find(Placeholder, at + 2)) {
        ++count;
    }
    return count;
}

// The template holds no other conversion, so substituting the three %s gives
// exactly what sprintf would, at any length.
static_assert(CountPlaceholders(AttributeTemplate) == 3);
static_assert(std::string_view(AttributeTemplate).find('%') == std::string_view(AttributeTemplate).find(Placeholder));

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
