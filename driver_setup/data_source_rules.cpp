#include "data_source_rules.h"

#include <odbcinst.h>

#include "ini_document.h"

namespace tarnwick::setup {

namespace {

constexpr const char* kForbiddenNameCharacters = "[]{}(),;?*=!@\\";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool HasControl(const std::string& text) {
    for (char c : text) {
        if (IsControl(c)) {
            return true;
        }
    }
    return false;
}

bool HasOuterBlank(const std::string& text) { return !text.empty() && (text.front() == ' ' || text.back() == ' '); }

} // namespace

std::vector<SetupError> CheckDataSourceName(const std::string& name) {
    std::vector<SetupError> errors;
    auto refuse = [&](const std::string& why) {
        errors.push_back({ODBC_ERROR_INVALID_DSN, "The data source name " + QuotedExcerpt(name) + " " + why});
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
        if (std::string(kForbiddenNameCharacters).find(c) != std::string::npos && forbidden.find(c) == std::string::npos) {
            forbidden += c;
        }
    }
    if (!forbidden.empty()) {
        refuse("contains " + std::string(forbidden.size() == 1 ? "the character " : "the characters ") + forbidden +
               "; none of [ ] { } ( ) , ; ? * = ! @ \\ may appear in a data source name.");
    }
    if (HasControl(name)) {
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
    }
    const std::string ofKeyword = "The value of " + (keyword.empty() ? std::string("an attribute") : QuotedExcerpt(keyword));
    if (HasControl(value)) {
        refuse(ofKeyword + " contains a line break, tab or other control character, which odbc.ini cannot hold.");
    }
    if (HasOuterBlank(value)) {
        refuse(ofKeyword + " begins or ends with a blank, which unixODBC would drop when reading it back.");
    }
    const std::size_t length = keyword.size() + 1 + value.size();
    if (length > kMaxIniLineLength) {
        refuse("The entry " + QuotedExcerpt(keyword) + " is " + std::to_string(length) + " bytes long as keyword=value; " +
               "unixODBC reads back at most " + std::to_string(kMaxIniLineLength) + " bytes a line.");
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
