// Why an application failed, for its developer: the cause the machine gave up with and the
// frames of the method stack, named and numbered as zentu-dis shows the code.

#include "Opcodes.h"
#include "VirtualMachine.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string hex4(TInt32 offset) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(offset));
    return buffer;
}

} // namespace

std::string methodIdentifier(std::string_view exportedName) {
    std::string id;
    for (char c : exportedName) {
        const bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (keep)
            id += c;
        else if (!id.empty() && id.back() != '_')
            id += '_';
    }
    while (!id.empty() && id.back() == '_') id.pop_back();
    if (id.empty() || (id[0] >= '0' && id[0] <= '9')) id = "m_" + id;
    return id;
}

namespace {

// zentu-dis names a method record after the first exported method that uses it, else after
// the first virtual method, else "m" and its index.
std::string methodName(const VirtualMachine& vm, TInt32 methodIndex) {
    for (const VirtualMachine::ExportedMethod& method : vm.exportedMethods)
        if (!method.isVirtual && !method.entries.isEmpty() &&
            method.entries[0].methodIndex == methodIndex)
            return methodIdentifier(method.name.toLatin1());
    for (const VirtualMachine::ExportedMethod& method : vm.exportedMethods)
        for (int e = method.isVirtual ? 0 : 1; e < method.entries.size(); ++e)
            if (method.entries[e].methodIndex == methodIndex)
                return methodIdentifier(method.name.toLatin1());
    return "m" + std::to_string(methodIndex);
}

// "mnemonic ; offset" of the instruction that holds the code byte at position, with the
// offset inside its image, as zentu-dis counts the instructions from the image's first byte.
std::string instructionAt(const VirtualMachine& vm, TInt32 position) {
    if (position < 0 || position >= vm.code.size()) return "outside the code";
    TInt32 base = 0;
    for (const VirtualMachine::BytecodeStruct& image : vm.images)
        if (image.codeBase <= position) base = image.codeBase;
    TInt32 start = base;
    for (TInt32 at = base; at <= position;
         at += 1 + opcodeInfo(static_cast<TUint8>(vm.code[at])).operandBytes)
        start = at;
    const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(vm.code[start]));
    return std::string(info.isValid() ? info.mnemonic : ".bytes") + " ; " + hex4(start - base);
}

} // namespace

TInt32 VirtualMachine::returnAddressOf(int frame) const {
    const TInt32 methodIndex = methodStack[frame];
    TInt64 slotIndex = frameStack[frame];
    if (methodIndex >= 0 && methodIndex < methodGCInfos.size())
        slotIndex +=
            TInt64(methodGCInfos[methodIndex].argSlots) + methodGCInfos[methodIndex].extraSlots;
    return slotIndex >= 0 && slotIndex < kStackSlots ? slot(static_cast<TInt32>(slotIndex)) : -1;
}

void VirtualMachine::recordFailure(std::string cause) {
    failure = Failure{std::move(cause), {}, 0};
    if (pc < 0) return;
    const int depth = std::min(methodStack.size(), frameStack.size());
    TInt32 position = pc;
    for (int frame = depth - 1; frame >= 0; --frame) {
        // Only the frames shown are walked: a failure deep in a recursion, repeated by every
        // frame's handler, would otherwise cost the whole depth each time.
        if (failure.frames.size() == kExplainedFrames) {
            failure.framesLeftOut = frame + 1;
            break;
        }
        failure.frames.push_back({methodStack[frame], position});
        // A forged return address may be any number; the frame then shows "outside the code".
        if (frame > 0)
            position = static_cast<TInt32>(std::max<TInt64>(returnAddressOf(frame), 0) - 1);
    }
}

CAppsString VirtualMachine::uncaughtExceptionCause(Address object) const {
    CAppsString cause("Uncaught exception of type ");
    cause.appendNumber(memory.int32(object));
    if (!internalThrows.empty() && internalThrows.back().depth == methodStack.size())
        cause.append(", thrown by vminternalthrow<int>,<string> for ")
            .append(internalThrows.back().error);
    return cause;
}

std::string VirtualMachine::explanation() const {
    if (failure.cause.empty()) return {};
    std::string text = failure.cause;
    for (const FailureFrame& frame : failure.frames)
        text += "\n  " + methodName(*this, frame.methodIndex) + ": " +
                instructionAt(*this, frame.position);
    if (failure.framesLeftOut > 0)
        text += "\n  ... " + std::to_string(failure.framesLeftOut) + " outer frames left out";
    return text;
}

void VirtualMachine::updateInternalThrowDepth() {
    internalThrowReturnDepth = internalThrows.empty() ? 0 : internalThrows.back().depth;
}

void VirtualMachine::dropUnwoundInternalThrows() {
    while (!internalThrows.empty() && internalThrows.back().depth > methodStack.size())
        internalThrows.pop_back();
    updateInternalThrowDepth();
}
