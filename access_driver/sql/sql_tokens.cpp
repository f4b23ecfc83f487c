#include "sql_tokens.h"

#include <cctype>

namespace tarnwick::access {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes of multi-byte UTF-8 sequences count as letters, as SQLite counts them,
// so names with accented letters stay one word.
bool IsWordByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || IsDigit(c) || c == '_' || c == '$' || u >= 0x80;
}

bool IsWordStart(char c) { return IsWordByte(c) && !IsDigit(c) && c != '$'; }

// Length of a quoted run starting at `pos` that ends at `close`, where a doubled
// close character stands for itself when `doubling` is set; 0 when unterminated.
size_t QuotedLength(std::string_view sql, size_t pos, char close, bool doubling) {
    for (size_t i = pos + 1; i < sql.size(); ++i) {
        if (sql[i] != close)
            continue;
        if (doubling && i + 1 < sql.size() && sql[i + 1] == close) {
            ++i;
            continue;
        }
        return i + 1 - pos;
    }
    return 0;
}

size_t NumberLength(std::string_view sql, size_t pos) {
    size_t i = pos;
    if (sql[i] == '0' && i + 1 < sql.size() && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
        i += 2;
        while (i < sql.size() && std::isxdigit(static_cast<unsigned char>(sql[i])))
            ++i;
        return i - pos;
    }
    while (i < sql.size() && IsDigit(sql[i]))
        ++i;
    if (i < sql.size() && sql[i] == '.') {
        ++i;
        while (i < sql.size() && IsDigit(sql[i]))
            ++i;
    }
    if (i < sql.size() && (sql[i] == 'e' || sql[i] == 'E')) {
        size_t j = i + 1;
        if (j < sql.size() && (sql[j] == '+' || sql[j] == '-'))
            ++j;
        if (j < sql.size() && IsDigit(sql[j])) {
            while (j < sql.size() && IsDigit(sql[j]))
                ++j;
            i = j;
        }
    }
    return i - pos;
}

size_t PunctLength(std::string_view sql, size_t pos) {
    static constexpr std::string_view twoChar[] = {"<>", "<=", ">=", "!=", "==", "||", "<<", ">>", "->"};
    const std::string_view rest = sql.substr(pos);
    for (std::string_view op : twoChar)
        if (rest.starts_with(op))
            return rest.starts_with("->>") ? 3 : 2;
    return 1;
}

} // namespace

bool EqualsKeyword(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char a = word[i];
        char b = keyword[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

TokenizeResult TokenizeAccessSql(std::string_view sql) {
    TokenizeResult result;
    size_t pos = 0;
    auto add = [&](TokenKind kind, size_t length) {
        result.tokens.push_back({kind, sql.substr(pos, length)});
        pos += length;
    };
    auto fail = [&](const char* what) {
        result.error = std::string(what) + " starting at character " + std::to_string(pos + 1);
        result.tokens.clear();
        return result;
    };
    while (pos < sql.size()) {
        const char c = sql[pos];
        const char next = pos + 1 < sql.size() ? sql[pos + 1] : '\0';
        if (IsSpace(c)) {
            size_t end = pos;
            while (end < sql.size() && IsSpace(sql[end]))
                ++end;
            add(TokenKind::Space, end - pos);
        } else if (c == '-' && next == '-') {
            const size_t newline = sql.find('\n', pos);
            add(TokenKind::Comment, newline == std::string_view::npos ? sql.size() - pos : newline + 1 - pos);
        } else if (c == '/' && next == '*') {
            // SQLite accepts a block comment left open at the end of the text.
            const size_t close = sql.find("*/", pos + 2);
            add(TokenKind::Comment, close == std::string_view::npos ? sql.size() - pos : close + 2 - pos);
        } else if (c == '\'') {
            const size_t length = QuotedLength(sql, pos, '\'', true);
            if (length == 0)
                return fail("Unterminated string literal");
            add(TokenKind::String, length);
        } else if (c == '"' || c == '`') {
            const size_t length = QuotedLength(sql, pos, c, true);
            if (length == 0)
                return fail("Unterminated quoted name");
            add(TokenKind::QuotedName, length);
        } else if (c == '[') {
            const size_t length = QuotedLength(sql, pos, ']', false);
            if (length == 0)
                return fail("Unterminated bracketed name");
            add(TokenKind::QuotedName, length);
        } else if (c == '#') {
            const size_t length = QuotedLength(sql, pos, '#', false);
            if (length == 0)
                return fail("Unterminated date literal");
            add(TokenKind::DateLiteral, length);
        } else if ((c == 'x' || c == 'X') && next == '\'') {
            // X'0A1B', a blob literal, is one token.
            const size_t length = QuotedLength(sql, pos + 1, '\'', false);
            if (length == 0)
                return fail("Unterminated blob literal");
            add(TokenKind::String, length + 1);
        } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
            add(TokenKind::Number, NumberLength(sql, pos));
        } else if (IsWordStart(c)) {
            size_t end = pos;
            while (end < sql.size() && IsWordByte(sql[end]))
                ++end;
            add(TokenKind::Word, end - pos);
        } else if (c == '?' || ((c == ':' || c == '@' || c == '$') && IsWordStart(next))) {
            size_t end = pos + 1;
            while (end < sql.size() && IsWordByte(sql[end]))
                ++end;
            add(TokenKind::Parameter, end - pos);
        } else if (c == '(') {
            add(TokenKind::OpenParen, 1);
        } else if (c == ')') {
            add(TokenKind::CloseParen, 1);
        } else if (c == '{') {
            add(TokenKind::OpenBrace, 1);
        } else if (c == '}') {
            add(TokenKind::CloseBrace, 1);
        } else {
            add(TokenKind::Punct, PunctLength(sql, pos));
        }
    }
    return result;
}

} // namespace tarnwick::access
