#include "connection_string.h"

#include <strings.h>

namespace access_driver {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<ConnectionAttributes> ParseConnectionString(std::string_view text) {
    ConnectionAttributes attributes;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t equals = text.find('=', at);
        const std::size_t semicolon = text.find(';', at);
        if (equals == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < equals)) {
            // A pair without '=' names nothing; skip it.
            at = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
            continue;
        }
        const std::string key(Trimmed(text.substr(at, equals - at)));
        std::size_t value_start = equals + 1;
        while (value_start < text.size() && text[value_start] == ' ')
            ++value_start;
        std::string value;
        if (value_start < text.size() && text[value_start] == '{') {
            std::size_t i = value_start + 1;
            for (;; ++i) {
                if (i >= text.size())
                    return std::nullopt;
                if (text[i] == '}') {
                    if (i + 1 < text.size() && text[i + 1] == '}') {
                        value += '}';
                        ++i;
                        continue;
                    }
                    break;
                }
                value += text[i];
            }
            const std::size_t end = text.find(';', i);
            at = end == std::string_view::npos ? text.size() : end + 1;
        } else {
            const std::size_t end = text.find(';', value_start);
            value = std::string(Trimmed(
                text.substr(value_start, end == std::string_view::npos ? std::string_view::npos : end - value_start)));
            at = end == std::string_view::npos ? text.size() : end + 1;
        }
        if (!key.empty())
            attributes.emplace(key, std::move(value));
    }
    return attributes;
}

std::string DatabasePath(const std::function<std::string(const char* key)>& lookup) {
    const std::string dbq = lookup("DBQ");
    if (dbq.empty())
        return lookup("Database");
    if (dbq.front() == '/')
        return dbq;
    std::string joined = lookup("DefaultDir");
    if (!joined.empty() && joined.back() != '/')
        joined += '/';
    joined += dbq;
    if (joined.front() == '/')
        return joined;
    // Still relative (no folder, or a relative one): it was relative to the
    // folder the data source was made in, which the installer resolved into
    // Database; a client's own folder says nothing about it.
    const std::string database = lookup("Database");
    return !database.empty() && database.front() == '/' ? database : joined;
}

std::optional<std::string> BackendConnectionString(const std::string& extension) {
    // sqliteodbc reads values up to the next ';' and splits LoadExt at ','.
    if (extension.find_first_of(";,{}") != std::string::npos)
        return std::nullopt;
    return "Database=:memory:;LoadExt=" + extension + ";StepAPI=1;NoTXN=1;JDConv=0;BigInt=0;";
}

} // namespace access_driver
