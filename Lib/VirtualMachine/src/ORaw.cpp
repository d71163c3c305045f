#include "ORaw.h"

#include "ErrorHandling.h"
#include "UnicodeUnits.h"

#include <cmath>

namespace {

TReal magnitudeAsReal(TInt64 a) {
    return TReal(ORaw::magnitude(a)) / 4294967296.0;
}
TInt64 withSign(TUint64 magnitude, bool negative) {
    return negative ? TInt64(0 - magnitude) : TInt64(magnitude);
}

bool isDigit(TUint16 unit) {
    return unit >= '0' && unit <= '9';
}

// One more decimal digit of a 32-bit binary fraction: the carry of fraction * 10.
char nextDigit(TUint32& fraction) {
    const TUint64 product = TUint64(fraction) * 10;
    fraction = TUint32(product);
    return char('0' + (product >> 32));
}

// Carries a round-up through the digits into the integer part. The largest integer part
// cannot grow, so it keeps its value and shows the largest fraction instead.
void roundUp(std::string& digits, TUint64& integer) {
    int i = int(digits.size()) - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
        ++digits[i];
    } else if (integer == TUint64(INT32_MAX)) {
        digits.assign(digits.size(), '9');
    } else {
        ++integer;
    }
}

// decimal / 10^digits as a 32-bit binary fraction, truncated.
TUint64 binaryFraction(TUint64 decimal, int digits) {
    // decimal < 2^32, so from 10^20 > 2^64 on the quotient is below one ulp.
    if (digits > 19) return 0;
    TUint64 scale = 1;
    for (int i = 0; i < digits; ++i) scale *= 10;
    return (decimal << 32) / scale;
}

TInt64 checkedDomain(bool inside, TInt64 result) {
    if (!inside) raise(KErrMath);
    return result;
}

} // namespace

TInt64 ORaw::toFixed(TReal x) {
    if (std::isnan(x)) raise(KErrMath);
    if (x >= 2147483648.0) return kMax;
    if (x <= -2147483648.0) return kMin;
    return TInt64(x * 4294967296.0);
}

TInt64 ORaw::divide(TInt64 a, TInt64 b) {
    if (b == 0) raise(KErrMath);
    return toFixed(TReal(a) / TReal(b));
}

TInt64 ORaw::pow(TInt64 a, TInt64 b) {
    if (b == 0) return kOne;
    if (a == 0) return checkedDomain(b > 0, 0);
    bool negative = false;
    if (a < 0) {
        if (fraction(b) != 0) raise(KErrMath);
        negative = (integerPart(b) & 1) != 0;
    }
    TReal r = std::pow(magnitudeAsReal(a), magnitudeAsReal(b));
    if (std::isnan(r)) {
        if (b < 0) return 0;
        return negative ? kMin : kMax;
    }
    // A power that underflows to 0 is a result too small to hold, not a failure: it gives 0,
    // or saturates through 1/r for a negative exponent.
    if (b < 0) r = 1.0 / r;
    return toFixed(negative ? -r : r);
}

TInt32 ORaw::round(TInt64 raw) {
    const TInt32 integer = integerPart(raw);
    if (integer == INT32_MAX) return integer;
    const TUint32 half = 0x80000000u;
    const bool up = raw >= 0 ? fraction(raw) >= half : fraction(raw) > half;
    return up ? integer + 1 : integer;
}

TInt32 ORaw::ceil(TInt64 raw) {
    const TInt32 integer = integerPart(raw);
    return fraction(raw) != 0 && integer < INT32_MAX ? integer + 1 : integer;
}

TInt64 ORaw::sin(TInt64 a) {
    return toFixed(std::sin(toReal(a)));
}
TInt64 ORaw::cos(TInt64 a) {
    return toFixed(std::cos(toReal(a)));
}
TInt64 ORaw::atan(TInt64 a) {
    return toFixed(std::atan(toReal(a)));
}

TInt64 ORaw::tan(TInt64 a) {
    const TInt64 result = toFixed(std::tan(toReal(a)));
    return checkedDomain(result != kMin && result != kMax, result);
}

TInt64 ORaw::asin(TInt64 a) {
    return checkedDomain(a >= -kOne && a <= kOne, toFixed(std::asin(toReal(a))));
}

TInt64 ORaw::acos(TInt64 a) {
    return checkedDomain(a >= -kOne && a <= kOne, toFixed(std::acos(toReal(a))));
}

TInt64 ORaw::sqrt(TInt64 a) {
    if (a < 0) raise(KErrMath);
    return toFixed(std::sqrt(toReal(a)));
}

TInt64 ORaw::log(TInt64 a) {
    if (a <= 0) raise(KErrMath);
    return toFixed(std::log(toReal(a)));
}

TInt64 ORaw::log(TInt64 value, TInt64 base) {
    if (base == 0 || base == kOne || base == -kOne) raise(KErrMath);
    if (value == base) return kOne;
    return divide(log(value), log(base));
}

TInt64 ORaw::radiansToDegrees(TInt64 a) {
    TUint64 m = ORaw::magnitude(a);
    if (m >= TUint64(kTwoPiLimit)) {
        // Magnitudes that pass the limit only below 2^-16 are taken as a full turn.
        if ((m & ~TUint64(0xFFFF)) >= TUint64(kTwoPiLimit)) raise(KErrMath);
        m = TUint64(kTwoPiLimit - 1);
    }
    const TInt64 degrees = multiply(TInt64(m), kRadiansToDegrees);
    return a < 0 ? -degrees : degrees;
}

TInt64 ORaw::degreesToRadians(TInt64 a) {
    const TUint64 m = ORaw::magnitude(a);
    if (m > TUint64(fromInt(360))) raise(KErrMath);
    const TInt64 radians = multiply(TInt64(m), kDegreesToRadians);
    return a < 0 ? -radians : radians;
}

std::string ORaw::text(TInt64 raw, TInt32 decimals) {
    if (decimals < -1) raise(KErrInvalidArgument);
    // The magnitude as unsigned, so the minimum prints as itself.
    const TUint64 m = ORaw::magnitude(raw);
    TUint64 integer = m >> 32;
    TUint32 rest = TUint32(m);
    std::string digits;
    if (decimals < 0) {
        do digits += nextDigit(rest);
        while (rest != 0);
    } else {
        const int exact = decimals < kExactDigits ? decimals : kExactDigits;
        while (int(digits.size()) < exact) digits += nextDigit(rest);
        if (rest != 0 && nextDigit(rest) >= '5') roundUp(digits, integer);
        digits.append(std::string::size_type(decimals - exact), '0');
    }
    std::string out = raw < 0 ? "-" : "";
    out += std::to_string(integer);
    if (!digits.empty()) out.append(".").append(digits);
    return out;
}

TInt64 ORaw::parse(const TUint16* units, int count) {
    int i = 0;
    while (i < count && UnicodeUnits::isSpace(units[i])) ++i;
    while (i < count && units[i] == '+') ++i;
    const bool negative = i < count && units[i] == '-';
    if (negative) ++i;
    if (i == count || !isDigit(units[i])) raise(KErrDataFormat);
    TUint64 integer = 0;
    for (; i < count && isDigit(units[i]); ++i) {
        integer = integer * 10 + (units[i] - '0');
        if (integer > TUint64(INT32_MAX)) return negative ? kMin : kMax;
    }
    TUint64 binary = 0;
    if (i < count && units[i] == '.') {
        ++i;
        if (i == count || !isDigit(units[i])) raise(KErrDataFormat);
        TUint64 decimal = 0;
        int used = 0;
        for (; i < count && isDigit(units[i]); ++i, ++used) {
            const TUint64 next = decimal * 10 + (units[i] - '0');
            if (next > UINT32_MAX) break;
            decimal = next;
        }
        binary = binaryFraction(decimal, used);
    }
    return withSign((integer << 32) | binary, negative);
}
