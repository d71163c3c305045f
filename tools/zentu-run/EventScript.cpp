#include "EventScript.h"

#include <charconv>
#include <optional>

namespace {

struct Word {
    std::string text;
    bool quoted = false;
    CAppsString unquoted; // a quoted word's text after its escapes
};

class LineReader {
public:
    explicit LineReader(std::string_view line) : line(line) {}

    // The words of the line up to a '#' outside quotes; false with a message on a bad string.
    bool split(std::vector<Word>& words, std::string& error) {
        while (skipBlanks(), at < line.size() && line[at] != '#') {
            Word word;
            if (line[at] == '"') {
                if (!quoted(word, error)) return false;
            } else {
                while (at < line.size() && !isBlank(line[at]) && line[at] != '"')
                    word.text += line[at++];
            }
            words.push_back(std::move(word));
        }
        return true;
    }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
    void skipBlanks() {
        while (at < line.size() && isBlank(line[at])) ++at;
    }

    bool quoted(Word& word, std::string& error) {
        word.quoted = true;
        std::string utf8;
        auto flush = [&] {
            word.unquoted.append(CAppsString::fromUtf8(utf8));
            utf8.clear();
        };
        for (++at; at < line.size(); ++at) {
            char c = line[at];
            if (c == '"') {
                ++at;
                flush();
                return true;
            }
            if (c != '\\') {
                utf8 += c;
                continue;
            }
            if (++at == line.size()) break;
            switch (line[at]) {
            case '\\': utf8 += '\\'; break;
            case '"': utf8 += '"'; break;
            case 'n': utf8 += '\n'; break;
            case 't': utf8 += '\t'; break;
            case 'u': {
                std::optional<TUint16> unit = hexUnit();
                if (!unit) {
                    error = "\\u needs four hexadecimal digits";
                    return false;
                }
                flush();
                word.unquoted.Vec::append(*unit);
                break;
            }
            default: error = std::string("unknown escape \\") + line[at]; return false;
            }
        }
        error = "the string has no closing '\"'";
        return false;
    }

    std::optional<TUint16> hexUnit() {
        if (at + 4 >= line.size()) return std::nullopt;
        unsigned value = 0;
        auto [end, result] = std::from_chars(line.data() + at + 1, line.data() + at + 5, value, 16);
        if (result != std::errc() || end != line.data() + at + 5) return std::nullopt;
        at += 4;
        return static_cast<TUint16>(value);
    }

    std::string_view line;
    std::size_t at = 0;
};

// Decimal with an optional sign, or hexadecimal after "0x" up to 0xFFFFFFFF.
std::optional<TInt32> number(const Word& word) {
    if (word.quoted || word.text.empty()) return std::nullopt;
    const std::string& t = word.text;
    long long value = 0;
    std::from_chars_result parsed{};
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        unsigned long long bits = 0;
        parsed = std::from_chars(t.data() + 2, t.data() + t.size(), bits, 16);
        if (bits > 0xFFFFFFFFull) return std::nullopt;
        value = static_cast<TInt32>(static_cast<TUint32>(bits));
    } else {
        parsed = std::from_chars(t.data(), t.data() + t.size(), value);
        if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    }
    if (parsed.ec != std::errc() || parsed.ptr != t.data() + t.size()) return std::nullopt;
    return static_cast<TInt32>(value);
}

class StepParser {
public:
    StepParser(const std::vector<Word>& words, ScriptStep& step, std::string& error)
        : words(words), step(step), error(error) {}

    bool parse() {
        const std::string& name = words[0].text;
        if (words[0].quoted) return fail("a step begins with its name");
        if (name == "key") return key();
        if (name == "pointer") return pointer();
        if (name == "foreground" || name == "background") {
            step.kind = name == "foreground" ? ScriptStep::Foreground : ScriptStep::Background;
            return operands(1, 1);
        }
        if (name == "wait") {
            step.kind = ScriptStep::Wait;
            return operands(2, 2) && integer(1, step.milliseconds) &&
                   (step.milliseconds >= 0 || fail("a wait cannot be negative"));
        }
        if (name == "draw") {
            step.kind = ScriptStep::Draw;
            if (!operands(2, 2)) return false;
            step.text = words[1].quoted ? words[1].unquoted : CAppsString::fromUtf8(words[1].text);
            return !step.text.isEmpty() || fail("'draw' needs a file name");
        }
        if (name == "await-log") {
            step.kind = ScriptStep::AwaitLog;
            return operands(2, 2) && string(1, step.text);
        }
        return fail("unknown step '" + name + "'");
    }

private:
    bool key() {
        if (!operands(3, 5)) return false;
        const std::string& action = words[1].text;
        if (action != "press" && action != "release")
            return fail("expected 'key press' or 'key release'");
        step.kind = action == "press" ? ScriptStep::KeyPress : ScriptStep::KeyRelease;
        return integer(2, step.key) && (words.size() < 4 || string(3, step.text)) &&
               (words.size() < 5 || integer(4, step.scanCode));
    }

    bool pointer() {
        if (!operands(4, 5)) return false;
        const std::string& action = words[1].text;
        if (action == "press")
            step.kind = ScriptStep::PointerPress;
        else if (action == "release")
            step.kind = ScriptStep::PointerRelease;
        else if (action == "move")
            step.kind = ScriptStep::PointerMove;
        else
            return fail("expected 'pointer press', 'pointer release' or 'pointer move'");
        return integer(2, step.x) && integer(3, step.y) &&
               (words.size() < 5 || integer(4, step.modifiers));
    }

    bool operands(std::size_t least, std::size_t most) {
        if (words.size() < least) return fail("'" + words[0].text + "' needs more operands");
        if (words.size() > most) return fail("too many operands for '" + words[0].text + "'");
        return true;
    }

    bool integer(std::size_t index, TInt32& out) {
        std::optional<TInt32> value = number(words[index]);
        if (!value) return fail("expected a 32-bit number, found '" + words[index].text + "'");
        out = *value;
        return true;
    }

    bool string(std::size_t index, CAppsString& out) {
        if (!words[index].quoted) return fail("expected a string in double quotes");
        out = words[index].unquoted;
        return true;
    }

    bool fail(const std::string& message) {
        error = message;
        return false;
    }

    const std::vector<Word>& words;
    ScriptStep& step;
    std::string& error;
};

} // namespace

bool parseEventScript(std::string_view source, std::vector<ScriptStep>& steps, std::string& error) {
    int lineNumber = 0;
    for (std::size_t start = 0; start < source.size();) {
        std::size_t end = source.find('\n', start);
        if (end == std::string_view::npos) end = source.size();
        const std::string_view line = source.substr(start, end - start);
        start = end + 1;
        ++lineNumber;

        std::vector<Word> words;
        ScriptStep step;
        step.line = lineNumber;
        std::string message;
        if (!LineReader(line).split(words, message) ||
            (!words.empty() && !StepParser(words, step, message).parse())) {
            error = "line " + std::to_string(lineNumber) + ": " + message;
            return false;
        }
        if (!words.empty()) steps.push_back(std::move(step));
    }
    return true;
}
