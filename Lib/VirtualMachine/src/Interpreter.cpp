// The interpreter loop: one entry call's bytecode on the operand stack, from the first
// instruction until the entry method returns.
//
// Dispatch goes through a table of label addresses generated from the opcode list, indexed by
// a per-byte dispatch id that is computed once per code buffer. Every byte has an id, so a
// jump may land anywhere, including inside another instruction's operands. A byte whose
// instruction would run past the end of the code gets the invalid-instruction id, so operands
// are never read beyond the buffer; jumps, calls, returns and catches check their target.
// Some ids stand for a common sequence of instructions that starts at that byte (fused
// sequences); they behave exactly like the sequence and fall back to its first instruction
// whenever they could not.
//
// pc and sp live in locals while the loop runs and are written back before anything that can
// raise or call out, with pc on the last operand byte of the instruction: an error converted
// into an application exception resumes at pc + 1. An instruction that raises leaves the
// operand stack as it found it. Every slot an instruction reads or writes is checked against
// the stack's bounds; leaving them is the fatal error.

#include "FrameworkServices.h"
#include "Natives.h"
#include "NumericNatives.h"
#include "Opcodes.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

static_assert(std::endian::native == std::endian::little, "operands are read as host words");

namespace {

constexpr TInt32 kTopSlot = VirtualMachine::kStackSlots - 1;

// Whether cell is a slot below the top sp (which may be -1) with room more slots above sp; in
// two comparisons, as Fixed runs check it every iteration.
constexpr bool isLocalWithRoom(TInt32 cell, TInt32 sp, TInt32 room) {
    return TUint32(sp) <= TUint32(kTopSlot - room) && TUint32(cell) < TUint32(sp);
}

constexpr TInt32 kMaxHandlers = VirtualMachine::kHandlerRecords - 1;
// A negative handler count only comes from unbalanced 0x76 operands; far below zero it stops.
constexpr TInt64 kMinHandlerCount = std::numeric_limits<TInt32>::min() / 2;
// Every active call keeps a return address on the operand stack, so no correct program has
// more calls active than the stack has slots.
constexpr int kMaxCallDepth = VirtualMachine::kStackSlots;

// x += y followed by the test at the bottom of a counting loop.
#define ZENTU_ACCUMULATE(FUSED, relation)                                                          \
    FUSED(accumulate_increment_##relation##_branch, push_local_addr, push_local, add_cell,         \
          push_local_addr, inc_cell, push_local, push_int, relation, jump_if_false)

// The binary operations that fused sequences apply (operate); only the two divisions can
// fail, on a zero divisor.
#define ZENTU_FUSED_BINARY(X)                                                                      \
    X(add) X(sub) X(mul) X(band) X(bor) X(bxor) X(shl) X(shr) X(div) X(rem)

// An operation with its operands: two locals, a constant, or the address of a local and two
// locals (a = b op c); with a constant or on the two top slots, followed by the store of the
// result (*address = value op k).
#define ZENTU_OPERAND_FUSIONS(FUSED, op)                                                           \
    FUSED(local_local_##op, push_local, push_local, op)                                            \
    FUSED(addr_local_local_##op, push_local_addr, push_local, push_local, op)                      \
    FUSED(const_##op##_store, push_int, op, store)                                                 \
    FUSED(const_##op, push_int, op)                                                                \
    FUSED(op##_store, op, store)

// Sequences that get a handler of their own: FUSED(name, instructions...). They are the
// compiler's loop tests, counters, operand loads, expressions on locals, field accesses and
// calls whose target lies inside the code.
#define ZENTU_FUSED(FUSED)                                                                         \
    ZENTU_ACCUMULATE(FUSED, eq)                                                                    \
    ZENTU_ACCUMULATE(FUSED, ne)                                                                    \
    ZENTU_ACCUMULATE(FUSED, lt)                                                                    \
    ZENTU_ACCUMULATE(FUSED, le)                                                                    \
    ZENTU_ACCUMULATE(FUSED, gt)                                                                    \
    ZENTU_ACCUMULATE(FUSED, ge)                                                                    \
    FUSED(local_const_eq_branch, push_local, push_int, eq, jump_if_false)                          \
    FUSED(local_const_ne_branch, push_local, push_int, ne, jump_if_false)                          \
    FUSED(local_const_lt_branch, push_local, push_int, lt, jump_if_false)                          \
    FUSED(local_const_le_branch, push_local, push_int, le, jump_if_false)                          \
    FUSED(local_const_gt_branch, push_local, push_int, gt, jump_if_false)                          \
    FUSED(local_const_ge_branch, push_local, push_int, ge, jump_if_false)                          \
    FUSED(local_local_eq_branch, push_local, push_local, eq, jump_if_false)                        \
    FUSED(local_local_ne_branch, push_local, push_local, ne, jump_if_false)                        \
    FUSED(local_local_lt_branch, push_local, push_local, lt, jump_if_false)                        \
    FUSED(local_local_le_branch, push_local, push_local, le, jump_if_false)                        \
    FUSED(local_local_gt_branch, push_local, push_local, gt, jump_if_false)                        \
    FUSED(local_local_ge_branch, push_local, push_local, ge, jump_if_false)                        \
    FUSED(local_const_add, push_local, push_int, add)                                              \
    FUSED(local_const_sub, push_local, push_int, sub)                                              \
    FUSED(addr_local_const_add, push_local_addr, push_local, push_int, add)                        \
    FUSED(addr_local_const_sub, push_local_addr, push_local, push_int, sub)                        \
    FUSED(add_local_to_local, push_local_addr, push_local, add_cell)                               \
    FUSED(increment_eq_branch, push_local_addr, inc_cell, push_local, push_int, eq, jump_if_false) \
    FUSED(increment_ne_branch, push_local_addr, inc_cell, push_local, push_int, ne, jump_if_false) \
    FUSED(increment_lt_branch, push_local_addr, inc_cell, push_local, push_int, lt, jump_if_false) \
    FUSED(increment_le_branch, push_local_addr, inc_cell, push_local, push_int, le, jump_if_false) \
    FUSED(increment_gt_branch, push_local_addr, inc_cell, push_local, push_int, gt, jump_if_false) \
    FUSED(increment_ge_branch, push_local_addr, inc_cell, push_local, push_int, ge, jump_if_false) \
    FUSED(decrement_eq_branch, push_local_addr, dec_cell, push_local, push_int, eq, jump_if_false) \
    FUSED(decrement_ne_branch, push_local_addr, dec_cell, push_local, push_int, ne, jump_if_false) \
    FUSED(decrement_lt_branch, push_local_addr, dec_cell, push_local, push_int, lt, jump_if_false) \
    FUSED(decrement_le_branch, push_local_addr, dec_cell, push_local, push_int, le, jump_if_false) \
    FUSED(decrement_gt_branch, push_local_addr, dec_cell, push_local, push_int, gt, jump_if_false) \
    FUSED(decrement_ge_branch, push_local_addr, dec_cell, push_local, push_int, ge, jump_if_false) \
    FUSED(increment_jump, push_local_addr, inc_cell, jump)                                         \
    FUSED(decrement_jump, push_local_addr, dec_cell, jump)                                         \
    FUSED(increment_local, push_local_addr, inc_cell)                                              \
    FUSED(decrement_local, push_local_addr, dec_cell)                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, add)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, sub)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, mul)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, band)                                                             \
    ZENTU_OPERAND_FUSIONS(FUSED, bor)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, bxor)                                                             \
    ZENTU_OPERAND_FUSIONS(FUSED, shl)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, shr)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, div)                                                              \
    ZENTU_OPERAND_FUSIONS(FUSED, rem)                                                              \
    FUSED(local_field, push_local, field_addr, deref)                                              \
    FUSED(set_field_from_local, dup, field_addr, push_local, store)                                \
    FUSED(copy_local, push_local_addr, push_local, store)                                          \
    FUSED(local_field_addr, push_local, field_addr)                                                \
    FUSED(two_locals, push_local, push_local)                                                      \
    FUSED(call_inside, call)                                                                       \
    FUSED(adjust_ret, adjust_stack, ret)

// Natives of the Fixed group that the loop runs itself, without the call through the group
// table: X(name, function, operation). They cannot fail once their slots are on the stack.
// The value forms, on the two top values:
#define ZENTU_VALUE_NATIVES(X)                                                                     \
    X(fixed_add, 7, ORaw::add) X(fixed_sub, 8, ORaw::subtract) X(fixed_mul, 9, ORaw::multiply)
// the in-place forms, which compilers give the address of a local:
#define ZENTU_INTO_NATIVES(X)                                                                      \
    X(fixed_add_into, 12, ORaw::add)                                                               \
    X(fixed_sub_into, 13, ORaw::subtract)                                                          \
    X(fixed_mul_into, 14, ORaw::multiply)
#define ZENTU_INLINE_NATIVES(X) ZENTU_VALUE_NATIVES(X) ZENTU_INTO_NATIVES(X)
constexpr TUint8 kFixedGroup = 11;

// Sequences that compute a call's last argument (f(n - 1)), which go on to the call without a
// dispatch of their own when a call_inside follows.
#define ZENTU_ARGUMENT_CALLS(X)                                                                    \
    X(local_const_add) X(local_const_sub) X(addr_local_const_add) X(addr_local_const_sub)

// One id per opcode of the table, then the invalid instruction, then the fused sequences and
// the inline natives.
enum HandlerId : TUint8 {
#define ZENTU_HANDLER_ID(code, name, ...) H_##name,
    ZENTU_OPCODES(ZENTU_HANDLER_ID)
#undef ZENTU_HANDLER_ID
        H_invalid,
#define ZENTU_FUSED_ID(name, ...) H_##name,
    ZENTU_FUSED(ZENTU_FUSED_ID)
#undef ZENTU_FUSED_ID
#define ZENTU_NATIVE_ID(name, ...) H_##name,
        ZENTU_INLINE_NATIVES(ZENTU_NATIVE_ID)
#undef ZENTU_NATIVE_ID
#define ZENTU_LONG_ID(name, ...) H_long_##name,
            ZENTU_INLINE_NATIVES(ZENTU_LONG_ID)
#undef ZENTU_LONG_ID
#define ZENTU_ADDRESS_ID(name, ...) H_addr_long_##name,
                ZENTU_INTO_NATIVES(ZENTU_ADDRESS_ID)
#undef ZENTU_ADDRESS_ID
                    H_two_locals_fixed,
    H_addr_two_locals_fixed,
    H_update_local_fixed,
#define ZENTU_ARGUMENT_CALL_ID(name) H_##name##_call,
    ZENTU_ARGUMENT_CALLS(ZENTU_ARGUMENT_CALL_ID)
#undef ZENTU_ARGUMENT_CALL_ID
        kHandlerCount
};
static_assert(kHandlerCount <= 256);

struct Fusion {
    TUint8 id;
    int count;
    Opcode instructions[9];
};

constexpr Fusion fusion(TUint8 id, std::initializer_list<Opcode> instructions) {
    Fusion f{id, static_cast<int>(instructions.size()), {}};
    int i = 0;
    for (Opcode op : instructions) f.instructions[i++] = op;
    return f;
}

// Longer sequences first: the first one that matches wins.
constexpr auto kFusions = [] {
    using enum Opcode;
    return std::array{
#define ZENTU_FUSION_ROW(name, ...) fusion(H_##name, {__VA_ARGS__}),
        ZENTU_FUSED(ZENTU_FUSION_ROW)
#undef ZENTU_FUSION_ROW
    };
}();

TInt16 readInt16(const TUint8* at) {
    TInt16 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

TInt32 readInt32(const TUint8* at) {
    TInt32 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A counter changed and then tested: both instructions must name the same local.
bool testsTheSameLocal(TUint8 id, const TUint8* bytes, size_t p) {
    if (id >= H_accumulate_increment_eq_branch && id <= H_accumulate_increment_ge_branch)
        p += 5;
    else if (id < H_increment_eq_branch || id > H_decrement_ge_branch)
        return true;
    return bytes[p + 1] == bytes[p + 4];
}

// The bytes the sequence covers from p; 0 unless its instructions follow each other there, all
// inside the code, and a branch that ends it lands inside the code too, so that its handler
// need not check.
size_t matchedLength(const Fusion& f, const TUint8* bytes, size_t size, size_t p) {
    const size_t start = p;
    size_t last = p;
    for (int i = 0; i < f.count; ++i) {
        if (p >= size || bytes[p] != static_cast<TUint8>(f.instructions[i])) return 0;
        last = p;
        p += 1 + opcodeInfo(bytes[p]).operandBytes;
    }
    if (p > size || !testsTheSameLocal(f.id, bytes, start)) return 0;
    const Opcode end = f.instructions[f.count - 1];
    TInt64 target = 0;
    if (end == Opcode::jump_if_false || end == Opcode::jump)
        target = TInt64(last) + 2 + readInt16(bytes + last + 1); // as the jump reads it
    else if (end == Opcode::call)
        target = readInt32(bytes + last + 1);
    if (target < 0 || static_cast<size_t>(target) >= size) return 0;
    return p - start;
}

constexpr std::array<TUint8, 256> kHandlerOfOpcode = [] {
    std::array<TUint8, 256> ids{};
    ids.fill(H_invalid);
#define ZENTU_HANDLER_OF(code, name, ...) ids[code] = H_##name;
    ZENTU_OPCODES(ZENTU_HANDLER_OF)
#undef ZENTU_HANDLER_OF
    return ids;
}();

struct InlineNative {
    TUint8 id;
    TUint8 group;
    TUint8 function;
};

constexpr InlineNative kInlineNatives[] = {
#define ZENTU_NATIVE_ROW(name, function, ...) {H_##name, kFixedGroup, function},
    ZENTU_INLINE_NATIVES(ZENTU_NATIVE_ROW)
#undef ZENTU_NATIVE_ROW
};

// An instruction that goes straight on to the handler of the one after it: from is that
// handler, to the chained one.
struct Chain {
    TUint8 from;
    TUint8 to;
};

// push_long k; an inline native: the operand is a constant.
constexpr Chain kLongChains[] = {
#define ZENTU_LONG_CHAIN(name, ...) {H_##name, H_long_##name},
    ZENTU_INLINE_NATIVES(ZENTU_LONG_CHAIN)
#undef ZENTU_LONG_CHAIN
};

// push_local_addr n; push_long k; an in-place native: a local changed by a constant.
constexpr Chain kAddressChains[] = {
#define ZENTU_ADDRESS_CHAIN(name, ...) {H_long_##name, H_addr_long_##name},
    ZENTU_INTO_NATIVES(ZENTU_ADDRESS_CHAIN)
#undef ZENTU_ADDRESS_CHAIN
};

// push_local n; push_local m; then a constant for a Fixed value native: a local's two words
// that a run of constants changes, and before them the address the result goes to.
constexpr Chain kPairChains[] = {
#define ZENTU_PAIR_CHAIN(name, ...) {H_long_##name, H_two_locals_fixed},
    ZENTU_VALUE_NATIVES(ZENTU_PAIR_CHAIN)
#undef ZENTU_PAIR_CHAIN
};
constexpr Chain kAddressPairChains[] = {{H_two_locals_fixed, H_addr_two_locals_fixed}};

constexpr bool isValueStep(TUint8 id) {
#define ZENTU_VALUE_STEP_ID(name, ...) id == H_long_##name ||
    return ZENTU_VALUE_NATIVES(ZENTU_VALUE_STEP_ID) false;
#undef ZENTU_VALUE_STEP_ID
}

// Whether the addr_two_locals_fixed at p pushes the address of a local and then its two words,
// and its run ends in pack_into 2: a Fixed local updated by constants (x = x * a * b).
bool updatesItsLocal(const TUint8* bytes, const std::vector<TUint8>& ids, size_t p) {
    const int local = static_cast<TInt8>(bytes[p + 1]);
    if (static_cast<TInt8>(bytes[p + 3]) != local - 1 ||
        static_cast<TInt8>(bytes[p + 5]) != local - 1)
        return false;
    size_t q = p + 6;
    while (isValueStep(ids[q])) q += 12;
    return ids[q] == H_pack_into && bytes[q + 1] == 2;
}

constexpr Chain kArgumentCalls[] = {
#define ZENTU_ARGUMENT_CALL_CHAIN(name) {H_##name, H_##name##_call},
    ZENTU_ARGUMENT_CALLS(ZENTU_ARGUMENT_CALL_CHAIN)
#undef ZENTU_ARGUMENT_CALL_CHAIN
};

// The bytes each argument sequence covers: what lies between it and its call.
size_t lengthOfFusion(TUint8 id) {
    for (const Fusion& f : kFusions) {
        if (f.id != id) continue;
        size_t length = 0;
        for (int i = 0; i < f.count; ++i)
            length += 1 + opcodeInfo(static_cast<TUint8>(f.instructions[i])).operandBytes;
        return length;
    }
    return 0;
}

// Gives the instruction at p, with plain handler id plain, the chained handler when the
// instruction after it (next bytes on) has one of the handlers the chains start from.
template <size_t kCount>
void chain(const Chain (&chains)[kCount], std::vector<TUint8>& ids, size_t p, TUint8 plain,
           size_t next) {
    if (ids[p] != plain || p + next >= ids.size()) return;
    for (const Chain& c : chains)
        if (ids[p + next] == c.from) ids[p] = c.to;
}

void buildDispatchIds(const Vec<signed char>& code, std::vector<TUint8>& ids) {
    const size_t size = static_cast<size_t>(code.size());
    const auto* bytes = reinterpret_cast<const TUint8*>(code.data());
    ids.assign(size + 1, H_invalid);
    // From the end: each byte gets the handler that runs the straight line from it in the
    // fewest dispatches, so that a sequence does not take the first instruction of a longer
    // one (push_local a; push_local b; push_int k; lt; jump_if_false is a push and a fused
    // test, not two fused pushes and three plain instructions). On a tie a sequence beats
    // the plain instruction, and the first of the list the others.
    std::vector<int> dispatches(size + 1, 0);
    for (size_t p = size; p-- > 0;) {
        const OpcodeInfo& info = opcodeInfo(bytes[p]);
        if (!info.isValid() || p + info.operandBytes >= size) continue;
        ids[p] = kHandlerOfOpcode[bytes[p]];
        dispatches[p] = 1 + dispatches[p + 1 + info.operandBytes];
        if (bytes[p] == static_cast<TUint8>(Opcode::native)) {
            for (const InlineNative& n : kInlineNatives)
                if (bytes[p + 1] == n.group && bytes[p + 2] == n.function) ids[p] = n.id;
            continue;
        }
        bool fused = false;
        for (const Fusion& f : kFusions) {
            const size_t length = matchedLength(f, bytes, size, p);
            if (length == 0) continue;
            const int cost = 1 + dispatches[p + length];
            if (cost < dispatches[p] || (cost == dispatches[p] && !fused)) {
                ids[p] = f.id;
                dispatches[p] = cost;
                fused = true;
            }
        }
    }
    size_t argumentLengths[std::size(kArgumentCalls)];
    for (size_t i = 0; i < std::size(kArgumentCalls); ++i)
        argumentLengths[i] = lengthOfFusion(kArgumentCalls[i].from);
    // From the end, so that an address chains to a constant that has already chained.
    for (size_t p = size; p-- > 0;) {
        chain(kLongChains, ids, p, H_push_long, 9);
        chain(kAddressChains, ids, p, H_push_local_addr, 2);
        chain(kPairChains, ids, p, H_two_locals, 4);
        chain(kAddressPairChains, ids, p, H_push_local_addr, 2);
        for (size_t i = 0; i < std::size(kArgumentCalls); ++i) {
            const size_t next = p + argumentLengths[i];
            if (ids[p] == kArgumentCalls[i].from && next < ids.size() && ids[next] == H_call_inside)
                ids[p] = kArgumentCalls[i].to;
        }
        if (ids[p] == H_addr_two_locals_fixed && updatesItsLocal(bytes, ids, p))
            ids[p] = H_update_local_fixed;
    }
}

TInt64 readInt64(const TUint8* at) {
    TInt64 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

TInt32 divide(TInt32 a, TInt32 b) {
    return b == -1 ? static_cast<TInt32>(0u - static_cast<TUint32>(a)) : a / b;
}

TInt32 remainder(TInt32 a, TInt32 b) {
    return b == -1 ? 0 : a % b;
}

// A Fixed value in two slots, low word first. Whole, so that a load in the next iteration of a
// loop takes the value straight from the store before it.
TInt64 loadFixed(const TUint32* pair) {
    TInt64 value;
    std::memcpy(&value, pair, sizeof value);
    return value;
}
void storeFixed(TUint32* pair, TInt64 value) {
    std::memcpy(pair, &value, sizeof value);
}

// A run of Fixed steps (see the loop): the value after them and the pc after the last.
struct FixedRun {
    TInt64 value;
    TInt32 pc;
};

// Each runs the steps from pc on, at most maxSteps of them, keeps the value in a register from
// the first to the last and leaves it in pair; maxSteps counts only where the budget does.
// Out of line, so that the loop's registers stay as its handlers need them.

// Steps push_long k; native (a value form), on value; the last constant stays above pair.
template <bool kCounted>
[[gnu::noinline]] FixedRun runValueSteps(const TUint8* ids, const TUint8* code, TInt32 pc,
                                         TInt64 value, TInt64 maxSteps, TUint32* pair) {
    for (; !kCounted || maxSteps > 0; --maxSteps, pc += 12) {
        switch (ids[pc]) {
#define VALUE_STEP(name, function, operation)                                                      \
    case H_long_##name: value = operation(value, readInt64(code + pc + 1)); continue;
            ZENTU_VALUE_NATIVES(VALUE_STEP)
#undef VALUE_STEP
        }
        break;
    }
    storeFixed(pair, value);
    std::memcpy(pair + 2, code + pc - 11, 8);
    return {value, pc};
}

// Steps push_local_addr n; push_long k; native (an in-place form), all with the n of the
// first, on the local in pair.
template <bool kCounted>
[[gnu::noinline]] TInt32 runIntoSteps(const TUint8* ids, const TUint8* code, TInt32 pc,
                                      TInt64 maxSteps, TUint32* pair) {
    const TUint8 local = code[pc + 1];
    TInt64 value = loadFixed(pair);
    for (; (!kCounted || maxSteps > 0) && code[pc + 1] == local; --maxSteps, pc += 14) {
        switch (ids[pc]) {
#define INTO_STEP(name, function, operation)                                                       \
    case H_addr_long_##name: value = operation(value, readInt64(code + pc + 3)); continue;
            ZENTU_INTO_NATIVES(INTO_STEP)
#undef INTO_STEP
        }
        break;
    }
    storeFixed(pair, value);
    return pc;
}

TUint32 shiftRight(TUint32 x, TInt32 k);

// Counts above 31 give 0; a negative count shifts the other way.
TUint32 shiftLeft(TUint32 x, TInt32 k) {
    if (k >= 0) return k > 31 ? 0 : x << k;
    return k < -31 ? 0 : shiftRight(x, -k);
}

// Arithmetic; counts above 31 give 0 even for negative x.
TUint32 shiftRight(TUint32 x, TInt32 k) {
    if (k >= 0) return k > 31 ? 0 : static_cast<TUint32>(static_cast<TInt32>(x) >> k);
    return k < -31 ? 0 : x << -k;
}

TInt32 byteShiftRight(TInt32 cell, TInt32 n);

// Byte cells (0xA6, 0xA7): the count is a signed byte; a negative count shifts the other way,
// and counts of 8 and more leave only the sign.
TInt32 byteShiftLeft(TInt32 cell, TInt32 n) {
    if (n >= 0) return n >= 8 ? 0 : static_cast<TInt32>(static_cast<TUint32>(cell) << n);
    return byteShiftRight(cell, -n);
}

TInt32 byteShiftRight(TInt32 cell, TInt32 n) {
    if (n >= 0) return n >= 8 ? (cell < 0 ? -1 : 0) : cell >> n;
    return byteShiftLeft(cell, -n);
}

TInt32 lowByte(TUint32 v) {
    return static_cast<TInt8>(v);
}

TInt32 lowChar(TUint32 v) {
    return static_cast<TInt16>(v);
}

constexpr bool failsOn(Opcode op, TUint32 b) {
    return (op == Opcode::div || op == Opcode::rem) && b == 0;
}

// b is no zero divisor.
[[gnu::always_inline]] inline TUint32 operate(Opcode op, TUint32 a, TUint32 b) {
    switch (op) {
    case Opcode::div:
        return static_cast<TUint32>(divide(static_cast<TInt32>(a), static_cast<TInt32>(b)));
    case Opcode::rem:
        return static_cast<TUint32>(remainder(static_cast<TInt32>(a), static_cast<TInt32>(b)));
    case Opcode::add: return a + b;
    case Opcode::sub: return a - b;
    case Opcode::mul: return a * b;
    case Opcode::band: return a & b;
    case Opcode::bor: return a | b;
    case Opcode::bxor: return a ^ b;
    case Opcode::shl: return shiftLeft(a, static_cast<TInt32>(b));
    case Opcode::shr: return shiftRight(a, static_cast<TInt32>(b));
    default: return 0;
    }
}

TUint32 truth(bool b) {
    return b ? 0xFFFFFFFFu : 0u;
}

bool isAllocationCode(TUint32 code) {
    return code >= 1 && code <= 17 && code != GC_CODE_VECTOR_OBJECT;
}

bool isVectorElementSize(TInt32 size) {
    return size == 1 || size == 4 || size == 8 || size == 12 || size == 16;
}

void buildCallerSlots(const Vec<VirtualMachine::MethodGCInfo>& infos, std::vector<TInt64>& slots) {
    slots.clear();
    for (const VirtualMachine::MethodGCInfo& info : infos)
        slots.push_back(TInt64(info.argSlots) + info.extraSlots);
}

TInt32 clampToInt32(TInt64 v) {
    return static_cast<TInt32>(std::clamp<TInt64>(v, std::numeric_limits<TInt32>::min(),
                                                  std::numeric_limits<TInt32>::max()));
}

} // namespace

class Interpreter {
public:
    explicit Interpreter(VirtualMachine& vm) : vm(vm), mem(vm.memory), heap(vm.vmHeap) {}

    void run() {
        prepare();
        if (vm.budgeted)
            loop<true>();
        else
            loop<false>();
    }

    // Opcode 0x77 with a non-null object, on the machine's pc and sp: catches at the innermost
    // matching handler or calls vmprintthrowableandexit<throwable>. Leaves in pc the next
    // instruction to run.
    void throwObject(Address object);

private:
    // The tables the loop reads, made once for the loaded code and methods.
    void prepare() {
        if (vm.dispatchIds.size() != static_cast<size_t>(vm.code.size()) + 1) {
            buildDispatchIds(vm.code, vm.dispatchIds);
            for (std::vector<const void*>& targets : vm.dispatchTargets) targets.clear();
        }
        if (vm.callerSlots.size() != static_cast<size_t>(vm.methodGCInfos.size()))
            buildCallerSlots(vm.methodGCInfos, vm.callerSlots);
    }
    bool isMethod(TInt32 methodIndex) const {
        return static_cast<TUint32>(methodIndex) < vm.callerSlots.size();
    }

    // Appends a call's records, pushed being the slots the method's caller pushed; false when
    // too many calls are active.
    bool pushCall(TInt32 methodIndex, TInt32 returnSlot, TInt64 pushed);

    // The loop; with kCounted it spends the instruction budget.
    template <bool kCounted> void loop();

    bool catches(TInt32 handlerType, TInt32 type) const;
    void catchAt(const VirtualMachine::Handler& handler, Address object);
    void callLastResort(Address object);

    Address allocate(TInt64 bytes, GcCode code);
    // Raises code 6 unless n words from address lie inside the arena.
    void checkWords(Address address, TInt64 n) const;
    void release(Address object);

    VirtualMachine& vm;
    Arena& mem;
    VMHeap& heap;

    TUint64 allocatedBytes() const { return mem.allocatedBytes() + heap.allocatedBytes(); }
};

void VirtualMachine::run() {
    Interpreter(*this).run();
}

void VirtualMachine::throwObject(Address object) {
    Interpreter(*this).throwObject(object);
}

// Objects of more than half the address space can never be had; refusing them early also
// keeps the heap's size arithmetic far from overflowing.
Address Interpreter::allocate(TInt64 bytes, GcCode code) {
    if (bytes < 0) raise(KErrInvalidArgument, "Negative object size");
    if (bytes > TInt64(Arena::kSize / 2)) raise(KErrInvalidArgument, "Out of memory");
    return heap.allocate(static_cast<TUint32>(bytes), 0, code);
}

void Interpreter::checkWords(Address address, TInt64 n) const {
    if (TInt64(address) + 4 * n > TInt64(Arena::kSize))
        raise(KErrInvalidArgument, "Address range outside memory");
}

// Only an allocated, unpinned object goes back to the heap: bytecode can hand over any
// number, and freeing anything else would corrupt the heap.
void Interpreter::release(Address object) {
    if (object == 0) return;
    const Address entry = object - kHeaderSize;
    if (object <= kHeaderSize || heap.belongsToPools(entry) != entry || heap.isFree(entry) ||
        heap.entry(entry).gcCode == GC_CODE_TERMINATOR || heap.isPinned(object))
        raise(KErrVM, "Release of an address that is no object");
    heap.release(object);
}

// The frame base is the return-address slot minus the slots the caller pushed. A method
// index outside the table counts as no method record.
void VirtualMachine::enterCall(TInt32 methodIndex, TInt32 returnSlot) {
    if (methodStack.size() >= kMaxCallDepth) fatalError("Stack overflow", pc);
    const size_t index = static_cast<TUint32>(methodIndex);
    const TInt64 pushed = index < callerSlots.size() ? callerSlots[index] : 0;
    methodStack.append(methodIndex);
    frameStack.append(static_cast<TInt32>(std::clamp<TInt64>(returnSlot - pushed, -1, kTopSlot)));
}

// enterCall for the loop, inlined, after the method index is checked.
[[gnu::always_inline]] inline bool Interpreter::pushCall(TInt32 methodIndex, TInt32 returnSlot,
                                                         TInt64 pushed) {
    if (vm.methodStack.size() >= kMaxCallDepth) return false;
    vm.methodStack.append(methodIndex);
    vm.frameStack.append(
        static_cast<TInt32>(std::clamp<TInt64>(returnSlot - pushed, -1, kTopSlot)));
    return true;
}

bool Interpreter::catches(TInt32 handlerType, TInt32 type) const {
    if (handlerType <= 0 || handlerType == type) return true;
    // A cycle in a malformed super-type table ends after as many steps as there are types.
    TInt32 current = type;
    for (int steps = 0; steps <= vm.superTypes.size(); ++steps) {
        current = vm.superTypes[current]; // outside the table: code 6
        if (current <= 0) return false;
        if (current == handlerType) return true;
    }
    return false;
}

void Interpreter::catchAt(const VirtualMachine::Handler& handler, Address object) {
    if (handler.savedSp < -1 || handler.savedSp >= kTopSlot) vm.fatalError("Stack overflow", vm.pc);
    // Records left over from earlier calls can only trim the stacks, never grow them.
    while (vm.methodStack.size() > std::max(handler.methodDepth, 0)) vm.methodStack.removeLast();
    while (vm.frameStack.size() > std::max(handler.frameDepth, 0)) vm.frameStack.removeLast();
    vm.dropUnwoundInternalThrows();
    vm.sp = handler.savedSp + 1;
    vm.setSlot(vm.sp, static_cast<TInt32>(object));
    --vm.handlerCount;
    vm.pc = clampToInt32(TInt64(handler.handlerPc) + 1);
}

void Interpreter::throwObject(Address object) {
    prepare();
    const TInt32 type = mem.int32(object);
    while (vm.handlerCount > 0) {
        const VirtualMachine::Handler& handler = vm.handlers[vm.handlerCount];
        if (catches(handler.typeId, type)) {
            catchAt(handler, object);
            return;
        }
        --vm.handlerCount;
    }
    callLastResort(object);
}

// The application's handler of last resort, called like a static call from the throw.
void Interpreter::callLastResort(Address object) {
    const CAppsString cause = vm.uncaughtExceptionCause(object);
    const TInt32 handleIndex = vm.entryHandle(VirtualMachine::EntryPrintThrowableAndExit);
    if (handleIndex < 0) vm.fatalError(cause, vm.pc);
    const VirtualMachine::MethodHandle& handle = vm.methodHandles[handleIndex];
    const VirtualMachine::ExportedMethod& method = vm.exportedMethods[handle.exportedMethodIndex];
    const auto entry = std::find_if(method.entries.begin(), method.entries.end(),
                                    [](const auto& candidate) { return candidate.typeId == -1; });
    if (entry == method.entries.end()) vm.fatalError(cause, vm.pc);
    const VirtualMachine::ExportedMethod::MethodEntry target = *entry;
    if (target.methodIndex >= 0 && !isMethod(target.methodIndex)) raise(KErrInvalidArgument);
    if (vm.sp + 2 > kTopSlot) vm.fatalError("Stack overflow", vm.pc);

    const TInt32 level = (handle.argLevels.isEmpty() ? 0 : handle.argLevels[0]) - 1;
    const TInt32 argument =
        vm.convertToLevel(level, static_cast<TInt32>(object), GC_CODE_REFERENCE_BOX);
    vm.recordFailure(cause.toUtf8());
    vm.enterCall(target.methodIndex, vm.sp + 2);
    vm.setSlot(++vm.sp, argument);
    vm.setSlot(++vm.sp, vm.pc + 1);
    vm.pc = target.codeOffset;
}

template <bool kCounted> void Interpreter::loop() {
    static void* const kLabels[] = {
#define ZENTU_LABEL(code, name, ...) &&op_##name,
        ZENTU_OPCODES(ZENTU_LABEL)
#undef ZENTU_LABEL
            && op_invalid,
#define ZENTU_FUSED_LABEL(name, ...) &&fused_##name,
        ZENTU_FUSED(ZENTU_FUSED_LABEL)
#undef ZENTU_FUSED_LABEL
#define ZENTU_NATIVE_LABEL(name, ...) &&native_##name,
                ZENTU_INLINE_NATIVES(ZENTU_NATIVE_LABEL)
#undef ZENTU_NATIVE_LABEL
#define ZENTU_LONG_LABEL(name, ...) &&long_##name,
                    ZENTU_INLINE_NATIVES(ZENTU_LONG_LABEL)
#undef ZENTU_LONG_LABEL
#define ZENTU_ADDRESS_LABEL(name, ...) &&addr_long_##name,
                        ZENTU_INTO_NATIVES(ZENTU_ADDRESS_LABEL)
#undef ZENTU_ADDRESS_LABEL
            && two_locals_fixed,
        &&addr_two_locals_fixed, &&update_local_fixed,
#define ZENTU_ARGUMENT_CALL_LABEL(name) &&name##_call,
        ZENTU_ARGUMENT_CALLS(ZENTU_ARGUMENT_CALL_LABEL)
#undef ZENTU_ARGUMENT_CALL_LABEL
    };
    static_assert(std::size(kLabels) == kHandlerCount);

    const TUint8* const code = reinterpret_cast<const TUint8*>(vm.code.data());
    // Each byte's handler address, so that a dispatch is one load and a jump.
    std::vector<const void*>& targets = vm.dispatchTargets[kCounted];
    if (targets.empty())
        for (TUint8 id : vm.dispatchIds) targets.push_back(kLabels[id]);
    const void* const* const handlers = targets.data();
    const TUint8* const ids = vm.dispatchIds.data();
    const TUint64 codeSize = static_cast<TUint64>(vm.code.size());
    const Address stackBase = vm.operandStack;
    const ArenaCells cells = mem.cells();
    // Slots 0 .. kTopSlot. Indexes a little outside (local(n) with a byte n) still lie in the
    // arena; wider offsets go through arena addresses.
    TUint32* const stack =
        reinterpret_cast<TUint32*>(mem.bytes(stackBase, VirtualMachine::kStackSlots * TUint64(4)));

    TInt32 pc = vm.pc;
    TInt32 sp = vm.sp;
    TInt64 outside = 0; // a transfer target outside the code
    TInt64 budget = vm.budgetLeft;
    TInt64 fixedValue = 0; // what a Fixed run on the top slots starts from

#define S8(k) static_cast<TInt32>(static_cast<TInt8>(code[pc + (k)]))
#define U8(k) static_cast<TUint32>(code[pc + (k)])
#define S16(k) static_cast<TInt32>(readInt16(code + pc + (k)))
#define S32(k) readInt32(code + pc + (k))
#define LOCAL(n) stack[sp + 1 + (n)]
#define SLOT_ADDRESS(index) (stackBase + 4u * static_cast<TUint32>(index))
#define DISPATCH() goto* handlers[pc]
#define NEXT(operandBytes)                                                                         \
    do {                                                                                           \
        pc += (operandBytes) + 1;                                                                  \
        if constexpr (kCounted)                                                                    \
            if (--budget < 0) goto budgetSpent;                                                    \
        DISPATCH();                                                                                \
    } while (0)
    // Writes the registers back, pc on the instruction's last operand byte.
#define SAVE(operandBytes)                                                                         \
    do {                                                                                           \
        vm.pc = pc + (operandBytes);                                                               \
        vm.sp = sp;                                                                                \
        if constexpr (kCounted) vm.budgetLeft = budget;                                            \
    } while (0)
    // The instruction reads slots down to sp - below and writes slots up to sp + above.
#define NEED(below, above)                                                                         \
    if (static_cast<TUint32>(sp - (below)) > static_cast<TUint32>(kTopSlot - (below) - (above)))   \
    goto stackFault
#define NOT_NULL(address, operandBytes)                                                            \
    if ((address) == 0) {                                                                          \
        SAVE(operandBytes);                                                                        \
        goto nullPointer;                                                                          \
    }
#define TRANSFER(target)                                                                           \
    do {                                                                                           \
        const TInt64 to = (target);                                                                \
        if constexpr (kCounted)                                                                    \
            if (--budget < 0) goto budgetSpent;                                                    \
        if (static_cast<TUint64>(to) < codeSize) {                                                 \
            pc = static_cast<TInt32>(to);                                                          \
            DISPATCH();                                                                            \
        }                                                                                          \
        outside = to;                                                                              \
        goto leaveCode;                                                                            \
    } while (0)
    // A fused sequence's branch: its target was checked when the ids were built.
#define BRANCH(target)                                                                             \
    do {                                                                                           \
        pc = static_cast<TInt32>(target);                                                          \
        if constexpr (kCounted)                                                                    \
            if (--budget < 0) goto budgetSpent;                                                    \
        DISPATCH();                                                                                \
    } while (0)
#define CHARGE(units)                                                                              \
    if constexpr (kCounted)                                                                        \
        if ((budget -= (units)) < 0) goto budgetSpent
#define PUSH(value)                                                                                \
    do {                                                                                           \
        const TUint32 pushed = (value);                                                            \
        stack[++sp] = pushed;                                                                      \
    } while (0)

    if (sp < -1 || sp > kTopSlot) goto stackFault;
    if (kCounted && budget < 0) goto budgetSpent;
    TRANSFER(pc);

    // ---- stack and constants ----------------------------------------------------------------
op_nop:
    NEXT(0);
op_push_local : {
    NEED(-1, 1);
    const TUint32 v = LOCAL(S8(1));
    PUSH(v);
    NEXT(1);
}
op_push_local_w : {
    NEED(-1, 1);
    const TUint32 v = cells.word(SLOT_ADDRESS(TInt64(sp) + 1 + S32(1)));
    PUSH(v);
    NEXT(4);
}
op_push_local_addr:
    NEED(-1, 1);
    PUSH(SLOT_ADDRESS(sp + 1 + S8(1)));
    NEXT(1);
op_push_local_addr_w:
    NEED(-1, 1);
    PUSH(SLOT_ADDRESS(TInt64(sp) + 1 + S32(1)));
    NEXT(4);
    // Pops, or pushes zeros.
#define ADJUST_STACK(count)                                                                        \
    const TInt32 n = (count);                                                                      \
    if (TInt64(sp) + n > kTopSlot || TInt64(sp) + n < -1) goto stackFault;                         \
    for (TInt32 i = 1; i <= n; ++i) stack[sp + i] = 0;                                             \
    sp += n
op_adjust_stack : {
    ADJUST_STACK(S8(1));
    NEXT(1);
}
op_adjust_stack_w : {
    ADJUST_STACK(S32(1));
    NEXT(4);
}
op_dup:
    NEED(0, 1);
    stack[sp + 1] = stack[sp];
    ++sp;
    NEXT(0);
op_push_int:
    NEED(-1, 1);
    PUSH(static_cast<TUint32>(S32(1)));
    NEXT(4);
op_push_long:
    NEED(-1, 2);
    stack[sp + 1] = static_cast<TUint32>(S32(1));
    stack[sp + 2] = static_cast<TUint32>(S32(5));
    sp += 2;
    NEXT(8);
op_push_true:
op_push_minus_one:
    NEED(-1, 1);
    PUSH(0xFFFFFFFFu);
    NEXT(0);
op_push_false:
    NEED(-1, 1);
    PUSH(0);
    NEXT(0);
op_push_string : {
    NEED(-1, 1);
    SAVE(4);
    const OString& constant = vm.stringConstants[S32(1)]; // outside the table: code 6
    CHARGE(1);
    const Address value = vm.newStringValue(constant); // shares the constant's buffer
    PUSH(value);
    NEXT(4);
}
op_int_to_string : {
    NEED(0, 0);
    SAVE(0);
    CHARGE(1);
    Address value;
    { // the text is gone before the dispatch jump, which runs no destructor
        const std::string text = std::to_string(static_cast<TInt32>(stack[sp]));
        value = vm.newStringValue(OString(mem, text));
    }
    stack[sp] = value;
    NEXT(0);
}

    // ---- addresses and loads ----------------------------------------------------------------
op_field_addr:
    NEED(0, 0);
    NOT_NULL(stack[sp], 1);
    stack[sp] += 4u * static_cast<TUint32>(S8(1));
    NEXT(1);
op_field_addr_w:
    NEED(0, 0);
    NOT_NULL(stack[sp], 4);
    stack[sp] += 4u * static_cast<TUint32>(S32(1));
    NEXT(4);
op_deref:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    stack[sp] = cells.word(stack[sp]);
    NEXT(0);
op_deref2 : {
    NEED(0, 0);
    TUint32 v = stack[sp];
    NOT_NULL(v, 0);
    v = cells.word(v);
    NOT_NULL(v, 0);
    stack[sp] = cells.word(v);
    NEXT(0);
}
op_deref3 : {
    NEED(0, 0);
    TUint32 v = stack[sp];
    NOT_NULL(v, 0);
    v = cells.word(v);
    NOT_NULL(v, 0);
    v = cells.word(v);
    NOT_NULL(v, 0);
    stack[sp] = cells.word(v);
    NEXT(0);
}
op_push_deref_local : {
    NEED(-1, 1);
    const TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 1);
    PUSH(cells.word(a));
    NEXT(1);
}
op_push_deref2_local : {
    NEED(-1, 1);
    TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 1);
    a = cells.word(a);
    NOT_NULL(a, 1);
    PUSH(cells.word(a));
    NEXT(1);
}
op_push_deref3_local : {
    NEED(-1, 1);
    TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 1);
    a = cells.word(a);
    NOT_NULL(a, 1);
    a = cells.word(a);
    NOT_NULL(a, 1);
    PUSH(cells.word(a));
    NEXT(1);
}
op_push_field_addr_local : {
    NEED(-1, 1);
    TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    PUSH(a + 4u * static_cast<TUint32>(S8(2)));
    NEXT(2);
}
op_push_field_addr2_local : {
    NEED(-1, 1);
    TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    PUSH(a + 4u * static_cast<TUint32>(S8(2)));
    NEXT(2);
}
op_push_field_addr3_local : {
    NEED(-1, 1);
    TUint32 a = LOCAL(S8(1));
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    a = cells.word(a);
    NOT_NULL(a, 2);
    PUSH(a + 4u * static_cast<TUint32>(S8(2)));
    NEXT(2);
}

    // ---- stores and in-place operations on 32-bit cells ---------------------------------------
op_store_type:
    NEED(0, 0);
    NOT_NULL(stack[sp], 4);
    cells.setWord(stack[sp], static_cast<TUint32>(S32(1)));
    --sp;
    NEXT(4);
op_store:
op_store_alt:
    NEED(1, 0);
    NOT_NULL(stack[sp - 1], 0);
    cells.setWord(stack[sp - 1], stack[sp]);
    sp -= 2;
    NEXT(0);
op_store_zero:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setWord(stack[sp], 0);
    --sp;
    NEXT(0);
op_inc_cell:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setWord(stack[sp], cells.word(stack[sp]) + 1);
    --sp;
    NEXT(0);
op_dec_cell:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setWord(stack[sp], cells.word(stack[sp]) - 1);
    --sp;
    NEXT(0);

    // The cell's address is next, the value top; both are popped.
#define CELL_OP(label, expression)                                                                 \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const Address cell = stack[sp - 1];                                                        \
        NOT_NULL(cell, 0);                                                                         \
        const TUint32 a = cells.word(cell);                                                        \
        const TUint32 b = stack[sp];                                                               \
        cells.setWord(cell, (expression));                                                         \
        sp -= 2;                                                                                   \
        NEXT(0);                                                                                   \
    }
    CELL_OP(op_add_cell, a + b)
    CELL_OP(op_sub_cell, a - b)
    CELL_OP(op_mul_cell, a * b)
    CELL_OP(op_and_cell, a & b)
    CELL_OP(op_or_cell, a | b)
    CELL_OP(op_xor_cell, a ^ b)
    CELL_OP(op_shl_cell, shiftLeft(a, static_cast<TInt32>(b)))
    CELL_OP(op_shr_cell, shiftRight(a, static_cast<TInt32>(b)))
#undef CELL_OP

#define CELL_DIVISION(label, function)                                                             \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const Address cell = stack[sp - 1];                                                        \
        NOT_NULL(cell, 0);                                                                         \
        const TInt32 b = static_cast<TInt32>(stack[sp]);                                           \
        if (b == 0) {                                                                              \
            SAVE(0);                                                                               \
            raise(KErrDivisionByZero);                                                             \
        }                                                                                          \
        cells.setWord(cell, static_cast<TUint32>(function(cells.int32(cell), b)));                 \
        sp -= 2;                                                                                   \
        NEXT(0);                                                                                   \
    }
    CELL_DIVISION(op_div_cell, divide)
    CELL_DIVISION(op_rem_cell, remainder)
#undef CELL_DIVISION

    // ---- byte and char cells ------------------------------------------------------------------
op_byte_store:
    NEED(1, 0);
    NOT_NULL(stack[sp - 1], 0);
    cells.setByte(stack[sp - 1], static_cast<TUint8>(stack[sp]));
    sp -= 2;
    NEXT(0);
op_byte_store_zero:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setByte(stack[sp], 0);
    --sp;
    NEXT(0);
op_byte_inc_cell:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setByte(stack[sp], static_cast<TUint8>(cells.byte(stack[sp]) + 1));
    --sp;
    NEXT(0);
op_byte_dec_cell:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setByte(stack[sp], static_cast<TUint8>(cells.byte(stack[sp]) - 1));
    --sp;
    NEXT(0);

#define BYTE_CELL_OP(label, expression)                                                            \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const Address cell = stack[sp - 1];                                                        \
        NOT_NULL(cell, 0);                                                                         \
        const TInt32 a = lowByte(cells.byte(cell));                                                \
        const TInt32 b = lowByte(stack[sp]);                                                       \
        cells.setByte(cell, static_cast<TUint8>(expression));                                      \
        sp -= 2;                                                                                   \
        NEXT(0);                                                                                   \
    }
    BYTE_CELL_OP(op_byte_add_cell, a + b)
    BYTE_CELL_OP(op_byte_sub_cell, a - b)
    BYTE_CELL_OP(op_byte_mul_cell, a * b)
    BYTE_CELL_OP(op_byte_and_cell, a & b)
    BYTE_CELL_OP(op_byte_or_cell, a | b)
    BYTE_CELL_OP(op_byte_xor_cell, a ^ b)
    BYTE_CELL_OP(op_byte_shl_cell, byteShiftLeft(a, b))
    BYTE_CELL_OP(op_byte_shr_cell, byteShiftRight(a, b))
#undef BYTE_CELL_OP

    // A divisor whose slot is 0, or whose low byte is 0, is a division by zero.
#define BYTE_CELL_DIVISION(label, operation)                                                       \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const Address cell = stack[sp - 1];                                                        \
        NOT_NULL(cell, 0);                                                                         \
        const TInt32 b = lowByte(stack[sp]);                                                       \
        if (b == 0) {                                                                              \
            SAVE(0);                                                                               \
            raise(KErrDivisionByZero, "Division by zero.");                                        \
        }                                                                                          \
        cells.setByte(cell, static_cast<TUint8>(lowByte(cells.byte(cell)) operation b));           \
        sp -= 2;                                                                                   \
        NEXT(0);                                                                                   \
    }
    BYTE_CELL_DIVISION(op_byte_div_cell, /)
    BYTE_CELL_DIVISION(op_byte_rem_cell, %)
#undef BYTE_CELL_DIVISION

op_char_store:
    NEED(1, 0);
    NOT_NULL(stack[sp - 1], 0);
    cells.setUnit(stack[sp - 1], static_cast<TUint16>(stack[sp]));
    sp -= 2;
    NEXT(0);
op_char_store_zero:
    NEED(0, 0);
    NOT_NULL(stack[sp], 0);
    cells.setUnit(stack[sp], 0);
    --sp;
    NEXT(0);

    // ---- arithmetic, comparisons and booleans on the two top slots ----------------------------
#define BINARY_OP(label, expression)                                                               \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const TUint32 a = stack[sp - 1];                                                           \
        const TUint32 b = stack[sp];                                                               \
        stack[sp - 1] = (expression);                                                              \
        --sp;                                                                                      \
        NEXT(0);                                                                                   \
    }
    BINARY_OP(op_add, a + b)
    BINARY_OP(op_sub, a - b)
    BINARY_OP(op_mul, a * b)
    BINARY_OP(op_band, a & b)
    BINARY_OP(op_bor, a | b)
    BINARY_OP(op_bxor, a ^ b)
    BINARY_OP(op_shl, shiftLeft(a, static_cast<TInt32>(b)))
    BINARY_OP(op_shr, shiftRight(a, static_cast<TInt32>(b)))
    BINARY_OP(op_eq, truth(a == b))
    BINARY_OP(op_ne, truth(a != b))
    BINARY_OP(op_lt, truth(static_cast<TInt32>(a) < static_cast<TInt32>(b)))
    BINARY_OP(op_le, truth(static_cast<TInt32>(a) <= static_cast<TInt32>(b)))
    BINARY_OP(op_gt, truth(static_cast<TInt32>(a) > static_cast<TInt32>(b)))
    BINARY_OP(op_ge, truth(static_cast<TInt32>(a) >= static_cast<TInt32>(b)))
    BINARY_OP(op_byte_eq, truth(lowByte(a) == lowByte(b)))
    BINARY_OP(op_byte_ne, truth(lowByte(a) != lowByte(b)))
    BINARY_OP(op_byte_lt, truth(lowByte(a) < lowByte(b)))
    BINARY_OP(op_byte_le, truth(lowByte(a) <= lowByte(b)))
    BINARY_OP(op_byte_gt, truth(lowByte(a) > lowByte(b)))
    BINARY_OP(op_byte_ge, truth(lowByte(a) >= lowByte(b)))
    BINARY_OP(op_char_eq, truth(lowChar(a) == lowChar(b)))
    BINARY_OP(op_char_ne, truth(lowChar(a) != lowChar(b)))
    BINARY_OP(op_char_lt, truth(lowChar(a) < lowChar(b)))
    BINARY_OP(op_char_le, truth(lowChar(a) <= lowChar(b)))
    BINARY_OP(op_char_gt, truth(lowChar(a) > lowChar(b)))
    BINARY_OP(op_char_ge, truth(lowChar(a) >= lowChar(b)))
    BINARY_OP(op_bool_and, truth(a != 0 && b != 0))
    BINARY_OP(op_bool_or, truth(a != 0 || b != 0))
    BINARY_OP(op_bool_xor, truth((a != 0) != (b != 0)))
    BINARY_OP(op_bool_eq, (a != 0) == (b != 0) ? 1u : 0u)
    BINARY_OP(op_bool_ne, (a != 0) != (b != 0) ? 1u : 0u)
    BINARY_OP(op_byte_shl, (b & 0xFF) >= 32 ? 0u : static_cast<TUint32>(lowByte(a)) << (b & 0xFF))
    BINARY_OP(op_byte_shr, static_cast<TUint32>(lowByte(a) >> std::min<TUint32>(b & 0xFF, 31)))
#undef BINARY_OP

#define DIVISION_OP(label, function)                                                               \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const TInt32 b = static_cast<TInt32>(stack[sp]);                                           \
        if (b == 0) {                                                                              \
            SAVE(0);                                                                               \
            raise(KErrDivisionByZero);                                                             \
        }                                                                                          \
        stack[sp - 1] = static_cast<TUint32>(function(static_cast<TInt32>(stack[sp - 1]), b));     \
        --sp;                                                                                      \
        NEXT(0);                                                                                   \
    }
    DIVISION_OP(op_div, divide)
    DIVISION_OP(op_rem, remainder)
#undef DIVISION_OP

    // Signed low bytes; the quotient is stored whole. A divisor whose slot is 0, or whose low
    // byte is 0, is a division by zero.
#define BYTE_DIVISION_OP(label, operation)                                                         \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const TInt32 b = lowByte(stack[sp]);                                                       \
        if (b == 0) {                                                                              \
            SAVE(0);                                                                               \
            raise(KErrDivisionByZero, "Division by zero.");                                        \
        }                                                                                          \
        stack[sp - 1] = static_cast<TUint32>(lowByte(stack[sp - 1]) operation b);                  \
        --sp;                                                                                      \
        NEXT(0);                                                                                   \
    }
    BYTE_DIVISION_OP(op_byte_div, /)
    BYTE_DIVISION_OP(op_byte_rem, %)
#undef BYTE_DIVISION_OP

op_neg:
    NEED(0, 0);
    stack[sp] = 0u - stack[sp];
    NEXT(0);
op_lnot:
    NEED(0, 0);
    stack[sp] = truth(stack[sp] == 0);
    NEXT(0);
op_zero_extend_byte:
    NEED(0, 0);
    stack[sp] &= 0xFFu;
    NEXT(0);
op_sign_extend_bytes : {
    const TInt32 n = S8(1);
    if (n > 0) {
        NEED(n - 1, 0);
        for (TInt32 i = 0; i < n; ++i) stack[sp - i] = static_cast<TUint32>(lowByte(stack[sp - i]));
    }
    NEXT(1);
}

    // ---- control --------------------------------------------------------------------------------
op_jump_if_false:
    NEED(0, 0);
    if (stack[sp--] != 0) NEXT(2);
    TRANSFER(TInt64(pc) + 2 + S16(1));
op_jump_if_false_w:
    NEED(0, 0);
    if (stack[sp--] != 0) NEXT(4);
    TRANSFER(TInt64(pc) + 4 + S32(1));
op_jump:
    TRANSFER(TInt64(pc) + 2 + S16(1));
op_jump_w:
    TRANSFER(TInt64(pc) + 4 + S32(1));
    // A call whose target was found inside the code when the ids were built jumps unchecked.
#define CALL(label, JUMP)                                                                          \
    label : {                                                                                      \
        NEED(-1, 1);                                                                               \
        /* a negative index stands for no method: nothing pushed */                                \
        const TInt32 methodIndex = S32(5);                                                         \
        TInt64 pushed = 0;                                                                         \
        if (static_cast<TUint32>(methodIndex) < vm.callerSlots.size()) {                           \
            pushed = vm.callerSlots.data()[methodIndex];                                           \
        } else if (methodIndex >= 0) {                                                             \
            SAVE(8);                                                                               \
            raise(KErrInvalidArgument);                                                            \
        }                                                                                          \
        if (!pushCall(methodIndex, sp + 1, pushed)) {                                              \
            SAVE(8);                                                                               \
            vm.fatalError("Stack overflow", vm.pc);                                                \
        }                                                                                          \
        PUSH(static_cast<TUint32>(pc + 9));                                                        \
        JUMP(S32(1));                                                                              \
    }
    CALL(op_call, TRANSFER)
    CALL(fused_call_inside, BRANCH)
#undef CALL
op_call_virtual : {
    NEED(0, 0);
    const TInt32 type = static_cast<TInt32>(stack[sp]);
    SAVE(4);
    const VirtualMachine::ExportedMethod& method = vm.exportedMethods[S32(1)]; // else code 6
    const VirtualMachine::ExportedMethod::MethodEntry* entry = method.entries.begin();
    const VirtualMachine::ExportedMethod::MethodEntry* const end = method.entries.end();
    while (entry != end && entry->typeId != type) ++entry;
    if (entry == end) vm.fatalError("Invalid type in virtual method call", vm.pc);
    const TInt32 methodIndex = entry->methodIndex;
    if (!isMethod(methodIndex)) raise(KErrInvalidArgument);
    const TInt32 target = entry->codeOffset;
    if (!pushCall(methodIndex, sp, vm.callerSlots[methodIndex]))
        vm.fatalError("Stack overflow", vm.pc);
    stack[sp] = static_cast<TUint32>(pc + 5);
    TRANSFER(target);
}
op_ret : {
    const int depth = vm.methodStack.size();
    if (depth == 0) {
        SAVE(8);
        raise(KErrInvalidArgument);
    }
    // The error it was to throw would be lost, and the interrupted instruction left undone.
    if (depth == vm.internalThrowReturnDepth) {
        SAVE(8);
        vm.fatalError("vminternalthrow<int>,<string> returned instead of throwing the error",
                      vm.pc);
    }
    const TInt64 newSp = TInt64(sp) - S32(5);
    if (newSp < -1 || newSp > kTopSlot) goto stackFault;
    const TUint32 returnSlot = static_cast<TUint32>(sp) - static_cast<TUint32>(S32(1));
    const TInt32 returnPc = static_cast<TInt32>(
        returnSlot <= TUint32(kTopSlot) ? stack[returnSlot] : cells.word(SLOT_ADDRESS(returnSlot)));
    vm.methodStack.removeLast();
    if (!vm.frameStack.isEmpty()) vm.frameStack.removeLast();
    sp = static_cast<TInt32>(newSp);
    TRANSFER(returnPc);
}

    // ---- objects ------------------------------------------------------------------------------
op_new_object : {
    NEED(-1, 1);
    const TUint32 gcCode = U8(1);
    const TInt32 slots = S32(2);
    SAVE(5);
    if (!isAllocationCode(gcCode)) vm.fatalError("Invalid mem alloc gc code", vm.pc);
    CHARGE(1 + slots / 64);
    PUSH(allocate(4 * TInt64(slots), static_cast<GcCode>(gcCode)));
    NEXT(5);
}
op_new_store:
op_new_store_keep : {
    NEED(0, 0);
    const TUint32 gcCode = U8(1);
    const TInt32 slots = S32(2);
    const TInt32 level = S8(6);
    const Address target = stack[sp];
    SAVE(6);
    if (!isAllocationCode(gcCode)) vm.fatalError("Invalid mem alloc gc code", vm.pc);
    NOT_NULL(target, 6);
    CHARGE(1 + slots / 64);
    const Address object = allocate(4 * TInt64(slots), static_cast<GcCode>(gcCode));
    cells.setWord(target, static_cast<TUint32>(vm.convertToLevel(level, static_cast<TInt32>(object),
                                                                 GC_CODE_REFERENCE_BOX)));
    if (code[pc] == static_cast<TUint8>(Opcode::new_store)) --sp;
    NEXT(6);
}
op_wrap:
op_box : {
    NEED(0, 0);
    SAVE(0);
    CHARGE(1);
    const Address object = allocate(
        4, code[pc] == static_cast<TUint8>(Opcode::box) ? GC_CODE_REFERENCE_BOX : GC_CODE_PLAIN);
    cells.setWord(object, stack[sp]);
    stack[sp] = object;
    NEXT(0);
}
// Moves the n top values into a new object, the deepest into word 0; n <= 0 pushes an
// empty object.
#define NEW_ARRAY(label, count, operandBytes)                                                      \
    label : {                                                                                      \
        const TInt32 n = std::max((count), 0);                                                     \
        if (n == 0) {                                                                              \
            NEED(-1, 1);                                                                           \
        } else if (TInt64(sp) - n + 1 < 0) {                                                       \
            goto stackFault;                                                                       \
        }                                                                                          \
        SAVE(operandBytes);                                                                        \
        CHARGE(1 + n / 64);                                                                        \
        const Address object = allocate(4 * TInt64(n), GC_CODE_PLAIN);                             \
        const TInt32 first = sp - n + 1;                                                           \
        for (TInt32 i = 0; i < n; ++i) cells.setWord(object + 4u * i, stack[first + i]);           \
        sp = first;                                                                                \
        stack[sp] = object;                                                                        \
        NEXT(operandBytes);                                                                        \
    }
    NEW_ARRAY(op_new_array, S8(1), 1)
    NEW_ARRAY(op_new_array_w, S32(1), 4)
#undef NEW_ARRAY

    // Writes 0 to the n words of the object top; pops it.
#define CLEAR_WORDS(label, count, operandBytes)                                                    \
    label : {                                                                                      \
        NEED(0, 0);                                                                                \
        const TInt32 n = (count);                                                                  \
        const Address object = stack[sp];                                                          \
        if (n > 0) {                                                                               \
            NOT_NULL(object, operandBytes);                                                        \
            SAVE(operandBytes);                                                                    \
            CHARGE(n / 64);                                                                        \
            checkWords(object, n);                                                                 \
            for (TInt32 i = 0; i < n; ++i) cells.setWord(object + 4u * i, 0);                      \
        }                                                                                          \
        --sp;                                                                                      \
        NEXT(operandBytes);                                                                        \
    }
    CLEAR_WORDS(op_clear_words, S8(1), 1)
    CLEAR_WORDS(op_clear_words_w, S32(1), 4)
#undef CLEAR_WORDS

    // Copies n words from the object top to the object next, word i to word i; pops top.
#define COPY_WORDS(label, count, operandBytes)                                                     \
    label : {                                                                                      \
        NEED(1, 0);                                                                                \
        const TInt32 n = (count);                                                                  \
        const Address from = stack[sp];                                                            \
        const Address to = stack[sp - 1];                                                          \
        if (n > 0) {                                                                               \
            NOT_NULL(from, operandBytes);                                                          \
            NOT_NULL(to, operandBytes);                                                            \
            SAVE(operandBytes);                                                                    \
            CHARGE(n / 64);                                                                        \
            checkWords(from, n);                                                                   \
            checkWords(to, n);                                                                     \
            for (TInt32 i = 0; i < n; ++i) cells.setWord(to + 4u * i, cells.word(from + 4u * i));  \
        }                                                                                          \
        --sp;                                                                                      \
        NEXT(operandBytes);                                                                        \
    }
    COPY_WORDS(op_copy_words, S8(1), 1)
    COPY_WORDS(op_copy_words_w, S32(1), 4)
#undef COPY_WORDS

    // Replaces the reference top by the n words of its object, word 0 deepest.
#define UNPACK(label, count, operandBytes)                                                         \
    label : {                                                                                      \
        NEED(0, 0);                                                                                \
        const TInt32 n = std::max((count), 0);                                                     \
        const Address object = stack[sp];                                                          \
        if (n > 0) {                                                                               \
            if (TInt64(sp) + n - 1 > kTopSlot) goto stackFault;                                    \
            NOT_NULL(object, operandBytes);                                                        \
            for (TInt32 i = 0; i < n; ++i) stack[sp + i] = cells.word(object + 4u * i);            \
        }                                                                                          \
        sp += n - 1;                                                                               \
        NEXT(operandBytes);                                                                        \
    }
    UNPACK(op_unpack, S8(1), 1)
    UNPACK(op_unpack_w, S32(1), 4)
#undef UNPACK

    // The object is the slot n below top: the n top values go into its words 0 .. n-1, the
    // deepest first; values and object are popped.
#define PACK_INTO(label, count, operandBytes)                                                      \
    label : {                                                                                      \
        const TInt32 n = std::max((count), 0);                                                     \
        if (TInt64(sp) - n < 0) goto stackFault;                                                   \
        const TInt32 first = sp - n + 1;                                                           \
        const Address object = stack[sp - n];                                                      \
        if (n > 0) {                                                                               \
            NOT_NULL(object, operandBytes);                                                        \
            for (TInt32 i = 0; i < n; ++i) cells.setWord(object + 4u * i, stack[first + i]);       \
        }                                                                                          \
        sp -= n + 1;                                                                               \
        NEXT(operandBytes);                                                                        \
    }
    PACK_INTO(op_pack_into, S8(1), 1)
    PACK_INTO(op_pack_into_w, S32(1), 4)
#undef PACK_INTO

op_new_vector : {
    NEED(0, 0);
    const TInt32 elementSize = S8(1);
    const Address holder = stack[sp];
    SAVE(1);
    if (!isVectorElementSize(elementSize)) vm.fatalError("Invalid vector element size", vm.pc);
    NOT_NULL(holder, 1);
    const Address vector = OVector::create(heap, elementSize, 0).object();
    cells.setWord(holder + 4, static_cast<TUint32>(elementSize));
    cells.setWord(holder, vector);
    --sp;
    NEXT(1);
}
op_release:
    NEED(0, 0);
    SAVE(0);
    release(stack[sp]);
    --sp;
    NEXT(0);
op_release_box : {
    NEED(0, 0);
    const Address box = stack[sp];
    NOT_NULL(box, 0);
    SAVE(0);
    release(cells.word(box));
    release(box);
    --sp;
    NEXT(0);
}

    // ---- calls into libraries -------------------------------------------------------------------
op_native : {
    SAVE(2);
    // A native call costs as a transfer does, and what it allocates is bulk work too: a string
    // doubled in a loop must spend the budget as the copy would.
    const TUint64 allocatedBefore = kCounted ? allocatedBytes() : 0;
    try {
        callNative(vm, S8(1), S8(2));
    } catch (...) {
        vm.sp = sp; // a native that raises may have taken its arguments already
        throw;
    }
    if (vm.sp < -1 || vm.sp > kTopSlot) goto stackFault;
    sp = vm.sp;
    if constexpr (kCounted) budget = vm.budgetLeft; // what the native read
    CHARGE(1 + static_cast<TInt64>((allocatedBytes() - allocatedBefore) / 256));
    NEXT(2);
}
op_extension : {
    SAVE(2);
    FrameworkServices* services = vm.services();
    if (!services) raise(KErrUnsupportedFeature);
    const TInt32 after = services->callDll(S8(1), S8(2), sp, stackBase);
    if (after < -1 || after > kTopSlot) goto stackFault;
    sp = after;
    NEXT(2);
}

    // ---- exceptions -----------------------------------------------------------------------------
op_push_handler : {
    const TInt32 count = vm.handlerCount;
    if (count >= kMaxHandlers) {
        SAVE(8);
        vm.fatalError("Handler stack overflow", vm.pc);
    }
    // Records at index 0 or below are never looked at.
    if (count + 1 > 0)
        vm.handlers[count + 1] = {S32(1), sp, clampToInt32(TInt64(pc) + 8 + S32(5)),
                                  vm.methodStack.size(), vm.frameStack.size()};
    vm.handlerCount = count + 1;
    NEXT(8);
}
op_adjust_handlers : {
    const TInt64 count = TInt64(vm.handlerCount) + S8(1);
    if (count > kMaxHandlers || count < kMinHandlerCount) {
        SAVE(1);
        vm.fatalError("Handler stack overflow", vm.pc);
    }
    vm.handlerCount = static_cast<TInt32>(count);
    NEXT(1);
}
op_throw_object : {
    NEED(0, 0);
    const Address object = stack[sp];
    if (object == 0) NEXT(0);
    SAVE(0);
    throwObject(object);
    sp = vm.sp;
    TRANSFER(vm.pc);
}

// ---- fused sequences ------------------------------------------------------------------------
// Each does what its instructions do one after the other, including the slots they leave
// above the top. When the stack could not take its pushes it runs the first instruction
// alone, which reports the fault where the sequence would.

// push_local n; push_int k; compare; jump_if_false
#define LOCAL_CONST_BRANCH(name, relation)                                                         \
    fused_##name : {                                                                               \
        if (sp < -1 || sp > kTopSlot - 2) goto op_push_local;                                      \
        const TInt32 a = static_cast<TInt32>(LOCAL(S8(1)));                                        \
        const TInt32 b = S32(3);                                                                   \
        const bool holds = a relation b;                                                           \
        stack[sp + 1] = truth(holds);                                                              \
        stack[sp + 2] = static_cast<TUint32>(b);                                                   \
        if (holds) NEXT(10);                                                                       \
        BRANCH(pc + 10 + S16(9));                                                                  \
    }
    LOCAL_CONST_BRANCH(local_const_eq_branch, ==)
    LOCAL_CONST_BRANCH(local_const_ne_branch, !=)
    LOCAL_CONST_BRANCH(local_const_lt_branch, <)
    LOCAL_CONST_BRANCH(local_const_le_branch, <=)
    LOCAL_CONST_BRANCH(local_const_gt_branch, >)
    LOCAL_CONST_BRANCH(local_const_ge_branch, >=)
#undef LOCAL_CONST_BRANCH

    // push_local n; push_local m; compare; jump_if_false
#define LOCAL_LOCAL_BRANCH(name, relation)                                                         \
    fused_##name : {                                                                               \
        if (sp < -1 || sp > kTopSlot - 2) goto op_push_local;                                      \
        const TUint32 a = LOCAL(S8(1));                                                            \
        stack[sp + 1] = a;                                                                         \
        const TUint32 b = stack[sp + 2 + S8(3)];                                                   \
        stack[sp + 2] = b;                                                                         \
        const bool holds = static_cast<TInt32>(a) relation static_cast<TInt32>(b);                 \
        stack[sp + 1] = truth(holds);                                                              \
        if (holds) NEXT(7);                                                                        \
        BRANCH(pc + 7 + S16(6));                                                                   \
    }
    LOCAL_LOCAL_BRANCH(local_local_eq_branch, ==)
    LOCAL_LOCAL_BRANCH(local_local_ne_branch, !=)
    LOCAL_LOCAL_BRANCH(local_local_lt_branch, <)
    LOCAL_LOCAL_BRANCH(local_local_le_branch, <=)
    LOCAL_LOCAL_BRANCH(local_local_gt_branch, >)
    LOCAL_LOCAL_BRANCH(local_local_ge_branch, >=)
#undef LOCAL_LOCAL_BRANCH

    // push_local n; push_int k; add or sub
    // ... and the same going straight on to the call after it.
#define THEN_CALL(operandBytes)                                                                    \
    pc += (operandBytes) + 1;                                                                      \
    goto fused_call_inside
#define LOCAL_CONST_ARITHMETIC(label, operation, THEN)                                             \
    label : {                                                                                      \
        if (sp < -1 || sp > kTopSlot - 2) goto op_push_local;                                      \
        const TUint32 a = LOCAL(S8(1));                                                            \
        const TUint32 b = static_cast<TUint32>(S32(3));                                            \
        stack[sp + 2] = b;                                                                         \
        stack[++sp] = a operation b;                                                               \
        THEN(7);                                                                                   \
    }
    LOCAL_CONST_ARITHMETIC(fused_local_const_add, +, NEXT)
    LOCAL_CONST_ARITHMETIC(fused_local_const_sub, -, NEXT)
    LOCAL_CONST_ARITHMETIC(local_const_add_call, +, THEN_CALL)
    LOCAL_CONST_ARITHMETIC(local_const_sub_call, -, THEN_CALL)
#undef LOCAL_CONST_ARITHMETIC

    // push_local_addr n; push_local m; push_int k; add or sub: a = b + k, or f(b - k) whose
    // result goes to a
#define ADDR_LOCAL_CONST_ARITHMETIC(label, operation, THEN)                                        \
    label : {                                                                                      \
        if (sp < -1 || sp > kTopSlot - 3) goto op_push_local_addr;                                 \
        stack[sp + 1] = SLOT_ADDRESS(sp + 1 + S8(1));                                              \
        const TUint32 a = stack[sp + 2 + S8(3)];                                                   \
        const TUint32 b = static_cast<TUint32>(S32(5));                                            \
        stack[sp + 3] = b;                                                                         \
        stack[sp + 2] = a operation b;                                                             \
        sp += 2;                                                                                   \
        THEN(9);                                                                                   \
    }
    ADDR_LOCAL_CONST_ARITHMETIC(fused_addr_local_const_add, +, NEXT)
    ADDR_LOCAL_CONST_ARITHMETIC(fused_addr_local_const_sub, -, NEXT)
    ADDR_LOCAL_CONST_ARITHMETIC(addr_local_const_add_call, +, THEN_CALL)
    ADDR_LOCAL_CONST_ARITHMETIC(addr_local_const_sub_call, -, THEN_CALL)
#undef ADDR_LOCAL_CONST_ARITHMETIC
#undef THEN_CALL
fused_adjust_ret : { // adjust_stack n; ret: the end of a method with locals
    ADJUST_STACK(S8(1));
    pc += 2;
    goto op_ret;
}

// The cell is a stack slot; its address is never null, the stack lies well above 0.
// push_local_addr n; push_local m; add_cell
#define ADD_LOCAL_TO_LOCAL()                                                                       \
    const TInt32 cell = sp + 1 + S8(1);                                                            \
    if (sp < -1 || sp > kTopSlot - 2 || cell < 0 || cell > kTopSlot) goto op_push_local_addr;      \
    stack[sp + 1] = SLOT_ADDRESS(cell);                                                            \
    const TUint32 value = stack[sp + 2 + S8(3)];                                                   \
    stack[sp + 2] = value;                                                                         \
    stack[cell] += value
fused_add_local_to_local : {
    ADD_LOCAL_TO_LOCAL();
    NEXT(4);
}
// ... followed by a counter branch. The common case, x += i; i += 1 on two locals below the
// top, loads i once; the others run the two parts one after the other.
#define ACCUMULATE_BRANCH(relation, op)                                                            \
    fused_accumulate_increment_##relation##_branch : {                                             \
        const TInt32 target = sp + 1 + S8(1);                                                      \
        const TInt32 counterCell = sp + 1 + S8(6);                                                 \
        if (sp > kTopSlot - 2 || static_cast<TUint32>(target) > static_cast<TUint32>(sp) ||        \
            static_cast<TUint32>(counterCell) > static_cast<TUint32>(sp) ||                        \
            sp + 2 + S8(3) != counterCell || target == counterCell) {                              \
            ADD_LOCAL_TO_LOCAL();                                                                  \
            pc += 5;                                                                               \
            goto fused_increment_##relation##_branch;                                              \
        }                                                                                          \
        const TUint32 value = stack[counterCell];                                                  \
        stack[target] += value;                                                                    \
        const TUint32 counter = value + 1;                                                         \
        stack[counterCell] = counter;                                                              \
        const TInt32 limit = S32(11);                                                              \
        const bool holds = static_cast<TInt32>(counter) op limit;                                  \
        stack[sp + 1] = truth(holds);                                                              \
        stack[sp + 2] = static_cast<TUint32>(limit);                                               \
        if (holds) NEXT(18);                                                                       \
        BRANCH(pc + 18 + S16(17));                                                                 \
    }
    ACCUMULATE_BRANCH(eq, ==)
    ACCUMULATE_BRANCH(ne, !=)
    ACCUMULATE_BRANCH(lt, <)
    ACCUMULATE_BRANCH(le, <=)
    ACCUMULATE_BRANCH(gt, >)
    ACCUMULATE_BRANCH(ge, >=)
#undef ACCUMULATE_BRANCH
#undef ADD_LOCAL_TO_LOCAL
fused_increment_local : { // push_local_addr n; inc_cell
    const TInt32 cell = sp + 1 + S8(1);
    if (sp < -1 || sp > kTopSlot - 1 || cell < 0 || cell > kTopSlot) goto op_push_local_addr;
    stack[sp + 1] = SLOT_ADDRESS(cell);
    stack[cell] += 1;
    NEXT(2);
}
fused_decrement_local : { // push_local_addr n; dec_cell
    const TInt32 cell = sp + 1 + S8(1);
    if (sp < -1 || sp > kTopSlot - 1 || cell < 0 || cell > kTopSlot) goto op_push_local_addr;
    stack[sp + 1] = SLOT_ADDRESS(cell);
    stack[cell] -= 1;
    NEXT(2);
}
// push_local_addr n; inc_cell or dec_cell; push_local n; push_int k; compare;
// jump_if_false: the test at the bottom of a counting loop.
#define COUNTER_BRANCH(name, step, relation)                                                       \
    fused_##name : {                                                                               \
        const TInt32 cell = sp + 1 + S8(1);                                                        \
        if (sp < -1 || sp > kTopSlot - 2 || cell < 0 || cell > kTopSlot) goto op_push_local_addr;  \
        stack[sp + 1] = SLOT_ADDRESS(cell);                                                        \
        const TUint32 counter = stack[cell] + (step);                                              \
        stack[cell] = counter;                                                                     \
        const TInt32 limit = S32(6);                                                               \
        const bool holds = static_cast<TInt32>(counter) relation limit;                            \
        stack[sp + 1] = truth(holds);                                                              \
        stack[sp + 2] = static_cast<TUint32>(limit);                                               \
        if (holds) NEXT(13);                                                                       \
        BRANCH(pc + 13 + S16(12));                                                                 \
    }
    COUNTER_BRANCH(increment_eq_branch, 1u, ==)
    COUNTER_BRANCH(increment_ne_branch, 1u, !=)
    COUNTER_BRANCH(increment_lt_branch, 1u, <)
    COUNTER_BRANCH(increment_le_branch, 1u, <=)
    COUNTER_BRANCH(increment_gt_branch, 1u, >)
    COUNTER_BRANCH(increment_ge_branch, 1u, >=)
    COUNTER_BRANCH(decrement_eq_branch, 0xFFFFFFFFu, ==)
    COUNTER_BRANCH(decrement_ne_branch, 0xFFFFFFFFu, !=)
    COUNTER_BRANCH(decrement_lt_branch, 0xFFFFFFFFu, <)
    COUNTER_BRANCH(decrement_le_branch, 0xFFFFFFFFu, <=)
    COUNTER_BRANCH(decrement_gt_branch, 0xFFFFFFFFu, >)
    COUNTER_BRANCH(decrement_ge_branch, 0xFFFFFFFFu, >=)
#undef COUNTER_BRANCH

    // push_local_addr n; inc_cell or dec_cell; jump: the end of a counting loop's body.
#define COUNTER_JUMP(name, step)                                                                   \
    fused_##name : {                                                                               \
        const TInt32 cell = sp + 1 + S8(1);                                                        \
        if (sp < -1 || sp > kTopSlot - 1 || cell < 0 || cell > kTopSlot) goto op_push_local_addr;  \
        stack[sp + 1] = SLOT_ADDRESS(cell);                                                        \
        stack[cell] += (step);                                                                     \
        BRANCH(pc + 5 + S16(4));                                                                   \
    }
    COUNTER_JUMP(increment_jump, 1u)
    COUNTER_JUMP(decrement_jump, 0xFFFFFFFFu)
#undef COUNTER_JUMP

    // Each reads its operands and writes the slots its instructions leave above the top first,
    // then checks what its instructions could fail on: when one would fail, it runs the first
    // instruction alone, which writes those slots again with the same values. Stores into the
    // arena come last.
#define OPERAND_FUSIONS(op)                                                                        \
    fused_local_local_##op : { /* push_local n; push_local m; op */                                \
        if (sp < -1 || sp > kTopSlot - 2) goto op_push_local;                                      \
        const TUint32 a = LOCAL(S8(1));                                                            \
        stack[sp + 1] = a;                                                                         \
        const TUint32 b = stack[sp + 2 + S8(3)];                                                   \
        stack[sp + 2] = b;                                                                         \
        if (failsOn(Opcode::op, b)) goto op_push_local;                                            \
        stack[++sp] = operate(Opcode::op, a, b);                                                   \
        NEXT(4);                                                                                   \
    }                                                                                              \
    fused_addr_local_local_##op : { /* push_local_addr n; push_local m; push_local o; op */        \
        if (sp < -1 || sp > kTopSlot - 3) goto op_push_local_addr;                                 \
        stack[sp + 1] = SLOT_ADDRESS(sp + 1 + S8(1));                                              \
        const TUint32 a = stack[sp + 2 + S8(3)];                                                   \
        stack[sp + 2] = a;                                                                         \
        const TUint32 b = stack[sp + 3 + S8(5)];                                                   \
        stack[sp + 3] = b;                                                                         \
        if (failsOn(Opcode::op, b)) goto op_push_local_addr;                                       \
        stack[sp + 2] = operate(Opcode::op, a, b);                                                 \
        sp += 2;                                                                                   \
        NEXT(6);                                                                                   \
    }                                                                                              \
    fused_const_##op##_store : { /* push_int k; op; store */                                       \
        if (sp < 1 || sp > kTopSlot - 1) goto op_push_int;                                         \
        const TUint32 b = static_cast<TUint32>(S32(1));                                            \
        const Address cell = stack[sp - 1];                                                        \
        if (cell == 0 || failsOn(Opcode::op, b)) goto op_push_int;                                 \
        stack[sp + 1] = b;                                                                         \
        const TUint32 value = operate(Opcode::op, stack[sp], b);                                   \
        stack[sp] = value;                                                                         \
        cells.setWord(cell, value);                                                                \
        sp -= 2;                                                                                   \
        NEXT(6);                                                                                   \
    }                                                                                              \
    fused_const_##op : { /* push_int k; op */                                                      \
        if (sp < 0 || sp > kTopSlot - 1) goto op_push_int;                                         \
        const TUint32 b = static_cast<TUint32>(S32(1));                                            \
        if (failsOn(Opcode::op, b)) goto op_push_int;                                              \
        stack[sp + 1] = b;                                                                         \
        stack[sp] = operate(Opcode::op, stack[sp], b);                                             \
        NEXT(5);                                                                                   \
    }                                                                                              \
    fused_##op##_store : { /* op; store */                                                         \
        if (sp < 2 || sp > kTopSlot) goto op_##op;                                                 \
        const Address cell = stack[sp - 2];                                                        \
        if (cell == 0 || failsOn(Opcode::op, stack[sp])) goto op_##op;                             \
        const TUint32 value = operate(Opcode::op, stack[sp - 1], stack[sp]);                       \
        stack[sp - 1] = value;                                                                     \
        cells.setWord(cell, value);                                                                \
        sp -= 3;                                                                                   \
        NEXT(1);                                                                                   \
    }
    ZENTU_FUSED_BINARY(OPERAND_FUSIONS)
#undef OPERAND_FUSIONS

fused_local_field : { // push_local n; field_addr k; deref
    if (sp < -1 || sp > kTopSlot - 1) goto op_push_local;
    const TUint32 object = LOCAL(S8(1));
    const TUint32 field = object + 4u * static_cast<TUint32>(S8(3));
    if (object == 0 || field == 0) goto op_push_local;
    stack[++sp] = cells.word(field);
    NEXT(4);
}
fused_set_field_from_local : { // dup; field_addr k; push_local n; store: the object stays
    if (sp < 0 || sp > kTopSlot - 2) goto op_dup;
    const TUint32 object = stack[sp];
    const TUint32 field = object + 4u * static_cast<TUint32>(S8(2));
    if (object == 0 || field == 0) goto op_dup;
    stack[sp + 1] = field;
    const TUint32 value = stack[sp + 2 + S8(4)];
    stack[sp + 2] = value;
    cells.setWord(field, value);
    NEXT(5);
}
fused_copy_local : { // push_local_addr n; push_local m; store: local n = local m
    if (sp < -1 || sp > kTopSlot - 2) goto op_push_local_addr;
    const Address cell = SLOT_ADDRESS(sp + 1 + S8(1));
    if (cell == 0) goto op_push_local_addr;
    stack[sp + 1] = cell;
    const TUint32 value = stack[sp + 2 + S8(3)];
    stack[sp + 2] = value;
    cells.setWord(cell, value);
    NEXT(4);
}
fused_local_field_addr : { // push_local n; field_addr k
    if (sp < -1 || sp > kTopSlot - 1) goto op_push_local;
    const TUint32 object = LOCAL(S8(1));
    if (object == 0) goto op_push_local;
    stack[++sp] = object + 4u * static_cast<TUint32>(S8(3));
    NEXT(3);
}
fused_two_locals : { // push_local n; push_local m
    if (sp < -1 || sp > kTopSlot - 2) goto op_push_local;
    stack[sp + 1] = LOCAL(S8(1));
    stack[sp + 2] = stack[sp + 2 + S8(3)];
    sp += 2;
    NEXT(3);
}

// ---- inline natives --------------------------------------------------------------------
// As the Fixed: group does them: two Fixed values, a the deeper, give a op b in a's
// slots; an address and a Fixed replace the Fixed stored at the address. With fewer
// slots on the stack the native call reports the fault.
#define FIXED_NATIVES(name, operation)                                                             \
    native_fixed_##name : {                                                                        \
        if (sp < 3 || sp > kTopSlot) goto op_native;                                               \
        const TInt64 a = joinWords(stack[sp - 3], stack[sp - 2]);                                  \
        const TInt64 value = operation(a, joinWords(stack[sp - 1], stack[sp]));                    \
        stack[sp - 3] = static_cast<TUint32>(value);                                               \
        stack[sp - 2] = static_cast<TUint32>(TUint64(value) >> 32);                                \
        sp -= 2;                                                                                   \
        NEXT(2);                                                                                   \
    }                                                                                              \
    native_fixed_##name##_into : {                                                                 \
        if (sp < 2 || sp > kTopSlot) goto op_native;                                               \
        const Address address = stack[sp - 2];                                                     \
        const TInt64 b = joinWords(stack[sp - 1], stack[sp]);                                      \
        storeInt64(mem, address, operation(loadInt64(mem, address), b));                           \
        sp -= 3;                                                                                   \
        NEXT(2);                                                                                   \
    }
    FIXED_NATIVES(add, ORaw::add)
    FIXED_NATIVES(sub, ORaw::subtract)
    FIXED_NATIVES(mul, ORaw::multiply)
#undef FIXED_NATIVES

    // Chained instructions: each does its own work, then goes to the next one's handler
    // without a dispatch. Without room for its push it is the plain instruction.
#define LONG_THEN_NATIVE(label, name)                                                              \
    label : {                                                                                      \
        if (sp < -1 || sp > kTopSlot - 2) goto op_push_long;                                       \
        stack[sp + 1] = static_cast<TUint32>(S32(1));                                              \
        stack[sp + 2] = static_cast<TUint32>(S32(5));                                              \
        sp += 2;                                                                                   \
        pc += 9;                                                                                   \
        goto native_##name;                                                                        \
    }
#define CHAINED_VALUE_NATIVE(name, ...) LONG_THEN_NATIVE(chained_long_##name, name)
#define CHAINED_INTO_NATIVE(name, ...) LONG_THEN_NATIVE(long_##name, name)
    ZENTU_VALUE_NATIVES(CHAINED_VALUE_NATIVE)
    ZENTU_INTO_NATIVES(CHAINED_INTO_NATIVE)
#undef CHAINED_INTO_NATIVE
#undef CHAINED_VALUE_NATIVE
#undef LONG_THEN_NATIVE
#define ADDRESS_THEN_LONG(name, ...)                                                               \
    chained_addr_long_##name : {                                                                   \
        if (sp < -1 || sp > kTopSlot - 1) goto op_push_local_addr;                                 \
        PUSH(SLOT_ADDRESS(sp + 1 + S8(1)));                                                        \
        pc += 2;                                                                                   \
        goto long_##name;                                                                          \
    }
    ZENTU_INTO_NATIVES(ADDRESS_THEN_LONG)
#undef ADDRESS_THEN_LONG

    // ---- Fixed runs ----------------------------------------------------------------------------
    // Constants applied one after another to a Fixed value (x * 1.5 * k, or x *= 1.5; x *= k)
    // keep it in a register from the first operation to the last, so that it goes through
    // memory once, not once per operation. Each step is one dispatch for the budget; at the end
    // the slots get what the last instruction leaves in them. A run on the two top slots
    // starts from a pushed local without reading it back and stores straight into the cell of
    // a pack_into 2 after it. Where the stack is too full or too short for a run, the
    // instructions run chained as above.
#define VALUE_RUN_ENTRY(name, ...)                                                                 \
    long_##name : if (sp < 1 || sp > kTopSlot - 2) goto chained_long_##name;                       \
    fixedValue = joinWords(stack[sp - 1], stack[sp]);                                              \
    goto value_run;
    ZENTU_VALUE_NATIVES(VALUE_RUN_ENTRY)
#undef VALUE_RUN_ENTRY
update_local_fixed : { // push_local_addr n; push_local n - 1 twice; a run; pack_into 2
    // Runs as the in-place form would, on a local below the top; the address and the
    // run's slots above the top get what the instructions leave in them.
    const TInt32 cell = sp + 1 + S8(1);
    if (kCounted || !isLocalWithRoom(cell, sp, 5)) goto addr_two_locals_fixed;
    stack[sp + 1] = SLOT_ADDRESS(cell);
    const FixedRun run =
        runValueSteps<false>(ids, code, pc + 6, loadFixed(stack + cell), 0, stack + sp + 2);
    storeFixed(stack + cell, run.value);
    pc = run.pc;
    NEXT(1);
}
addr_two_locals_fixed: // push_local_addr n; then push_local m; push_local k; then a run
    if (sp < -1 || sp > kTopSlot - 5) goto op_push_local_addr;
    stack[sp + 1] = SLOT_ADDRESS(sp + 1 + S8(1));
    ++sp;
    pc += 2;
    if constexpr (kCounted)
        if (--budget < 0) goto budgetSpent;
    goto two_locals_fixed;
two_locals_fixed : { // push_local n; push_local m; then a run: the ids chain only then
    if (sp < -1 || sp > kTopSlot - 4) goto fused_two_locals;
    if (S8(1) == S8(3) && S8(1) != -1) { // both words of one local, not the one first pushed
        fixedValue = loadFixed(&LOCAL(S8(1)));
        storeFixed(stack + sp + 1, fixedValue);
    } else {
        const TUint32 low = LOCAL(S8(1));
        stack[sp + 1] = low;
        const TUint32 high = stack[sp + 2 + S8(3)];
        stack[sp + 2] = high;
        fixedValue = joinWords(low, high);
    }
    sp += 2;
    pc += 4;
    if constexpr (kCounted)
        if (--budget < 0) goto budgetSpent;
}
value_run : {
    const FixedRun run =
        runValueSteps<kCounted>(ids, code, pc, fixedValue, budget + 1, stack + sp - 1);
    if constexpr (kCounted) budget -= (run.pc - pc) / 12;
    pc = run.pc;
    if constexpr (kCounted)
        if (budget < 0) goto budgetSpent;
    if (ids[pc] == H_pack_into && code[pc + 1] == 2 && sp >= 2) {
        // The cell must not overlap the two slots it is filled from, which pack_into reads
        // one after the other.
        const Address cell = stack[sp - 2];
        const TUint64 from = SLOT_ADDRESS(sp - 1);
        if (cell != 0 && (TUint64(cell) + 8 <= from || cell >= from + 8)) {
            cells.setDoubleWord(cell, TUint64(run.value));
            sp -= 3;
            NEXT(1);
        }
    }
    DISPATCH();
}

// push_local_addr n; push_long k; an in-place native, on a local below the top.
#define INTO_RUN_ENTRY(name, ...)                                                                  \
    addr_long_##name : {                                                                           \
        const TInt32 cell = sp + 1 + S8(1);                                                        \
        if (!isLocalWithRoom(cell, sp, 3)) goto chained_addr_long_##name;                          \
        goto into_run;                                                                             \
    }
    ZENTU_INTO_NATIVES(INTO_RUN_ENTRY)
#undef INTO_RUN_ENTRY
into_run : {
    const TInt32 cell = sp + 1 + S8(1);
    const TInt32 runPc = runIntoSteps<kCounted>(ids, code, pc, budget + 1, stack + cell);
    if constexpr (kCounted) budget -= (runPc - pc) / 14;
    pc = runPc;
    stack[sp + 1] = SLOT_ADDRESS(cell);
    std::memcpy(stack + sp + 2, code + pc - 11, 8);
    if constexpr (kCounted)
        if (budget < 0) goto budgetSpent;
    DISPATCH();
}

    // ---- leaving the loop -----------------------------------------------------------------------
op_invalid:
    SAVE(0);
    vm.fatalError(CAppsString("Internal error: invalid opcode ")
                      .appendNumber(static_cast<TInt8>(pc < TInt64(codeSize) ? code[pc] : 0xFF)),
                  pc);
leaveCode:
    if (outside < 0) {
        SAVE(0);
        vm.pc = -1;
        return;
    }
    SAVE(0);
    vm.fatalError("Internal error: jump outside the code", pc);
stackFault:
    SAVE(0);
    vm.fatalError(sp > VirtualMachine::kStackSlots / 2 ? "Stack overflow" : "Stack underflow", pc);
nullPointer:
    raiseNullPointer();
budgetSpent:
    SAVE(0);
    vm.budgetExhausted();

#undef S8
#undef U8
#undef S16
#undef S32
#undef LOCAL
#undef SLOT_ADDRESS
#undef DISPATCH
#undef NEXT
#undef SAVE
#undef NEED
#undef NOT_NULL
#undef TRANSFER
#undef BRANCH
#undef ADJUST_STACK
#undef CHARGE
#undef PUSH
}
