#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splits one source line into tokens. Columns are 1-based byte positions.
struct Token {
    enum Kind { Identifier, Directive, Number, String, Comma, Colon, Equals, Open, Close };
    Kind kind;
    std::string text;        // identifier or directive name, the string's bytes, the punctuation
    std::int64_t number = 0; // for Number
    int column = 0;
};

struct LexError {
    int column;
    std::string message;
};

// Tokens up to a ';' comment; lexical errors are appended to errors.
std::vector<Token> tokenize(std::string_view line, std::vector<LexError>& errors);

// How a token kind is named in messages ("a number", "','").
std::string describe(const Token& token);
