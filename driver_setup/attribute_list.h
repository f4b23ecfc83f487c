#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup_error.h"

namespace tarnwick::setup {

struct Attribute {
    std::string keyword;
    std::string value;
};

struct ParsedAttributes {
    std::vector<Attribute> attributes; // in the order given
    std::vector<SetupError> errors;    // one per malformed entry
};

// Splits an installer attribute list: entries "keyword=value", each ended by a
// NUL byte, the list ended by an empty entry. Keyword and value are split at
// the first '=' and kept byte for byte. An entry without '=' (what a ';' in a
// value leaves behind) is reported rather than dropped, so that nothing the
// caller meant is silently lost. A null list holds no entries.
ParsedAttributes ParseAttributeList(const char* list);

// The first attribute whose keyword equals `keyword`, ignoring ASCII case as
// unixODBC does; nullptr when there is none.
const Attribute* FindAttribute(const std::vector<Attribute>& attributes, const std::string& keyword);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Names and values are echoed in messages; a hostile one may be long or hold
// bytes that would garble a log line, so messages show a bounded excerpt with
// control characters replaced by '?'.
std::string Excerpt(const std::string& text);

// The excerpt in double quotes, as messages show a name or value.
std::string QuotedExcerpt(const std::string& text);

} // namespace tarnwick::setup
