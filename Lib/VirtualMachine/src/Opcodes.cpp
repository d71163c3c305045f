#include "Opcodes.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<OpcodeInfo, 256> buildTable() {
    std::array<OpcodeInfo, 256> table{};
    using enum OperandKind;
#define ZENTU_OPCODE_ROW(code, name, ...)                                                          \
    {                                                                                              \
        OpcodeInfo& info = table[code];                                                            \
        info.mnemonic = #name;                                                                     \
        const OperandKind kinds[] = {S8 __VA_OPT__(, ) __VA_ARGS__};                               \
        info.operandCount = static_cast<TUint8>(std::size(kinds) - 1);                             \
        for (int i = 0; i < info.operandCount; ++i) {                                              \
            info.operands[i] = kinds[i + 1];                                                       \
            info.operandBytes += static_cast<TUint8>(operandSize(kinds[i + 1]));                   \
        }                                                                                          \
    }
    ZENTU_OPCODES(ZENTU_OPCODE_ROW)
#undef ZENTU_OPCODE_ROW
    return table;
}

const std::array<OpcodeInfo, 256> kTable = buildTable();

} // namespace

const OpcodeInfo& opcodeInfo(TUint8 opcode) {
    return kTable[opcode];
}

int opcodeByMnemonic(const char* mnemonic) {
    for (int i = 0; i < 256; ++i)
        if (kTable[i].mnemonic && std::strcmp(kTable[i].mnemonic, mnemonic) == 0) return i;
    return -1;
}
