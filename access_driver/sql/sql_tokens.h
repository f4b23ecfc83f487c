#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::access {

// The lexical pieces of a statement as Access and SQLite both split it. The
// rewrite only ever looks at Word, Punct, DateLiteral and the brackets; every
// other kind is passed through byte for byte.
enum class TokenKind {
    Space,       // white space
    Comment,     // -- to end of line (newline included) or /* ... */
    String,      // '...' with '' inside, and X'...'
    QuotedName,  // "...", [...] or `...`
    Word,        // identifier or keyword
    Number,      // 12, 1.5, .5, 1e3, 0x1F
    Parameter,   // ?, ?NNN, :name, @name, $name
    DateLiteral, // #...#
    Punct,       // operators and punctuation, one token per operator
    OpenParen,
    CloseParen,
    OpenBrace,
    CloseBrace,
};

struct Token {
    TokenKind kind;
    std::string_view text;
};

struct TokenizeResult {
    std::vector<Token> tokens;
    std::string error; // non-empty when the text cannot be split (unterminated literal)
};

TokenizeResult TokenizeAccessSql(std::string_view sql);

// ASCII-only case-insensitive comparison, the way SQL keywords compare.
bool EqualsKeyword(std::string_view word, std::string_view keyword);

} // namespace tarnwick::access
