// Text comparison as Access's General sort order does it: case-insensitive,
// accent-sensitive, and Unicode-aware. ICU (Debian's libicu, already on every
// desktop through Qt) supplies both the collator and the case mappings;
// hand-written tables would cover fewer scripts and go stale.

#include "access_collation.h"
#include "function_support.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::access {

char32_t FoldCase(char32_t c) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

// One code point to one, as Access's UCase and LCase do: ß stays ß.
char32_t ToUpper(char32_t c) { return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c))); }

char32_t ToLower(char32_t c) { return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))); }

namespace {

// The root collation at secondary strength; nullptr when ICU fails.
UCollator* OpenAccessCollator() {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    if (U_FAILURE(status))
        return nullptr;
    ucol_setStrength(collator, UCOL_SECONDARY);
    return collator;
}

// The root collation at secondary strength tells letters and accents apart
// but not case: "abc" = "ABC", "e" < "é" < "f", as in Access's sort order.
int CompareAccess(void* collator, int leftLength, const void* left, int rightLength, const void* right) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(static_cast<UCollator*>(collator), static_cast<const char*>(left),
                                                     leftLength, static_cast<const char*>(right), rightLength, &status);
    if (U_FAILURE(status))
        return 0;
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

void CloseCollator(void* collator) { ucol_close(static_cast<UCollator*>(collator)); }

// Whether the character class at pattern[open] ('[') holds c: [abc], [a-z],
// and [^...] or [!...] for the characters not listed, compared case folded.
// Sets `next` past the class; false in `valid` when no ] closes it, and
// the [ is then a literal character.
bool ClassMatches(const std::u32string& pattern, size_t open, char32_t c, size_t& next, bool& valid) {
    size_t start = open + 1;
    const bool negated = start < pattern.size() && (pattern[start] == U'^' || pattern[start] == U'!');
    if (negated)
        ++start;
    // A ] right after the opening bracket is a member, not the end.
    const size_t close = start < pattern.size() ? pattern.find(U']', start + 1) : std::u32string::npos;
    valid = close != std::u32string::npos;
    if (!valid)
        return false;
    next = close + 1;
    const char32_t folded = FoldCase(c);
    bool found = false;
    for (size_t i = start; i < close && !found; ++i) {
        if (i + 2 < close && pattern[i + 1] == U'-') {
            const char32_t low = FoldCase(pattern[i]);
            const char32_t high = FoldCase(pattern[i + 2]);
            found = (folded >= low && folded <= high) || (c >= pattern[i] && c <= pattern[i + 2]);
            i += 2;
        } else {
            found = FoldCase(pattern[i]) == folded;
        }
    }
    return found != negated;
}

// LIKE as Access takes it through ODBC: % any run, _ one character, [...] a
// class; on code points, case folded, accents kept; an escape character makes
// the next pattern character literal. The greedy match that remembers the
// last % runs in time proportional to pattern times text, never exponential.
bool LikeMatch(const std::u32string& pattern, const std::u32string& text, std::optional<char32_t> escape) {
    auto isEscape = [&](size_t p) { return escape && pattern[p] == *escape && p + 1 < pattern.size(); };
    // Whether the pattern element at p matches c; `next` is past it.
    auto matchOne = [&](size_t p, char32_t c, size_t& next) {
        if (isEscape(p)) {
            next = p + 2;
            return FoldCase(pattern[p + 1]) == FoldCase(c);
        }
        next = p + 1;
        if (pattern[p] == U'_')
            return true;
        if (pattern[p] == U'[') {
            bool valid = false;
            const bool matched = ClassMatches(pattern, p, c, next, valid);
            if (valid)
                return matched;
            next = p + 1;
        }
        return FoldCase(pattern[p]) == FoldCase(c);
    };
    size_t p = 0;
    size_t t = 0;
    size_t starPattern = std::u32string::npos;
    size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == U'%' && !isEscape(p)) {
            starPattern = ++p;
            starText = t;
            continue;
        }
        size_t next = 0;
        if (p < pattern.size() && matchOne(p, text[t], next)) {
            p = next;
            ++t;
            continue;
        }
        if (starPattern == std::u32string::npos)
            return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == U'%' && !isEscape(p))
        ++p;
    return p == pattern.size();
}

std::u32string DecodeValue(sqlite3_value* value) {
    return DecodeUtf8(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                       static_cast<size_t>(sqlite3_value_bytes(value))));
}

// like(pattern, text[, escape]), what SQLite calls for text LIKE pattern.
void Like(sqlite3_context* context, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (IsNull(argv[i])) {
            sqlite3_result_null(context);
            return;
        }
    const int limit = sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1);
    if (sqlite3_value_bytes(argv[0]) > limit) {
        sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    std::optional<char32_t> escape;
    if (argc == 3) {
        const std::u32string escapeText = DecodeValue(argv[2]);
        if (escapeText.size() != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = escapeText[0];
    }
    sqlite3_result_int(context, LikeMatch(DecodeValue(argv[0]), DecodeValue(argv[1]), escape) ? 1 : 0);
}

} // namespace

std::string AccessCollationKey(std::string_view utf8) {
    // A collator is not safe to share between threads: one for each.
    struct Holder {
        UCollator* collator = OpenAccessCollator();
        ~Holder() { ucol_close(collator); }
    };
    thread_local Holder holder;
    if (!holder.collator)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    std::vector<UChar> utf16(utf8.size() + 1);
    int32_t length = 0;
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    std::string key(64, '\0');
    int32_t size = ucol_getSortKey(holder.collator, utf16.data(), length, reinterpret_cast<uint8_t*>(key.data()),
                                   static_cast<int32_t>(key.size()));
    if (size > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<size_t>(size));
        size = ucol_getSortKey(holder.collator, utf16.data(), length, reinterpret_cast<uint8_t*>(key.data()), size);
    }
    // The key ends with a zero byte that is not part of the order.
    key.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);
    return key;
}

int RegisterCollationAndLike(sqlite3* db) {
    UCollator* collator = OpenAccessCollator();
    if (!collator)
        return SQLITE_ERROR;
    // Owned by SQLite once registered: CloseCollator runs when the collation
    // is replaced or the connection closes. A failed registration leaves it ours.
    const int rc = sqlite3_create_collation_v2(db, "ACCESS", SQLITE_UTF8, collator, CompareAccess, CloseCollator);
    if (rc != SQLITE_OK) {
        ucol_close(collator);
        return rc;
    }
    static constexpr FunctionEntry likeFunctions[] = {
        {"like", 2, true, Like},
        {"like", 3, true, Like},
    };
    return RegisterFunctions(db, likeFunctions, std::size(likeFunctions));
}

} // namespace tarnwick::access
