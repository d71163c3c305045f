#include "Disassembler.h"

#include "AppsFileIO.h"
#include "AsmSyntax.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace {

using asmsyntax::quote;

constexpr std::size_t kCommentColumn = 44;

std::string hex4(std::int64_t offset) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04llX", static_cast<long long>(offset));
    return buffer;
}

std::string hex8(std::int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(value));
    return buffer;
}

// Names that are unique within one kind of symbol.
class NameSet {
public:
    std::string claim(const std::string& wanted) {
        std::string name = wanted;
        for (int n = 2; used.count(name); ++n) name = wanted + "_" + std::to_string(n);
        used.insert(name);
        return name;
    }

private:
    std::set<std::string> used;
};

class Disassembler {
public:
    explicit Disassembler(const Image& image) : image(image) {}

    std::string run() {
        findInstructions();
        nameSymbols();
        header();
        exportedMethods();
        virtualMethods();
        types();
        methods();
        strings();
        code();
        return out.str();
    }

private:
    // ---- analysis ---------------------------------------------------------------------------

    void findInstructions() {
        const auto& bytes = image.code;
        for (std::size_t pc = 0; pc < bytes.size();) {
            starts.insert(static_cast<std::int64_t>(pc));
            pc += 1 + opcodeInfo(bytes[pc]).operandBytes;
        }
        starts.insert(static_cast<std::int64_t>(bytes.size()));
    }

    bool complete(std::size_t pc) const {
        return pc + 1 + opcodeInfo(image.code[pc]).operandBytes <= image.code.size();
    }

    bool isStart(std::int64_t offset) const { return starts.count(offset) > 0; }

    void nameSymbols() {
        for (std::size_t i = 0; i < image.virtualMethods.size(); ++i)
            virtualNames.push_back(
                virtualSet.claim(methodIdentifier(image.virtualMethods[i].name)));
        for (const auto& m : image.exportedMethods)
            nameMethod(methodIdentifier(m.name), m.codeOffset, m.methodIndex);
        for (std::size_t i = 0; i < image.virtualMethods.size(); ++i)
            for (const auto& e : image.virtualMethods[i].entries)
                nameMethod(virtualNames[i], e.codeOffset, e.methodIndex);
        nameCalls();
        for (std::size_t i = 0; i < image.methods.size(); ++i)
            if (!methodNames.count(static_cast<std::int32_t>(i)))
                methodNames[static_cast<std::int32_t>(i)] =
                    methodSet.claim("m" + std::to_string(i));
        nameCodeTargets();
        for (std::size_t i = 0; i < image.types.size(); ++i)
            typeNames.push_back("type" + std::to_string(i));
        for (std::size_t i = 0; i < image.strings.size(); ++i)
            if (firstString(image.strings[i]) != i) stringNames[i] = "s" + std::to_string(i);
    }

    void nameMethod(const std::string& base, std::int32_t codeOffset, std::int32_t methodIndex) {
        if (isStart(codeOffset) && !labels.count(codeOffset))
            labels[codeOffset] = labelSet.claim(base);
        if (methodIndex >= 0 && methodIndex < static_cast<std::int32_t>(image.methods.size()) &&
            !methodNames.count(methodIndex))
            methodNames[methodIndex] = methodSet.claim(base);
    }

    // A called method that no table names takes the name of its method record, or "m" and
    // the record's index, for both its code and its record.
    void nameCalls() {
        const auto& bytes = image.code;
        for (std::size_t pc = 0; pc < bytes.size() && complete(pc);
             pc += 1 + opcodeInfo(bytes[pc]).operandBytes) {
            if (bytes[pc] != static_cast<std::uint8_t>(Opcode::call)) continue;
            std::vector<Operand> ops = operands(pc);
            std::int32_t method = ops[1].value;
            if (method < 0 || method >= image.recordCount(Image::Methods)) continue;
            auto named = methodNames.find(method);
            nameMethod(named != methodNames.end() ? named->second : "m" + std::to_string(method),
                       ops[0].value, method);
        }
    }

    void nameCodeTargets() {
        const auto& bytes = image.code;
        for (std::size_t pc = 0; pc < bytes.size(); pc += 1 + opcodeInfo(bytes[pc]).operandBytes) {
            if (!complete(pc)) break;
            for (const Operand& o : operands(pc)) {
                std::optional<std::int64_t> target = codeTarget(o);
                if (target && isStart(*target) && !labels.count(*target))
                    labels[*target] = labelSet.claim("L_" + hex4(*target));
            }
        }
    }

    std::size_t firstString(const std::string& s) const {
        for (std::size_t i = 0; i < image.strings.size(); ++i)
            if (image.strings[i] == s) return i;
        return image.strings.size();
    }

    struct Operand {
        OperandKind kind;
        std::int32_t value;
        std::size_t lastByte; // of the instruction
    };

    std::vector<Operand> operands(std::size_t pc) const {
        const OpcodeInfo& info = opcodeInfo(image.code[pc]);
        std::vector<Operand> result;
        std::size_t place = pc + 1;
        for (int i = 0; i < info.operandCount; ++i) {
            int size = operandSize(info.operands[i]);
            std::uint32_t u = 0;
            for (int b = 0; b < size; ++b) u |= std::uint32_t(image.code[place + b]) << (8 * b);
            std::int32_t v = size == 1   ? static_cast<std::int8_t>(u)
                             : size == 2 ? static_cast<std::int16_t>(u)
                                         : static_cast<std::int32_t>(u);
            if (info.operands[i] == OperandKind::U8) v = static_cast<std::int32_t>(u);
            result.push_back({info.operands[i], v, pc + info.operandBytes});
            place += static_cast<std::size_t>(size);
        }
        return result;
    }

    static std::optional<std::int64_t> codeTarget(const Operand& o) {
        switch (o.kind) {
        case OperandKind::S16Jump:
        case OperandKind::S32Jump: return std::int64_t(o.lastByte) + o.value;
        // A caught exception resumes at the byte after handlerPc.
        case OperandKind::HandlerOffset: return std::int64_t(o.lastByte) + o.value + 1;
        case OperandKind::CodeOffset: return o.value;
        default: return std::nullopt;
        }
    }

    // ---- header and tables ------------------------------------------------------------------

    void header() {
        out << "; Disassembled by zentu-dis: " << image.code.size()
            << " code bytes. Reassemble with zentu-asm.\n";
        out << ".identifier "
            << quote({reinterpret_cast<const char*>(image.identifier.data()),
                      image.identifier.size()},
                     false);
        if (image.identifierLength != 20) out << " length=" << int(image.identifierLength);
        out << "\n";
        if (image.marker[0] != 0xFF || image.marker[1] != 0xFF)
            out << ".marker " << int(image.marker[0]) << ", " << int(image.marker[1]) << "\n";
        Image automatic = image;
        automatic.widths = {};
        auto chosen = automaticWidths(automatic);
        for (int i = 0; i < Image::kWidthCount; ++i)
            if (image.widths[i] && *image.widths[i] != chosen[i])
                out << ".width " << asmsyntax::kWidthRoles[i] << " " << int(*image.widths[i])
                    << "\n";
        raw(Image::Exports, -1);
    }

    void section(Image::Table table) {
        out << "\n" << asmsyntax::kTableSections[table];
        auto count = image.counts.find({table, -1, Image::Count::Records});
        if (count != image.counts.end()) out << " count=" << count->second;
        out << "\n";
        raw(table, 0);
    }

    // Bytes before record `before`; those before a table's count follow the previous table.
    void raw(Image::Table table, int before) {
        bytesLine(table, before);
        if (table + 1 < Image::kTableCount && before == image.recordCount(table))
            bytesLine(static_cast<Image::Table>(table + 1), -1);
    }

    void bytesLine(Image::Table table, int before) {
        auto found = image.raw.find({table, before});
        if (found == image.raw.end() || found->second.empty()) return;
        for (std::size_t i = 0; i < found->second.size(); i += 16) {
            out << ".bytes";
            for (std::size_t k = i; k < found->second.size() && k < i + 16; ++k)
                out << (k == i ? " " : ", ") << byteText(found->second[k]);
            out << "\n";
        }
    }

    void count(Image::Table table, int record, Image::Count which, const char* key) {
        auto found = image.counts.find({table, record, which});
        if (found != image.counts.end()) out << " " << key << "=" << found->second;
    }

    void exportedMethods() {
        section(Image::Exports);
        for (int i = 0; i < image.recordCount(Image::Exports); ++i) {
            const auto& m = image.exportedMethods[i];
            out << ".export " << quote(m.name, false) << " code=" << codeName(m.codeOffset)
                << " method=" << methodName(m.methodIndex);
            count(Image::Exports, i, Image::Count::Name, "length");
            out << "\n";
            raw(Image::Exports, i + 1);
        }
    }

    void virtualMethods() {
        section(Image::Virtuals);
        for (int i = 0; i < image.recordCount(Image::Virtuals); ++i) {
            const auto& m = image.virtualMethods[i];
            out << ".virtual " << virtualNames[i] << " " << quote(m.name, false);
            count(Image::Virtuals, i, Image::Count::Entries, "entries");
            count(Image::Virtuals, i, Image::Count::Name, "length");
            out << "\n";
            for (const auto& e : m.entries)
                out << ".entry type=" << typeName(e.typeId) << " code=" << codeName(e.codeOffset)
                    << " method=" << methodName(e.methodIndex) << "\n";
            raw(Image::Virtuals, i + 1);
        }
    }

    void types() {
        section(Image::Types);
        for (int i = 0; i < image.recordCount(Image::Types); ++i) {
            const auto& t = image.types[i];
            out << ".type " << typeNames[i];
            if (t.elementWidth && t.elementWidth != automaticElementWidth(t))
                out << " width=" << int(t.elementWidth);
            numbers("refs", t.refOffsets);
            flagged("vectors", t.flaggedOffsets);
            if (t.superFlag != 0) out << " super=" << typeName(t.superType);
            if (t.superFlag != 0 && t.superFlag != 1) out << " superflag=" << t.superFlag;
            if (!t.interfaces.empty()) {
                out << " interfaces=[";
                for (std::size_t k = 0; k < t.interfaces.size(); ++k)
                    out << (k ? ", " : "") << typeName(t.interfaces[k]);
                out << "]";
            }
            count(Image::Types, i, Image::Count::ListA, "refs.count");
            count(Image::Types, i, Image::Count::ListB, "vectors.count");
            count(Image::Types, i, Image::Count::Interfaces, "interfaces.count");
            out << "\n";
            raw(Image::Types, i + 1);
        }
    }

    void methods() {
        section(Image::Methods);
        for (int i = 0; i < image.recordCount(Image::Methods); ++i) {
            const auto& m = image.methods[i];
            out << ".method " << methodNames[i] << " args=" << m.argSlots
                << " extra=" << m.extraSlots << " locals=" << m.localSlots;
            if (m.elementWidth && m.elementWidth != automaticElementWidth(m))
                out << " width=" << int(m.elementWidth);
            numbers("a", m.offsetsA);
            flagged("b", m.offsetsB);
            numbers("c", m.offsetsC);
            flagged("d", m.offsetsD);
            count(Image::Methods, i, Image::Count::ListA, "a.count");
            count(Image::Methods, i, Image::Count::ListB, "b.count");
            count(Image::Methods, i, Image::Count::ListC, "c.count");
            count(Image::Methods, i, Image::Count::ListD, "d.count");
            out << "\n";
            raw(Image::Methods, i + 1);
        }
    }

    void strings() {
        section(Image::Strings);
        for (int i = 0; i < image.recordCount(Image::Strings); ++i) {
            out << ".string ";
            auto name = stringNames.find(i);
            if (name != stringNames.end()) out << name->second << " ";
            out << quote(image.strings[i], true);
            count(Image::Strings, i, Image::Count::Name, "length");
            out << "\n";
            raw(Image::Strings, i + 1);
        }
    }

    void numbers(const char* key, const std::vector<std::int32_t>& values) {
        if (values.empty()) return;
        out << " " << key << "=[";
        for (std::size_t k = 0; k < values.size(); ++k) out << (k ? ", " : "") << values[k];
        out << "]";
    }

    void flagged(const char* key, const std::vector<Image::Flagged>& values) {
        if (values.empty()) return;
        out << " " << key << "=[";
        for (std::size_t k = 0; k < values.size(); ++k) {
            const auto& f = values[k];
            out << (k ? ", " : "");
            if (f.flag == 0xFF)
                out << "refs ";
            else if (f.flag != 0)
                out << "flag " << byteText(f.flag) << " ";
            out << f.value;
        }
        out << "]";
    }

    // ---- code -------------------------------------------------------------------------------

    void code() {
        out << "\n.code\n";
        const auto& bytes = image.code;
        for (std::size_t pc = 0; pc < bytes.size();) {
            label(static_cast<std::int64_t>(pc));
            const OpcodeInfo& info = opcodeInfo(bytes[pc]);
            if (!info.isValid() || !complete(pc)) {
                std::size_t length = complete(pc) ? 1 : bytes.size() - pc;
                rawCode(pc, length, !complete(pc));
                pc += length;
                continue;
            }
            instruction(pc, info);
            pc += 1 + info.operandBytes;
        }
        label(static_cast<std::int64_t>(bytes.size()));
    }

    void label(std::int64_t offset) {
        auto found = labels.find(offset);
        if (found != labels.end()) out << found->second << ":\n";
    }

    void rawCode(std::size_t pc, std::size_t length, bool cutShort) {
        std::string line = "    .bytes";
        for (std::size_t k = 0; k < length; ++k)
            line += (k ? ", " : " ") + byteText(image.code[pc + k]);
        comment(line, pc, cutShort ? "instruction cut short by the end" : "not an instruction");
    }

    void instruction(std::size_t pc, const OpcodeInfo& info) {
        std::string line = std::string("    ") + info.mnemonic;
        std::string note;
        std::vector<Operand> ops = operands(pc);
        std::vector<std::string> texts;
        for (const Operand& o : ops) texts.push_back(operandText(o, note));
        // "call f, f" is written "call f".
        if (info.operandCount == 2 && info.operands[0] == OperandKind::CodeOffset &&
            texts[0] == texts[1] && asmsyntax::isIdentifier(texts[0]))
            texts.pop_back();
        for (std::size_t k = 0; k < texts.size(); ++k) line += (k ? ", " : " ") + texts[k];
        comment(line, pc, note);
    }

    void comment(const std::string& line, std::size_t pc, const std::string& note) {
        out << line;
        std::size_t width = 0; // in characters: UTF-8 continuation bytes take no room
        for (char c : line) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        std::size_t pad = width < kCommentColumn ? kCommentColumn - width : 1;
        out << std::string(pad, ' ') << "; " << hex4(static_cast<std::int64_t>(pc));
        if (!note.empty()) out << "  " << note;
        out << "\n";
    }

    std::string operandText(const Operand& o, std::string& note) {
        switch (o.kind) {
        case OperandKind::S16Jump:
        case OperandKind::S32Jump:
        case OperandKind::HandlerOffset: {
            std::int64_t target = *codeTarget(o);
            auto found = labels.find(target);
            if (found != labels.end()) return found->second;
            note = "target " + (target < 0 ? "-" + hex4(-target) : hex4(target));
            return std::to_string(o.value);
        }
        case OperandKind::CodeOffset: return codeName(o.value);
        case OperandKind::MethodIndex: return methodName(o.value);
        case OperandKind::NamedMethod:
            if (o.value >= 0 && o.value < image.recordCount(Image::Virtuals)) {
                note = quote(image.virtualMethods[o.value].name, false);
                return virtualNames[o.value];
            }
            return std::to_string(o.value);
        case OperandKind::StringConst: return stringOperand(o.value);
        case OperandKind::TypeId:
        case OperandKind::HandlerType: return typeName(o.value);
        default:
            if (o.value >= 0x10000 || o.value <= -0x10000) note = "0x" + hex8(o.value);
            return std::to_string(o.value);
        }
    }

    std::string stringOperand(std::int32_t index) const {
        if (index < 0 || index >= image.recordCount(Image::Strings)) return std::to_string(index);
        auto name = stringNames.find(index);
        return name != stringNames.end() ? name->second : quote(image.strings[index], true);
    }

    std::string codeName(std::int32_t offset) const {
        auto found = labels.find(offset);
        return found != labels.end() ? found->second : std::to_string(offset);
    }

    std::string methodName(std::int32_t index) const {
        auto found = methodNames.find(index);
        return found != methodNames.end() ? found->second : std::to_string(index);
    }

    std::string typeName(std::int32_t id) const {
        return id >= 0 && id < image.recordCount(Image::Types) ? typeNames[id] : std::to_string(id);
    }

    static std::string byteText(std::uint8_t b) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "0x%02X", b);
        return buffer;
    }

    const Image& image;
    std::set<std::int64_t> starts;
    std::map<std::int64_t, std::string> labels;
    std::map<std::int32_t, std::string> methodNames;
    std::vector<std::string> virtualNames;
    std::vector<std::string> typeNames;
    std::map<std::size_t, std::string> stringNames;
    NameSet labelSet, methodSet, virtualSet;
    std::ostringstream out;
};

} // namespace

std::string disassembleImage(const Image& image) {
    return Disassembler(image).run();
}

std::string loaderRefusal(const std::vector<std::uint8_t>& bytes) {
    VirtualMachine vm;
    ZARNOK::MemoryInputStream stream;
    static const TUint8 kNothing = 0; // the stream wants a buffer even for no bytes
    stream.setBuffer(bytes.empty() ? &kNothing : bytes.data(), static_cast<TUint32>(bytes.size()));
    clearLastError();
    std::string message = "Error while reading bytecode";
    try {
        if (vm.loadImage(stream, "index.mcb") >= 0) return "";
    } catch (const ErrorHandlingException&) {
        message += " (" + lastErrorText().toUtf8() + ")";
    } catch (const std::exception& e) {
        message += std::string(" (") + e.what() + ")";
    }
    clearLastError();
    return message;
}

DisassemblyResult disassemble(const std::vector<std::uint8_t>& bytes) {
    DisassemblyResult result;
    std::string refusal = loaderRefusal(bytes);
    try {
        Image image = readImage(bytes);
        if (refusal.empty())
            result.text = disassembleImage(image);
        else
            result.error = refusal;
    } catch (const ImageFormatError& e) {
        result.error = refusal.empty()
                           ? "the loader accepts the image, but " + std::string(e.what())
                           : refusal + ": " + e.what();
    }
    return result;
}
