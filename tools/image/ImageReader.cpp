#include "Image.h"

#include "ImageFormat.h"
#include "Opcodes.h"

namespace {

static_assert(kImageWidthCount == Image::kWidthCount);

// Reads like the loader: widths 1 and 2 zero-extended, width 4 signed, every count checked.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : in(bytes) {}

    Image read() {
        header();
        exportedMethods();
        virtualMethods();
        types();
        methods();
        strings();
        image.code.assign(in.begin() + static_cast<std::ptrdiff_t>(at), in.end());
        checkCode();
        return std::move(image);
    }

private:
    void header() {
        image.identifierLength = byte();
        if (image.identifierLength != 20)
            fail(0, "identifier length is " + std::to_string(image.identifierLength) + ", not 20");
        for (auto& b : image.identifier) b = byte();
        for (auto& b : image.marker) {
            b = byte();
            if (b != 0xFF) fail(at - 1, "width header marker byte is " + hex(b) + ", not 0xFF");
        }
        for (int i = 0; i < Image::kWidthCount; ++i) {
            std::uint8_t w = byte();
            if (!isWidth(w))
                fail(at - 1, std::string(kImageWidthNames[i]) + " width is " + std::to_string(w) +
                                 ", not 1, 2 or 4");
            image.widths[i] = w;
            width[i] = w;
        }
    }

    void exportedMethods() {
        for (std::int32_t n = count("exported-method count"); n > 0; --n) {
            Image::ExportedMethod m;
            m.name = name();
            m.codeOffset = varint(width[Image::CodeOffset]);
            m.methodIndex = varint(width[Image::MethodIndex]);
            image.exportedMethods.push_back(std::move(m));
        }
    }

    void virtualMethods() {
        for (std::int32_t n = count("virtual-method count"); n > 0; --n) {
            Image::VirtualMethod m;
            m.name = name();
            int record = static_cast<int>(image.virtualMethods.size());
            std::int32_t entries = varint(width[Image::EntryCount]);
            // The loader reads a negative count as no entries; keep it to write it back.
            if (entries < 0)
                image.counts[{Image::Virtuals, record, Image::Count::Entries}] = entries;
            for (; entries > 0; --entries) {
                Image::VirtualEntry e;
                e.typeId = varint(width[Image::TypeId]);
                e.codeOffset = varint(width[Image::CodeOffset]);
                e.methodIndex = varint(width[Image::MethodIndex]);
                m.entries.push_back(e);
            }
            image.virtualMethods.push_back(std::move(m));
        }
    }

    void types() {
        for (std::int32_t n = count("type count"); n > 0; --n) {
            Image::Type t;
            int record = static_cast<int>(image.types.size());
            t.elementWidth = elementWidth();
            t.refOffsets = list(t.elementWidth);
            t.flaggedOffsets = flaggedList(t.elementWidth);
            t.superFlag = varint(width[Image::SuperFlag]);
            if (t.superFlag != 0) t.superType = varint(width[Image::TypeId]);
            std::int32_t interfaces = varint(width[Image::InterfaceCount]);
            if (interfaces < 0)
                image.counts[{Image::Types, record, Image::Count::Interfaces}] = interfaces;
            for (; interfaces > 0; --interfaces)
                t.interfaces.push_back(varint(width[Image::TypeId]));
            image.types.push_back(std::move(t));
        }
    }

    void methods() {
        for (std::int32_t n = count("method count"); n > 0; --n) {
            Image::MethodInfo m;
            m.elementWidth = elementWidth();
            m.argSlots = varint(width[Image::ArgSlots]);
            m.offsetsA = list(m.elementWidth);
            m.offsetsB = flaggedList(m.elementWidth);
            m.extraSlots = varint(width[Image::ExtraSlots]);
            m.localSlots = varint(width[Image::LocalSlots]);
            m.offsetsC = list(m.elementWidth);
            m.offsetsD = flaggedList(m.elementWidth);
            image.methods.push_back(std::move(m));
        }
    }

    void strings() {
        for (std::int32_t n = count("string count"); n > 0; --n) image.strings.push_back(name());
    }

    // The loader walks the code instruction by instruction; an unknown opcode has no operands.
    void checkCode() {
        const auto& code = image.code;
        const std::size_t codeStart = at;
        for (std::size_t pc = 0; pc < code.size();) {
            const OpcodeInfo& info = opcodeInfo(code[pc]);
            if (pc + 1 + info.operandBytes > code.size())
                fail(codeStart + pc, std::string(info.mnemonic) + " at code offset " +
                                         std::to_string(pc) + " is cut short by the end");
            if (info.operandCount == 1 && info.operands[0] == OperandKind::NamedMethod) {
                std::int32_t index = int32At(code, pc + 1);
                if (index < 0 || index >= static_cast<std::int32_t>(image.virtualMethods.size()))
                    fail(codeStart + pc, "call_virtual at code offset " + std::to_string(pc) +
                                             " names virtual method " + std::to_string(index) +
                                             " of " + std::to_string(image.virtualMethods.size()));
            }
            pc += 1 + info.operandBytes;
        }
    }

    static std::int32_t int32At(const std::vector<std::uint8_t>& bytes, std::size_t p) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t(bytes[p + i]) << (8 * i);
        return static_cast<std::int32_t>(v);
    }

    std::uint8_t elementWidth() {
        std::uint8_t e = byte();
        if (!isWidth(e)) fail(at - 1, "element width is " + std::to_string(e) + ", not 1, 2 or 4");
        return e;
    }

    std::vector<std::int32_t> list(int e) {
        std::vector<std::int32_t> values;
        for (std::int32_t n = count("list length"); n > 0; --n) values.push_back(varint(e));
        return values;
    }

    std::vector<Image::Flagged> flaggedList(int e) {
        std::vector<Image::Flagged> values;
        for (std::int32_t n = count("list length"); n > 0; --n) {
            Image::Flagged f;
            f.flag = byte();
            if (f.flag != 0 && f.flag != 0xFF)
                fail(at - 1, "flag byte is " + hex(f.flag) + ", not 0 or 0xFF");
            f.value = varint(e);
            values.push_back(f);
        }
        return values;
    }

    std::string name() {
        std::int32_t length = count("length");
        need(static_cast<std::size_t>(length));
        std::string s(in.begin() + static_cast<std::ptrdiff_t>(at),
                      in.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += static_cast<std::size_t>(length);
        return s;
    }

    std::int32_t count(const char* what) {
        std::size_t start = at;
        std::int32_t n = varint(4);
        if (n < 0) fail(start, std::string(what) + " is negative (" + std::to_string(n) + ")");
        return n;
    }

    std::uint8_t byte() {
        need(1);
        return in[at++];
    }

    std::int32_t varint(int w) {
        need(static_cast<std::size_t>(w));
        std::uint32_t v = 0;
        for (int i = 0; i < w; ++i) v |= std::uint32_t(in[at + i]) << (8 * i);
        at += static_cast<std::size_t>(w);
        return static_cast<std::int32_t>(v);
    }

    void need(std::size_t n) const {
        if (n > in.size() - at) fail(in.size(), "unexpected end of the image");
    }

    static bool isWidth(int w) { return w == 1 || w == 2 || w == 4; }

    static std::string hex(std::uint8_t b) {
        const char* digits = "0123456789ABCDEF";
        return std::string("0x") + digits[b >> 4] + digits[b & 15];
    }

    [[noreturn]] static void fail(std::size_t offset, const std::string& what) {
        throw ImageFormatError(offset, what);
    }

    const std::vector<std::uint8_t>& in;
    std::size_t at = 0;
    int width[Image::kWidthCount] = {};
    Image image;
};

} // namespace

ImageFormatError::ImageFormatError(std::size_t offset, const std::string& what)
    : std::runtime_error("byte " + std::to_string(offset) + ": " + what), offset(offset) {}

Image readImage(const std::vector<std::uint8_t>& bytes) {
    return Reader(bytes).read();
}
