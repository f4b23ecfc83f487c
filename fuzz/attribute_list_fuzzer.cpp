// Feeds arbitrary bytes to the setup library's attribute-list parser and the
// checks that follow it in ConfigDSN. The input is made into a list the way an
// installer hands it over: NUL-separated entries ended by an empty one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "attribute_list.h"
#include "data_source_rules.h"

using namespace tarnwick::setup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string list(reinterpret_cast<const char*>(data), size);
    list.append(2, '\0');
    const ParsedAttributes parsed = ParseAttributeList(list.c_str());

    // Every entry before the terminating empty one is either an attribute or
    // an error, never silently dropped.
    std::size_t entries = 0;
    for (const char* entry = list.c_str(); *entry != '\0'; entry += std::string(entry).size() + 1) {
        ++entries;
    }
    if (parsed.attributes.size() + parsed.errors.size() != entries) {
        __builtin_trap();
    }
    for (const Attribute& attribute : parsed.attributes) {
        // Split at the first '=', so the keyword never holds one.
        if (attribute.keyword.find('=') != std::string::npos) {
            __builtin_trap();
        }
        if (FindAttribute(parsed.attributes, attribute.keyword) == nullptr) {
            __builtin_trap();
        }
        (void)CheckEntry(attribute.keyword, attribute.value);
        if (Excerpt(attribute.value).find('\n') != std::string::npos) {
            __builtin_trap();
        }
    }
    (void)CheckAttributes(parsed.attributes);
    if (const Attribute* dsn = FindAttribute(parsed.attributes, "DSN")) {
        (void)CheckDataSourceName(dsn->value);
    }
    return 0;
}
