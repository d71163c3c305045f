#include "Lexer.h"

#include "AsmSyntax.h"

namespace {

class Lexer {
public:
    Lexer(std::string_view line, std::vector<LexError>& errors) : line(line), errors(errors) {}

    std::vector<Token> run() {
        while (skipSpace()) {
            std::size_t start = at;
            char c = line[at];
            if (asmsyntax::isIdentifierStart(c)) {
                push(Token::Identifier, start, word());
            } else if (c == '.' && at + 1 < line.size() &&
                       asmsyntax::isIdentifierStart(line[at + 1])) {
                ++at;
                push(Token::Directive, start, "." + word());
            } else if (isDigit(c) ||
                       ((c == '-' || c == '+') && at + 1 < line.size() && isDigit(line[at + 1]))) {
                number(start);
            } else if (c == '"') {
                string(start);
            } else if (const char* p = punctuation(c)) {
                ++at;
                push(kinds[p - kPunctuation], start, std::string(1, c));
            } else {
                error(start, std::string("unexpected character '") + c + "'");
                ++at;
            }
        }
        return std::move(tokens);
    }

private:
    static constexpr const char* kPunctuation = ",:=[]";
    static constexpr Token::Kind kinds[] = {Token::Comma, Token::Colon, Token::Equals, Token::Open,
                                            Token::Close};

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static int hexDigit(char c) {
        if (isDigit(c)) return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static const char* punctuation(char c) {
        for (const char* p = kPunctuation; *p; ++p)
            if (*p == c) return p;
        return nullptr;
    }

    // False at the end of the line or at a comment.
    bool skipSpace() {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
        return at < line.size() && line[at] != ';';
    }

    std::string word() {
        std::size_t start = at;
        while (at < line.size() && asmsyntax::isIdentifierChar(line[at])) ++at;
        return std::string(line.substr(start, at - start));
    }

    void number(std::size_t start) {
        bool negative = line[at] == '-';
        if (line[at] == '-' || line[at] == '+') ++at;
        int base = 10;
        if (line[at] == '0' && at + 1 < line.size() &&
            (line[at + 1] == 'x' || line[at + 1] == 'X')) {
            base = 16;
            at += 2;
        }
        std::uint64_t value = 0;
        bool digits = false, overflow = false;
        while (at < line.size() && (asmsyntax::isIdentifierChar(line[at]))) {
            int d = base == 16 ? hexDigit(line[at]) : isDigit(line[at]) ? line[at] - '0' : -1;
            if (d < 0) {
                error(start,
                      "malformed number '" + std::string(line.substr(start, at + 1 - start)) + "'");
                word();
                return;
            }
            if (value > (std::uint64_t(1) << 40)) overflow = true;
            value = value * base + d;
            digits = true;
            ++at;
        }
        if (!digits || overflow) {
            error(start, digits ? "number too large" : "malformed number");
            return;
        }
        Token token{Token::Number, std::string(line.substr(start, at - start)), 0,
                    static_cast<int>(start) + 1};
        token.number =
            negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        tokens.push_back(std::move(token));
    }

    void string(std::size_t start) {
        ++at;
        std::string bytes;
        while (at < line.size() && line[at] != '"') {
            if (line[at] != '\\') {
                bytes += line[at++];
                continue;
            }
            if (!escape(bytes)) return;
        }
        if (at >= line.size()) {
            error(start, "unterminated string");
            return;
        }
        ++at;
        push(Token::String, start, std::move(bytes));
    }

    // At a backslash: appends the escaped bytes; false after an error.
    bool escape(std::string& bytes) {
        std::size_t start = at++;
        char c = at < line.size() ? line[at++] : '\0';
        switch (c) {
        case 'n': bytes += '\n'; return true;
        case 't': bytes += '\t'; return true;
        case 'r': bytes += '\r'; return true;
        case '0': bytes += '\0'; return true;
        case '\\': bytes += '\\'; return true;
        case '"': bytes += '"'; return true;
        case 'x': {
            int high = at < line.size() ? hexDigit(line[at]) : -1;
            int low = at + 1 < line.size() ? hexDigit(line[at + 1]) : -1;
            if (high < 0 || low < 0) break;
            bytes += static_cast<char>(high * 16 + low);
            at += 2;
            return true;
        }
        case 'u': return unicodeEscape(start, bytes);
        default: break;
        }
        error(start, "unknown escape in string; use \\n \\t \\r \\0 \\\\ \\\" \\xNN or \\u{N}");
        at = line.size();
        return false;
    }

    bool unicodeEscape(std::size_t start, std::string& bytes) {
        std::uint32_t cp = 0;
        int digits = 0;
        if (at < line.size() && line[at] == '{') {
            for (++at; at < line.size() && hexDigit(line[at]) >= 0 && digits < 7; ++at, ++digits)
                cp = cp * 16 + static_cast<std::uint32_t>(hexDigit(line[at]));
            if (at < line.size() && line[at] == '}' && digits > 0 && cp <= 0x10FFFF) {
                ++at;
                appendUtf8(bytes, cp);
                return true;
            }
        }
        error(start, "malformed \\u{N} escape (N: 1 to 6 hex digits, at most 10FFFF)");
        at = line.size();
        return false;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    void push(Token::Kind kind, std::size_t start, std::string text) {
        tokens.push_back({kind, std::move(text), 0, static_cast<int>(start) + 1});
    }
    void error(std::size_t column, std::string message) {
        errors.push_back({static_cast<int>(column) + 1, std::move(message)});
    }

    std::string_view line;
    std::vector<LexError>& errors;
    std::size_t at = 0;
    std::vector<Token> tokens;
};

} // namespace

std::vector<Token> tokenize(std::string_view line, std::vector<LexError>& errors) {
    return Lexer(line, errors).run();
}

std::string describe(const Token& token) {
    switch (token.kind) {
    case Token::Identifier: return "name '" + token.text + "'";
    case Token::Directive: return "directive '" + token.text + "'";
    case Token::Number: return "number " + token.text;
    case Token::String: return "a string";
    default: return "'" + token.text + "'";
    }
}
