#pragma once

#include "Types.h"

// The instruction set, one line per opcode: OP(byte, mnemonic, operand kinds...).
// The loader, the interpreter, the assembler and the disassembler all expand this list, so
// names, operand layouts and relocation rules cannot drift apart.
//
// Operand kinds (size in bytes; what the loader does with the operand):
//   S8, U8          1, copied          S16Jump   2, copied, target = last operand byte + offset
//   S32             4, copied          S32Jump   4, copied, target = last operand byte + offset
//   CodeOffset      4, + code base     MethodIndex  4, + method base when >= 0
//   NamedMethod     4, replaced through the image's virtual-method map
//   StringConst     4, + string base   TypeId       4, + type base, raises the highest type id
//   HandlerType     4, + type base when >= 0
//   HandlerOffset   4, + code base; the handler is at last operand byte + offset
#define ZENTU_OPCODES(OP)                                                                          \
    OP(0x00, nop)                                                                                  \
    OP(0x01, push_local, S8)                                                                       \
    OP(0x02, push_local_w, S32)                                                                    \
    OP(0x03, push_local_addr, S8)                                                                  \
    OP(0x04, push_local_addr_w, S32)                                                               \
    OP(0x05, field_addr, S8)                                                                       \
    OP(0x06, field_addr_w, S32)                                                                    \
    OP(0x07, deref)                                                                                \
    OP(0x08, adjust_stack, S8)                                                                     \
    OP(0x09, adjust_stack_w, S32)                                                                  \
    OP(0x0A, jump_if_false, S16Jump)                                                               \
    OP(0x0B, jump_if_false_w, S32Jump)                                                             \
    OP(0x0C, jump, S16Jump)                                                                        \
    OP(0x0D, jump_w, S32Jump)                                                                      \
    OP(0x0E, call, CodeOffset, MethodIndex)                                                        \
    OP(0x0F, call_virtual, NamedMethod)                                                            \
    OP(0x10, ret, S32, S32)                                                                        \
    OP(0x11, new_object, U8, S32)                                                                  \
    OP(0x12, dup)                                                                                  \
    OP(0x13, lnot)                                                                                 \
    OP(0x14, push_int, S32)                                                                        \
    OP(0x15, push_string, StringConst)                                                             \
    OP(0x16, store_type, TypeId)                                                                   \
    OP(0x17, store)                                                                                \
    OP(0x18, store_zero)                                                                           \
    OP(0x19, store_alt)                                                                            \
    OP(0x1A, add)                                                                                  \
    OP(0x1B, sub)                                                                                  \
    OP(0x1C, mul)                                                                                  \
    OP(0x1D, div)                                                                                  \
    OP(0x1E, rem)                                                                                  \
    OP(0x1F, neg)                                                                                  \
    OP(0x20, inc_cell)                                                                             \
    OP(0x21, dec_cell)                                                                             \
    OP(0x22, add_cell)                                                                             \
    OP(0x23, sub_cell)                                                                             \
    OP(0x24, mul_cell)                                                                             \
    OP(0x25, div_cell)                                                                             \
    OP(0x26, rem_cell)                                                                             \
    OP(0x27, eq)                                                                                   \
    OP(0x28, lt)                                                                                   \
    OP(0x29, le)                                                                                   \
    OP(0x2A, ne)                                                                                   \
    OP(0x2B, gt)                                                                                   \
    OP(0x2C, ge)                                                                                   \
    OP(0x2D, band)                                                                                 \
    OP(0x2E, bor)                                                                                  \
    OP(0x2F, bxor)                                                                                 \
    OP(0x30, shl)                                                                                  \
    OP(0x31, shr)                                                                                  \
    OP(0x32, and_cell)                                                                             \
    OP(0x33, or_cell)                                                                              \
    OP(0x34, xor_cell)                                                                             \
    OP(0x35, shl_cell)                                                                             \
    OP(0x36, shr_cell)                                                                             \
    OP(0x37, int_to_string)                                                                        \
    OP(0x39, zero_extend_byte)                                                                     \
    OP(0x3A, push_true)                                                                            \
    OP(0x3B, push_false)                                                                           \
    OP(0x3C, bool_and)                                                                             \
    OP(0x3D, bool_or)                                                                              \
    OP(0x3E, bool_xor)                                                                             \
    OP(0x3F, bool_eq)                                                                              \
    OP(0x40, bool_ne)                                                                              \
    OP(0x41, push_long, S32, S32)                                                                  \
    OP(0x49, byte_div)                                                                             \
    OP(0x4A, byte_rem)                                                                             \
    OP(0x4B, byte_shl)                                                                             \
    OP(0x4C, byte_shr)                                                                             \
    OP(0x4E, native, S8, S8)                                                                       \
    OP(0x4F, clear_words, S8)                                                                      \
    OP(0x50, clear_words_w, S32)                                                                   \
    OP(0x51, copy_words, S8)                                                                       \
    OP(0x52, copy_words_w, S32)                                                                    \
    OP(0x53, unpack, S8)                                                                           \
    OP(0x54, unpack_w, S32)                                                                        \
    OP(0x55, pack_into, S8)                                                                        \
    OP(0x56, pack_into_w, S32)                                                                     \
    OP(0x61, extension, S8, S8)                                                                    \
    OP(0x69, sign_extend_bytes, S8)                                                                \
    OP(0x6A, new_vector, S8)                                                                       \
    OP(0x72, push_minus_one)                                                                       \
    OP(0x75, push_handler, HandlerType, HandlerOffset)                                             \
    OP(0x76, adjust_handlers, S8)                                                                  \
    OP(0x77, throw_object)                                                                         \
    OP(0x78, release)                                                                              \
    OP(0x7E, box)                                                                                  \
    OP(0x80, push_deref_local, S8)                                                                 \
    OP(0x81, push_deref2_local, S8)                                                                \
    OP(0x82, push_deref3_local, S8)                                                                \
    OP(0x83, push_field_addr_local, S8, S8)                                                        \
    OP(0x84, push_field_addr2_local, S8, S8)                                                       \
    OP(0x85, push_field_addr3_local, S8, S8)                                                       \
    OP(0x86, deref2)                                                                               \
    OP(0x87, deref3)                                                                               \
    OP(0x8B, release_box)                                                                          \
    OP(0x92, new_store, U8, S32, S8)                                                               \
    OP(0x93, new_store_keep, U8, S32, S8)                                                          \
    OP(0x94, wrap)                                                                                 \
    OP(0x9C, byte_inc_cell)                                                                        \
    OP(0x9D, byte_dec_cell)                                                                        \
    OP(0x9E, byte_add_cell)                                                                        \
    OP(0x9F, byte_sub_cell)                                                                        \
    OP(0xA0, byte_mul_cell)                                                                        \
    OP(0xA1, byte_div_cell)                                                                        \
    OP(0xA2, byte_rem_cell)                                                                        \
    OP(0xA3, byte_and_cell)                                                                        \
    OP(0xA4, byte_or_cell)                                                                         \
    OP(0xA5, byte_xor_cell)                                                                        \
    OP(0xA6, byte_shl_cell)                                                                        \
    OP(0xA7, byte_shr_cell)                                                                        \
    OP(0xA8, byte_store_zero)                                                                      \
    OP(0xA9, byte_store)                                                                           \
    OP(0xAA, byte_eq)                                                                              \
    OP(0xAB, byte_lt)                                                                              \
    OP(0xAC, byte_le)                                                                              \
    OP(0xAD, byte_ne)                                                                              \
    OP(0xAE, byte_gt)                                                                              \
    OP(0xAF, byte_ge)                                                                              \
    OP(0xB0, char_store_zero)                                                                      \
    OP(0xB1, char_store)                                                                           \
    OP(0xB2, char_eq)                                                                              \
    OP(0xB3, char_lt)                                                                              \
    OP(0xB4, char_le)                                                                              \
    OP(0xB5, char_ne)                                                                              \
    OP(0xB6, char_gt)                                                                              \
    OP(0xB7, char_ge)                                                                              \
    OP(0xB8, new_array, S8)                                                                        \
    OP(0xB9, new_array_w, S32)

enum class Opcode : TUint8 {
#define ZENTU_OPCODE_ENUM(code, name, ...) name = code,
    ZENTU_OPCODES(ZENTU_OPCODE_ENUM)
#undef ZENTU_OPCODE_ENUM
};

enum class OperandKind : TUint8 {
    S8,
    U8,
    S16Jump,
    S32,
    S32Jump,
    CodeOffset,
    MethodIndex,
    NamedMethod,
    StringConst,
    TypeId,
    HandlerType,
    HandlerOffset,
};

constexpr int operandSize(OperandKind kind) {
    switch (kind) {
    case OperandKind::S8:
    case OperandKind::U8: return 1;
    case OperandKind::S16Jump: return 2;
    default: return 4;
    }
}

struct OpcodeInfo {
    const char* mnemonic = nullptr; // null: the byte is not an instruction
    TUint8 operandCount = 0;
    OperandKind operands[3] = {};
    TUint8 operandBytes = 0; // what follows the opcode byte

    bool isValid() const { return mnemonic != nullptr; }
};

// Indexed by the opcode byte; every one of the 256 values has an entry.
const OpcodeInfo& opcodeInfo(TUint8 opcode);
// The opcode byte for a mnemonic, or -1.
int opcodeByMnemonic(const char* mnemonic);
