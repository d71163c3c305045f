#include "Assembler.h"

#include "AsmSyntax.h"
#include "Lexer.h"
#include "Opcodes.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>

namespace {

constexpr std::int64_t kInt32Min = -(std::int64_t(1) << 31);
constexpr std::int64_t kUint32Max = (std::int64_t(1) << 32) - 1;

struct Position {
    int line = 0;
    int column = 0;
};

// An operand or option value as written: a number, a name, or a string literal's bytes.
struct Value {
    enum Kind { Number, Name, Text } kind = Number;
    std::int64_t number = 0;
    std::string text;
    Position at;
};

// An element of a bracketed list; flagged lists allow "refs V" and "flag F V".
struct Element {
    Value value;
    std::optional<Value> flag;
};

struct Option {
    std::string key;
    Position at;
    bool isList = false;
    Value value;
    std::vector<Element> list;
};

struct Arguments {
    std::vector<Value> positional;
    std::vector<Option> options;
};

enum class Namespace { Label, Method, Type, Virtual, String };
const char* const kNamespaceNames[] = {"label", "method", "type", "virtual method", "string"};

enum class Section { Header, Exports, Virtuals, Types, Methods, Strings, Code };

struct Symbol {
    std::int32_t value;
    Position at;
};

// Edit distance, for "did you mean" hints.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string hint(std::string_view name, const std::vector<std::string>& candidates) {
    const std::string* best = nullptr;
    std::size_t bestDistance = std::max<std::size_t>(2, name.size() / 3) + 1;
    for (const auto& c : candidates) {
        std::size_t d = distance(name, c);
        if (d < bestDistance) bestDistance = d, best = &c;
    }
    return best ? "; did you mean '" + *best + "'?" : "";
}

std::vector<std::string> allMnemonics() {
    std::vector<std::string> names;
    for (int op = 0; op < 256; ++op)
        if (opcodeInfo(static_cast<TUint8>(op)).isValid())
            names.push_back(opcodeInfo(static_cast<TUint8>(op)).mnemonic);
    return names;
}

// The tokens of one line and a read position in them.
class Line {
public:
    Line(std::vector<Token> tokens, int number) : tokens(std::move(tokens)), number(number) {}

    bool atEnd() const { return at >= tokens.size(); }
    const Token& peek(std::size_t ahead = 0) const { return tokens[at + ahead]; }
    bool peekIs(Token::Kind kind, std::size_t ahead = 0) const {
        return at + ahead < tokens.size() && tokens[at + ahead].kind == kind;
    }
    const Token& take() { return tokens[at++]; }
    void skipComma() {
        if (peekIs(Token::Comma)) ++at;
    }
    Position position() const {
        int column = atEnd() ? (tokens.empty() ? 1 : tokens.back().column + 1) : peek().column;
        return {number, column};
    }
    Position positionOf(const Token& token) const { return {number, token.column}; }

private:
    std::vector<Token> tokens;
    std::size_t at = 0;
    int number;
};

class Assembler {
public:
    explicit Assembler(std::string_view fileName) : fileName(fileName) {}

    std::optional<Image> run(std::string_view source, std::vector<AssemblyError>& out) {
        int number = 0;
        for (std::size_t start = 0; start <= source.size() && !tooManyErrors(); ++number) {
            std::size_t end = source.find('\n', start);
            if (end == std::string_view::npos) end = source.size();
            parseLine(source.substr(start, end - start), number + 1);
            start = end + 1;
        }
        for (auto& fixup : fixups) {
            if (tooManyErrors()) break;
            fixup();
        }
        out = std::move(errors);
        if (!out.empty()) return std::nullopt;
        return std::move(image);
    }

private:
    using Handler = void (Assembler::*)(const Arguments&, Position);

    // ---- statements -------------------------------------------------------------------------

    void parseLine(std::string_view text, int number) {
        std::vector<LexError> lexErrors;
        Line line(tokenize(text, lexErrors), number);
        for (const auto& e : lexErrors) error({number, e.column}, e.message);
        if (!lexErrors.empty()) return;
        if (line.peekIs(Token::Identifier) && line.peekIs(Token::Colon, 1)) {
            Position at = line.positionOf(line.peek());
            defineLabel(line.take().text, at);
            line.take();
        }
        if (line.atEnd()) return;
        const Token& first = line.take();
        Position at = line.positionOf(first);
        if (first.kind == Token::Directive) {
            directive(first.text, line, at);
        } else if (first.kind == Token::Identifier) {
            instruction(first.text, line, at);
        } else {
            error(at, "expected a label, a directive or an instruction, found " + describe(first));
        }
    }

    void directive(const std::string& name, Line& line, Position at) {
        static const std::map<std::string, Handler> handlers = {
            {".identifier", &Assembler::identifierDirective},
            {".marker", &Assembler::markerDirective},
            {".width", &Assembler::widthDirective},
            {".exports", &Assembler::exportsSection},
            {".virtuals", &Assembler::virtualsSection},
            {".types", &Assembler::typesSection},
            {".methods", &Assembler::methodsSection},
            {".strings", &Assembler::stringsSection},
            {".code", &Assembler::codeSection},
            {".export", &Assembler::exportDirective},
            {".virtual", &Assembler::virtualDirective},
            {".entry", &Assembler::entryDirective},
            {".type", &Assembler::typeDirective},
            {".method", &Assembler::methodDirective},
            {".string", &Assembler::stringDirective},
            {".bytes", &Assembler::bytesDirective},
            {".int16", &Assembler::int16Directive},
            {".int32", &Assembler::int32Directive},
        };
        auto handler = handlers.find(name);
        if (handler == handlers.end()) {
            std::vector<std::string> names;
            for (const auto& h : handlers) names.push_back(h.first);
            error(at, "unknown directive '" + name + "'" + hint(name, names));
            return;
        }
        std::optional<Arguments> args = arguments(line);
        if (!args) return;
        bool entry = handler->second == &Assembler::entryDirective;
        if (entry && !afterVirtual)
            error(at, ".entry must follow a .virtual record or another .entry");
        else
            (this->*handler->second)(*args, at);
        afterVirtual = handler->second == &Assembler::virtualDirective || (entry && afterVirtual);
    }

    // ---- arguments --------------------------------------------------------------------------

    std::optional<Arguments> arguments(Line& line) {
        Arguments args;
        while (!line.atEnd()) {
            if (line.peekIs(Token::Identifier) && line.peekIs(Token::Equals, 1)) {
                Option option;
                option.at = line.position();
                option.key = line.take().text;
                line.take();
                if (line.peekIs(Token::Open)) {
                    option.isList = true;
                    if (!list(line, option.list)) return std::nullopt;
                } else if (auto v = value(line)) {
                    option.value = *v;
                } else {
                    return std::nullopt;
                }
                args.options.push_back(std::move(option));
            } else if (auto v = value(line)) {
                args.positional.push_back(*v);
            } else {
                return std::nullopt;
            }
            line.skipComma();
        }
        return args;
    }

    std::optional<Value> value(Line& line) {
        if (line.atEnd()) {
            error(line.position(), "expected a value at the end of the line");
            return std::nullopt;
        }
        const Token& token = line.take();
        Value v;
        v.at = line.positionOf(token);
        switch (token.kind) {
        case Token::Number: v.kind = Value::Number, v.number = token.number; return v;
        case Token::Identifier: v.kind = Value::Name, v.text = token.text; return v;
        case Token::String: v.kind = Value::Text, v.text = token.text; return v;
        default: error(v.at, "expected a number, a name or a string, found " + describe(token));
        }
        return std::nullopt;
    }

    bool list(Line& line, std::vector<Element>& elements) {
        line.take(); // '['
        while (!line.peekIs(Token::Close)) {
            if (line.atEnd()) {
                error(line.position(), "missing ']'");
                return false;
            }
            Element element;
            if (line.peekIs(Token::Identifier) && !line.peekIs(Token::Comma, 1) &&
                !line.peekIs(Token::Close, 1)) {
                const Token& word = line.take();
                Value flag;
                flag.at = line.positionOf(word);
                if (word.text == "refs") {
                    flag.number = 0xFF;
                } else if (word.text == "flag") {
                    auto f = value(line);
                    if (!f) return false;
                    flag = *f;
                } else {
                    error(flag.at,
                          "expected 'refs V', 'flag F V' or a value, found " + describe(word));
                    return false;
                }
                element.flag = flag;
            }
            auto v = value(line);
            if (!v) return false;
            element.value = *v;
            elements.push_back(std::move(element));
            if (!line.peekIs(Token::Close) && !line.peekIs(Token::Comma) && !line.atEnd()) {
                error(line.position(), "expected ',' or ']' in the list");
                return false;
            }
            line.skipComma();
        }
        line.take(); // ']'
        return true;
    }

    // Reports positional arguments beyond `max`, and unknown or repeated options.
    bool checkArguments(const Arguments& args, const char* directive, std::size_t minPositional,
                        std::size_t maxPositional, std::initializer_list<const char*> keys,
                        Position at) {
        bool ok = true;
        if (args.positional.size() > maxPositional) {
            error(args.positional[maxPositional].at,
                  std::string("too many operands for ") + directive);
            ok = false;
        } else if (args.positional.size() < minPositional) {
            error(at, std::string("missing operand for ") + directive);
            ok = false;
        }
        for (std::size_t i = 0; i < args.options.size(); ++i) {
            const Option& o = args.options[i];
            if (std::find_if(keys.begin(), keys.end(), [&](const char* k) { return o.key == k; }) ==
                keys.end()) {
                error(o.at, "unknown option '" + o.key + "' for " + directive +
                                hint(o.key, {keys.begin(), keys.end()}));
                ok = false;
            }
            for (std::size_t j = 0; j < i; ++j)
                if (args.options[j].key == o.key) {
                    error(o.at, "option '" + o.key + "' given twice");
                    ok = false;
                }
        }
        return ok;
    }

    static const Option* option(const Arguments& args, std::string_view key) {
        for (const auto& o : args.options)
            if (o.key == key) return &o;
        return nullptr;
    }

    // A single value (not a list) for the option, or nullptr after reporting a list.
    const Value* scalar(const Arguments& args, std::string_view key) {
        const Option* o = option(args, key);
        if (!o) return nullptr;
        if (o->isList) {
            error(o->at, "option '" + o->key + "' takes a single value, not a list");
            return nullptr;
        }
        return &o->value;
    }

    const std::vector<Element>* listOption(const Arguments& args, std::string_view key,
                                           bool flagged) {
        const Option* o = option(args, key);
        if (!o) return nullptr;
        if (!o->isList) {
            error(o->at, "option '" + o->key + "' takes a list in brackets");
            return nullptr;
        }
        if (!flagged)
            for (const auto& e : o->list)
                if (e.flag) error(e.flag->at, "only flagged lists take 'refs' or 'flag'");
        return &o->list;
    }

    // ---- header -----------------------------------------------------------------------------

    void identifierDirective(const Arguments& args, Position at) {
        if (!checkArguments(args, ".identifier", 1, 1, {"length"}, at)) return;
        const Value& id = args.positional[0];
        if (id.kind != Value::Text) {
            error(id.at, "the identifier is a string of 20 bytes");
        } else if (id.text.size() != image.identifier.size()) {
            error(id.at, "the identifier must be 20 bytes, this one has " +
                             std::to_string(id.text.size()));
        } else {
            std::copy(id.text.begin(), id.text.end(), image.identifier.begin());
        }
        if (const Value* length = scalar(args, "length"))
            image.identifierLength = static_cast<std::uint8_t>(number(*length, 0, 255, "length"));
        section = Section::Header;
    }

    void markerDirective(const Arguments& args, Position at) {
        if (!checkArguments(args, ".marker", 2, 2, {}, at)) return;
        for (int i = 0; i < 2; ++i)
            image.marker[i] =
                static_cast<std::uint8_t>(number(args.positional[i], 0, 255, "marker byte"));
        section = Section::Header;
    }

    void widthDirective(const Arguments& args, Position at) {
        if (!checkArguments(args, ".width", 2, 2, {}, at)) return;
        const Value& role = args.positional[0];
        const auto* roles = asmsyntax::kWidthRoles;
        auto found = std::find_if(roles, roles + Image::kWidthCount,
                                  [&](const char* r) { return role.text == r; });
        if (role.kind != Value::Name || found == roles + Image::kWidthCount) {
            error(role.at, "unknown width '" + role.text + "'" +
                               hint(role.text, {roles, roles + Image::kWidthCount}));
            return;
        }
        int index = static_cast<int>(found - roles);
        if (widthSet[index]) {
            error(role.at, std::string("width ") + *found + " given twice");
            return;
        }
        widthSet[index] = true;
        const Value& width = args.positional[1];
        if (width.kind == Value::Name && width.text == "auto")
            image.widths[index].reset();
        else
            image.widths[index] = static_cast<std::uint8_t>(number(width, 0, 255, "width"));
        section = Section::Header;
    }

    // ---- sections ---------------------------------------------------------------------------

    void exportsSection(const Arguments& a, Position at) { openTable(a, at, Image::Exports); }
    void virtualsSection(const Arguments& a, Position at) { openTable(a, at, Image::Virtuals); }
    void typesSection(const Arguments& a, Position at) { openTable(a, at, Image::Types); }
    void methodsSection(const Arguments& a, Position at) { openTable(a, at, Image::Methods); }
    void stringsSection(const Arguments& a, Position at) { openTable(a, at, Image::Strings); }

    void openTable(const Arguments& args, Position at, Image::Table table) {
        section = static_cast<Section>(table + 1);
        if (!checkArguments(args, asmsyntax::kTableSections[table], 0, 0, {"count"}, at)) return;
        if (const Value* count = scalar(args, "count"))
            setCount({table, -1, Image::Count::Records}, *count);
    }

    void codeSection(const Arguments& args, Position at) {
        section = Section::Code;
        checkArguments(args, ".code", 0, 0, {}, at);
    }

    void setCount(Image::CountAt where, const Value& v) {
        if (image.counts.count(where)) {
            error(v.at, "count given twice");
            return;
        }
        image.counts[where] = int32(v, "count");
    }

    // ---- records ----------------------------------------------------------------------------

    void exportDirective(const Arguments& args, Position at) {
        section = Section::Exports;
        if (!checkArguments(args, ".export", 1, 1, {"code", "method", "length"}, at)) return;
        int record = static_cast<int>(image.exportedMethods.size());
        image.exportedMethods.push_back({});
        if (auto name = text(args.positional[0], "the exported name"))
            image.exportedMethods[record].name = *name;
        nameLength(args, {Image::Exports, record, Image::Count::Name});
        const Value* code = required(args, "code", ".export", at);
        const Value* method = required(args, "method", ".export", at);
        if (code)
            later([=, this, v = *code] {
                image.exportedMethods[record].codeOffset =
                    field(v, Namespace::Label, Image::CodeOffset);
            });
        if (method)
            later([=, this, v = *method] {
                image.exportedMethods[record].methodIndex =
                    field(v, Namespace::Method, Image::MethodIndex);
            });
    }

    void virtualDirective(const Arguments& args, Position at) {
        section = Section::Virtuals;
        if (!checkArguments(args, ".virtual", 1, 2, {"entries", "length"}, at)) return;
        int record = static_cast<int>(image.virtualMethods.size());
        image.virtualMethods.push_back({});
        if (auto name = text(args.positional.back(), "the virtual method's name"))
            image.virtualMethods[record].name = *name;
        if (args.positional.size() == 2) define(Namespace::Virtual, args.positional[0], record);
        nameLength(args, {Image::Virtuals, record, Image::Count::Name});
        if (const Value* entries = scalar(args, "entries")) {
            Image::CountAt where{Image::Virtuals, record, Image::Count::Entries};
            image.counts[where] = int32(*entries, "entry count");
            checkWidthLater(image.counts[where], Image::EntryCount, entries->at);
        }
    }

    void entryDirective(const Arguments& args, Position at) {
        if (!checkArguments(args, ".entry", 0, 0, {"type", "code", "method"}, at)) return;
        const Value* type = required(args, "type", ".entry", at);
        const Value* code = required(args, "code", ".entry", at);
        const Value* method = required(args, "method", ".entry", at);
        if (image.virtualMethods.empty()) return;
        int record = static_cast<int>(image.virtualMethods.size()) - 1;
        auto& entries = image.virtualMethods[record].entries;
        int entry = static_cast<int>(entries.size());
        entries.push_back({});
        auto at_ = [this, record, entry]() -> Image::VirtualEntry& {
            return image.virtualMethods[record].entries[entry];
        };
        if (type)
            later(
                [=, this, v = *type] { at_().typeId = field(v, Namespace::Type, Image::TypeId); });
        if (code)
            later([=, this, v = *code] {
                at_().codeOffset = field(v, Namespace::Label, Image::CodeOffset);
            });
        if (method)
            later([=, this, v = *method] {
                at_().methodIndex = field(v, Namespace::Method, Image::MethodIndex);
            });
    }

    void typeDirective(const Arguments& args, Position at) {
        section = Section::Types;
        if (!checkArguments(args, ".type", 0, 1,
                            {"refs", "vectors", "super", "superflag", "interfaces", "width",
                             "refs.count", "vectors.count", "interfaces.count"},
                            at))
            return;
        int record = static_cast<int>(image.types.size());
        image.types.push_back({});
        if (!args.positional.empty()) define(Namespace::Type, args.positional[0], record);
        Image::Type& type = image.types[record];
        type.elementWidth = elementWidth(args);
        type.refOffsets = numbers(args, "refs", type.elementWidth);
        type.flaggedOffsets = flaggedNumbers(args, "vectors", type.elementWidth);
        listCount(args, "refs.count", {Image::Types, record, Image::Count::ListA});
        listCount(args, "vectors.count", {Image::Types, record, Image::Count::ListB});
        listCount(args, "interfaces.count", {Image::Types, record, Image::Count::Interfaces});
        const Value* super = scalar(args, "super");
        if (const Value* flag = scalar(args, "superflag")) {
            type.superFlag = int32(*flag, "super flag");
            checkWidthLater(type.superFlag, Image::SuperFlag, flag->at);
        } else {
            type.superFlag = super ? 1 : 0;
        }
        if (super)
            later([=, this, v = *super] {
                image.types[record].superType = field(v, Namespace::Type, Image::TypeId);
            });
        if (const auto* interfaces = listOption(args, "interfaces", false)) {
            image.types[record].interfaces.resize(interfaces->size());
            for (std::size_t i = 0; i < interfaces->size(); ++i)
                later([=, this, v = (*interfaces)[i].value] {
                    image.types[record].interfaces[i] = field(v, Namespace::Type, Image::TypeId);
                });
        }
    }

    void methodDirective(const Arguments& args, Position at) {
        section = Section::Methods;
        if (!checkArguments(args, ".method", 0, 1,
                            {"args", "extra", "locals", "a", "b", "c", "d", "width", "a.count",
                             "b.count", "c.count", "d.count"},
                            at))
            return;
        int record = static_cast<int>(image.methods.size());
        image.methods.push_back({});
        if (!args.positional.empty()) define(Namespace::Method, args.positional[0], record);
        Image::MethodInfo& m = image.methods[record];
        m.elementWidth = elementWidth(args);
        m.argSlots = slots(args, "args", Image::ArgSlots);
        m.extraSlots = slots(args, "extra", Image::ExtraSlots);
        m.localSlots = slots(args, "locals", Image::LocalSlots);
        m.offsetsA = numbers(args, "a", m.elementWidth);
        m.offsetsB = flaggedNumbers(args, "b", m.elementWidth);
        m.offsetsC = numbers(args, "c", m.elementWidth);
        m.offsetsD = flaggedNumbers(args, "d", m.elementWidth);
        listCount(args, "a.count", {Image::Methods, record, Image::Count::ListA});
        listCount(args, "b.count", {Image::Methods, record, Image::Count::ListB});
        listCount(args, "c.count", {Image::Methods, record, Image::Count::ListC});
        listCount(args, "d.count", {Image::Methods, record, Image::Count::ListD});
    }

    void stringDirective(const Arguments& args, Position at) {
        section = Section::Strings;
        if (!checkArguments(args, ".string", 1, 2, {"length"}, at)) return;
        int record = static_cast<int>(image.strings.size());
        image.strings.emplace_back();
        if (auto bytes = text(args.positional.back(), "the string's text"))
            image.strings[record] = *bytes;
        if (args.positional.size() == 2) define(Namespace::String, args.positional[0], record);
        nameLength(args, {Image::Strings, record, Image::Count::Name});
    }

    std::int32_t slots(const Arguments& args, std::string_view key, Image::Width role) {
        const Value* v = scalar(args, key);
        if (!v) return 0;
        std::int32_t n = int32(*v, std::string(key).c_str());
        checkWidthLater(n, role, v->at);
        return n;
    }

    std::uint8_t elementWidth(const Arguments& args) {
        const Value* v = scalar(args, "width");
        if (!v) return 0;
        std::int64_t w = number(*v, 1, 255, "element width");
        return static_cast<std::uint8_t>(w);
    }

    std::vector<std::int32_t> numbers(const Arguments& args, std::string_view key, int width) {
        std::vector<std::int32_t> values;
        if (const auto* list = listOption(args, key, false))
            for (const auto& e : *list) values.push_back(listNumber(e.value, width));
        return values;
    }

    std::vector<Image::Flagged> flaggedNumbers(const Arguments& args, std::string_view key,
                                               int width) {
        std::vector<Image::Flagged> values;
        if (const auto* list = listOption(args, key, true))
            for (const auto& e : *list) {
                Image::Flagged f;
                if (e.flag) f.flag = static_cast<std::uint8_t>(number(*e.flag, 0, 255, "flag"));
                f.value = listNumber(e.value, width);
                values.push_back(f);
            }
        return values;
    }

    std::int32_t listNumber(const Value& v, int width) {
        std::int32_t n = int32(v, "offset");
        if (width) checkFits(n, width, v.at, "element width");
        return n;
    }

    void listCount(const Arguments& args, std::string_view key, Image::CountAt where) {
        if (const Value* v = scalar(args, key)) setCount(where, *v);
    }

    void nameLength(const Arguments& args, Image::CountAt where) {
        if (const Value* v = scalar(args, "length")) setCount(where, *v);
    }

    const Value* required(const Arguments& args, std::string_view key, const char* directive,
                          Position at) {
        const Value* v = scalar(args, key);
        if (!v && !option(args, key))
            error(at, std::string(directive) + " needs " + std::string(key) + "=");
        return v;
    }

    std::optional<std::string> text(const Value& v, const char* what) {
        if (v.kind == Value::Text) return v.text;
        error(v.at, std::string(what) + " must be a string in double quotes");
        return std::nullopt;
    }

    // ---- raw bytes --------------------------------------------------------------------------

    void bytesDirective(const Arguments& args, Position at) {
        if (!checkArguments(args, ".bytes", 1, SIZE_MAX, {}, at)) return;
        Image::Bytes bytes;
        for (const Value& v : args.positional) {
            if (v.kind == Value::Text)
                bytes.insert(bytes.end(), v.text.begin(), v.text.end());
            else
                bytes.push_back(static_cast<std::uint8_t>(number(v, -128, 255, "byte")));
        }
        appendRaw(bytes);
    }

    void int16Directive(const Arguments& args, Position at) { littleEndian(args, at, 2); }
    void int32Directive(const Arguments& args, Position at) { littleEndian(args, at, 4); }

    void littleEndian(const Arguments& args, Position at, int size) {
        if (!checkArguments(args, size == 2 ? ".int16" : ".int32", 1, SIZE_MAX, {}, at)) return;
        Image::Bytes bytes;
        for (const Value& v : args.positional) {
            std::int64_t n = number(v, -(std::int64_t(1) << (8 * size - 1)),
                                    (std::int64_t(1) << (8 * size)) - 1, "value");
            for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        }
        appendRaw(bytes);
    }

    // Raw bytes go right after whatever the current section holds so far.
    void appendRaw(const Image::Bytes& bytes) {
        Image::Bytes* target = nullptr;
        switch (section) {
        case Section::Header: target = &image.raw[{Image::Exports, -1}]; break;
        case Section::Code: target = &image.code; break;
        default: {
            auto table = static_cast<Image::Table>(static_cast<int>(section) - 1);
            target = &image.raw[{table, image.recordCount(table)}];
        }
        }
        target->insert(target->end(), bytes.begin(), bytes.end());
    }

    // ---- code -------------------------------------------------------------------------------

    void defineLabel(const std::string& name, Position at) {
        section = Section::Code;
        afterVirtual = false;
        Value v;
        v.kind = Value::Name, v.text = name, v.at = at;
        define(Namespace::Label, v, static_cast<std::int32_t>(image.code.size()));
    }

    void instruction(const std::string& mnemonic, Line& line, Position at) {
        section = Section::Code;
        afterVirtual = false;
        int opcode = opcodeByMnemonic(mnemonic.c_str());
        if (opcode < 0) {
            static const std::vector<std::string> mnemonics = allMnemonics();
            error(at, "unknown mnemonic '" + mnemonic + "'" + hint(mnemonic, mnemonics));
            return;
        }
        std::vector<Value> operands;
        while (!line.atEnd()) {
            auto v = value(line);
            if (!v) return;
            operands.push_back(*v);
            line.skipComma();
        }
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(opcode));
        // "call f" calls the code at label f with the method record f.
        if (opcode == static_cast<int>(Opcode::call) && operands.size() == 1 &&
            operands[0].kind == Value::Name)
            operands.push_back(operands[0]);
        if (operands.size() != info.operandCount) {
            error(at, mnemonic + " takes " + std::to_string(info.operandCount) + " operand" +
                          (info.operandCount == 1 ? "" : "s") + ", found " +
                          std::to_string(operands.size()));
            return;
        }
        std::size_t start = image.code.size();
        image.code.push_back(static_cast<std::uint8_t>(opcode));
        image.code.resize(start + 1 + info.operandBytes);
        std::size_t lastByte = start + info.operandBytes;
        std::size_t place = start + 1;
        for (int i = 0; i < info.operandCount; ++i) {
            OperandKind kind = info.operands[i];
            later([=, this, v = operands[i]] { encodeOperand(kind, v, place, lastByte); });
            place += static_cast<std::size_t>(operandSize(kind));
        }
    }

    void encodeOperand(OperandKind kind, const Value& v, std::size_t place, std::size_t lastByte) {
        int size = operandSize(kind);
        std::int64_t n = 0;
        switch (kind) {
        case OperandKind::S16Jump:
        case OperandKind::S32Jump: n = jumpOffset(v, size, lastByte); break;
        // A caught exception resumes after handlerPc, so the label names the byte after it.
        case OperandKind::HandlerOffset: n = jumpOffset(v, size, lastByte + 1); break;
        case OperandKind::CodeOffset: n = resolve(v, Namespace::Label); break;
        case OperandKind::MethodIndex: n = resolve(v, Namespace::Method); break;
        case OperandKind::NamedMethod: n = resolve(v, Namespace::Virtual); break;
        case OperandKind::StringConst: n = stringOperand(v); break;
        case OperandKind::TypeId:
        case OperandKind::HandlerType: n = resolve(v, Namespace::Type); break;
        default: n = numberOperand(v); break;
        }
        if (n < -(std::int64_t(1) << (8 * size - 1)) || n > (std::int64_t(1) << (8 * size)) - 1) {
            error(v.at, "operand " + std::to_string(n) + " out of range for " +
                            std::to_string(size) + " byte" + (size == 1 ? "" : "s"));
            return;
        }
        for (int i = 0; i < size; ++i)
            image.code[place + i] = static_cast<std::uint8_t>(n >> (8 * i));
    }

    std::int64_t numberOperand(const Value& v) {
        if (v.kind == Value::Number) return v.number;
        error(v.at, "expected a number");
        return 0;
    }

    // A label becomes its distance from `origin` (the instruction's last operand byte for
    // jumps); a number is the offset itself.
    std::int64_t jumpOffset(const Value& v, int size, std::size_t origin) {
        if (v.kind != Value::Name) return resolve(v, Namespace::Label);
        auto target = lookup(v, Namespace::Label);
        if (!target) return 0;
        std::int64_t offset = std::int64_t(*target) - std::int64_t(origin);
        if (size == 2 && (offset < -32768 || offset > 32767)) {
            error(v.at, "label '" + v.text + "' is " + std::to_string(offset) +
                            " bytes away, out of range for a 2-byte jump; use the _w form");
            return 0;
        }
        return offset;
    }

    // A string literal names the first constant with those bytes; a new one is added after
    // the declared constants when there is none.
    std::int64_t stringOperand(const Value& v) {
        if (v.kind != Value::Text) return resolve(v, Namespace::String);
        auto found = std::find(image.strings.begin(), image.strings.end(), v.text);
        if (found != image.strings.end()) return found - image.strings.begin();
        image.strings.push_back(v.text);
        return static_cast<std::int64_t>(image.strings.size()) - 1;
    }

    // ---- symbols and values -----------------------------------------------------------------

    void define(Namespace ns, const Value& name, std::int32_t value) {
        if (name.kind != Value::Name) {
            error(name.at, std::string("expected a ") + kNamespaceNames[int(ns)] + " name");
            return;
        }
        auto& table = symbols[int(ns)];
        auto existing = table.find(name.text);
        if (existing != table.end()) {
            error(name.at, std::string("duplicate ") + kNamespaceNames[int(ns)] + " '" + name.text +
                               "' (first defined at line " +
                               std::to_string(existing->second.at.line) + ")");
            return;
        }
        table[name.text] = {value, name.at};
    }

    std::optional<std::int32_t> lookup(const Value& v, Namespace ns) {
        const auto& table = symbols[int(ns)];
        auto found = table.find(v.text);
        if (found != table.end()) return found->second.value;
        std::vector<std::string> names;
        for (const auto& s : table) names.push_back(s.first);
        error(v.at, std::string("undefined ") + kNamespaceNames[int(ns)] + " '" + v.text + "'" +
                        hint(v.text, names));
        return std::nullopt;
    }

    std::int64_t resolve(const Value& v, Namespace ns) {
        switch (v.kind) {
        case Value::Number: return v.number;
        case Value::Name: return lookup(v, ns).value_or(0);
        case Value::Text: break;
        }
        error(v.at, std::string("expected a number or a ") + kNamespaceNames[int(ns)] + " name");
        return 0;
    }

    // A table field: resolved, checked against its width when the width is given.
    std::int32_t field(const Value& v, Namespace ns, Image::Width role) {
        std::int64_t n = resolve(v, ns);
        if (n < kInt32Min || n > kUint32Max) {
            error(v.at, std::to_string(n) + " does not fit in 32 bits");
            return 0;
        }
        auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
        checkWidth(value, role, v.at);
        return value;
    }

    // Widths may be declared after the values, so the check waits for the second pass.
    void checkWidthLater(std::int32_t value, Image::Width role, Position at) {
        later([=, this] { checkWidth(value, role, at); });
    }

    void checkWidth(std::int32_t value, Image::Width role, Position at) {
        if (image.widths[role])
            checkFits(value, *image.widths[role], at,
                      std::string("width ") + asmsyntax::kWidthRoles[role]);
    }

    // Widths 1 and 2 hold unsigned values; other widths are not checked, so that malformed
    // images stay writable.
    void checkFits(std::int32_t value, int width, Position at, const std::string& what) {
        if (width != 1 && width != 2) return;
        std::int64_t max = (std::int64_t(1) << (8 * width)) - 1;
        if (value < 0 || value > max)
            error(at, std::to_string(value) + " out of range for " + what + " " +
                          std::to_string(width) + " (0 to " + std::to_string(max) + ")");
    }

    std::int64_t number(const Value& v, std::int64_t min, std::int64_t max, const char* what) {
        if (v.kind != Value::Number) {
            error(v.at, std::string("the ") + what + " must be a number");
            return 0;
        }
        if (v.number < min || v.number > max) {
            error(v.at, std::string(what) + " " + std::to_string(v.number) + " out of range (" +
                            std::to_string(min) + " to " + std::to_string(max) + ")");
            return 0;
        }
        return v.number;
    }

    std::int32_t int32(const Value& v, const char* what) {
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(number(v, kInt32Min, kUint32Max, what)));
    }

    // ---- bookkeeping ------------------------------------------------------------------------

    void later(std::function<void()> fixup) { fixups.push_back(std::move(fixup)); }

    void error(Position at, std::string message) {
        errors.push_back({fileName, at.line, at.column, std::move(message)});
    }
    bool tooManyErrors() const { return errors.size() >= 100; }

    std::string fileName;
    Image image;
    Section section = Section::Header;
    bool afterVirtual = false;
    bool widthSet[Image::kWidthCount] = {};
    std::map<std::string, Symbol> symbols[5];
    std::vector<std::function<void()>> fixups;
    std::vector<AssemblyError> errors;
};

} // namespace

std::string AssemblyError::toString() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": error: " + message;
}

std::string AssemblyResult::errorText() const {
    std::string text;
    for (const auto& e : errors) text += e.toString() + "\n";
    return text;
}

std::optional<Image> assembleImage(std::string_view source, std::string_view fileName,
                                   std::vector<AssemblyError>& errors) {
    return Assembler(fileName).run(source, errors);
}

AssemblyResult assemble(std::string_view source, std::string_view fileName) {
    AssemblyResult result;
    if (auto image = assembleImage(source, fileName, result.errors))
        result.bytes = writeImage(*image);
    return result;
}

std::vector<std::uint8_t> assembleOrThrow(std::string_view source, std::string_view fileName) {
    AssemblyResult result = assemble(source, fileName);
    if (!result.ok()) throw std::runtime_error(result.errorText());
    return std::move(result.bytes);
}
