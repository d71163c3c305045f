// Reads an index.mcb image into the machine's tables and relocates its code.

#include "AppsFileIO.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Refuses type ids that would make the per-type tables absurdly large.
constexpr TInt32 kMaxTypeIndex = 1 << 24;

// Reads the image bytes; running past the end raises VMException (code 10).
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
    TInt32 count() {
        TInt32 n = int32();
        if (n < 0) raise(KErrVM, "Negative count");
        return n;
    }
    const TUint8* take(TUint32 n) {
        need(n);
        const TUint8* start = bytes.data() + at;
        at += n;
        return start;
    }
    size_t remaining() const { return bytes.size() - at; }

private:
    void need(size_t n) const {
        if (n > remaining()) raise(KErrVM, "Unexpected end of bytecode");
    }
    std::vector<TUint8> bytes;
    size_t at = 0;
};

std::vector<TUint8> readRest(ZARNOK::InputStream& stream) {
    TInt32 size = stream.streamSize() - stream.position();
    if (size < 0) raise(KErrVM, "Unexpected end of bytecode");
    std::vector<TUint8> bytes(size);
    if (!stream.read(bytes.data(), size)) raise(KErrVM, "Unexpected end of bytecode");
    return bytes;
}

bool isWidth(TInt32 w) {
    return w == 1 || w == 2 || w == 4;
}

// An index from the image moved onto its table's base. The sum is formed in 64 bits: an
// index near the int32 limit would otherwise wrap before anything could check it.
TInt32 rebase(TInt32 index, TInt32 base) {
    const TInt64 sum = TInt64(index) + base;
    if (sum < INT32_MIN || sum > INT32_MAX) raise(KErrVM, "Index out of range");
    return static_cast<TInt32>(sum);
}

} // namespace

class Loader {
public:
    Loader(VirtualMachine& vm, Cursor& in) : vm(vm), in(in) {}

    // The load steps: the image index, or -1 when the image is refused.
    TInt32 run(const CAppsString& imageName) {
        if (in.byte() != 20) return -1;
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

        if (!readWidths()) return -1;
        readExportedMethods();
        readVirtualMethods();
        if (!readTypes() || !readMethodInfos()) return -1;
        readStrings();
        relocateCode();
        return imageIndex;
    }

private:
    void readExportedMethods() {
        for (TInt32 n = in.count(); n > 0; --n) {
            VirtualMachine::ExportedMethod method;
            method.imageIndex = imageIndex;
            method.name = readName();
            TInt32 codeOffset = in.varint(width[0]);
            TInt32 methodIndex = in.varint(width[1]);
            method.entries.append(
                {-1, rebase(codeOffset, codeBase), rebase(methodIndex, methodBase)});
            vm.exportedMethods.append(std::move(method));
            vm.indexExportedName(vm.exportedMethods.size() - 1);
        }
    }

    void readVirtualMethods() {
        for (TInt32 n = in.count(); n > 0; --n) {
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
                TInt32 typeId = rebaseType(in.varint(width[2]));
                TInt32 codeOffset = rebase(in.varint(width[0]), codeBase);
                TInt32 methodIndex = rebase(in.varint(width[1]), methodBase);
                vm.exportedMethods[index].entries.append({typeId, codeOffset, methodIndex});
                if (typeId > vm.maxTypeId) vm.maxTypeId = typeId;
            }
        }
    }

    bool readTypes() {
        TInt32 n = in.count();
        for (TInt32 i = 0; i < n; ++i) {
            TInt32 typeId = typeBase + i;
            if (typeId < 0 || typeId > kMaxTypeIndex) return false;
            while (vm.typeRefOffsets.size() <= typeId) {
                vm.typeRefOffsets.append({});
                vm.typeFlaggedOffsets.append({});
                vm.typeOffsetFlags.append({});
            }
            int e = in.byte();
            if (!isWidth(e)) return false;
            readList(e, vm.typeRefOffsets[typeId]);
            if (!readFlaggedList(e, vm.typeOffsetFlags[typeId], vm.typeFlaggedOffsets[typeId]))
                return false;
            TInt32 superType = in.varint(width[3]) == 0 ? -1 : rebaseType(in.varint(width[2]));
            while (vm.superTypes.size() < typeId) vm.superTypes.append(-2);
            if (vm.superTypes.size() == typeId)
                vm.superTypes.append(superType);
            else
                vm.superTypes[typeId] = superType;
            for (TInt32 k = in.varint(width[4]); k > 0; --k) in.varint(width[2]);
        }
        return true;
    }

    bool readMethodInfos() {
        TInt32 n = in.count();
        for (TInt32 i = 0; i < n; ++i) {
            VirtualMachine::MethodGCInfo info;
            int e = in.byte();
            if (!isWidth(e)) return false;
            info.argSlots = in.varint(width[5]);
            readList(e, info.offsetsA);
            if (!readFlaggedList(e, info.flagsB, info.offsetsB)) return false;
            info.extraSlots = in.varint(width[6]);
            info.localSlots = in.varint(width[7]);
            readList(e, info.offsetsC);
            if (!readFlaggedList(e, info.flagsD, info.offsetsD)) return false;
            vm.methodGCInfos.append(std::move(info));
        }
        return true;
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
        typeBase = rebase(vm.maxTypeId, 1);
        stringBase = vm.stringConstants.size();
    }

    bool readWidths() {
        if (in.byte() != 0xFF || in.byte() != 0xFF) return false;
        for (int& w : width) {
            w = in.byte();
            if (!isWidth(w)) return false;
        }
        return true;
    }

    void readStrings() {
        for (TInt32 n = in.count(); n > 0; --n) {
            TInt32 length = in.count();
            const TUint8* bytes = in.take(static_cast<TUint32>(length));
            const std::string_view utf8(reinterpret_cast<const char*>(bytes), length);
            vm.stringConstants.append(OString(vm.arena(), CAppsString::fromUtf8(utf8)));
        }
    }

    void relocateCode() {
        const TInt32 codeSize = static_cast<TInt32>(in.remaining());
        vm.images[imageIndex].codeSize = codeSize;
        vm.code.resize(rebase(codeSize, codeBase));
        out = reinterpret_cast<TUint8*>(vm.code.data()) + codeBase;
        while (in.remaining() > 0) {
            const TUint8 opcode = in.byte();
            *out++ = opcode;
            const OpcodeInfo& info = opcodeInfo(opcode);
            for (int i = 0; i < info.operandCount; ++i) copyOperand(info.operands[i]);
        }
    }

    CAppsString readName() {
        TInt32 length = in.count();
        const TUint8* bytes = in.take(static_cast<TUint32>(length));
        CAppsString name;
        name.reserve(length);
        for (TInt32 i = 0; i < length; ++i) name.Vec::append(bytes[i]);
        return name;
    }

    void readList(int e, Vec<int>& list) {
        for (TInt32 n = in.count(); n > 0; --n) list.append(in.varint(e));
    }

    bool readFlaggedList(int e, Vec<char>& flags, Vec<int>& values) {
        for (TInt32 n = in.count(); n > 0; --n) {
            TUint8 flag = in.byte();
            if (flag != 0 && flag != 0xFF) return false;
            flags.append(static_cast<char>(flag));
            values.append(in.varint(e));
        }
        return true;
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
        switch (kind) {
        case OperandKind::CodeOffset:
        case OperandKind::HandlerOffset: return rebase(v, codeBase);
        case OperandKind::MethodIndex: return v >= 0 ? rebase(v, methodBase) : v;
        case OperandKind::HandlerType: return v >= 0 ? rebaseType(v) : v;
        case OperandKind::StringConst: return rebase(v, stringBase);
        case OperandKind::NamedMethod:
            if (v < 0 || static_cast<size_t>(v) >= virtualMethodMap.size())
                raise(KErrInvalidArgument);
            return virtualMethodMap[v];
        case OperandKind::TypeId:
            v = rebaseType(v);
            if (v > vm.maxTypeId) vm.maxTypeId = v;
            return v;
        default: return v;
        }
    }

    // Type ids stay within the per-type tables' limit, so that the highest one, which the
    // next image's type base follows, can never approach the int32 limit.
    TInt32 rebaseType(TInt32 index) const {
        const TInt32 typeId = rebase(index, typeBase);
        if (typeId > kMaxTypeIndex) raise(KErrVM, "Type id out of range");
        return typeId;
    }

    VirtualMachine& vm;
    Cursor& in;
    TInt32 imageIndex = 0;
    TInt32 codeBase = 0, methodBase = 0, typeBase = 0, stringBase = 0;
    int width[9] = {};
    TUint8* out = nullptr; // next code byte to write
    std::vector<TInt32> virtualMethodMap;
};

TInt32 VirtualMachine::loadImage(ZARNOK::InputStream& stream, const CAppsString& imageName) {
    Cursor in(readRest(stream));
    return Loader(*this, in).run(imageName);
}
