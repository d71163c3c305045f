#pragma once

#include <cstdint>

// Fixed-width names used throughout the runtime.
using TInt8 = std::int8_t;
using TUint8 = std::uint8_t;
using TInt16 = std::int16_t;
using TUint16 = std::uint16_t;
using TInt32 = std::int32_t;
using TUint32 = std::uint32_t;
using TInt64 = std::int64_t;
using TUint64 = std::uint64_t;
using TReal = double;
using TBool = int;

constexpr TBool EFalse = 0;
constexpr TBool ETrue = 1;

// A 32-bit offset into a machine's arena: every reference and address bytecode can see.
using Address = TUint32;
