// The fixed-point kernel against exact integer references, and the random generator against
// the standard library's MT19937.

#include "ORaw.h"
#include "ErrorHandling.h"
#include "MersenneTwister.h"

#include <gtest/gtest.h>

#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Wide = __int128;
constexpr TInt64 kOne = ORaw::kOne;

TInt64 fixed(TInt32 integer, TUint32 fraction = 0) {
    return TInt64(TUint64(TUint32(integer)) << 32 | fraction);
}

TInt64 clampToFixed(Wide v) {
    if (v > Wide(ORaw::kMax)) return ORaw::kMax;
    if (v < Wide(ORaw::kMin)) return ORaw::kMin;
    return TInt64(v);
}

TInt32 clampToInt(Wide v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return TInt32(v);
}

Wide floorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

Wide power10(int n) {
    Wide p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

std::string decimal(Wide v, int width = 0) {
    std::string s;
    do {
        s.insert(s.begin(), char('0' + int(v % 10)));
        v /= 10;
    } while (v != 0);
    if (int(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

// Exact text: the 32-bit fraction is fraction * 5^32 / 10^32, so its 32 digits are exact.
std::string exactText(TInt64 raw) {
    const Wide m = raw < 0 ? -Wide(raw) : Wide(raw);
    Wide fivePower32 = 1;
    for (int i = 0; i < 32; ++i) fivePower32 *= 5;
    std::string digits = decimal((m & 0xFFFFFFFF) * fivePower32, 32);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return (raw < 0 ? "-" : "") + decimal(m >> 32) + "." + digits;
}

// Round half up on the magnitude; an integer part that would pass 2147483647 shows nines.
std::string roundedText(TInt64 raw, int decimals) {
    const Wide m = raw < 0 ? -Wide(raw) : Wide(raw);
    const Wide scale = power10(decimals);
    Wide n = (m * scale + (Wide(1) << 31)) >> 32;
    if (n / scale > INT32_MAX && (m >> 32) == INT32_MAX) n = Wide(INT32_MAX) * scale + scale - 1;
    std::string text = (raw < 0 ? "-" : "") + decimal(n / scale);
    if (decimals > 0) text += "." + decimal(n % scale, decimals);
    return text;
}

std::vector<TInt64> edgeValues() {
    std::vector<TInt64> values = {0,
                                  1,
                                  -1,
                                  kOne,
                                  -kOne,
                                  kOne / 2,
                                  -kOne / 2,
                                  fixed(1, 0x80000000),
                                  fixed(-2, 0x80000000),
                                  ORaw::kMax,
                                  ORaw::kMin,
                                  ORaw::kMin + 1,
                                  ORaw::kMax - 1,
                                  fixed(INT32_MAX),
                                  fixed(INT32_MAX, 0x80000000),
                                  fixed(65536),
                                  fixed(-65536),
                                  fixed(0, 0xFFFFFFFF),
                                  fixed(-1, 1),
                                  fixed(0, 4290672328u), // 0.999
                                  ORaw::kPi,
                                  ORaw::kE};
    return values;
}

std::vector<TInt64> randomValues(int count) {
    std::mt19937_64 random(20240611);
    std::vector<TInt64> values;
    for (int i = 0; i < count; ++i) {
        TInt64 v = TInt64(random());
        // Mix full-range values with small and near-integer magnitudes.
        switch (i % 4) {
        case 1: v >>= 24; break;
        case 2: v >>= 40; break;
        case 3: v = (v >> 32) * kOne + (i % 8 == 3 ? 0 : 1); break;
        }
        values.push_back(v);
    }
    return values;
}

std::vector<TInt64> testValues() {
    std::vector<TInt64> values = edgeValues();
    for (TInt64 v : randomValues(3000)) values.push_back(v);
    return values;
}

TInt32 errorOf(void (*action)()) {
    clearLastError();
    try {
        action();
    } catch (const ErrorHandlingException&) {
        return lastErrorCode();
    }
    return 0;
}

#define EXPECT_RAISES(code, expression) EXPECT_EQ(code, errorOf([] { (void)(expression); }))

TEST(ORawArithmetic, AddSubtractMultiplyAgainstWideReference) {
    const std::vector<TInt64> values = testValues();
    std::mt19937 pick(7);
    for (size_t i = 0; i < values.size(); ++i) {
        for (int k = 0; k < 8; ++k) {
            const TInt64 a = values[i];
            const TInt64 b = values[pick() % values.size()];
            ASSERT_EQ(ORaw::add(a, b), clampToFixed(Wide(a) + b)) << a << " + " << b;
            ASSERT_EQ(ORaw::subtract(a, b), clampToFixed(Wide(a) - b)) << a << " - " << b;
            // Magnitudes truncate, so the product rounds toward zero.
            ASSERT_EQ(ORaw::multiply(a, b), clampToFixed(Wide(a) * b / (Wide(1) << 32)))
                << a << " * " << b;
        }
    }
}

TEST(ORawArithmetic, SaturatesAtTheExtremes) {
    EXPECT_EQ(ORaw::add(ORaw::kMax, kOne), ORaw::kMax);
    EXPECT_EQ(ORaw::subtract(ORaw::kMin, 1), ORaw::kMin);
    EXPECT_EQ(ORaw::subtract(0, ORaw::kMin), ORaw::kMax);
    EXPECT_EQ(ORaw::multiply(fixed(65536), fixed(65536)), ORaw::kMax);
    EXPECT_EQ(ORaw::multiply(fixed(-65536), fixed(32768)), ORaw::kMin);
    EXPECT_EQ(ORaw::multiply(fixed(-65536), fixed(65536)), ORaw::kMin);
    EXPECT_EQ(ORaw::multiply(ORaw::kMin, -kOne), ORaw::kMax);
    EXPECT_EQ(ORaw::multiply(1, 1), 0);
    EXPECT_EQ(ORaw::multiply(-1, 1), 0);
    // The product is -(2^95 + 1): just below the range, it rounds toward zero into it; its
    // negation lies just above the range and saturates.
    EXPECT_EQ(ORaw::multiply(-3011347479614249131, 13154935299), ORaw::kMin);
    EXPECT_EQ(ORaw::multiply(3011347479614249131, 13154935299), ORaw::kMax);
    EXPECT_EQ(ORaw::abs(ORaw::kMin), ORaw::kMax);
    EXPECT_EQ(ORaw::abs(-kOne), kOne);
    EXPECT_EQ(ORaw::negate(ORaw::kMin), ORaw::kMax);
    EXPECT_EQ(ORaw::negate(ORaw::kMax), ORaw::kMin);
    EXPECT_EQ(ORaw::negate(fixed(2, 5)), -fixed(2, 5));
}

TEST(ORawArithmetic, DivisionStaysWithinDoublePrecisionOfTheQuotient) {
    const std::vector<TInt64> values = testValues();
    std::mt19937 pick(11);
    for (TInt64 a : values) {
        const TInt64 b = values[pick() % values.size()];
        if (b == 0) continue;
        const Wide exact = (Wide(a) << 32) / b;
        const TInt64 result = ORaw::divide(a, b);
        if (exact >= Wide(ORaw::kMax)) {
            ASSERT_EQ(result, ORaw::kMax);
        } else if (exact <= Wide(ORaw::kMin)) {
            ASSERT_EQ(result, ORaw::kMin);
        } else {
            const Wide error = Wide(result) - exact;
            const Wide allowed = 2 + (exact < 0 ? -exact : exact) / (Wide(1) << 50);
            ASSERT_LE(error < 0 ? -error : error, allowed) << a << " / " << b;
        }
    }
    EXPECT_EQ(ORaw::divide(kOne, fixed(4)), kOne / 4);
    EXPECT_EQ(ORaw::divide(fixed(-7), fixed(2)), fixed(-4, 0x80000000));
    EXPECT_RAISES(KErrMath, ORaw::divide(kOne, 0));
    EXPECT_RAISES(KErrMath, ORaw::divide(0, 0));
}

TEST(ORawArithmetic, ToFixedTruncatesSaturatesAndRefusesNaN) {
    EXPECT_EQ(ORaw::toFixed(1.5), fixed(1, 0x80000000));
    EXPECT_EQ(ORaw::toFixed(-0.75), -fixed(0, 0xC0000000));
    EXPECT_EQ(ORaw::toFixed(0x1p-33), 0);
    EXPECT_EQ(ORaw::toFixed(-0x1p-33), 0);
    EXPECT_EQ(ORaw::toFixed(2147483648.0), ORaw::kMax);
    EXPECT_EQ(ORaw::toFixed(2147483647.75), fixed(INT32_MAX, 0xC0000000));
    EXPECT_EQ(ORaw::toFixed(-2147483648.0), ORaw::kMin);
    EXPECT_EQ(ORaw::toFixed(1e300), ORaw::kMax);
    EXPECT_EQ(ORaw::toFixed(-1.0 / 0.0), ORaw::kMin);
    EXPECT_RAISES(KErrMath, ORaw::toFixed(0.0 / 0.0));
}

TEST(ORawPower, FollowsTheSignAndDomainRules) {
    for (TInt64 a : {TInt64(0), kOne, -kOne, ORaw::kMin, ORaw::kMax})
        EXPECT_EQ(ORaw::pow(a, 0), kOne);
    EXPECT_EQ(ORaw::pow(0, fixed(2)), 0);
    EXPECT_RAISES(KErrMath, ORaw::pow(0, -kOne));
    EXPECT_RAISES(KErrMath, ORaw::pow(fixed(-8), kOne / 2));
    EXPECT_EQ(ORaw::pow(fixed(-2), fixed(3)), fixed(-8));
    EXPECT_EQ(ORaw::pow(fixed(-2), fixed(2)), fixed(4));
    EXPECT_EQ(ORaw::pow(fixed(-2), -kOne), -kOne / 2);
    EXPECT_EQ(ORaw::pow(fixed(2), fixed(10)), fixed(1024));
    EXPECT_EQ(ORaw::pow(fixed(4), kOne / 2), fixed(2));
    EXPECT_EQ(ORaw::pow(fixed(2), fixed(-2)), kOne / 4);
    EXPECT_EQ(ORaw::pow(ORaw::kMin, kOne), ORaw::kMin);
}

TEST(ORawPower, SaturatesOnOverflowAndGivesZeroOnUnderflow) {
    EXPECT_EQ(ORaw::pow(fixed(2), fixed(31)), ORaw::kMax);
    EXPECT_EQ(ORaw::pow(fixed(-2), fixed(31)), ORaw::kMin);
    EXPECT_EQ(ORaw::pow(fixed(-2), fixed(32)), ORaw::kMax);
    EXPECT_EQ(ORaw::pow(fixed(-2), fixed(33)), ORaw::kMin);
    // 2^-32 to the 2147483647th power is far below the smallest double.
    EXPECT_EQ(ORaw::pow(ORaw::kEpsilon, fixed(INT32_MAX)), 0);
    EXPECT_EQ(ORaw::pow(-ORaw::kEpsilon, fixed(INT32_MAX)), 0);
    EXPECT_EQ(ORaw::pow(ORaw::kEpsilon, fixed(-INT32_MAX)), ORaw::kMax);
    EXPECT_EQ(ORaw::pow(-ORaw::kEpsilon, fixed(-INT32_MAX)), ORaw::kMin);
}

TEST(ORawText, ExactExpansionAgainstDecimalReference) {
    for (TInt64 raw : testValues()) {
        ASSERT_EQ(ORaw::text(raw, -1), exactText(raw)) << raw;
        const std::string exact = exactText(raw);
        const size_t shown = exact.size() - exact.find('.') - 1;
        ASSERT_EQ(ORaw::text(raw, 32), exact + std::string(32 - shown, '0')) << raw;
    }
    EXPECT_EQ(ORaw::text(fixed(3), -1), "3.0");
    EXPECT_EQ(ORaw::text(0, -1), "0.0");
    EXPECT_EQ(ORaw::text(ORaw::kEpsilon, -1), "0.00000000023283064365386962890625");
    EXPECT_EQ(ORaw::text(ORaw::kMin, -1), "-2147483648.0");
    EXPECT_EQ(ORaw::text(ORaw::kMax, -1), "2147483647.99999999976716935634613037109375");
    EXPECT_EQ(ORaw::text(fixed(1), 36), "1." + std::string(36, '0'));
}

TEST(ORawText, RoundedDigitsAgainstDecimalReference) {
    for (TInt64 raw : testValues())
        for (int decimals : {0, 1, 2, 3, 5, 9, 10, 15, 19})
            ASSERT_EQ(ORaw::text(raw, decimals), roundedText(raw, decimals))
                << raw << " " << decimals;
    EXPECT_EQ(ORaw::text(fixed(2, 0x80000000), 0), "3");
    EXPECT_EQ(ORaw::text(-fixed(2, 0x80000000), 0), "-3");
    EXPECT_EQ(ORaw::text(fixed(0, 4290672328u), 2), "1.00");
    EXPECT_EQ(ORaw::text(fixed(9, 4290672328u), 2), "10.00");
    EXPECT_EQ(ORaw::text(ORaw::kMax, 2), "2147483647.99");
    EXPECT_EQ(ORaw::text(ORaw::kMax, 0), "2147483647");
    EXPECT_EQ(ORaw::text(fixed(INT32_MAX, 0x80000000), 0), "2147483647");
    EXPECT_EQ(ORaw::text(ORaw::kMin, 1), "-2147483648.0");
    EXPECT_RAISES(KErrInvalidArgument, ORaw::text(kOne, -2));
}

TInt64 parse(const std::u16string& text) {
    return ORaw::parse(reinterpret_cast<const TUint16*>(text.data()), int(text.size()));
}

TInt32 parseError(const std::u16string& text) {
    clearLastError();
    try {
        parse(text);
    } catch (const ErrorHandlingException&) {
        return lastErrorCode();
    }
    return 0;
}

// The fraction keeps the longest digit prefix whose value fits in 32 bits.
TInt64 parsedReference(bool negative, TUint64 integer, const std::string& fraction) {
    if (integer > INT32_MAX) return negative ? ORaw::kMin : ORaw::kMax;
    Wide value = 0;
    size_t used = 0;
    while (used < fraction.size() && value * 10 + (fraction[used] - '0') <= 0xFFFFFFFF)
        value = value * 10 + (fraction[used++] - '0');
    const Wide raw = (Wide(integer) << 32) + (value << 32) / power10(int(used));
    return TInt64(negative ? -raw : raw);
}

TEST(ORawParse, RandomNumbersAgainstRationalReference) {
    std::mt19937_64 random(99);
    for (int i = 0; i < 4000; ++i) {
        const bool negative = random() % 2;
        const TUint64 integer = i % 10 == 0 ? random() % 10000000000ull : random() % 2147483648ull;
        std::string fraction;
        for (int n = int(random() % 13); n > 0; --n) fraction += char('0' + random() % 10);
        std::string text = std::string(random() % 3, ' ') + std::string(random() % 3, '+') +
                           (negative ? "-" : "") + std::to_string(integer);
        if (!fraction.empty()) text += "." + fraction;
        if (i % 3 == 0) text += "x1.5";
        ASSERT_EQ(parse(std::u16string(text.begin(), text.end())),
                  parsedReference(negative, integer, fraction))
            << text;
    }
}

TEST(ORawParse, GrammarEdges) {
    EXPECT_EQ(parse(u"12.5"), fixed(12, 0x80000000));
    EXPECT_EQ(parse(u"+-3"), fixed(-3));
    EXPECT_EQ(parse(u"++7.25xyz"), fixed(7, 0x40000000));
    EXPECT_EQ(parse(u"\u00A0\t 5"), fixed(5));
    EXPECT_EQ(parse(u"2147483647.9999999999"),
              fixed(INT32_MAX, TUint32((Wide(999999999) << 32) / 1000000000)));
    EXPECT_EQ(parse(u"2147483648"), ORaw::kMax);
    EXPECT_EQ(parse(u"-2147483648.5"), ORaw::kMin);
    EXPECT_EQ(parse(u"-0.5"), -kOne / 2);
    EXPECT_EQ(parse(u"3.5.5"), fixed(3, 0x80000000));
    EXPECT_EQ(parse(u"0.0000000004294967295"), 1);
    EXPECT_EQ(parse(u"0.00000000004294967295"), 0);
    EXPECT_EQ(parse(u"0." + std::u16string(5000, u'0') + u"1"), 0);
    for (const char16_t* bad :
         {u"", u"   ", u"abc", u"+", u"-", u"+ 1", u"-+3", u".5", u"3.", u"3.x", u"--1"})
        EXPECT_EQ(parseError(bad), KErrDataFormat)
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
}

TEST(ORawFunctions, DomainChecks) {
    EXPECT_EQ(ORaw::sin(0), 0);
    EXPECT_EQ(ORaw::cos(0), kOne);
    EXPECT_NEAR(double(ORaw::sin(ORaw::kPi / 2)), double(kOne), 2.0);
    EXPECT_EQ(ORaw::sqrt(fixed(4)), fixed(2));
    EXPECT_RAISES(KErrMath, ORaw::sqrt(-1));
    EXPECT_EQ(ORaw::asin(kOne), ORaw::toFixed(std::numbers::pi / 2));
    EXPECT_EQ(ORaw::acos(-kOne), ORaw::toFixed(std::numbers::pi));
    EXPECT_RAISES(KErrMath, ORaw::asin(kOne + 1));
    EXPECT_RAISES(KErrMath, ORaw::acos(-kOne - 1));
    EXPECT_EQ(ORaw::log(kOne), 0);
    EXPECT_RAISES(KErrMath, ORaw::log(0));
    EXPECT_RAISES(KErrMath, ORaw::log(-kOne));
    EXPECT_EQ(ORaw::log(fixed(5), fixed(5)), kOne);
    EXPECT_NEAR(double(ORaw::log(fixed(8), fixed(2))), double(fixed(3)), 4.0);
    EXPECT_RAISES(KErrMath, ORaw::log(fixed(8), 0));
    EXPECT_RAISES(KErrMath, ORaw::log(fixed(8), kOne));
    EXPECT_RAISES(KErrMath, ORaw::log(fixed(8), -kOne));
    EXPECT_RAISES(KErrMath, ORaw::log(fixed(-8), fixed(2)));
    // ln(1 + 2^-32) truncates to 0, which is then a zero divisor.
    EXPECT_RAISES(KErrMath, ORaw::log(fixed(2), kOne + 1));
}

TEST(ORawFunctions, TangentRaisesExactlyWhenItSaturates) {
    EXPECT_EQ(ORaw::tan(0), 0);
    const TInt64 quarterTurn = ORaw::toFixed(std::numbers::pi / 2);
    int raised = 0;
    for (TInt64 x = quarterTurn - 4; x <= quarterTurn + 4; ++x) {
        const double t = std::tan(ORaw::toReal(x));
        const bool saturates = t >= 2147483648.0 || t <= -2147483648.0;
        clearLastError();
        try {
            ASSERT_FALSE(saturates) << ORaw::tan(x);
        } catch (const ErrorHandlingException&) {
            ASSERT_TRUE(saturates);
            ASSERT_EQ(lastErrorCode(), KErrMath);
            ++raised;
        }
    }
    EXPECT_GT(raised, 0);
}

TEST(ORawFunctions, AngleConversionLimits) {
    const TInt64 limit = ORaw::kTwoPiLimit;
    EXPECT_NEAR(double(ORaw::radiansToDegrees(ORaw::kPi)), double(fixed(180)), 256.0);
    EXPECT_EQ(ORaw::radiansToDegrees(-ORaw::kPi), -ORaw::radiansToDegrees(ORaw::kPi));
    const TInt64 fullTurn = ORaw::radiansToDegrees(limit - 1);
    EXPECT_EQ(ORaw::radiansToDegrees(limit), fullTurn);
    EXPECT_EQ(ORaw::radiansToDegrees(-(limit | 0xFFFF)), -fullTurn);
    EXPECT_RAISES(KErrMath, ORaw::radiansToDegrees((limit | 0xFFFF) + 1));
    EXPECT_RAISES(KErrMath, ORaw::radiansToDegrees(fixed(7)));
    EXPECT_RAISES(KErrMath, ORaw::radiansToDegrees(ORaw::kMin));
    EXPECT_EQ(ORaw::degreesToRadians(fixed(180)),
              ORaw::multiply(fixed(180), ORaw::kDegreesToRadians));
    EXPECT_EQ(ORaw::degreesToRadians(fixed(-360)), -ORaw::degreesToRadians(fixed(360)));
    EXPECT_RAISES(KErrMath, ORaw::degreesToRadians(fixed(360) + 1));
    EXPECT_RAISES(KErrMath, ORaw::degreesToRadians(ORaw::kMin));
}

TUint32 powerMod32(TUint32 base, int exponent) {
    TUint32 result = 1;
    for (; exponent > 0; exponent >>= 1, base *= base)
        if (exponent & 1) result *= base;
    return result;
}

TEST(MersenneTwister, MatchesTheStandardEngineFromTheSameState) {
    for (TUint32 seed : {1u, 4357u, 123456789u, 0xFFFFFFFFu}) {
        MersenneTwister twister;
        EXPECT_FALSE(twister.isSeeded());
        twister.seed(seed);
        EXPECT_TRUE(twister.isSeeded());
        std::stringstream state;
        for (int i = 0; i < MersenneTwister::kStateSize; ++i) {
            ASSERT_EQ(twister.stateWord(i), seed * powerMod32(69069, i));
            state << twister.stateWord(i) << ' ';
        }
        state << MersenneTwister::kStateSize; // libstdc++ also reads the position in the state
        std::mt19937 reference;
        state >> reference;
        ASSERT_FALSE(state.fail());
        for (int i = 0; i < 3 * MersenneTwister::kStateSize + 5; ++i)
            ASSERT_EQ(twister.next32(), reference()) << "seed " << seed << " draw " << i;
    }
}

TEST(ORawRounding, RoundCeilFloorAgainstRationalReference) {
    for (TInt64 raw : testValues()) {
        const Wide floor = floorDiv(raw, Wide(1) << 32);
        const Wide m = raw < 0 ? -Wide(raw) : Wide(raw);
        const Wide awayFromZero = (m + (Wide(1) << 31)) >> 32;
        ASSERT_EQ(ORaw::floor(raw), TInt32(floor)) << raw;
        ASSERT_EQ(ORaw::ceil(raw), clampToInt(-floorDiv(-Wide(raw), Wide(1) << 32))) << raw;
        ASSERT_EQ(ORaw::round(raw), clampToInt(raw < 0 ? -awayFromZero : awayFromZero)) << raw;
    }
    EXPECT_EQ(ORaw::round(kOne / 2), 1);
    EXPECT_EQ(ORaw::round(fixed(1, 0x80000000)), 2);
    EXPECT_EQ(ORaw::round(-kOne / 2), -1);
    EXPECT_EQ(ORaw::round(-kOne / 4), 0);
    EXPECT_EQ(ORaw::round(ORaw::kMax), INT32_MAX);
    EXPECT_EQ(ORaw::ceil(ORaw::kMax), INT32_MAX);
    EXPECT_EQ(ORaw::round(fixed(INT32_MIN, 0xC0000000)), -2147483647);
    EXPECT_EQ(ORaw::round(ORaw::kMin), INT32_MIN);
}

} // namespace
