#pragma once

#include "Types.h"

#include <cstdint>
#include <string>

// The fixed-point kernel: a raw value is a signed 64-bit integer holding value * 2^32.
// Results outside the range saturate to kMin or kMax, which therefore also stand for
// negative and positive overflow.
class ORaw {
public:
    static constexpr TInt64 kMin = INT64_MIN;
    static constexpr TInt64 kMax = INT64_MAX;
    static constexpr TInt64 kOne = TInt64(1) << 32;
    static constexpr TInt64 kEpsilon = 1;
    static constexpr TInt64 kPi = (TInt64(3) << 32) | 0x243F6A89;
    static constexpr TInt64 kE = (TInt64(2) << 32) | 0xB7E15163;
    static constexpr TInt64 kDegreesToRadians = 74961320;
    static constexpr TInt64 kRadiansToDegrees = (TInt64(57) << 32) | 1270363335;
    static constexpr TInt64 kTwoPiLimit = (TInt64(6) << 32) | 1216271634;
    // Digits beyond this many are always 0: a 32-bit binary fraction expands exactly.
    static constexpr int kExactDigits = 32;

    static constexpr TInt64 fromInt(TInt32 i) { return TInt64(i) * kOne; }
    // The integer part rounds toward minus infinity (the high word); the fraction is the
    // low word, so integerPart + fraction / 2^32 is the value for either sign.
    static constexpr TInt32 integerPart(TInt64 raw) { return TInt32(raw >> 32); }
    static constexpr TUint32 fraction(TInt64 raw) { return TUint32(raw); }
    static TReal toReal(TInt64 raw) { return TReal(raw) / 4294967296.0; }
    // NaN raises MathException; out-of-range values saturate; others truncate toward zero.
    static TInt64 toFixed(TReal x);

    static TUint64 magnitude(TInt64 a) { return a < 0 ? 0 - TUint64(a) : TUint64(a); }
    static TInt64 abs(TInt64 a) { return a == kMin ? kMax : TInt64(magnitude(a)); }
    // kMax and kMin swap, as the overflow markers they are.
    static TInt64 negate(TInt64 a) { return a == kMin ? kMax : (a == kMax ? kMin : -a); }
    // The arithmetic the natives run most is inline, so the group dispatch compiles it in.
    static TInt64 add(TInt64 a, TInt64 b) {
        TInt64 sum;
        return __builtin_add_overflow(a, b, &sum) ? (a < 0 ? kMin : kMax) : sum;
    }
    static TInt64 subtract(TInt64 a, TInt64 b) {
        TInt64 difference;
        return __builtin_sub_overflow(a, b, &difference) ? (a < 0 ? kMin : kMax) : difference;
    }
    // The full-width product with its low 32 bits dropped toward zero, as if the magnitudes
    // were multiplied and the sign applied last. Worked on the product's two halves, which
    // keeps a step of a Fixed run to a few instructions.
    static TInt64 multiply(TInt64 a, TInt64 b) {
        const __int128 product = static_cast<__int128>(a) * b;
        TInt64 high = TInt64(TUint64(product >> 64));
        TUint64 low = TUint64(product);
        if (high < 0) high += __builtin_add_overflow(low, 0xFFFFFFFFu, &low);
        if (high != TInt32(high)) [[unlikely]]
            return high < 0 ? kMin : kMax;
        return TInt64((TUint64(high) << 32) | (low >> 32));
    }
    static TInt64 divide(TInt64 a, TInt64 b); // zero divisor: MathException
    static TInt64 pow(TInt64 a, TInt64 b);

    static TInt32 round(TInt64 raw);
    static TInt32 ceil(TInt64 raw);
    static TInt32 floor(TInt64 raw) { return integerPart(raw); }

    // Transcendental functions through double precision; domain errors raise MathException.
    static TInt64 sin(TInt64 a);
    static TInt64 cos(TInt64 a);
    static TInt64 tan(TInt64 a);
    static TInt64 asin(TInt64 a);
    static TInt64 acos(TInt64 a);
    static TInt64 atan(TInt64 a);
    static TInt64 sqrt(TInt64 a);
    static TInt64 log(TInt64 a);
    static TInt64 log(TInt64 value, TInt64 base);
    static TInt64 radiansToDegrees(TInt64 a);
    static TInt64 degreesToRadians(TInt64 a);

    // Decimal text; decimals = -1 writes the exact expansion, decimals >= 0 rounds half up
    // on the magnitude. Below -1: InvalidArgumentException.
    static std::string text(TInt64 raw, TInt32 decimals);
    // Parses [spaces] {+} [-] digits [. digits]; the first unit outside that grammar ends the
    // number. Raises DataFormatException when no number starts the text.
    static TInt64 parse(const TUint16* units, int count);
};
