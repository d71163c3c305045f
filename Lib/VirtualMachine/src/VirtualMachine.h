#pragma once

#include "Arena.h"
#include "CAppsString.h"
#include "Heap.h"
#include "MersenneTwister.h"
#include "OString.h"
#include "Vec.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ZARNOK {
class InputStream;
}
class FrameworkServices;
class GraphicsFactory;

// The operations the host and the device extensions call on the machine.
class MVMCallbackInterface {
public:
    virtual ~MVMCallbackInterface() = default;
    // Index of the method handle for a descriptive name, or -1.
    virtual TInt32 findMethod(const CAppsString& name, TInt32 imageIndex) = 0;
    // Runs the call now, or queues it while another call runs. Returns the result converted
    // to resultLevel (0 for methods without result).
    virtual TInt32 call(TInt32 handleIndex, const Vec<int>& values, const Vec<int>& levels,
                        TInt32 resultLevel) = 0;
    // Reports an internal error of the machine: raises the fatal error code 11.
    [[noreturn]] virtual void fatalError(const CAppsString& message, TInt32 codePosition) = 0;
    virtual VMHeap& heap() = 0;
    virtual TInt32 convertToLevel(TInt32 level, TInt32 value, GcCode innermostCode) = 0;
    // A vector holder (code 6) holding a new byte vector of size zeroed bytes; a negative
    // size raises code 6.
    virtual Address newByteVector(TInt32 size) = 0;
    virtual void collectWithStackScan() = 0;
};

// The name zentu-dis gives the code and the method record of a method with this exported
// name: "<application>.draw to<canvas>" gives "application_draw_to_canvas".
std::string methodIdentifier(std::string_view exportedName);

// How an entry call ends when the application asked to exit (-1) or a fatal error (-2)
// stopped it. Both leave the machine marked as running: the application is to end.
struct EntryCallSignal {
    static constexpr TInt32 kExit = -1;
    static constexpr TInt32 kFatal = -2;
    TInt32 value;
};

// The method or the frame base of each active call. Its room is fixed, so the interpreter's
// calls never grow it and the compiler sees the bound; an index outside 0 .. size-1 raises
// code 6 as a Vec's does.
template <int kRoom> class CallRecords {
public:
    int size() const { return count; }
    bool isEmpty() const { return count == 0; }
    int& operator[](int index) { return items[checkedIndex(index)]; }
    int operator[](int index) const { return items[checkedIndex(index)]; }
    int last() const { return (*this)[count - 1]; }
    // Callers keep the count below the room.
    void append(int value) {
        if (count >= kRoom) raiseIndexError(count, count);
        items[static_cast<size_t>(count++)] = value;
    }
    void removeLast() {
        if (count == 0) raiseIndexError(-1, 0);
        --count;
    }
    void clear() { count = 0; }

private:
    size_t checkedIndex(int index) const {
        if (index < 0 || index >= count) raiseIndexError(index, count);
        return static_cast<size_t>(index);
    }

    std::vector<int> items = std::vector<int>(kRoom);
    int count = 0;
};

// The bytecode machine: its arena, heap, operand stack, the tables the loader fills, the
// interpreter state and the entry points the host calls.
class VirtualMachine : public MVMCallbackInterface, public InterfaceForCallingGc {
public:
    static constexpr int kStackSlots = 15256;
    static constexpr int kScannedStackSlots = 15000;
    static constexpr int kHandlerRecords = 128;
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

    struct MethodHandle {
        TUint8 hasResult = 0;
        TInt32 resultLevel = 0;
        CAppsString name;
        Vec<int> argLevels;
        TInt32 exportedMethodIndex = -1;
    };

    struct StoredMethodCall {
        TInt32 handleIndex;
        Vec<int> values;
        Vec<int> levels;
        TInt32 resultLevel;
        Address pinned; // an argument kept alive while the call waits, or 0
    };

    // An active exception handler. The depths of the method and frame stacks are kept so
    // that a catch unwinds them together with sp.
    struct Handler {
        TInt32 typeId;
        TInt32 savedSp;
        TInt32 handlerPc;
        TInt32 methodDepth;
        TInt32 frameDepth;
    };

    // The entry names resolved after a load, in resolution order.
    enum EntryName {
        EntryMain,
        EntrySystemTimerEvent,
        EntryDraw,
        EntryKeyPressed,
        EntryKeyReleased,
        EntryPointerEvent,
        EntryPointerPressed,
        EntryPointerDragged,
        EntryPointerReleased,
        EntryExitEvent,
        EntryForegroundEvent,
        EntryBackgroundEvent,
        EntryOrientationChanged,
        EntryInternalThrow,
        EntryPrintThrowable,
        EntryPrintThrowableAndExit,
        EntryNameCount
    };
    static const char* const kEntryNames[EntryNameCount];

    VirtualMachine();
    ~VirtualMachine() override;
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    // The load entry: reads the image, resolves the entry names and runs main. A malformed
    // image ends with the fatal error "Error while reading bytecode" and a missing main with
    // "'main' not found" (ErrorHandlingException, last error code 11).
    TInt32 load(ZARNOK::InputStream& stream, const CAppsString& imageName,
                FrameworkServices* services);
    // The load steps alone: the image index, or -1 when the image is refused, with the reason
    // ("byte N: what is wrong") in refusal when given.
    TInt32 loadImage(ZARNOK::InputStream& stream, const CAppsString& imageName,
                     std::string* refusal = nullptr);

    // For the developer: why the application failed, as lines of text: the cause of the
    // last fatal error or uncaught exception, then the frames of the method stack at that
    // moment, innermost first, each as its method's name and the code offset of its current
    // instruction as zentu-dis prints them. Empty while nothing has failed.
    std::string explanation() const;

    // MVMCallbackInterface
    TInt32 findMethod(const CAppsString& name, TInt32 imageIndex) override;
    TInt32 call(TInt32 handleIndex, const Vec<int>& values, const Vec<int>& levels,
                TInt32 resultLevel) override;
    [[noreturn]] void fatalError(const CAppsString& message, TInt32 codePosition) override;
    VMHeap& heap() override { return vmHeap; }
    TInt32 convertToLevel(TInt32 level, TInt32 value, GcCode innermostCode) override;
    Address newByteVector(TInt32 size) override; // VectorObject.cpp
    void collectWithStackScan() override;
    // InterfaceForCallingGc
    void collectGarbage() override { collectWithStackScan(); }

    // Host events. Timer and draw run at once ("VM concurrency error" while a call runs);
    // the others are queued while a call runs.
    void timerEvent(Address listener);
    void drawEvent(Address canvas);
    void keyEvent(Address keyEventObject, bool pressed);
    void pointerEvent(TInt32 kind, TInt32 x, TInt32 y, TInt32 modifiers);
    void foregroundEvent();
    void backgroundEvent();
    bool isRunning() const { return currentCall >= 0; }

    // For tools and tests against programs that never end: the work the machine may still do,
    // counted in instructions (the start of a run and every dispatch; a fused sequence of common
    // instructions is one), one more per native call and per allocation, one per 64 words that
    // an allocation or a bulk word operation touches or a native reads, and
    // kErrorConversionCost per error that becomes an application exception. Once it is
    // spent the running entry call ends with the fatal error "instruction budget exhausted",
    // and every later run ends the same way. 0, the default, is no limit.
    void setInstructionBudget(TUint64 units);
    static constexpr TInt64 kErrorConversionCost = 256;
    bool instructionBudgetExhausted() const { return budgetLeft < 0; }
    // For natives whose result size the program chooses (a string repeated n times): ends the
    // run before the work starts when the budget cannot pay for allocating that many bytes,
    // instead of after building gigabytes. The interpreter charges what a native did allocate.
    void requireBudgetFor(TUint64 bytes);
    // What a native reads is bulk work too, at the same rate: a program searching one large
    // string over and over must spend its budget as fast as its time. Charged when the native
    // returns.
    void chargeWork(TUint64 bytes) {
        if (budgeted) budgetLeft -= static_cast<TInt64>(bytes / 256);
    }
    [[noreturn]] void budgetExhausted();

    Arena& arena() { return memory; }
    FrameworkServices* services() const { return frameworkServices; }
    // The host's bitmaps, painters and fonts (src/HostGraphics.h installs them); without them
    // the graphics natives that need them raise code 13.
    void setGraphics(std::unique_ptr<GraphicsFactory> factory);
    GraphicsFactory* graphics() const { return graphicsFactory.get(); }
    Address stackBase() const { return operandStack; }
    Address applicationObject() const { return application; }
    // Pins the new application object and unpins the previous one.
    void setApplicationObject(Address object);
    TInt32 entryHandle(EntryName name) const { return entryHandles[name]; }
    // Index of the first named method with exactly this name, or -1.
    TInt32 findExportedMethod(const CAppsString& name) const;

    // Operand stack access for natives: slot i is the 32-bit word at stackBase + 4 * i.
    TInt32 slot(TInt32 index) const { return memory.int32(slotAddress(index)); }
    void setSlot(TInt32 index, TInt32 value) { memory.setWord(slotAddress(index), value); }
    Address slotAddress(TInt32 index) const {
        return operandStack + 4u * static_cast<TUint32>(index);
    }
    TInt32 top() const { return slot(sp); }
    TInt32 pop() { return slot(sp--); }
    void push(TInt32 value); // stops the call with the fatal error when the stack is full
    // A new string value: a one-reference box (code 14) holding a string object (code 3),
    // allocated as one pair. Returns the box.
    Address newStringValue(OString text);
    // The text of a string value; a null box or string raises code 1 "NULL pointer".
    OString stringValue(Address value);
    // The unknown-function error of a native group: code 10, prefix and position.
    [[noreturn]] void raiseUnknownFunction(const char* prefix) const;

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

    // Interpreter state.
    TInt32 pc = -1;
    TInt32 sp = 0;
    // At most kStackSlots calls besides the entry call's own and the machine's call of the
    // handler of last resort.
    CallRecords<kStackSlots + 2> methodStack;
    CallRecords<kStackSlots + 2> frameStack;
    Handler handlers[kHandlerRecords] = {};
    TInt32 handlerCount = 0;

    Vec<MethodHandle> methodHandles;
    MersenneTwister randomGenerator; // Math: random numbers, seeded at the first use

private:
    friend class Loader;
    friend class Interpreter;
    void indexExportedName(TInt32 index);

    // A frame of a failure: the method record and a code offset inside the instruction.
    struct FailureFrame {
        TInt32 methodIndex;
        TInt32 position;
    };
    // What explanation() describes, recorded where the machine gives up.
    struct Failure {
        std::string cause;
        std::vector<FailureFrame> frames; // innermost first, at most kExplainedFrames
        TInt32 framesLeftOut = 0;
    };
    static constexpr int kExplainedFrames = 24;
    // An active call of vminternalthrow<int>,<string>: the method-stack depth with its frame
    // and the error it is to throw.
    struct InternalThrowFrame {
        TInt32 depth;
        CAppsString error;
    };

    // Explanation.cpp: records the cause with the frames of the running call.
    void recordFailure(std::string cause);
    // "Uncaught exception of type N", and the error behind it when vminternalthrow threw it.
    CAppsString uncaughtExceptionCause(Address object) const;
    TInt32 returnAddressOf(int frame) const;
    // The method-stack depth at which a return leaves a vminternalthrow<int>,<string> call;
    // 0 while there is none.
    void updateInternalThrowDepth();
    // Removes the internal-throw records of frames a catch has unwound.
    void dropUnwoundInternalThrows();

    // Interpreter.cpp
    void run();
    void throwObject(Address object); // opcode 0x77 after the null test
    // Appends a call's method and frame base; too many active calls are the fatal error.
    void enterCall(TInt32 methodIndex, TInt32 returnSlot);
    // EntryPoints.cpp
    void resolveEntryPoints(TInt32 imageIndex);
    void startApplication(TInt32 imageIndex);
    TInt32 execute(TInt32 handleIndex, const Vec<int>& values, const Vec<int>& levels,
                   TInt32 resultLevel);
    void runWithErrorConversion();
    void internalThrow(TInt32 code, const CAppsString& text);
    // The error cannot become an application exception: raises code 6.
    [[noreturn]] void refuseConversion(const CAppsString& error);
    void drainQueue();
    void callApplicationEvent(EntryName name, const Vec<int>& values, const Vec<int>& levels,
                              bool queued);

    Arena memory;
    VMHeap vmHeap;
    Address operandStack;
    FrameworkServices* frameworkServices = nullptr;
    std::unique_ptr<GraphicsFactory> graphicsFactory;
    std::unordered_map<std::u16string, TInt32> firstMethodByName;
    TInt32 entryHandles[EntryNameCount];
    Address application = 0;
    TInt32 currentCall = -1;
    Vec<StoredMethodCall> queue;
    Failure failure;
    std::vector<InternalThrowFrame> internalThrows;
    TInt32 internalThrowReturnDepth = 0;
    std::vector<TUint8> dispatchIds; // Interpreter.cpp: per code byte, rebuilt as code grows
    // Interpreter.cpp: the handler addresses of those ids, for the loop without and with the
    // instruction budget; made on the loop's first run after the ids.
    std::vector<const void*> dispatchTargets[2];
    // Interpreter.cpp: per method, the argument and extra slots that its frame starts below
    // the return address; rebuilt as methods are loaded.
    std::vector<TInt64> callerSlots;
    bool budgeted = false;
    TInt64 budgetLeft = 0; // negative once spent
};
