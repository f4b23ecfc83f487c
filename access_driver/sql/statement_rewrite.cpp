#include "statement_rewrite.h"

#include "access_dates.h"
#include "sql_tokens.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace tarnwick::access {
namespace {

// A statement is rewritten as a tree: every (...) and {...} is a node whose
// children are the tokens between the brackets, so that TOP, & and the ODBC
// escapes are handled within the level they belong to.
struct Node {
    Token token;                // the token, or the opening bracket of a group
    std::string lead;           // white space and comments before it, verbatim
    std::vector<Node> children; // a group's content
    std::string closeLead;      // trivia before the closing bracket
    bool group = false;
};

// Thrown inside the rewrite; becomes RewrittenStatement::error.
struct RewriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The rewrite recurses into groups, CASEs and operands; SQLite refuses
// expressions nested 1000 deep and Access far less, so deeper text is
// refused here, before the recursion could exhaust a small thread stack.
constexpr int kMaxDepth = 256;
thread_local int depth = 0;

class DepthGuard {
public:
    DepthGuard() {
        if (++depth > kMaxDepth) {
            --depth;
            throw RewriteError("Statement nested too deeply");
        }
    }
    ~DepthGuard() { --depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// Trivia keeps comments; a -- comment at the very end of the text has no
// newline of its own and would swallow whatever the rewrite appends.
void AppendTrivia(std::string& trivia, const Token& token) {
    trivia += token.text;
    if (token.kind == TokenKind::Comment && token.text.starts_with("--") && !token.text.ends_with('\n'))
        trivia += '\n';
}

std::vector<Node> BuildTree(const std::vector<Token>& tokens, std::string& tail) {
    std::vector<Node> root;
    std::vector<Node*> open;
    std::string pending;
    auto level = [&]() -> std::vector<Node>& { return open.empty() ? root : open.back()->children; };
    for (const Token& token : tokens) {
        if (token.kind == TokenKind::Space || token.kind == TokenKind::Comment) {
            AppendTrivia(pending, token);
            continue;
        }
        if (token.kind == TokenKind::CloseParen || token.kind == TokenKind::CloseBrace) {
            const TokenKind expected =
                token.kind == TokenKind::CloseParen ? TokenKind::OpenParen : TokenKind::OpenBrace;
            if (open.empty() || open.back()->token.kind != expected)
                throw RewriteError("Unbalanced " + std::string(token.text) + " in the statement");
            open.back()->closeLead = std::move(pending);
            pending.clear();
            open.pop_back();
            continue;
        }
        Node node{token, std::move(pending), {}, {}, false};
        pending.clear();
        node.group = token.kind == TokenKind::OpenParen || token.kind == TokenKind::OpenBrace;
        level().push_back(std::move(node));
        if (level().back().group) {
            if (open.size() >= kMaxDepth)
                throw RewriteError("Statement nested too deeply");
            open.push_back(&level().back());
        }
        // Pointers into `open` stay valid: a vector only grows at its own level,
        // and the level of every open group is its innermost child list.
    }
    if (!open.empty())
        throw RewriteError(std::string("Missing closing bracket for ") + std::string(open.back()->token.text));
    tail = std::move(pending);
    return root;
}

bool IsWord(const Node& node, std::string_view keyword) {
    return !node.group && node.token.kind == TokenKind::Word && EqualsKeyword(node.token.text, keyword);
}

// Words after which an expression operand cannot continue: clause keywords and
// the operators that bind more loosely than & (comparisons, LIKE, BETWEEN, IN,
// IS, NOT, AND, OR). Any other word is a name, NULL or a function's name.
bool IsBoundaryKeyword(std::string_view word) {
    static constexpr std::string_view keywords[] = {
        "ADD",    "ALL",     "ALTER",  "AND",    "ANY",    "AS",      "ASC",       "ATTACH",   "BETWEEN",
        "BY",     "COLLATE", "CREATE", "CROSS",  "DELETE", "DESC",    "DETACH",    "DISTINCT", "DISTINCTROW",
        "DROP",   "ELSE",    "END",    "ESCAPE", "EXCEPT", "EXISTS",  "EXPLAIN",   "FROM",     "FULL",
        "GLOB",   "GROUP",   "HAVING", "IN",     "INNER",  "INSERT",  "INTERSECT", "INTO",     "IS",
        "ISNULL", "JOIN",    "LIKE",   "LIMIT",  "MATCH",  "NATURAL", "NOT",       "NOTNULL",  "OFFSET",
        "ON",     "OR",      "ORDER",  "OUTER",  "OVER",   "PERCENT", "PRAGMA",    "REGEXP",   "SELECT",
        "SET",    "SOME",    "THEN",   "TOP",    "UNION",  "UPDATE",  "USING",     "VALUES",   "WHEN",
        "WHERE",  "WINDOW",  "WITH",   "XOR"};
    return std::any_of(std::begin(keywords), std::end(keywords),
                       [&](std::string_view keyword) { return EqualsKeyword(word, keyword); });
}

// LEFT and RIGHT are joins before JOIN/OUTER, ISNULL a postfix operator, and
// all three Access's functions before (.
bool IsKeywordFunction(std::string_view word) {
    return EqualsKeyword(word, "LEFT") || EqualsKeyword(word, "RIGHT") || EqualsKeyword(word, "ISNULL");
}

enum class ItemKind {
    Atom,     // an operand: literal, name, call, (...) group, CASE ... END
    Operator, // + - * / % || ~ . & \ ^ Mod
    Boundary, // everything an operand stops at: keywords, comparisons, commas
};

struct Item {
    ItemKind kind;
    std::string lead;
    std::string text;
};

// Leading white space of an operand or argument that the rewrite moves; a
// comment there stays.
std::string WithoutLeadingSpace(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n\f\v");
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::string QuoteText(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return quoted + "'";
}

std::string UnquoteString(std::string_view literal) {
    std::string text;
    for (size_t i = 1; i + 1 < literal.size(); ++i) {
        text += literal[i];
        if (literal[i] == '\'')
            ++i;
    }
    return text;
}

std::string DateLiteral(std::string_view inside, std::string_view original) {
    const std::optional<DateTime> value = ParseAccessDate(inside);
    if (!value)
        throw RewriteError("Syntax error in date " + std::string(original));
    return QuoteText(FormatStoredDate(*value));
}

std::string RewriteLevel(std::span<Node> nodes, const std::string& tail);

std::string GroupText(Node& group) { return group.lead + "(" + RewriteLevel(group.children, group.closeLead) + ")"; }

// Splits a group's children at its top-level commas.
std::vector<std::span<Node>> SplitArguments(std::vector<Node>& children) {
    std::vector<std::span<Node>> arguments;
    size_t start = 0;
    for (size_t i = 0; i <= children.size(); ++i) {
        if (i == children.size() || (children[i].token.kind == TokenKind::Punct && children[i].token.text == ",")) {
            arguments.push_back(std::span<Node>(children).subspan(start, i - start));
            start = i + 1;
        }
    }
    if (arguments.size() == 1 && arguments[0].empty())
        arguments.clear();
    return arguments;
}

struct OdbcFunction {
    std::string_view name;
    int arity;               // -1: any number, passed through as the group
    std::string_view target; // a function name, or a template with {0}, {1}, ...
};

// ODBC's scalar functions as Access's functions (ours) or SQLite's.
constexpr OdbcFunction kOdbcFunctions[] = {
    {"ASCII", -1, "unicode"},
    {"CHAR", -1, "char"},
    {"CONCAT", -1, "tw_concat"},
    {"LCASE", -1, "LCase"},
    {"UCASE", -1, "UCase"},
    {"LEFT", -1, "\"Left\""},
    {"RIGHT", -1, "\"Right\""},
    {"LENGTH", 1, "Len(rtrim({0}))"},
    {"CHAR_LENGTH", -1, "Len"},
    {"CHARACTER_LENGTH", -1, "Len"},
    {"LOCATE", 2, "InStr({1}, {0})"},
    {"LOCATE", 3, "InStr({2}, {1}, {0})"},
    {"LTRIM", -1, "ltrim"},
    {"RTRIM", -1, "rtrim"},
    {"SUBSTRING", -1, "Mid"},
    {"REPLACE", -1, "replace"},
    {"CURDATE", 0, "Date()"},
    {"CURRENT_DATE", 0, "Date()"},
    {"CURTIME", 0, "Time()"},
    {"CURRENT_TIME", 0, "Time()"},
    {"NOW", 0, "Now()"},
    {"CURRENT_TIMESTAMP", 0, "Now()"},
    {"YEAR", -1, "Year"},
    {"MONTH", -1, "Month"},
    {"DAYOFMONTH", -1, "Day"},
    {"HOUR", -1, "Hour"},
    {"MINUTE", -1, "Minute"},
    {"SECOND", -1, "Second"},
    {"DAYOFWEEK", 1, "Weekday({0})"},
    {"DAYOFYEAR", 1, "DatePart('y', {0})"},
    {"QUARTER", 1, "DatePart('q', {0})"},
    {"WEEK", 1, "DatePart('ww', {0})"},
    {"MONTHNAME", 1, "Format({0}, 'mmmm')"},
    {"DAYNAME", 1, "Format({0}, 'dddd')"},
    {"ABS", -1, "abs"},
    {"ROUND", -1, "Round"},
    {"FLOOR", 1, "Int({0})"},
    {"CEILING", 1, "-Int(-({0}))"},
    {"MOD", 2, "tw_mod({0}, {1})"},
    {"SIGN", -1, "Sgn"},
    {"SQRT", -1, "Sqr"},
    {"EXP", -1, "Exp"},
    {"LOG", -1, "Log"},
    {"POWER", 2, "tw_power({0}, {1})"},
    {"PI", 0, "3.14159265358979"},
    {"IFNULL", -1, "ifnull"},
};

struct OdbcType {
    std::string_view name;
    std::string_view function;
};

constexpr OdbcType kOdbcConvertTypes[] = {
    {"SQL_CHAR", "CStr"},       {"SQL_VARCHAR", "CStr"},      {"SQL_LONGVARCHAR", "CStr"},    {"SQL_WCHAR", "CStr"},
    {"SQL_WVARCHAR", "CStr"},   {"SQL_WLONGVARCHAR", "CStr"}, {"SQL_SMALLINT", "CInt"},       {"SQL_TINYINT", "CInt"},
    {"SQL_INTEGER", "CLng"},    {"SQL_BIGINT", "CLng"},       {"SQL_DOUBLE", "CDbl"},         {"SQL_FLOAT", "CDbl"},
    {"SQL_REAL", "CDbl"},       {"SQL_NUMERIC", "CDbl"},      {"SQL_DECIMAL", "CDbl"},        {"SQL_DATE", "CDate"},
    {"SQL_TIMESTAMP", "CDate"}, {"SQL_TYPE_DATE", "CDate"},   {"SQL_TYPE_TIMESTAMP", "CDate"}};

// TIMESTAMPADD/TIMESTAMPDIFF intervals as DateAdd/DateDiff's.
constexpr OdbcType kOdbcIntervals[] = {{"SQL_TSI_SECOND", "'s'"},  {"SQL_TSI_MINUTE", "'n'"}, {"SQL_TSI_HOUR", "'h'"},
                                       {"SQL_TSI_DAY", "'d'"},     {"SQL_TSI_WEEK", "'ww'"},  {"SQL_TSI_MONTH", "'m'"},
                                       {"SQL_TSI_QUARTER", "'q'"}, {"SQL_TSI_YEAR", "'yyyy'"}};

std::string_view LookUp(std::span<const OdbcType> table, std::span<Node> argument) {
    if (argument.size() == 1 && argument[0].token.kind == TokenKind::Word)
        for (const OdbcType& entry : table)
            if (EqualsKeyword(argument[0].token.text, entry.name))
                return entry.function;
    return {};
}

std::string ApplyTemplate(std::string_view pattern, const std::vector<std::string>& arguments) {
    std::string text;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}') {
            text += arguments.at(static_cast<size_t>(pattern[i + 1] - '0'));
            i += 2;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::string OdbcFunctionCall(std::string_view name, Node& group) {
    std::vector<std::span<Node>> arguments = SplitArguments(group.children);
    auto rewritten = [&](size_t from) {
        std::vector<std::string> texts;
        for (size_t i = from; i < arguments.size(); ++i)
            texts.push_back(WithoutLeadingSpace(RewriteLevel(arguments[i], {})));
        return texts;
    };
    if (EqualsKeyword(name, "CONVERT") && arguments.size() == 2) {
        const std::string_view function = LookUp(kOdbcConvertTypes, arguments[1]);
        if (function.empty())
            throw RewriteError("Unsupported type in {fn CONVERT(...)}");
        return std::string(function) + "(" + WithoutLeadingSpace(RewriteLevel(arguments[0], {})) + ")";
    }
    if ((EqualsKeyword(name, "TIMESTAMPADD") || EqualsKeyword(name, "TIMESTAMPDIFF")) && arguments.size() == 3) {
        const std::string_view interval = LookUp(kOdbcIntervals, arguments[0]);
        if (interval.empty())
            throw RewriteError("Unsupported interval in {fn " + std::string(name) + "(...)}");
        const std::vector<std::string> rest = rewritten(1);
        return std::string(EqualsKeyword(name, "TIMESTAMPADD") ? "DateAdd(" : "DateDiff(") + std::string(interval) +
               ", " + rest[0] + ", " + rest[1] + ")";
    }
    for (const OdbcFunction& function : kOdbcFunctions) {
        if (!EqualsKeyword(name, function.name))
            continue;
        if (function.arity < 0)
            return std::string(function.target) + "(" +
                   WithoutLeadingSpace(RewriteLevel(group.children, group.closeLead)) + ")";
        if (static_cast<size_t>(function.arity) == arguments.size())
            return ApplyTemplate(function.target, rewritten(0));
    }
    throw RewriteError("Unsupported ODBC function " + std::string(name));
}

// {d '...'}, {t '...'}, {ts '...'}, {fn f(...)}, {oj ...}, {escape '...'}.
Item OdbcEscape(Node& brace) {
    std::vector<Node>& inside = brace.children;
    if (inside.empty() || inside[0].token.kind != TokenKind::Word)
        throw RewriteError("Unsupported ODBC escape {...}");
    const std::string_view keyword = inside[0].token.text;
    const bool oneString = inside.size() == 2 && inside[1].token.kind == TokenKind::String;
    if ((EqualsKeyword(keyword, "d") || EqualsKeyword(keyword, "t") || EqualsKeyword(keyword, "ts")) && oneString) {
        const std::string text = UnquoteString(inside[1].token.text);
        const std::optional<DateTime> value = ParseAccessDate(text);
        const bool hasDate = text.find('-') != std::string::npos;
        const bool hasTime = text.find(':') != std::string::npos;
        const bool shapeOk = EqualsKeyword(keyword, "d")   ? hasDate && !hasTime
                             : EqualsKeyword(keyword, "t") ? hasTime && !hasDate
                                                           : hasDate;
        if (!value || !shapeOk)
            throw RewriteError("Invalid ODBC date/time escape {" + std::string(keyword) + " " + text + "}");
        return {ItemKind::Atom, brace.lead, QuoteText(FormatStoredDate(*value))};
    }
    if (EqualsKeyword(keyword, "fn") && inside.size() == 3 && inside[1].token.kind == TokenKind::Word &&
        inside[2].group && inside[2].token.kind == TokenKind::OpenParen)
        return {ItemKind::Atom, brace.lead, OdbcFunctionCall(inside[1].token.text, inside[2])};
    if (EqualsKeyword(keyword, "oj") && inside.size() > 1)
        return {ItemKind::Atom, brace.lead,
                WithoutLeadingSpace(RewriteLevel(std::span<Node>(inside).subspan(1), brace.closeLead))};
    if (EqualsKeyword(keyword, "escape") && oneString)
        return {ItemKind::Boundary, brace.lead, "ESCAPE " + std::string(inside[1].token.text)};
    throw RewriteError("Unsupported ODBC escape {" + std::string(keyword) + " ...}");
}

bool IsOperatorText(std::string_view text) {
    static constexpr std::string_view operators[] = {"+", "-", "*", "/", "%", "||", "~", ".", "&", "\\", "^"};
    return std::find(std::begin(operators), std::end(operators), text) != std::end(operators);
}

// Turns one level's nodes into operands, operators and boundaries.
std::vector<Item> ToItems(std::span<Node> nodes) {
    std::vector<Item> items;
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node& node = nodes[i];
        const Token& token = node.token;
        if (node.group && token.kind == TokenKind::OpenBrace) {
            items.push_back(OdbcEscape(node));
            continue;
        }
        if (node.group) {
            items.push_back({ItemKind::Atom, {}, GroupText(node)});
            continue;
        }
        switch (token.kind) {
        case TokenKind::DateLiteral:
            items.push_back(
                {ItemKind::Atom, node.lead, DateLiteral(token.text.substr(1, token.text.size() - 2), token.text)});
            break;
        case TokenKind::Punct:
            if (IsOperatorText(token.text))
                items.push_back({ItemKind::Operator, node.lead, std::string(token.text)});
            else
                items.push_back({ItemKind::Boundary, node.lead, std::string(token.text)});
            break;
        case TokenKind::Word: {
            const std::string_view word = token.text;
            const bool call =
                i + 1 < nodes.size() && nodes[i + 1].group && nodes[i + 1].token.kind == TokenKind::OpenParen;
            if (EqualsKeyword(word, "TRUE")) {
                items.push_back({ItemKind::Atom, node.lead, "-1"});
            } else if (EqualsKeyword(word, "FALSE")) {
                items.push_back({ItemKind::Atom, node.lead, "0"});
            } else if (EqualsKeyword(word, "MOD")) {
                items.push_back({ItemKind::Operator, node.lead, "MOD"});
            } else if (EqualsKeyword(word, "DISTINCTROW")) {
                // Access's DISTINCTROW drops rows that are duplicates in every
                // column of the underlying tables, which rows of a table never are.
                items.push_back({ItemKind::Boundary, node.lead, {}});
            } else if (EqualsKeyword(word, "CASE")) {
                // CASE ... END is one operand: find its END, counting nested CASEs.
                size_t depth = 0;
                size_t end = i;
                for (; end < nodes.size(); ++end) {
                    if (IsWord(nodes[end], "CASE"))
                        ++depth;
                    else if (IsWord(nodes[end], "END") && --depth == 0)
                        break;
                }
                if (end == nodes.size())
                    throw RewriteError("CASE without END");
                const std::string inner = RewriteLevel(nodes.subspan(i + 1, end - i - 1), nodes[end].lead);
                items.push_back(
                    {ItemKind::Atom, node.lead, std::string(word) + inner + std::string(nodes[end].token.text)});
                i = end;
            } else if (call && IsKeywordFunction(word)) {
                // Access's Left(), Right() and IsNull(): SQLite's keywords, so
                // the function's name is quoted.
                items.push_back({ItemKind::Atom, node.lead, "\"" + std::string(word) + "\"" + GroupText(nodes[i + 1])});
                ++i;
            } else if (call && !IsBoundaryKeyword(word)) {
                items.push_back({ItemKind::Atom, node.lead, std::string(word) + GroupText(nodes[i + 1])});
                ++i;
            } else if (IsBoundaryKeyword(word) || IsKeywordFunction(word)) {
                items.push_back({ItemKind::Boundary, node.lead, std::string(word)});
            } else {
                items.push_back({ItemKind::Atom, node.lead, std::string(word)});
            }
            break;
        }
        default:
            items.push_back({ItemKind::Atom, node.lead, std::string(token.text)});
            break;
        }
    }
    return items;
}

// Access's operator precedence, loosest first: &, + -, Mod, \, * /, unary
// - +, ^. SQLite's || and ~ are kept tight, as SQLite has them.
int BinaryPrecedence(std::string_view op) {
    if (op == "&")
        return 1;
    if (op == "+" || op == "-")
        return 2;
    if (op == "MOD")
        return 3;
    if (op == "\\")
        return 4;
    if (op == "*" || op == "/" || op == "%")
        return 5;
    if (op == "^")
        return 7;
    if (op == "||")
        return 8;
    return 0;
}

constexpr int kUnaryPrecedence = 6;

// A precedence-climbing parse of one operand run that holds &, \, Mod or ^.
class ExpressionWriter {
public:
    explicit ExpressionWriter(std::span<Item> items) : items_(items) {}

    std::string Write() {
        std::string text = Expression(1);
        if (position_ != items_.size())
            throw RewriteError("Syntax error in expression near " + items_[position_].text);
        return text;
    }

private:
    std::string Expression(int minimum) {
        const DepthGuard guard;
        std::string left = Unary();
        while (position_ < items_.size() && items_[position_].kind == ItemKind::Operator) {
            const std::string op = items_[position_].text;
            const int precedence = BinaryPrecedence(op);
            if (precedence == 0)
                throw RewriteError("Syntax error in expression near " + op);
            if (precedence < minimum)
                break;
            // A comment before the operator moves to its right operand.
            const std::string comment = WithoutLeadingSpace(items_[position_].lead);
            ++position_;
            if (op == "&") {
                // a & b & c is one call; NULL counts as empty text in each.
                std::string call = "tw_concat(" + left + ", " + comment + Expression(precedence + 1);
                while (position_ < items_.size() && items_[position_].text == "&" &&
                       items_[position_].kind == ItemKind::Operator) {
                    const std::string nextComment = WithoutLeadingSpace(items_[position_].lead);
                    ++position_;
                    call += ", " + nextComment + Expression(precedence + 1);
                }
                left = call + ")";
                continue;
            }
            std::string right = comment + Expression(precedence + 1);
            if (op == "\\")
                left = "tw_intdiv(" + left + ", " + right + ")";
            else if (op == "MOD")
                left = "tw_mod(" + left + ", " + right + ")";
            else if (op == "^")
                left = "tw_power(" + left + ", " + right + ")";
            else
                left = "(" + left + " " + op + " " + right + ")";
        }
        return left;
    }

    std::string Unary() {
        if (position_ >= items_.size())
            throw RewriteError("Syntax error in expression: missing operand");
        Item& item = items_[position_];
        if (item.kind == ItemKind::Operator && (item.text == "-" || item.text == "+" || item.text == "~")) {
            ++position_;
            const std::string operand = Expression(kUnaryPrecedence + 1);
            return "(" + WithoutLeadingSpace(item.lead) + item.text + operand + ")";
        }
        if (item.kind != ItemKind::Atom)
            throw RewriteError("Syntax error in expression near " + item.text);
        ++position_;
        return WithoutLeadingSpace(item.lead) + item.text;
    }

    std::span<Item> items_;
    size_t position_ = 0;
};

bool NeedsAccessOperators(std::span<const Item> run) {
    return std::any_of(run.begin(), run.end(), [](const Item& item) {
        return item.kind == ItemKind::Operator &&
               (item.text == "&" || item.text == "\\" || item.text == "MOD" || item.text == "^");
    });
}

// Joins name.name.* and similar into one operand.
std::vector<Item> JoinQualifiedNames(std::vector<Item> items) {
    std::vector<Item> joined;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == ItemKind::Operator && items[i].text == "." && !joined.empty() &&
            joined.back().kind == ItemKind::Atom && i + 1 < items.size() &&
            (items[i + 1].kind == ItemKind::Atom || items[i + 1].text == "*")) {
            joined.back().text += items[i].lead + "." + items[i + 1].lead + items[i + 1].text;
            joined.back().kind = ItemKind::Atom;
            ++i;
            continue;
        }
        joined.push_back(std::move(items[i]));
    }
    return joined;
}

bool IsComparison(const Item& item) {
    static constexpr std::string_view comparisons[] = {"=", "==", "<>", "!=", "<", ">", "<=", ">="};
    return item.kind == ItemKind::Boundary &&
           std::find(std::begin(comparisons), std::end(comparisons), item.text) != std::end(comparisons);
}

// Whether an operand is a column's name alone (name, "name", [name],
// table.name): not a literal, a parameter, a call or a group.
bool IsColumnName(std::span<const Item> run) {
    if (run.size() != 1 || run[0].kind != ItemKind::Atom || run[0].text.empty())
        return false;
    const std::string& text = run[0].text;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    const bool starts = first == '"' || first == '[' || first == '`' || first == '_' || first >= 0x80 ||
                        (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    return starts && text.find_first_of("'()") == std::string::npos && !EqualsKeyword(text, "NULL") &&
           !EqualsKeyword(text, "CURRENT_DATE") && !EqualsKeyword(text, "CURRENT_TIME") &&
           !EqualsKeyword(text, "CURRENT_TIMESTAMP");
}

// Replaces every operand run that uses Access's own operators by SQLite text.
// Access compares all text without regard to case, not only a text column's:
// SQLite would compare 'a' = 'A', or an expression over columns, as binary.
// So the right operand of a comparison gets COLLATE ACCESS, unless the left
// one is a column: SQLite then compares with that column's collation, ACCESS
// for text and ACCESSDATE for Date/Time, which reads '1996-01-31' bound for
// a date as the date it names. The collation changes nothing where either
// side is a number.
std::vector<Item> RewriteOperators(std::vector<Item> items) {
    items = JoinQualifiedNames(std::move(items));
    std::vector<Item> result;
    size_t i = 0;
    bool lastRunIsColumn = false; // the operand just written
    bool leftIsColumn = false;    // the operand before the last comparison
    while (i < items.size()) {
        if (items[i].kind == ItemKind::Boundary) {
            leftIsColumn = IsComparison(items[i]) && lastRunIsColumn;
            lastRunIsColumn = false;
            result.push_back(std::move(items[i++]));
            continue;
        }
        const bool afterComparison = !result.empty() && IsComparison(result.back());
        // A run ends at a boundary or where two operands meet (an alias).
        size_t end = i;
        bool lastWasAtom = false;
        for (; end < items.size() && items[end].kind != ItemKind::Boundary; ++end) {
            const bool atom = items[end].kind == ItemKind::Atom;
            if (atom && lastWasAtom)
                break;
            lastWasAtom = atom;
        }
        std::span<Item> run(items.data() + i, end - i);
        lastRunIsColumn = IsColumnName(run);
        if (NeedsAccessOperators(run)) {
            const std::string lead = run.front().lead;
            run.front().lead.clear();
            result.push_back({ItemKind::Atom, lead, ExpressionWriter(run).Write()});
        } else {
            for (Item& item : run)
                result.push_back(std::move(item));
        }
        if (afterComparison && !leftIsColumn)
            result.push_back({ItemKind::Boundary, " ", "COLLATE ACCESS"});
        i = end;
    }
    return result;
}

bool IsItemWord(const Item& item, std::string_view keyword) {
    return item.kind == ItemKind::Boundary && EqualsKeyword(item.text, keyword);
}

bool IsCompoundKeyword(const Item& item) {
    return IsItemWord(item, "UNION") || IsItemWord(item, "INTERSECT") || IsItemWord(item, "EXCEPT");
}

std::string Join(std::span<const Item> items) {
    std::string text;
    for (const Item& item : items)
        text += item.lead + item.text;
    return text;
}

bool IsWholeNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsDecimalNumber(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string_view::npos &&
           std::count(text.begin(), text.end(), '.') <= 1 && text != ".";
}

// SELECT [DISTINCT|ALL] TOP n [PERCENT]: the TOP goes, and the SELECT, up to
// the end of its level or its compound's next member, gets a LIMIT. TOP n
// PERCENT counts the rows first, through a common table expression so that
// the statement's text and its ? markers appear once. Access's TOP also
// returns rows tied with the last one in ORDER BY; this LIMIT does not.
std::string AssembleWithTop(std::vector<Item> items) {
    std::string text;
    size_t i = 0;
    bool afterCompound = false;
    while (i < items.size()) {
        if (!IsItemWord(items[i], "SELECT")) {
            afterCompound = afterCompound || IsCompoundKeyword(items[i]);
            text += items[i].lead + items[i].text;
            ++i;
            continue;
        }
        size_t top = i + 1;
        if (top < items.size() && (IsItemWord(items[top], "DISTINCT") || IsItemWord(items[top], "ALL")))
            ++top;
        while (top < items.size() && items[top].kind == ItemKind::Boundary && items[top].text.empty())
            ++top; // a dropped DISTINCTROW
        const bool hasTop = top + 1 < items.size() && IsItemWord(items[top], "TOP") &&
                            items[top + 1].kind == ItemKind::Atom && IsDecimalNumber(items[top + 1].text);
        if (!hasTop) {
            text += items[i].lead + items[i].text;
            ++i;
            continue;
        }
        const std::string count = items[top + 1].text;
        const bool percent = top + 2 < items.size() && IsItemWord(items[top + 2], "PERCENT");
        if (!percent && !IsWholeNumber(count))
            throw RewriteError("TOP needs a whole number of rows: " + count);
        const size_t afterTop = top + (percent ? 3 : 2);
        size_t end = afterTop;
        while (end < items.size() && !IsCompoundKeyword(items[end]))
            ++end;
        const bool beforeCompound = end < items.size();
        if (afterCompound && !beforeCompound)
            throw RewriteError("TOP in the last SELECT of a UNION is not supported: put the UNION in a subquery");
        std::vector<Item> select(items.begin() + static_cast<long>(i), items.begin() + static_cast<long>(top));
        select.insert(select.end(), items.begin() + static_cast<long>(afterTop),
                      items.begin() + static_cast<long>(end));
        const std::string lead = select.front().lead;
        select.front().lead.clear();
        std::string limited;
        if (percent) {
            // Access rounds the share of rows up: 25 percent of 10 rows is 3.
            limited = "WITH tw_top AS (" + Join(select) +
                      ") SELECT * FROM tw_top LIMIT (SELECT CAST(n AS INTEGER) + (n > CAST(n AS INTEGER)) FROM "
                      "(SELECT count(*) * " +
                      count + " / 100.0 AS n FROM tw_top))";
            if (i > 0 || beforeCompound)
                limited = "SELECT * FROM (" + limited + ")";
        } else {
            limited = Join(select) + " LIMIT " + count;
            if (beforeCompound)
                limited = "SELECT * FROM (" + limited + ")";
        }
        text += lead + limited;
        i = end;
    }
    return text;
}

std::string RewriteLevel(std::span<Node> nodes, const std::string& tail) {
    const DepthGuard guard;
    return AssembleWithTop(RewriteOperators(ToItems(nodes))) + tail;
}

// The statements that would change the database, its schema or the
// connection: those that start with a writing keyword, SELECT ... INTO (a
// make-table query) and WITH ... INSERT/UPDATE/DELETE. Anything else that is
// no query (Access's TRANSFORM or PARAMETERS) is left to SQLite's syntax
// error. The flag only chooses the message: the engine's authorizer refuses
// every write whatever this says.
bool IsWrite(std::span<const Node> nodes) {
    static constexpr std::string_view writing[] = {"INSERT",    "UPDATE",  "DELETE", "REPLACE", "UPSERT", "CREATE",
                                                   "DROP",      "ALTER",   "ATTACH", "DETACH",  "PRAGMA", "VACUUM",
                                                   "REINDEX",   "ANALYZE", "BEGIN",  "COMMIT",  "END",    "ROLLBACK",
                                                   "SAVEPOINT", "RELEASE", "GRANT",  "REVOKE"};
    auto isWriting = [](const Node& node) {
        return std::any_of(std::begin(writing), std::end(writing),
                           [&](std::string_view keyword) { return IsWord(node, keyword); });
    };
    if (nodes.empty())
        return false;
    if (nodes.size() == 1 && nodes[0].group && nodes[0].token.kind == TokenKind::OpenParen)
        return IsWrite(nodes[0].children);
    if (isWriting(nodes[0]))
        return true;
    size_t main = 0;
    if (IsWord(nodes[0], "WITH")) {
        // The statement after the common table expressions, which are groups.
        main = 1;
        while (main < nodes.size() && !IsWord(nodes[main], "SELECT") && !IsWord(nodes[main], "VALUES") &&
               !isWriting(nodes[main]))
            ++main;
        if (main < nodes.size() && isWriting(nodes[main]))
            return true;
    }
    if (main >= nodes.size() || !IsWord(nodes[main], "SELECT"))
        return false;
    return std::any_of(nodes.begin() + static_cast<long>(main), nodes.end(),
                       [](const Node& node) { return IsWord(node, "INTO"); });
}

} // namespace

RewrittenStatement RewriteAccessSql(std::string_view accessSql) {
    RewrittenStatement result;
    TokenizeResult tokenized = TokenizeAccessSql(accessSql);
    if (!tokenized.error.empty()) {
        result.error = tokenized.error;
        return result;
    }
    std::vector<Token>& tokens = tokenized.tokens;
    // One statement: a final ; is dropped, any other ends it early.
    auto last = std::find_if(tokens.rbegin(), tokens.rend(), [](const Token& token) {
        return token.kind != TokenKind::Space && token.kind != TokenKind::Comment;
    });
    if (last != tokens.rend() && last->kind == TokenKind::Punct && last->text == ";")
        tokens.erase(std::next(last).base());
    if (std::any_of(tokens.begin(), tokens.end(),
                    [](const Token& token) { return token.kind == TokenKind::Punct && token.text == ";"; })) {
        result.error = "Characters found after end of SQL statement";
        return result;
    }
    try {
        std::string tail;
        std::vector<Node> tree = BuildTree(tokens, tail);
        result.writes = IsWrite(tree);
        result.sql = RewriteLevel(tree, tail);
    } catch (const RewriteError& error) {
        result.sql.clear();
        result.writes = false;
        result.error = error.what();
    } catch (const std::bad_alloc&) {
        result.sql.clear();
        result.writes = false;
        result.error = "Out of memory rewriting the statement";
    } catch (const std::exception& error) {
        result.sql.clear();
        result.writes = false;
        result.error = std::string("Cannot rewrite the statement: ") + error.what();
    }
    return result;
}

} // namespace tarnwick::access
