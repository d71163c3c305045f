// Reads an index.mcb image into the machine's tables and relocates its code.

#include "AppsFileIO.h"
#include "ImageFormat.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Refuses type ids that would make the per-type tables absurdly large.
constexpr TInt32 kMaxTypeIndex = 1 << 24;

// Why the image is refused: "byte N: what is wrong", N counted from the image's first byte.
struct ImageRefused {
    std::string reason;
};

[[noreturn]] void refuse(size_t offset, const std::string& what) {
    throw ImageRefused{"byte " + std::to_string(offset) + ": " + what};
}

std::string hexByte(TUint8 b) {
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

// Reads the image bytes; running past the end refuses the image.
class Cursor {
public:
    explicit Cursor(std::vector<TUint8> bytes) : bytes(std::move(bytes)) {}

    TUint8 byte() {
        need(1);
        return bytes[at++];
    }
    TInt32 int32() { return varint(4); }
    // Widths 1 and 2 are zero-extended, width 4 is a signed int32.
    TInt32 varint(int width) {
        need(width);
        TUint32 value = 0;
        for (int i = 0; i < width; ++i) value |= TUint32(bytes[at + i]) << (8 * i);
        at += width;
        return static_cast<TInt32>(value);
    }
    TInt32 count(const char* what) {
        const size_t start = at;
        TInt32 n = int32();
        if (n < 0) refuse(start, std::string(what) + " is negative (" + std::to_string(n) + ")");
        return n;
    }
    const TUint8* take(TUint32 n) {
        need(n);
        const TUint8* start = bytes.data() + at;
        at += n;
        return start;
    }
    size_t remaining() const { return bytes.size() - at; }
    size_t offset() const { return at; }

private:
    void need(size_t n) const {
        if (n > remaining()) refuse(bytes.size(), "unexpected end of the image");
    }
    std::vector<TUint8> bytes;
    size_t at = 0;
};

std::vector<TUint8> readRest(ZARNOK::InputStream& stream) {
    TInt32 size = stream.streamSize() - stream.position();
    if (size < 0) refuse(0, "the image cannot be read");
    std::vector<TUint8> bytes(size);
    if (!stream.read(bytes.data(), size)) refuse(0, "the image cannot be read");
    return bytes;
}

bool isWidth(TInt32 w) {
    return w == 1 || w == 2 || w == 4;
}

} // namespace

class Loader {
public:
    Loader(VirtualMachine& vm, Cursor& in) : vm(vm), in(in) {}

    // The load steps: the image index. A refused image throws ImageRefused.
    TInt32 run(const CAppsString& imageName) {
        const TUint8 identifierLength = in.byte();
        if (identifierLength != 20)
            refuse(0, "identifier length is " + std::to_string(identifierLength) + ", not 20");
        const TUint8* identifier = in.take(20);
        TInt32 loaded = findLoaded(imageName, identifier);
        if (loaded >= 0) return loaded;

        takeBases();
        VirtualMachine::BytecodeStruct image;
        image.name = imageName;
        image.identifier.append(identifier, 20);
        image.codeBase = codeBase;
        vm.images.append(std::move(image));
        imageIndex = vm.images.size() - 1;

        readWidths();
        readExportedMethods();
        readVirtualMethods();
        readTypes();
        readMethodInfos();
        readStrings();
        relocateCode();
        return imageIndex;
    }

private:
    void readExportedMethods() {
        for (TInt32 n = in.count("exported-method count"); n > 0; --n) {
            VirtualMachine::ExportedMethod method;
            method.imageIndex = imageIndex;
            method.name = readName();
            TInt32 codeOffset = in.varint(width[0]);
            TInt32 methodIndex = in.varint(width[1]);
            method.entries.append({-1, rebase(codeOffset, codeBase, "code offset", in.offset()),
                                   rebase(methodIndex, methodBase, "method index", in.offset())});
            vm.exportedMethods.append(std::move(method));
            vm.indexExportedName(vm.exportedMethods.size() - 1);
        }
    }

    void readVirtualMethods() {
        for (TInt32 n = in.count("virtual-method count"); n > 0; --n) {
            CAppsString name = readName();
            TInt32 index = vm.findExportedMethod(name);
            if (index < 0) {
                VirtualMachine::ExportedMethod method;
                method.name = name;
                method.isVirtual = 1;
                vm.exportedMethods.append(std::move(method));
                index = vm.exportedMethods.size() - 1;
                vm.indexExportedName(index);
            }
            virtualMethodMap.push_back(index);
            for (TInt32 entries = in.varint(width[8]); entries > 0; --entries) {
                TInt32 typeId = rebaseType(in.varint(width[2]), "type id", in.offset());
                TInt32 codeOffset =
                    rebase(in.varint(width[0]), codeBase, "code offset", in.offset());
                TInt32 methodIndex =
                    rebase(in.varint(width[1]), methodBase, "method index", in.offset());
                vm.exportedMethods[index].entries.append({typeId, codeOffset, methodIndex});
                if (typeId > vm.maxTypeId) vm.maxTypeId = typeId;
            }
        }
    }

    void readTypes() {
        TInt32 n = in.count("type count");
        for (TInt32 i = 0; i < n; ++i) {
            TInt32 typeId = typeBase + i;
            if (typeId < 0 || typeId > kMaxTypeIndex)
                refuse(in.offset(), "type id " + std::to_string(typeId) + " is beyond " +
                                        std::to_string(kMaxTypeIndex));
            while (vm.typeRefOffsets.size() <= typeId) {
                vm.typeRefOffsets.append({});
                vm.typeFlaggedOffsets.append({});
                vm.typeOffsetFlags.append({});
            }
            int e = readElementWidth();
            readList(e, vm.typeRefOffsets[typeId]);
            readFlaggedList(e, vm.typeOffsetFlags[typeId], vm.typeFlaggedOffsets[typeId]);
            TInt32 superType = in.varint(width[3]) == 0
                                   ? -1
                                   : rebaseType(in.varint(width[2]), "super type", in.offset());
            while (vm.superTypes.size() < typeId) vm.superTypes.append(-2);
            if (vm.superTypes.size() == typeId)
                vm.superTypes.append(superType);
            else
                vm.superTypes[typeId] = superType;
            for (TInt32 k = in.varint(width[4]); k > 0; --k) in.varint(width[2]);
        }
    }

    void readMethodInfos() {
        TInt32 n = in.count("method count");
        for (TInt32 i = 0; i < n; ++i) {
            VirtualMachine::MethodGCInfo info;
            int e = readElementWidth();
            info.argSlots = in.varint(width[5]);
            readList(e, info.offsetsA);
            readFlaggedList(e, info.flagsB, info.offsetsB);
            info.extraSlots = in.varint(width[6]);
            info.localSlots = in.varint(width[7]);
            readList(e, info.offsetsC);
            readFlaggedList(e, info.flagsD, info.offsetsD);
            vm.methodGCInfos.append(std::move(info));
        }
    }

    int readElementWidth() {
        const TUint8 e = in.byte();
        if (!isWidth(e))
            refuse(in.offset() - 1, "element width is " + std::to_string(e) + ", not 1, 2 or 4");
        return e;
    }

    TInt32 findLoaded(const CAppsString& imageName, const TUint8* identifier) const {
        for (int i = 0; i < vm.images.size(); ++i) {
            const VirtualMachine::BytecodeStruct& image = vm.images[i];
            if (image.name == imageName &&
                std::memcmp(image.identifier.data(), identifier, 20) == 0)
                return i;
        }
        return -1;
    }

    void takeBases() {
        codeBase = vm.code.size();
        methodBase = vm.methodGCInfos.size();
        typeBase = rebase(vm.maxTypeId, 1, "type base", 0);
        stringBase = vm.stringConstants.size();
    }

    void readWidths() {
        for (int marker = 0; marker < 2; ++marker) {
            const TUint8 b = in.byte();
            if (b != 0xFF)
                refuse(in.offset() - 1, "width header marker byte is " + hexByte(b) + ", not 0xFF");
        }
        for (int role = 0; role < kImageWidthCount; ++role) {
            width[role] = in.byte();
            if (!isWidth(width[role]))
                refuse(in.offset() - 1, std::string(kImageWidthNames[role]) + " width is " +
                                            std::to_string(width[role]) + ", not 1, 2 or 4");
        }
    }

    void readStrings() {
        for (TInt32 n = in.count("string count"); n > 0; --n) {
            TInt32 length = in.count("length");
            const TUint8* bytes = in.take(static_cast<TUint32>(length));
            const std::string_view utf8(reinterpret_cast<const char*>(bytes), length);
            vm.stringConstants.append(OString(vm.arena(), CAppsString::fromUtf8(utf8)));
        }
    }

    void relocateCode() {
        const TInt32 codeSize = static_cast<TInt32>(in.remaining());
        vm.images[imageIndex].codeSize = codeSize;
        vm.code.resize(rebase(codeSize, codeBase, "code size", in.offset()));
        out = reinterpret_cast<TUint8*>(vm.code.data()) + codeBase;
        codeStart = in.offset();
        while (in.remaining() > 0) {
            instructionOffset = in.offset() - codeStart;
            const TUint8 opcode = in.byte();
            *out++ = opcode;
            const OpcodeInfo& info = opcodeInfo(opcode);
            if (in.remaining() < info.operandBytes)
                refuse(codeStart + instructionOffset,
                       std::string(info.mnemonic) + " at code offset " +
                           std::to_string(instructionOffset) + " is cut short by the end");
            for (int i = 0; i < info.operandCount; ++i) copyOperand(info.operands[i]);
        }
    }

    CAppsString readName() {
        TInt32 length = in.count("length");
        const TUint8* bytes = in.take(static_cast<TUint32>(length));
        CAppsString name;
        name.reserve(length);
        for (TInt32 i = 0; i < length; ++i) name.Vec::append(bytes[i]);
        return name;
    }

    void readList(int e, Vec<int>& list) {
        for (TInt32 n = in.count("list length"); n > 0; --n) list.append(in.varint(e));
    }

    void readFlaggedList(int e, Vec<char>& flags, Vec<int>& values) {
        for (TInt32 n = in.count("list length"); n > 0; --n) {
            TUint8 flag = in.byte();
            if (flag != 0 && flag != 0xFF)
                refuse(in.offset() - 1, "flag byte is " + hexByte(flag) + ", not 0 or 0xFF");
            flags.append(static_cast<char>(flag));
            values.append(in.varint(e));
        }
    }

    void copyOperand(OperandKind kind) {
        const int size = operandSize(kind);
        if (size < 4) {
            for (int i = 0; i < size; ++i) *out++ = in.byte();
            return;
        }
        const auto value = static_cast<TUint32>(relocate(kind, in.int32()));
        for (int i = 0; i < 4; ++i) *out++ = static_cast<TUint8>(value >> (8 * i));
    }

    TInt32 relocate(OperandKind kind, TInt32 v) {
        const size_t at = codeStart + instructionOffset;
        switch (kind) {
        case OperandKind::CodeOffset:
        case OperandKind::HandlerOffset: return rebase(v, codeBase, "code offset", at);
        case OperandKind::MethodIndex:
            return v >= 0 ? rebase(v, methodBase, "method index", at) : v;
        case OperandKind::HandlerType: return v >= 0 ? rebaseType(v, "handler type", at) : v;
        case OperandKind::StringConst: return rebase(v, stringBase, "string number", at);
        case OperandKind::NamedMethod:
            if (v < 0 || static_cast<size_t>(v) >= virtualMethodMap.size())
                refuse(at, "call_virtual at code offset " + std::to_string(instructionOffset) +
                               " names virtual method " + std::to_string(v) + " of " +
                               std::to_string(virtualMethodMap.size()));
            return virtualMethodMap[v];
        case OperandKind::TypeId:
            v = rebaseType(v, "type id", at);
            if (v > vm.maxTypeId) vm.maxTypeId = v;
            return v;
        default: return v;
        }
    }

    // An index from the image moved onto its table's base. The sum is formed in 64 bits: an
    // index near the int32 limit would otherwise wrap before anything could check it. `at` is
    // the image offset the refusal names.
    static TInt32 rebase(TInt32 index, TInt32 base, const char* what, size_t at) {
        const TInt64 sum = TInt64(index) + base;
        if (sum < INT32_MIN || sum > INT32_MAX)
            refuse(at, std::string(what) + " " + std::to_string(index) + " plus its base " +
                           std::to_string(base) + " is beyond the int32 range");
        return static_cast<TInt32>(sum);
    }

    // Type ids also stay within the per-type tables' limit, so that the highest one, which the
    // next image's type base follows, stays far from the int32 limit.
    TInt32 rebaseType(TInt32 index, const char* what, size_t at) const {
        const TInt32 typeId = rebase(index, typeBase, what, at);
        if (typeId > kMaxTypeIndex)
            refuse(at, std::string(what) + " " + std::to_string(typeId) + " is beyond " +
                           std::to_string(kMaxTypeIndex));
        return typeId;
    }

    VirtualMachine& vm;
    Cursor& in;
    TInt32 imageIndex = 0;
    TInt32 codeBase = 0, methodBase = 0, typeBase = 0, stringBase = 0;
    int width[kImageWidthCount] = {};
    size_t codeStart = 0;         // image offset of the code
    size_t instructionOffset = 0; // of the instruction being copied, inside the code
    TUint8* out = nullptr;        // next code byte to write
    std::vector<TInt32> virtualMethodMap;
};

TInt32 VirtualMachine::loadImage(ZARNOK::InputStream& stream, const CAppsString& imageName,
                                 std::string* refusal) {
    try {
        Cursor in(readRest(stream));
        return Loader(*this, in).run(imageName);
    } catch (const ImageRefused& refused) {
        if (refusal) *refusal = refused.reason;
        return -1;
    }
}
