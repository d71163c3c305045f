// Native call dispatch: the table of native groups.

#include "Natives.h"

#include "FrameworkServices.h"
#include "GraphicsNatives.h"
#include "NativeGroups.h"
#include "NumericNatives.h"
#include "VectorNatives.h"
#include "VirtualMachine.h"
#include "stringNative.h"

namespace {

using GroupFunction = void (*)(VirtualMachine& vm, TInt32 function);
using VectorGroupFunction = void (*)(VirtualMachine& vm, TInt32 function, bool primitive);

// A group whose library is not written yet has neither function: every call to it raises the
// unknown-function error, so no image can reach an unfinished library.
struct NativeGroup {
    const char* unknownFunctionPrefix = nullptr;
    GroupFunction call = nullptr;
    VectorGroupFunction vectorCall = nullptr;
    bool primitive = false; // vector groups: the elements are not references
};

constexpr TInt32 kFirstGroup = 1;
constexpr TInt32 kLastGroup = 35;

// Indexed by the group number. Group 2 is not supported; it answers like a vector group that
// defines no function.
const NativeGroup kGroups[kLastGroup + 1] = {
    {}, // 0: outside the table
    // 1: byte elements
    {.unknownFunctionPrefix = "Vector:", .vectorCall = byteVectorNative, .primitive = true},
    {.unknownFunctionPrefix = "Vector:"}, // 2: not supported
    // 3: one-word elements
    {.unknownFunctionPrefix = "Vector:", .vectorCall = oneWordVectorNative, .primitive = true},
    // 4: two-word elements
    {.unknownFunctionPrefix = "Vector:", .vectorCall = twoWordVectorNative, .primitive = true},
    // 5: three-word elements
    {.unknownFunctionPrefix = "Vector:", .vectorCall = threeWordVectorNative, .primitive = true},
    // 6: four-word elements
    {.unknownFunctionPrefix = "Vector:", .vectorCall = fourWordVectorNative, .primitive = true},
    // 7: references
    {.unknownFunctionPrefix = "Vector:", .vectorCall = oneWordVectorNative, .primitive = false},
    {.unknownFunctionPrefix = "String:", .call = stringNative},       // 8
    {.unknownFunctionPrefix = "Byte:", .call = byteNative},           // 9: defines no function
    {.unknownFunctionPrefix = "Char:", .call = charNative},           // 10
    {.unknownFunctionPrefix = "Fixed:", .call = fixedNative},         // 11
    {.unknownFunctionPrefix = "Long:", .call = longNative},           // 12
    {.unknownFunctionPrefix = "Color:", .call = colorNative},         // 13
    {.unknownFunctionPrefix = "Range:", .call = rangeNative},         // 14
    {.unknownFunctionPrefix = "Size:", .call = sizeNative},           // 15
    {.unknownFunctionPrefix = "Position:", .call = positionNative},   // 16
    {.unknownFunctionPrefix = "Rectangle:", .call = rectangleNative}, // 17
    {.unknownFunctionPrefix = "Graphics:", .call = graphicsNative},   // 18
    {.unknownFunctionPrefix = "Bitmap:", .call = bitmapNative},       // 19
    {.unknownFunctionPrefix = "Font:", .call = fontNative},           // 20
    {.unknownFunctionPrefix = "OutputStream:", .call = outputStreamNative},         // 21
    {.unknownFunctionPrefix = "FileWriter:", .call = fileWriterNative},             // 22
    {.unknownFunctionPrefix = "InputStream:", .call = inputStreamNative},           // 23
    {.unknownFunctionPrefix = "FileReader:", .call = fileReaderNative},             // 24
    {.unknownFunctionPrefix = "FileSystem:", .call = fileSystemNative},             // 25
    {.unknownFunctionPrefix = "Math:", .call = mathNative},                         // 26
    {.unknownFunctionPrefix = "Number:", .call = numberNative},                     // 27
    {.unknownFunctionPrefix = "Encoder:", .call = encoderNative},                   // 28
    {.unknownFunctionPrefix = "DateTime:", .call = dateTimeNative},                 // 29
    {.unknownFunctionPrefix = "Debug:", .call = debugNative},                       // 30
    {.unknownFunctionPrefix = "Screen:", .call = screenNative},                     // 31
    {.unknownFunctionPrefix = "System:", .call = systemNative},                     // 32
    {.unknownFunctionPrefix = "Timer:", .call = timerNative},                       // 33
    {.unknownFunctionPrefix = "Hash:", .call = hashNative},                         // 34
    {.unknownFunctionPrefix = "KeyEvent: invalid opcode ", .call = keyEventNative}, // 35
};

} // namespace

FrameworkServices& hostServices(VirtualMachine& vm) {
    // A machine loaded without a host (tools, tests) runs everything but the host's services.
    if (vm.services() == nullptr) raise(KErrUnsupportedFeature, "No host services");
    return *vm.services();
}

void callNative(VirtualMachine& vm, TInt32 group, TInt32 function) {
    if (group < kFirstGroup || group > kLastGroup) {
        CAppsString message("Internal error: invalid group in native call: ");
        vm.fatalError(message.appendNumber(group), vm.pc);
    }
    const NativeGroup& entry = kGroups[group];
    if (entry.vectorCall)
        entry.vectorCall(vm, function, entry.primitive);
    else if (entry.call)
        entry.call(vm, function);
    else
        vm.raiseUnknownFunction(entry.unknownFunctionPrefix);
}
