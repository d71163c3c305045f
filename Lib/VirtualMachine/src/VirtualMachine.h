#pragma once

#include "Arena.h"
#include "CAppsString.h"
#include "Heap.h"
#include "OString.h"
#include "Vec.h"

#include <string>
#include <unordered_map>

namespace ZARNOK {
class InputStream;
}
class FrameworkServices;

// The operations the host and the device extensions call on the machine.
class MVMCallbackInterface {
public:
    virtual ~MVMCallbackInterface() = default;
    // Reports an internal error of the machine: raises the fatal error code 11.
    [[noreturn]] virtual void fatalError(const CAppsString& message, TInt32 codePosition) = 0;
};

// The bytecode machine: its arena, heap, operand stack and the tables the loader fills.
class VirtualMachine : public MVMCallbackInterface, public InterfaceForCallingGc {
public:
    static constexpr int kStackSlots = 15256;
    static constexpr TUint32 kMinPoolSize = 64000;

    struct BytecodeStruct {
        CAppsString name;
        Vec<TUint8> identifier;
        TInt32 codeBase = 0;
        TInt32 codeSize = 0;
    };

    struct ExportedMethod {
        struct MethodEntry {
            TInt32 typeId;
            TInt32 codeOffset;
            TInt32 methodIndex;
        };
        TInt32 imageIndex = 0;
        Vec<MethodEntry> entries;
        CAppsString name;
        TUint8 isVirtual = 0;
        TInt32 handleIndex = -1;
    };

    struct MethodGCInfo {
        TInt32 argSlots = 0;
        Vec<int> offsetsA;
        Vec<int> offsetsB;
        Vec<char> flagsB;
        TInt32 extraSlots = 0;
        TInt32 localSlots = 0;
        Vec<int> offsetsC;
        Vec<int> offsetsD;
        Vec<char> flagsD;
    };

    VirtualMachine();
    ~VirtualMachine() override;
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    // The load entry: reads the image from the stream and returns its index. A malformed
    // image ends with the fatal error "Error while reading bytecode" (ErrorHandlingException,
    // last error code 11).
    TInt32 load(ZARNOK::InputStream& stream, const CAppsString& imageName,
                FrameworkServices* services);
    // The load steps alone: the image index, or -1 when the image is refused. Short reads and
    // bad indexes raise (code 10 and 6).
    TInt32 loadImage(ZARNOK::InputStream& stream, const CAppsString& imageName);

    [[noreturn]] void fatalError(const CAppsString& message, TInt32 codePosition) override;
    void collectGarbage() override;

    Arena& arena() { return memory; }
    VMHeap& heap() { return vmHeap; }
    FrameworkServices* services() const { return frameworkServices; }
    Address stackBase() const { return operandStack; }
    // Index of the named method with this exact name, or -1.
    TInt32 findExportedMethod(const CAppsString& name) const;

    // Tables filled by the loader; index = position.
    Vec<BytecodeStruct> images;
    Vec<ExportedMethod> exportedMethods;
    Vec<Vec<int>> typeRefOffsets;
    Vec<Vec<int>> typeFlaggedOffsets;
    Vec<Vec<char>> typeOffsetFlags;
    Vec<int> superTypes;
    Vec<MethodGCInfo> methodGCInfos;
    Vec<OString> stringConstants;
    Vec<signed char> code;
    TInt32 maxTypeId = 0;

private:
    friend class Loader;
    void indexExportedName(TInt32 index);

    Arena memory;
    VMHeap vmHeap;
    Address operandStack;
    FrameworkServices* frameworkServices = nullptr;
    std::unordered_map<std::u16string, TInt32> firstMethodByName;
};
