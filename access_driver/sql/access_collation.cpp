// Text comparison as Access's General sort order does it: case-insensitive,
// accent-sensitive, and Unicode-aware. ICU (Debian's libicu, already on every
// desktop through Qt) supplies both the collator and the case mappings;
// hand-written tables would cover fewer scripts and go stale.

#include "function_support.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>

#include <optional>
#include <string>

namespace tarnwick::access {

char32_t FoldCase(char32_t c)
{
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

// One code point to one, as Access's UCase and LCase do: ß stays ß.
char32_t ToUpper(char32_t c)
{
    return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c)));
}

char32_t ToLower(char32_t c)
{
    return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
}

namespace {

// The root collation at secondary strength tells letters and accents apart
// but not case: "abc" = "ABC", "e" < "é" < "f", as in Access's sort order.
int CompareAccess(void* collator, int leftLength, const void* left, int rightLength, const void* right)
{
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(static_cast<UCollator*>(collator),
        static_cast<const char*>(left), leftLength, static_cast<const char*>(right), rightLength, &status);
    if (U_FAILURE(status))
        return 0;
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

void CloseCollator(void* collator)
{
    ucol_close(static_cast<UCollator*>(collator));
}

// SQL's LIKE with % and _ (as Access takes them through ODBC) on code points,
// case folded; an escape character makes the next pattern character literal.
// The greedy match with one remembered % runs in time proportional to
// pattern times text, never exponential.
bool LikeMatch(const std::u32string& pattern, const std::u32string& text, std::optional<char32_t> escape)
{
    size_t p = 0;
    size_t t = 0;
    size_t starPattern = std::u32string::npos;
    size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            char32_t c = pattern[p];
            if (escape && c == *escape && p + 1 < pattern.size()) {
                if (FoldCase(pattern[p + 1]) == FoldCase(text[t])) {
                    p += 2;
                    ++t;
                    continue;
                }
            } else if (c == U'%') {
                starPattern = ++p;
                starText = t;
                continue;
            } else if (c == U'_' || FoldCase(c) == FoldCase(text[t])) {
                ++p;
                ++t;
                continue;
            }
        }
        if (starPattern == std::u32string::npos)
            return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == U'%')
        ++p;
    return p == pattern.size();
}

std::u32string DecodeValue(sqlite3_value* value)
{
    return DecodeUtf8(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                       static_cast<size_t>(sqlite3_value_bytes(value))));
}

// like(pattern, text[, escape]), what SQLite calls for text LIKE pattern.
void Like(sqlite3_context* context, int argc, sqlite3_value** argv)
{
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

int RegisterCollationAndLike(sqlite3* db)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    if (U_FAILURE(status))
        return SQLITE_ERROR;
    ucol_setStrength(collator, UCOL_SECONDARY);
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
