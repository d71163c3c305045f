// The numeric native groups on a machine's operand stack: results, stack effects, messages and
// codes as applications see them.

#include "ErrorHandling.h"
#include "NumericNatives.h"

#include <gtest/gtest.h>

#include <functional>
#include <numbers>
#include <set>
#include <string>

namespace {

using Group = void (*)(VirtualMachine&, TInt32);
constexpr TInt64 kOne = ORaw::kOne;

TInt64 fixed(TInt32 integer, TUint32 fraction = 0) {
    return TInt64(TUint64(TUint32(integer)) << 32 | fraction);
}

struct Failure {
    TInt32 code;
    std::string text;
};

Failure failureOf(const std::function<void()>& action) {
    clearLastError();
    try {
        action();
    } catch (const ErrorHandlingException&) {
        return {lastErrorCode(), lastErrorText().toUtf8()};
    }
    return {0, ""};
}

class Numeric : public ::testing::Test {
protected:
    std::string text(Address box) { return vm.stringValue(box).toCAppsString().toUtf8(); }
    Address newString(const char* latin1) {
        return vm.newStringValue(OString(vm.arena(), std::string_view(latin1)));
    }
    Address newLong(TInt64 value) {
        const Address reference = vm.heap().allocate(8, 0, GC_CODE_PLAIN);
        storeInt64(vm.arena(), reference, value);
        return reference;
    }
    TInt64 longValue(Address reference) { return loadInt64(vm.arena(), reference); }
    Address newFixedCell(TInt64 value) { return newLong(value); }

    // Pushes the arguments, runs the function and checks how many slots it left.
    void run(Group group, TInt32 function, std::initializer_list<TInt32> slots, int resultSlots) {
        const TInt32 base = vm.sp;
        for (TInt32 s : slots) vm.push(s);
        group(vm, function);
        ASSERT_EQ(vm.sp, base + resultSlots) << "function " << function;
    }
    TInt64 parsed(const char* latin1) {
        run(fixedNative, 4, {TInt32(newString(latin1))}, 2);
        return popFixed(vm);
    }
    TInt64 fixedOp(TInt32 function, TInt64 a, TInt64 b) {
        run(fixedNative, function, {TInt32(a), TInt32(a >> 32), TInt32(b), TInt32(b >> 32)}, 2);
        return popFixed(vm);
    }
    TInt64 mathUnary(TInt32 function, TInt64 a) {
        run(mathNative, function, {TInt32(a), TInt32(a >> 32)}, 2);
        return popFixed(vm);
    }
    TInt32 oneSlot(Group group, TInt32 function, std::initializer_list<TInt32> slots) {
        run(group, function, slots, 1);
        return vm.pop();
    }
    Failure failure(Group group, TInt32 function, std::initializer_list<TInt32> slots) {
        return failureOf([&] {
            for (TInt32 s : slots) vm.push(s);
            group(vm, function);
        });
    }

    VirtualMachine vm;
};

#define EXPECT_FAILS(expectedCode, expectedText, actual)                                           \
    do {                                                                                           \
        const Failure failed = (actual);                                                           \
        EXPECT_EQ(failed.code, expectedCode);                                                      \
        EXPECT_EQ(failed.text, expectedText);                                                      \
    } while (0)

TEST_F(Numeric, UnknownFunctionsNameTheGroupAndPosition) {
    vm.pc = 4711;
    const struct {
        Group group;
        TInt32 function;
        const char* text;
    } cases[] = {
        {fixedNative, 0, "VMException: Fixed:4711"},
        {fixedNative, 31, "VMException: Fixed:4711"},
        {fixedNative, -128, "VMException: Fixed:4711"},
        {longNative, 4, "VMException: Long:4711"},
        {longNative, 39, "VMException: Long:4711"},
        {mathNative, 23, "VMException: Math:4711"},
        {numberNative, 0, "VMException: Number:4711"},
        {charNative, 10, "VMException: Char:4711"},
        {byteNative, 0, "VMException: Byte:4711"},
        {byteNative, 1, "VMException: Byte:4711"},
    };
    for (const auto& c : cases) EXPECT_FAILS(KErrVM, c.text, failure(c.group, c.function, {}));
}

TEST_F(Numeric, FixedArithmeticReplacesTheFirstArgument) {
    EXPECT_EQ(fixedOp(7, fixed(1, 0x80000000), fixed(2, 0x40000000)), fixed(3, 0xC0000000));
    EXPECT_EQ(fixedOp(7, ORaw::kMax, kOne), ORaw::kMax);
    EXPECT_EQ(fixedOp(9, fixed(65536), fixed(65536)), ORaw::kMax);
    EXPECT_EQ(fixedOp(10, fixed(-7), fixed(2)), fixed(-4, 0x80000000));
    EXPECT_FAILS(KErrMath, "MathException", failureOf([&] { fixedOp(10, kOne, 0); }));
    EXPECT_FAILS(KErrMath, "MathException", failureOf([&] { fixedOp(11, fixed(-8), kOne / 2); }));

    run(fixedNative, 5, {0, INT32_MIN}, 2);
    EXPECT_EQ(popFixed(vm), ORaw::kMax);
    run(fixedNative, 6, {-1, INT32_MAX}, 2);
    EXPECT_EQ(popFixed(vm), ORaw::kMin);
    run(fixedNative, 2, {-5}, 2);
    EXPECT_EQ(popFixed(vm), fixed(-5));
    run(fixedNative, 29, {}, 2);
    EXPECT_EQ(popFixed(vm), ORaw::kMin);
    run(fixedNative, 30, {}, 2);
    EXPECT_EQ(popFixed(vm), ORaw::kMax);
}

TEST_F(Numeric, FixedComparisonsAreSignedAndGiveOneOrZero) {
    const TInt64 pairs[][2] = {{-kOne, kOne}, {kOne, kOne}, {ORaw::kMax, ORaw::kMin}, {1, 2}};
    for (const auto& p : pairs) {
        const TInt64 a = p[0], b = p[1];
        const bool expected[] = {a == b, a != b, a<b, a <= b, a> b, a >= b};
        for (int f = 18; f <= 23; ++f)
            EXPECT_EQ(
                oneSlot(fixedNative, f, {TInt32(a), TInt32(a >> 32), TInt32(b), TInt32(b >> 32)}),
                expected[f - 18] ? 1 : 0)
                << a << " " << b << " function " << f;
    }
}

TEST_F(Numeric, FixedRoundingToIntegers) {
    const TInt32 minusOneAndAHalf[] = {TInt32(0x80000000), -2};
    EXPECT_EQ(oneSlot(fixedNative, 26, {minusOneAndAHalf[0], minusOneAndAHalf[1]}), -2);
    EXPECT_EQ(oneSlot(fixedNative, 27, {minusOneAndAHalf[0], minusOneAndAHalf[1]}), -1);
    EXPECT_EQ(oneSlot(fixedNative, 28, {minusOneAndAHalf[0], minusOneAndAHalf[1]}), -2);
}

TEST_F(Numeric, FixedInMemory) {
    const Address cell = newFixedCell(fixed(2, 0x80000000));
    run(fixedNative, 1, {TInt32(cell)}, 2);
    EXPECT_EQ(popFixed(vm), fixed(2, 0x80000000));
    run(fixedNative, 12, {TInt32(cell), 0, 1}, 0);
    EXPECT_EQ(longValue(cell), fixed(3, 0x80000000));
    run(fixedNative, 13, {TInt32(cell), 0, 4}, 0);
    EXPECT_EQ(longValue(cell), fixed(-1, 0x80000000));
    run(fixedNative, 14, {TInt32(cell), 0, -2}, 0);
    EXPECT_EQ(longValue(cell), fixed(1));
    run(fixedNative, 15, {TInt32(cell), 0, 4}, 0);
    EXPECT_EQ(longValue(cell), kOne / 4);
    run(fixedNative, 17, {TInt32(cell)}, 0);
    EXPECT_EQ(longValue(cell), -fixed(0, 0xC0000000));
    storeInt64(vm.arena(), cell, ORaw::kMax);
    run(fixedNative, 16, {TInt32(cell)}, 0);
    EXPECT_EQ(longValue(cell), ORaw::kMax);
    EXPECT_FAILS(KErrMath, "MathException", failure(fixedNative, 15, {TInt32(cell), 0, 0}));
    // A forged address reads arena memory, wrapping at the end of the address space.
    run(fixedNative, 1, {-2}, 2);
}

TEST_F(Numeric, FixedText) {
    const auto textOf = [&](TInt64 value, TInt32 decimals) {
        const Address cell = newFixedCell(value);
        if (decimals == -1)
            run(fixedNative, 25, {TInt32(cell)}, 1);
        else
            run(fixedNative, 24, {TInt32(cell), decimals}, 1);
        return text(Address(vm.pop()));
    };
    EXPECT_EQ(textOf(fixed(3), -1), "3.0");
    EXPECT_EQ(textOf(fixed(2, 0x80000000), 0), "3");
    EXPECT_EQ(textOf(-fixed(2, 0x80000000), 0), "-3");
    EXPECT_EQ(textOf(parsed("0.999"), 2), "1.00");
    EXPECT_EQ(textOf(ORaw::kMin, -1), "-2147483648.0");
    EXPECT_EQ(textOf(ORaw::kMax, 3), "2147483647.999");
    EXPECT_EQ(textOf(kOne / 2, 40), "0.5" + std::string(39, '0'));
    const Address cell = newFixedCell(kOne);
    EXPECT_FAILS(KErrInvalidArgument, "InvalidArgumentException",
                 failure(fixedNative, 24, {TInt32(cell), -2}));
    // Too long for any string: refused before anything is built.
    EXPECT_FAILS(KErrInvalidArgument, "InvalidArgumentException: Out of memory",
                 failure(fixedNative, 24, {TInt32(cell), INT32_MAX}));
    EXPECT_EQ(failure(fixedNative, 24, {TInt32(cell), 1500000000}).code, KErrInvalidArgument);
}

TEST_F(Numeric, FixedParse) {
    EXPECT_EQ(parsed("12.5"), fixed(12, 0x80000000));
    EXPECT_EQ(parsed("+-3"), fixed(-3));
    EXPECT_EQ(parsed(" 7abc"), fixed(7));
    EXPECT_FAILS(KErrDataFormat, "DataFormatException: ", failureOf([&] { parsed("abc"); }));
    EXPECT_FAILS(KErrDataFormat, "DataFormatException: ", failureOf([&] { parsed(""); }));
    EXPECT_FAILS(KErrNullPointer, "NullPointerException: NULL pointer",
                 failure(fixedNative, 4, {0}));
}

TEST_F(Numeric, LongArithmeticAllocatesNewLongs) {
    const Address a = newLong(-7), b = newLong(2);
    const Address quotient = Address(oneSlot(longNative, 8, {TInt32(a), TInt32(b)}));
    EXPECT_EQ(longValue(quotient), -3);
    EXPECT_EQ(longValue(Address(oneSlot(longNative, 9, {TInt32(a), TInt32(b)}))), -1);
    EXPECT_NE(quotient, a);
    EXPECT_EQ(longValue(a), -7);
    const HeapEntry& entry = vm.heap().entry(quotient - kHeaderSize);
    EXPECT_EQ(entry.gcCode, GC_CODE_PLAIN);
    EXPECT_EQ(entry.objectKind, 0);

    const auto binary = [&](TInt32 function, TInt64 x, TInt64 y) {
        return longValue(
            Address(oneSlot(longNative, function, {TInt32(newLong(x)), TInt32(newLong(y))})));
    };
    EXPECT_EQ(binary(5, INT64_MAX, 1), INT64_MIN);
    EXPECT_EQ(binary(6, INT64_MIN, 1), INT64_MAX);
    EXPECT_EQ(binary(7, INT64_MAX, 2), -2);
    EXPECT_EQ(binary(8, INT64_MIN, -1), INT64_MIN);
    EXPECT_EQ(binary(9, INT64_MIN, -1), 0);
    EXPECT_EQ(binary(9, 7, -2), 1);
    EXPECT_EQ(binary(24, 0xF0F0, 0xFF00), 0xF000);
    EXPECT_EQ(binary(25, 0xF0F0, 0xFF00), 0xFFF0);
    EXPECT_EQ(binary(26, 0xF0F0, 0xFF00), 0x0FF0);
    EXPECT_EQ(binary(27, 1, 63), INT64_MIN);
    EXPECT_EQ(binary(27, 1, 64), 1);
    EXPECT_EQ(binary(27, 3, 0x100000041), 6); // only the low word, and of it the low six bits
    EXPECT_EQ(binary(28, INT64_MIN, 63), -1);
    EXPECT_EQ(binary(28, -8, -1), -1);
    EXPECT_EQ(longValue(Address(oneSlot(longNative, 10, {TInt32(newLong(INT64_MIN))}))), INT64_MIN);
    EXPECT_EQ(longValue(Address(oneSlot(longNative, 38, {-5}))), -5);
    EXPECT_EQ(oneSlot(longNative, 37, {TInt32(newLong(0x123456789))}), 0x23456789);
    EXPECT_EQ(text(Address(oneSlot(longNative, 34, {TInt32(newLong(INT64_MIN))}))),
              "-9223372036854775808");
}

TEST_F(Numeric, LongInPlaceChangesTheFirstLong) {
    const Address target = newLong(10);
    const auto apply = [&](TInt32 function, TInt64 operand) {
        run(longNative, function, {TInt32(target), TInt32(newLong(operand))}, 0);
        return longValue(target);
    };
    EXPECT_EQ(apply(13, 5), 15);
    EXPECT_EQ(apply(14, 20), -5);
    EXPECT_EQ(apply(15, -3), 15);
    EXPECT_EQ(apply(16, 4), 3);
    EXPECT_EQ(apply(17, 2), 1);
    EXPECT_EQ(apply(29, 3), 1);
    EXPECT_EQ(apply(30, 6), 7);
    EXPECT_EQ(apply(31, 5), 2);
    EXPECT_EQ(apply(32, 62), INT64_MIN);
    EXPECT_EQ(apply(33, 62), -2);
    EXPECT_EQ(apply(2, 42), 42);
    EXPECT_EQ(apply(3, -42), -42);
    run(longNative, 11, {TInt32(target)}, 0);
    EXPECT_EQ(longValue(target), -41);
    run(longNative, 12, {TInt32(target)}, 0);
    run(longNative, 12, {TInt32(target)}, 0);
    EXPECT_EQ(longValue(target), -43);
    run(longNative, 1, {TInt32(target)}, 0);
    EXPECT_EQ(longValue(target), 0);
    run(longNative, 35, {}, 0);
    run(longNative, 36, {}, 0);
}

TEST_F(Numeric, LongComparisonsInTheirOwnOrder) {
    const TInt64 pairs[][2] = {{-1, 1}, {5, 5}, {INT64_MAX, INT64_MIN}};
    for (const auto& p : pairs) {
        const TInt64 a = p[0], b = p[1];
        const bool expected[] = {a == b, a<b, a <= b, a != b, a> b, a >= b};
        for (int f = 18; f <= 23; ++f)
            EXPECT_EQ(oneSlot(longNative, f, {TInt32(newLong(a)), TInt32(newLong(b))}),
                      expected[f - 18] ? 1 : 0)
                << a << " " << b << " function " << f;
    }
}

TEST_F(Numeric, LongFailures) {
    const TInt32 zero = TInt32(newLong(0)), one = TInt32(newLong(1));
    for (TInt32 f : {8, 9, 16, 17})
        EXPECT_FAILS(KErrDivisionByZero, "DivisionByZeroException",
                     failure(longNative, f, {one, zero}));
    const char* null = "NullPointerException: NULL pointer";
    for (TInt32 f : {1, 10, 11, 34, 37})
        EXPECT_FAILS(KErrNullPointer, null, failure(longNative, f, {0}));
    for (TInt32 f : {2, 5, 13, 18, 24, 27, 29}) {
        EXPECT_FAILS(KErrNullPointer, null, failure(longNative, f, {0, one}));
        EXPECT_FAILS(KErrNullPointer, null, failure(longNative, f, {one, 0}));
    }
    EXPECT_EQ(longValue(Address(one)), 1);
}

TEST_F(Numeric, MathFunctionsAndDomainErrors) {
    EXPECT_NEAR(double(mathUnary(1, ORaw::kPi / 2)), double(kOne), 2.0);
    EXPECT_EQ(mathUnary(2, 0), kOne);
    EXPECT_EQ(mathUnary(4, kOne), ORaw::toFixed(std::numbers::pi / 2));
    EXPECT_EQ(mathUnary(8, fixed(360)), ORaw::multiply(fixed(360), ORaw::kDegreesToRadians));
    EXPECT_EQ(mathUnary(9, fixed(9)), fixed(3));
    EXPECT_EQ(mathUnary(11, kOne), 0);
    const TInt64 quarterTurn = ORaw::toFixed(std::numbers::pi / 2);
    const std::pair<TInt32, TInt64> domainErrors[] = {
        {3, quarterTurn},    {4, kOne + 1}, {5, -kOne - 1}, {7, fixed(7)},
        {8, fixed(360) + 1}, {9, -1},       {11, 0},
    };
    for (const auto& [function, value] : domainErrors) {
        SCOPED_TRACE(function);
        EXPECT_FAILS(KErrMath, "MathException",
                     failure(mathNative, function, {TInt32(value), TInt32(value >> 32)}));
    }
    run(mathNative, 10, {0, 8, 0, 2}, 2);
    EXPECT_NEAR(double(popFixed(vm)), double(fixed(3)), 4.0);
    EXPECT_FAILS(KErrMath, "MathException", failure(mathNative, 10, {0, 8, 0, 1}));
}

TEST_F(Numeric, MathMinimumMaximumAndConstants) {
    EXPECT_EQ(oneSlot(mathNative, 14, {0x7F, 0x80}), 0x80);
    EXPECT_EQ(oneSlot(mathNative, 17, {0x7F, 0x80}), 0x7F);
    EXPECT_EQ(oneSlot(mathNative, 14, {-1, 0x1FF}), -1); // equal as bytes: the first stays
    EXPECT_EQ(oneSlot(mathNative, 15, {-3, 2}), -3);
    EXPECT_EQ(oneSlot(mathNative, 18, {-3, 2}), 2);
    run(mathNative, 16, {0, -1, 0, 1}, 2);
    EXPECT_EQ(popFixed(vm), fixed(-1));
    run(mathNative, 19, {0, -1, 0, 1}, 2);
    EXPECT_EQ(popFixed(vm), fixed(1));
    for (const auto& [function, value] :
         {std::pair{20, ORaw::kE}, {21, ORaw::kPi}, {22, TInt64(1)}}) {
        run(mathNative, function, {}, 2);
        EXPECT_EQ(popFixed(vm), value);
    }
}

TEST_F(Numeric, RandomIntegersCoverBothBoundsInEitherOrder) {
    vm.randomGenerator.seed(2024);
    MersenneTwister reference;
    reference.seed(2024);
    std::set<TInt32> seen;
    for (int i = 0; i < 500; ++i) {
        const TInt32 value = oneSlot(mathNative, 12, {5, 1});
        ASSERT_EQ(value, 1 + TInt32(reference.next32() % 5));
        seen.insert(value);
    }
    EXPECT_EQ(seen, (std::set<TInt32>{1, 2, 3, 4, 5}));
    EXPECT_EQ(oneSlot(mathNative, 12, {-9, -9}), -9);
    reference.next32();
    // The widest span, 2^32 values, is computed without overflow.
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(oneSlot(mathNative, 12, {INT32_MAX, INT32_MIN}),
                  TInt32(INT32_MIN + TInt64(reference.next32())));
}

TEST_F(Numeric, RandomFixedStaysWithinTheBounds) {
    const std::pair<TInt64, TInt64> bounds[] = {
        {fixed(3), -fixed(2)}, {0, kOne}, {ORaw::kMin, ORaw::kMax}, {ORaw::kMax, ORaw::kMin + 5}};
    for (const auto& [a, b] : bounds) {
        bool negative = false, positive = false;
        for (int i = 0; i < 200; ++i) {
            run(mathNative, 13, {TInt32(a), TInt32(a >> 32), TInt32(b), TInt32(b >> 32)}, 2);
            const TInt64 value = popFixed(vm);
            ASSERT_GE(value, std::min(a, b));
            ASSERT_LE(value, std::max(a, b));
            (value < 0 ? negative : positive) = true;
        }
        EXPECT_TRUE(positive && (negative || std::min(a, b) >= 0)) << a << " " << b;
    }
    EXPECT_TRUE(vm.randomGenerator.isSeeded());
}

TEST_F(Numeric, NumberGroup) {
    EXPECT_EQ(oneSlot(numberNative, 1, {0x80}), 128);
    EXPECT_EQ(oneSlot(numberNative, 1, {0x1FF}), 1);
    EXPECT_EQ(oneSlot(numberNative, 1, {0x105}), 0x105);
    EXPECT_EQ(oneSlot(numberNative, 2, {INT32_MIN}), INT32_MAX);
    EXPECT_EQ(oneSlot(numberNative, 2, {-5}), 5);
    const auto radix = [&](TInt32 value, TInt32 r) {
        return text(Address(oneSlot(numberNative, 3, {value, r})));
    };
    EXPECT_EQ(radix(-1, 16), "ffffffff");
    EXPECT_EQ(radix(255, 2), "11111111");
    EXPECT_EQ(radix(35, 36), "z");
    EXPECT_EQ(radix(0, 10), "0");
    EXPECT_EQ(radix(INT32_MIN, 10), "2147483648");
    EXPECT_EQ(radix(10, 1), "");
    EXPECT_EQ(radix(10, 37), "");
}

TEST_F(Numeric, CharGroupUsesQCharSemantics) {
    EXPECT_EQ(oneSlot(charNative, 1, {99, 'A'}), 'a');
    EXPECT_EQ(oneSlot(charNative, 2, {99, 0xE4}), 0xC4);
    EXPECT_EQ(oneSlot(charNative, 3, {0x10041}), 'a');
    EXPECT_EQ(oneSlot(charNative, 4, {0xDF}), 0xDF); // sharp s has no one-unit upper case
    EXPECT_EQ(oneSlot(charNative, 5, {0xE9}), 1);
    EXPECT_EQ(oneSlot(charNative, 5, {'1'}), 0);
    EXPECT_EQ(oneSlot(charNative, 6, {0x663}), 1);
    EXPECT_EQ(oneSlot(charNative, 7, {0xA0}), 1);
    EXPECT_EQ(oneSlot(charNative, 7, {'x'}), 0);
    EXPECT_EQ(text(Address(oneSlot(charNative, 8, {'Q'}))), "Q");
    EXPECT_EQ(oneSlot(charNative, 9, {0x12345}), 0x2345);
    EXPECT_EQ(oneSlot(charNative, 9, {-1}), 0xFFFF);
}

} // namespace
