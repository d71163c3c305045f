// Entry calls: resolving descriptive names to method handles, running calls with their
// arguments and error conversion, the call queue and the host events.

#include "VirtualMachine.h"

#include <algorithm>
#include <vector>

const char* const VirtualMachine::kEntryNames[EntryNameCount] = {
    "main",
    "<systemtimerlistener>.systemtimerevent",
    "<application>.draw to<canvas>",
    "<application>.key pressed<keyevent>",
    "<application>.key released<keyevent>",
    "<application>.pointer event<int>at x<int>y<int>modifiers<int>",
    "<application>.pointer pressed at<position>",
    "<application>.pointer dragged to<position>",
    "<application>.pointer released at<position>",
    "<application>.exit event",
    "<application>.foreground event",
    "<application>.background event",
    "<screenorientationlistener>.screen orientation changed to<orientation>",
    "vminternalthrow<int>,<string>",
    "vmprintthrowable<throwable>",
    "vmprintthrowableandexit<throwable>",
};

namespace {

// The value dereferenced `times` times, each step null-tested.
TInt32 dereference(const Arena& memory, TInt32 value, int times) {
    for (int i = 0; i < times; ++i) {
        if (value == 0) raiseNullPointer();
        value = memory.int32(static_cast<Address>(value));
    }
    return value;
}

// A new piece begins after every '<'; a leading '<' or '(' is a piece of its own.
std::vector<CAppsString> splitPieces(const CAppsString& name) {
    std::vector<CAppsString> pieces(1);
    for (int i = 0; i < name.size(); ++i) {
        TUint16 c = name[i];
        pieces.back().Vec::append(c);
        bool leadingBracket = i == 0 && (c == '<' || c == '(');
        if ((c == '<' || leadingBracket) && i + 1 < name.size()) pieces.emplace_back();
    }
    return pieces;
}

// Matches the pieces against the start of an exported name; the run of '*' after each piece
// but the last is that argument's indirection level.
bool matchPieces(const CAppsString& exported, const std::vector<CAppsString>& pieces,
                 Vec<int>& levels) {
    int at = 0;
    const int length = exported.size();
    for (size_t p = 0; p < pieces.size(); ++p) {
        const CAppsString& piece = pieces[p];
        if (at + piece.size() > length) return false;
        for (int i = 0; i < piece.size(); ++i)
            if (exported[at + i] != piece[i]) return false;
        at += piece.size();
        if (p + 1 == pieces.size()) break;
        int level = 0;
        while (at < length - 1 && exported[at] == '*') ++level, ++at;
        levels.append(level);
    }
    return true;
}

} // namespace

TInt32 VirtualMachine::findMethod(const CAppsString& name, TInt32 imageIndex) {
    if (name.isEmpty()) return -1;
    const std::vector<CAppsString> pieces = splitPieces(name);
    for (int index = 0; index < exportedMethods.size(); ++index) {
        ExportedMethod& method = exportedMethods[index];
        if (!method.isVirtual && method.imageIndex != imageIndex) continue;
        Vec<int> levels;
        if (!matchPieces(method.name, pieces, levels)) continue;
        if (method.handleIndex >= 0) return method.handleIndex;

        MethodHandle handle;
        handle.name = name;
        handle.hasResult = name[0] == '(';
        if (handle.hasResult && !levels.isEmpty()) {
            handle.resultLevel = levels[0];
            levels.removeAt(0);
        }
        handle.argLevels = std::move(levels);
        handle.exportedMethodIndex = index;
        methodHandles.append(std::move(handle));
        method.handleIndex = methodHandles.size() - 1;
        return method.handleIndex;
    }
    return -1;
}

void VirtualMachine::resolveEntryPoints(TInt32 imageIndex) {
    for (int name = 0; name < EntryNameCount; ++name)
        entryHandles[name] = findMethod(kEntryNames[name], imageIndex);
}

void VirtualMachine::startApplication(TInt32 imageIndex) {
    resolveEntryPoints(imageIndex);
    if (entryHandles[EntryMain] < 0) fatalError("'main' not found", -1);
    execute(entryHandles[EntryMain], {}, {}, -1);
    vmHeap.collect();
}

TInt32 VirtualMachine::convertToLevel(TInt32 level, TInt32 value, GcCode innermostCode) {
    if (level >= 1 && level <= 3) {
        // Every box is allocated before any is filled.
        Address boxes[3];
        for (int i = 0; i < level; ++i)
            boxes[i] =
                vmHeap.allocate(4, 0, i == 0 && level > 1 ? innermostCode : GC_CODE_REFERENCE_BOX);
        TUint32 inner = static_cast<TUint32>(value);
        for (int i = 0; i < level; ++i) {
            memory.setWord(boxes[i], inner);
            inner = boxes[i];
        }
        return static_cast<TInt32>(inner);
    }
    if (level >= -3 && level <= 0) return dereference(memory, value, -level);
    return 0;
}

TInt32 VirtualMachine::call(TInt32 handleIndex, const Vec<int>& values, const Vec<int>& levels,
                            TInt32 resultLevel) {
    if (isRunning()) {
        queue.append(StoredMethodCall{handleIndex, values, levels, resultLevel, 0});
        return 0;
    }
    return execute(handleIndex, values, levels, resultLevel);
}

TInt32 VirtualMachine::execute(TInt32 handleIndex, const Vec<int>& values, const Vec<int>& levels,
                               TInt32 resultLevel) {
    if (isRunning()) fatalError("VM concurrency error", -1);
    // A copy: natives may resolve names, and so grow the handle table, while the call runs.
    const MethodHandle handle = methodHandles[handleIndex];
    const ExportedMethod& method = exportedMethods[handle.exportedMethodIndex];
    const TInt32 firstArgument = handle.hasResult ? 1 : 0;
    const TInt32 savedHandlerCount = handlerCount;
    currentCall = handleIndex;
    try {
        sp = firstArgument;
        setSlot(0, 0);
        methodStack.clear();
        frameStack.clear();
        internalThrows.clear();
        updateInternalThrowDepth();
        for (int i = 0; i < values.size(); ++i) {
            if (i >= handle.argLevels.size()) raise(KErrInvalidArgument);
            setSlot(sp++, convertToLevel(handle.argLevels[i] - levels[i], values[i],
                                         GC_CODE_REFERENCE_BOX));
        }
        TInt32 type = -1;
        // A virtual method dispatches on the receiver's class type id: its first argument
        // dereferenced once per indirection level.
        if (method.isVirtual && sp > firstArgument)
            type = dereference(memory, slot(firstArgument), handle.argLevels[0]);
        for (const ExportedMethod::MethodEntry& entry : method.entries) {
            if (entry.typeId != type) continue;
            if (entry.codeOffset >= 0 && entry.codeOffset < code.size() &&
                entry.methodIndex != -1) {
                methodStack.append(entry.methodIndex);
                frameStack.append(0);
                pc = entry.codeOffset;
                setSlot(sp, -1);
                runWithErrorConversion();
            }
            break;
        }
    } catch (...) {
        // The call could not start, its error could not be converted, or it ended with the
        // exit or the fatal signal: the machine is idle again, without the handlers of the
        // call, and the error or signal goes to the host.
        pc = -1;
        currentCall = -1;
        handlerCount = savedHandlerCount;
        throw;
    }
    pc = -1;
    handlerCount = savedHandlerCount;

    const Address result = handle.hasResult ? static_cast<Address>(slot(0)) : 0;
    const bool pinResult = handle.hasResult && handle.resultLevel > 0 && result != 0;
    if (pinResult) vmHeap.pin(result);
    vmHeap.collect();
    currentCall = -1;

    TInt32 value = 0;
    if (handle.hasResult) {
        if (pinResult) vmHeap.unpin(result);
        value = convertToLevel(resultLevel - handle.resultLevel, static_cast<TInt32>(result),
                               GC_CODE_REFERENCE_BOX);
    }
    drainQueue();
    return value;
}

void VirtualMachine::runWithErrorConversion() {
    for (;;) {
        TInt32 code;
        try {
            run();
            return;
        } catch (const ErrorHandlingException&) {
            code = lastErrorCode();
        } catch (const EntryCallSignal&) {
            throw;
        } catch (...) {
            code = 0;
        }
        if (code == KErrExit) throw EntryCallSignal{EntryCallSignal::kExit};
        if (code == KErrFatal) throw EntryCallSignal{EntryCallSignal::kFatal};
        if (code == 0) {
            internalThrow(KErrFatal, "UNEXPECTED EXCEPTION");
            continue;
        }
        CAppsString text = lastErrorText();
        clearLastError();
        // Raising, unwinding and the call of the handler cost far more than a jump: a
        // program that does nothing but fail must spend its budget as fast as its time.
        if (budgeted) budgetLeft -= kErrorConversionCost;
        internalThrow(code, text);
    }
}

// Unlike a call from bytecode, the machine's own call of vminternalthrow<int>,<string> has no
// call instruction; it gets its frame all the same, so that the collector scans its layout and
// a return from it, which would lose the error, is caught.
void VirtualMachine::internalThrow(TInt32 code, const CAppsString& text) {
    const TInt32 handleIndex = entryHandles[EntryInternalThrow];
    if (handleIndex < 0) refuseConversion(text);
    const MethodHandle& handle = methodHandles[handleIndex];
    const ExportedMethod& method = exportedMethods[handle.exportedMethodIndex];
    const auto entry = std::find_if(method.entries.begin(), method.entries.end(),
                                    [](const auto& candidate) { return candidate.typeId == -1; });
    if (entry == method.entries.end()) refuseConversion(text);
    const TInt32 codeLevel = handle.argLevels.size() > 0 ? handle.argLevels[0] : 0;
    const TInt32 textLevel = handle.argLevels.size() > 1 ? handle.argLevels[1] : 0;
    const TInt32 methodIndex = entry->methodIndex >= 0 && entry->methodIndex < methodGCInfos.size()
                                   ? entry->methodIndex
                                   : -1;
    const TInt32 codeOffset = entry->codeOffset;

    const Address string = newStringValue(OString(memory, text));
    const TInt32 errorPc = pc;
    push(convertToLevel(codeLevel, code, GC_CODE_REFERENCE_BOX));
    push(convertToLevel(textLevel - 1, static_cast<TInt32>(string), GC_CODE_REFERENCE_BOX));
    push(errorPc + 1);
    enterCall(methodIndex, sp);
    internalThrows.push_back({methodStack.size(), text});
    updateInternalThrowDepth();
    pc = codeOffset;
}

void VirtualMachine::refuseConversion(const CAppsString& error) {
    recordFailure(error.toUtf8() +
                  ", which the application cannot catch: vminternalthrow<int>,<string> not found");
    raise(KErrInvalidArgument, "vminternalthrow<int>,<string> not found");
}

void VirtualMachine::drainQueue() {
    while (!queue.isEmpty() && !isRunning()) {
        StoredMethodCall next = std::move(queue[0]);
        queue.removeAt(0);
        if (next.pinned) vmHeap.unpin(next.pinned);
        execute(next.handleIndex, next.values, next.levels, next.resultLevel);
    }
}

void VirtualMachine::callApplicationEvent(EntryName name, const Vec<int>& values,
                                          const Vec<int>& levels, bool queued) {
    const TInt32 handleIndex = entryHandles[name];
    if (handleIndex < 0) return;
    if (queued)
        call(handleIndex, values, levels, 0);
    else
        execute(handleIndex, values, levels, 0);
}

void VirtualMachine::timerEvent(Address listener) {
    callApplicationEvent(EntrySystemTimerEvent, {static_cast<int>(listener)}, {1}, false);
}

void VirtualMachine::drawEvent(Address canvas) {
    if (!application) return;
    callApplicationEvent(EntryDraw, {static_cast<int>(application), static_cast<int>(canvas)},
                         {1, 0}, false);
}

void VirtualMachine::keyEvent(Address keyEventObject, bool pressed) {
    const TInt32 handleIndex = entryHandles[pressed ? EntryKeyPressed : EntryKeyReleased];
    if (!application || handleIndex < 0) return;
    Vec<int> values{static_cast<int>(application), static_cast<int>(keyEventObject)};
    if (!isRunning()) {
        execute(handleIndex, values, {1, 0}, 0);
        return;
    }
    // The event object must survive the collection that ends the running call.
    vmHeap.pin(keyEventObject);
    queue.append(StoredMethodCall{handleIndex, values, {1, 0}, 0, keyEventObject});
}

void VirtualMachine::pointerEvent(TInt32 kind, TInt32 x, TInt32 y, TInt32 modifiers) {
    if (!application) return;
    callApplicationEvent(EntryPointerEvent, {static_cast<int>(application), kind, x, y, modifiers},
                         {1, 0, 0, 0, 0}, true);
}

void VirtualMachine::foregroundEvent() {
    if (!application) return;
    callApplicationEvent(EntryForegroundEvent, {static_cast<int>(application)}, {1}, true);
}

void VirtualMachine::backgroundEvent() {
    if (!application) return;
    callApplicationEvent(EntryBackgroundEvent, {static_cast<int>(application)}, {1}, true);
}
