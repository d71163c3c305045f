#include "VectorNatives.h"
#include "VectorObject.h"
#include "VirtualMachine.h"
#include "WrapperUtilities.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Raised {
    TInt32 code;
    std::string text;
};

template <class Call> Raised raised(Call&& call) {
    clearLastError();
    try {
        call();
    } catch (const ErrorHandlingException&) {
        return {lastErrorCode(), lastErrorText().toLatin1()};
    }
    return {0, ""};
}

using Words = std::vector<TInt32>;

// Groups: 1 bytes, 3..6 one to four words, 7 references.
TInt32 bytesOf(TInt32 group) {
    return group == 1 ? 1 : group == 7 ? 4 : 4 * (group - 2);
}

class VectorTest : public ::testing::Test {
protected:
    // A vector value of the group holding values: one per byte element, or the words of all
    // elements one after another.
    Address vector(TInt32 group, const Words& values) {
        const TInt32 bytes = bytesOf(group);
        const TInt32 slots = bytes == 1 ? 1 : bytes / 4;
        OVector v = OVector::create(vm.heap(), bytes, 0);
        for (size_t i = 0; i < values.size(); i += slots) {
            TUint8 element[16];
            for (TInt32 s = 0; s < slots; ++s) {
                if (bytes == 1)
                    element[0] = TUint8(values[i]);
                else
                    std::memcpy(element + 4 * s, &values[i + s], 4);
            }
            v.append(element);
        }
        return v.newHolder(group == 7);
    }
    Words contents(TInt32 group, Address value) {
        const OVector v = OVector::ofValue(vm.heap(), value, bytesOf(group));
        Words words;
        const TInt32 bytes = bytesOf(group);
        for (TInt32 i = 0; i < v.count(); ++i) {
            if (bytes == 1) {
                words.push_back(v.byteAt(i));
                continue;
            }
            for (TInt32 s = 0; s < bytes / 4; ++s)
                words.push_back(vm.arena().int32(v.elementAddress(i) + 4 * s));
        }
        return words;
    }
    OVector view(TInt32 group, Address value) {
        return OVector::ofValue(vm.heap(), value, bytesOf(group));
    }
    // Runs a function on the arguments; returns the slots left above the starting point.
    Words call(TInt32 group, TInt32 function, const Words& arguments) {
        vm.sp = 0;
        for (TInt32 a : arguments) vm.push(a);
        vectorNative(vm, function, bytesOf(group), group != 7);
        Words left;
        for (TInt32 i = 1; i <= vm.sp; ++i) left.push_back(vm.slot(i));
        return left;
    }
    Raised failure(TInt32 group, TInt32 function, const Words& arguments) {
        return raised([&] { call(group, function, arguments); });
    }
    Address box() { return vm.heap().allocate(4, 0, GC_CODE_VECTOR_HOLDER); }
    static TInt32 ref(Address a) { return TInt32(a); }

    VirtualMachine vm;
};

TEST(RangeCheck, NormalisesToTheEndAndReportsEachCase) {
    TInt32 count = -1;
    checkRange(0, 10, 4, count);
    EXPECT_EQ(count, 6);
    count = -1;
    checkRange(0, 10, 10, count);
    EXPECT_EQ(count, 0);

    auto check = [](TInt32 lower, TInt32 size, TInt32 first, TInt32 count) {
        return raised([&] { checkRange(lower, size, first, count); });
    };
    const std::string prefix = "RangeException: Invalid Range, ";
    EXPECT_EQ(check(0, 5, -2, 0).text, prefix + "first should be non-negative (first=-2)");
    EXPECT_EQ(check(2, 5, 1, -1).text, prefix + "first should not be less than 2, first = 1");
    EXPECT_EQ(check(2, 5, 8, -1).text, prefix + "first should not be more than 7, first = 8");
    EXPECT_EQ(check(2, 5, 1, 3).text, prefix + "first should not be less than2, first =  1");
    EXPECT_EQ(check(0, 5, 3, 4).text, prefix + "range out of bounds: 7 > 5");
    EXPECT_EQ(check(0, 5, 3, 4).code, KErrRange);
    // Sums that would wrap in 32 bits are still out of bounds.
    EXPECT_EQ(check(0, 5, 3, 0x7FFFFFFF).text, prefix + "range out of bounds: 2147483650 > 5");
    EXPECT_EQ(check(0, 5, 0, 5).code, 0);
    EXPECT_EQ(check(0, 5, 9, 0).code, 0);
}

TEST_F(VectorTest, AppendingGrowsByTheCapacityPolicy) {
    const Address v = vector(3, {});
    Address firstBuffer = 0;
    for (TInt32 i = 0; i < 11; ++i) {
        call(3, 19, {ref(v), i * 7});
        if (i == 0) firstBuffer = view(3, v).elements();
        if (i < 10) {
            EXPECT_EQ(view(3, v).capacity(), 10);
            EXPECT_EQ(view(3, v).elements(), firstBuffer);
        }
    }
    EXPECT_EQ(view(3, v).capacity(), 13);
    EXPECT_NE(view(3, v).elements(), firstBuffer);
    EXPECT_EQ(contents(3, v), (Words{0, 7, 14, 21, 28, 35, 42, 49, 56, 63, 70}));
    EXPECT_EQ(vm.heap().entry(firstBuffer - kHeaderSize).gcCode, GC_CODE_FREE);
}

TEST_F(VectorTest, RemovingShrinksAtHalfAndEmptyVectorsKeepNoBuffer) {
    Words values(20);
    for (TInt32 i = 0; i < 20; ++i) values[i] = i;
    const Address v = vector(3, {});
    for (TInt32 x : values) call(3, 19, {ref(v), x});
    EXPECT_EQ(view(3, v).capacity(), 20);
    call(3, 24, {ref(v), 9}); // 11 left, above half
    EXPECT_EQ(view(3, v).capacity(), 20);
    call(3, 23, {ref(v), 1}); // 10 left: half
    EXPECT_EQ(view(3, v).capacity(), 12);
    EXPECT_EQ(contents(3, v), (Words{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    call(3, 25, {ref(v)});
    EXPECT_EQ(view(3, v).elements(), 0u);
    EXPECT_EQ(view(3, v).capacity(), 0);
    // The collector skips the buffer of an empty vector; the vector must not rely on one.
    vm.heap().pin(v);
    vm.heap().collect();
    call(3, 19, {ref(v), 5});
    Address filler = vm.heap().allocate(40, 0, GC_CODE_PLAIN);
    vm.arena().setWord(filler, 99);
    EXPECT_EQ(contents(3, v), Words{5});
}

TEST_F(VectorTest, ElementAccessByGroup) {
    const Address ints = vector(3, {10, 20, 30});
    // 8 on primitive vectors leaves the vector below the element.
    EXPECT_EQ(call(3, 8, {ref(ints), 1}), (Words{ref(ints), 20}));
    EXPECT_EQ(call(3, 9, {ref(ints)}), Words{10});
    EXPECT_EQ(call(3, 10, {ref(ints)}), Words{30});
    EXPECT_EQ(call(3, 11, {ref(ints)}), Words{3});
    EXPECT_EQ(call(3, 12, {ref(ints)}), Words{0});
    EXPECT_EQ(call(3, 6, {ref(ints), 2}), Words{ref(view(3, ints).elementAddress(2))});

    const Address pairs = vector(4, {1, 2, 3, 4});
    EXPECT_EQ(call(4, 8, {ref(pairs), 1}), (Words{ref(pairs), 3, 4}));
    EXPECT_EQ(call(4, 10, {ref(pairs)}), (Words{3, 4}));
    const Address quads = vector(6, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(call(6, 9, {ref(quads)}), (Words{1, 2, 3, 4}));

    // 8 on reference vectors replaces the vector; 6 gives the element, 7 its address.
    const Address refs = vector(7, {111, 222});
    EXPECT_EQ(call(7, 8, {ref(refs), 1}), Words{222});
    EXPECT_EQ(call(7, 6, {ref(refs), 0}), Words{111});
    EXPECT_EQ(call(7, 7, {ref(refs), 1}), Words{ref(view(7, refs).elementAddress(1))});

    // Byte elements keep the low 8 bits and read back sign-extended.
    const Address bytes = vector(1, {});
    call(1, 19, {ref(bytes), 0x1FF});
    call(1, 19, {ref(bytes), 0x41});
    EXPECT_EQ(call(1, 8, {ref(bytes), 0}), (Words{ref(bytes), -1}));
    EXPECT_EQ(view(1, bytes).capacity(), 10);
    EXPECT_EQ(vm.heap().entry(view(1, bytes).elements() - kHeaderSize).actualSize, 12u);

    const Address empty = vector(3, {});
    EXPECT_EQ(call(3, 12, {ref(empty)}), Words{1});
    EXPECT_EQ(failure(3, 9, {ref(empty)}).code, KErrIndexOutOfBounds);
    EXPECT_EQ(failure(3, 10, {ref(empty)}).code, KErrIndexOutOfBounds);
    EXPECT_EQ(failure(3, 8, {ref(ints), 3}).code, KErrIndexOutOfBounds);
    EXPECT_EQ(failure(3, 6, {ref(ints), -1}).code, KErrIndexOutOfBounds);
}

TEST_F(VectorTest, StoringOperationsReplaceTheBoxedVector) {
    const Address w = vector(3, {0, 1, 2, 3, 4});
    const Address b = box();
    call(3, 2, {ref(b), ref(w)});
    EXPECT_EQ(contents(3, b), (Words{0, 1, 2, 3, 4}));
    EXPECT_NE(vm.arena().word(b), vm.arena().word(w));

    call(3, 5, {ref(b), ref(w), 2});
    EXPECT_EQ(contents(3, b), (Words{0, 2, 4}));
    call(3, 5, {ref(b), ref(w), 1});
    EXPECT_EQ(contents(3, b), (Words{0, 1, 2, 3, 4}));
    EXPECT_EQ(failure(3, 5, {ref(b), ref(w), 0}).code, KErrInvalidArgument);

    call(4, 3, {ref(b), 7, 8, 3});
    EXPECT_EQ(contents(4, b), (Words{7, 8, 7, 8, 7, 8}));
    call(4, 3, {ref(b), 7, 8, 0});
    EXPECT_EQ(contents(4, b), Words{});
    EXPECT_EQ(failure(4, 3, {ref(b), 7, 8, -1}).code, KErrInvalidArgument);

    call(3, 28, {ref(b), ref(w), 1, 3});
    EXPECT_EQ(contents(3, b), (Words{1, 2, 3}));
    call(3, 28, {ref(b), ref(w), 3, -1});
    EXPECT_EQ(contents(3, b), (Words{3, 4}));
    call(3, 28, {ref(b), ref(w), 4, 5});
    EXPECT_EQ(contents(3, b), Words{});
    EXPECT_EQ(failure(3, 28, {ref(b), ref(w), -1, 1}).text, "RangeException");

    call(5, 29, {ref(b), 1, 2, 3});
    EXPECT_EQ(contents(5, b), (Words{1, 2, 3}));
    EXPECT_EQ(call(3, 4, {}), Words{});
}

TEST_F(VectorTest, InsertionsIncludingAVectorIntoItself) {
    const Address v = vector(3, {1, 2, 3});
    const Address w = vector(3, {8, 9});
    call(3, 13, {ref(v), ref(w), 1});
    EXPECT_EQ(contents(3, v), (Words{1, 8, 9, 2, 3}));
    call(3, 14, {ref(v), ref(w), 1, -1, 5});
    EXPECT_EQ(contents(3, v), (Words{1, 8, 9, 2, 3, 9}));
    call(3, 15, {ref(v), 0, 6});
    call(3, 17, {ref(v), -1});
    EXPECT_EQ(contents(3, v), (Words{-1, 1, 8, 9, 2, 3, 9, 0}));
    EXPECT_EQ(failure(3, 15, {ref(v), 0, 9}).code, KErrIndexOutOfBounds);
    EXPECT_EQ(failure(3, 13, {ref(v), ref(w), -1}).code, KErrIndexOutOfBounds);

    const Address s = vector(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    call(3, 13, {ref(s), ref(s), 4}); // grows past the capacity while reading itself
    EXPECT_EQ(contents(3, s), (Words{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 5, 6, 7, 8, 9}));
    const Address t = vector(3, {1, 2});
    call(3, 16, {ref(t), ref(t)}); // in place
    call(3, 18, {ref(t), ref(t)});
    EXPECT_EQ(contents(3, t), (Words{1, 2, 1, 2, 1, 2, 1, 2}));
}

TEST_F(VectorTest, RepetitionAndRemovals) {
    const Address v = vector(1, {1, 2});
    call(1, 20, {ref(v), 3});
    EXPECT_EQ(contents(1, v), (Words{1, 2, 1, 2, 1, 2}));
    call(1, 20, {ref(v), 1});
    EXPECT_EQ(contents(1, v).size(), 6u);
    EXPECT_EQ(failure(1, 20, {ref(v), -1}).code, KErrInvalidArgument);
    call(1, 21, {ref(v), 1});
    EXPECT_EQ(contents(1, v), (Words{1, 1, 2, 1, 2}));
    EXPECT_EQ(failure(1, 21, {ref(v), 5}).code, KErrIndexOutOfBounds);
    call(1, 22, {ref(v), 3, -1});
    EXPECT_EQ(contents(1, v), (Words{1, 1, 2}));
    call(1, 22, {ref(v), 2, 5}); // not inside: nothing
    EXPECT_EQ(contents(1, v), (Words{1, 1, 2}));
    EXPECT_EQ(failure(1, 22, {ref(v), -1, 1}).text, "RangeException");
    EXPECT_EQ(failure(1, 23, {ref(v), 4}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(1, 24, {ref(v), -1}).code, KErrInvalidArgument);
    call(1, 24, {ref(v), 1});
    EXPECT_EQ(contents(1, v), (Words{1, 1}));
    call(1, 23, {ref(v), 2});
    EXPECT_EQ(contents(1, v), Words{});
    call(1, 20, {ref(v), 0});
    EXPECT_EQ(contents(1, v), Words{});
}

TEST_F(VectorTest, Replacements) {
    const Address v = vector(3, {0, 1, 2, 3, 4});
    const Address w = vector(3, {7, 8, 9});
    call(3, 26, {ref(v), 1, 2, ref(w)});
    EXPECT_EQ(contents(3, v), (Words{0, 7, 8, 9, 3, 4}));
    call(3, 27, {ref(v), 1, -1, 5});
    EXPECT_EQ(contents(3, v), (Words{0, 5}));
    EXPECT_EQ(failure(3, 26, {ref(v), 1, 5, ref(w)}).code, KErrIndexOutOfBounds);
    call(3, 26, {ref(v), 0, 1, ref(v)});
    EXPECT_EQ(contents(3, v), (Words{0, 5, 5}));

    // 83: replace a range of v with a range of w; a zero count inserts.
    call(3, 83, {ref(v), 1, 1, ref(w), 1, -1});
    EXPECT_EQ(contents(3, v), (Words{0, 8, 9, 5}));
    call(3, 83, {ref(v), 4, 0, ref(w), 0, 1});
    EXPECT_EQ(contents(3, v), (Words{0, 8, 9, 5, 7}));
    EXPECT_EQ(failure(3, 83, {ref(v), 0, 1, ref(w), -1, 1}).text, "RangeException");
    EXPECT_EQ(failure(3, 83, {ref(v), 6, 0, ref(w), 0, 1}).code, KErrIndexOutOfBounds);
}

TEST_F(VectorTest, CheckedRangeOperations) {
    const Address v = vector(3, {0, 1, 2, 3, 4});
    const Address w = vector(3, {7, 8});
    const Words tail = call(3, 82, {ref(v), 2, -1});
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(contents(3, Address(tail[0])), (Words{2, 3, 4}));
    EXPECT_EQ(failure(3, 82, {ref(v), 3, 4}).text,
              "RangeException: Invalid Range, range out of bounds: 7 > 5");
    EXPECT_EQ(failure(3, 82, {ref(v), 6, -1}).text,
              "RangeException: Invalid Range, first should not be more than 5, first = 6");
    EXPECT_EQ(failure(3, 81, {ref(v), -1, 0, ref(w)}).text, "RangeException");
    EXPECT_EQ(failure(3, 81, {ref(v), -1, 2, ref(w)}).text, "RangeException");
    // A zero count inserts, and only inside the vector.
    EXPECT_EQ(failure(3, 81, {ref(v), 6, 0, ref(w)}).text,
              "RangeException: Invalid Range, first should not be more than 5, first = 6");

    call(3, 81, {ref(v), 5, 0, ref(w)});
    EXPECT_EQ(contents(3, v), (Words{0, 1, 2, 3, 4, 7, 8}));
    call(3, 81, {ref(v), 1, 4, ref(w)});
    EXPECT_EQ(contents(3, v), (Words{0, 7, 8, 7, 8}));

    const Words joined = call(3, 84, {ref(v), 1, -1, ref(w), 0, 1});
    EXPECT_EQ(contents(3, Address(joined[0])), (Words{8, 0}));
    EXPECT_EQ(failure(3, 84, {ref(v), 0, 1, ref(w), -1, 1}).text, "RangeException");
    EXPECT_EQ(failure(3, 84, {ref(v), -1, 1, ref(w), 0, 1}).text, "RangeException");
}

TEST_F(VectorTest, BoxedResultsKeepTheirBuffersAndElementsAcrossCollections) {
    // Reference vector of string values: the result must keep the strings too.
    const Address a = vm.newStringValue(OString(vm.arena(), std::string_view("alpha")));
    const Address b = vm.newStringValue(OString(vm.arena(), std::string_view("beta")));
    const Address v = vector(7, {ref(a), ref(b), ref(a)});
    vm.sp = 0;
    vm.push(ref(v));
    vm.push(1);
    vm.push(-1);
    vectorNative(vm, 82, 4, EFalse);
    const Address result = Address(vm.slot(1));
    vm.setSlot(2, ref(vm.heap().allocate(8, 0, GC_CODE_PLAIN))); // garbage above the result
    vm.collectWithStackScan();

    // Allocations now reuse whatever the collection freed.
    for (int i = 0; i < 20; ++i) {
        Address junk = vm.heap().allocate(12, 0, GC_CODE_PLAIN);
        vm.arena().setWord(junk, 0xDEAD);
        vm.arena().setWord(junk + 4, 0xDEAD);
        vm.arena().setWord(junk + 8, 0xDEAD);
    }
    EXPECT_EQ(contents(7, result), (Words{ref(b), ref(a)}));
    EXPECT_EQ(vm.stringValue(Address(contents(7, result)[0])).toCAppsString(), "beta");
    EXPECT_EQ(call(7, 11, {ref(result)}), Words{2});

    // Pinned instead of on the stack, and for a primitive result.
    const Address ints = vector(3, {1, 2, 3});
    const Address joined = Address(call(3, 84, {ref(ints), 0, -1, ref(ints), 1, 1})[0]);
    vm.sp = 0;
    vm.heap().pin(joined);
    vm.heap().collect();
    for (int i = 0; i < 20; ++i) vm.arena().setWord(vm.heap().allocate(20, 0, GC_CODE_PLAIN), 7);
    EXPECT_EQ(contents(3, joined), (Words{1, 2, 3, 2}));
}

TEST_F(VectorTest, UnassignedNumbersRaiseTheUnknownFunctionError) {
    const Address ints = vector(3, {1});
    vm.pc = 42;
    for (TInt32 group : {1, 3, 4, 5, 6, 7}) {
        const Raised r = failure(group, 1, {ref(ints)});
        EXPECT_EQ(r.code, KErrVM);
        EXPECT_EQ(r.text, "VMException: Vector:42");
    }
    EXPECT_EQ(failure(3, 7, {ref(ints), 0}).text, "VMException: Vector:42");
    EXPECT_EQ(failure(3, 30, {}).code, KErrVM);
    EXPECT_EQ(failure(3, -5, {}).code, KErrVM);
}

TEST_F(VectorTest, NullAndForgedReferencesAreApplicationErrors) {
    const Address ints = vector(3, {1, 2});
    EXPECT_EQ(failure(3, 11, {0}).text, "NullPointerException: NULL pointer");
    EXPECT_EQ(failure(3, 11, {ref(box())}).text, "NullPointerException: NULL pointer");
    EXPECT_EQ(failure(3, 2, {0, ref(ints)}).code, KErrNullPointer);
    EXPECT_EQ(failure(3, 18, {ref(ints), 0}).code, KErrNullPointer);

    // Words that are no vector: a string value, a number, the top of the arena.
    const Address text = vm.newStringValue(OString(vm.arena(), std::string_view("x")));
    EXPECT_EQ(failure(3, 11, {ref(text)}).code, KErrVM);
    for (TUint32 forged : {0x12345u, 0xFFFFFFFCu, 0x7u}) {
        const Address holder = box();
        vm.arena().setWord(holder, forged);
        EXPECT_EQ(failure(3, 19, {ref(holder), 1}).code, KErrVM) << forged;
    }
    EXPECT_EQ(failure(3, 11, {TInt32(0xFFFFFFFF)}).code, KErrNullPointer);

    // A vector whose words were overwritten is refused before its buffer is touched.
    const Address forgedCount = vector(3, {1, 2});
    vm.arena().setWord(view(3, forgedCount).object() + 12, 1000);
    EXPECT_EQ(failure(3, 8, {ref(forgedCount), 999}).code, KErrVM);
    const Address forgedBuffer = vector(3, {1, 2});
    vm.arena().setWord(view(3, forgedBuffer).object() + 4, vm.stackBase() + 400);
    EXPECT_EQ(failure(3, 19, {ref(forgedBuffer), 3}).code, KErrVM);
    // Elements of another size do not fit the buffer.
    const Address bytes = vector(1, {1, 2, 3});
    EXPECT_EQ(failure(6, 11, {ref(bytes)}).code, KErrVM);
}

TEST_F(VectorTest, SizesBeyondMemoryRaiseInvalidArgument) {
    const Address b = box();
    EXPECT_EQ(failure(6, 3, {ref(b), 1, 2, 3, 4, 1000000000}).code, KErrInvalidArgument);
    const Address v = vector(6, {1, 2, 3, 4});
    EXPECT_EQ(failure(6, 20, {ref(v), 1000000000}).code, KErrInvalidArgument);
    EXPECT_EQ(contents(6, v), (Words{1, 2, 3, 4}));
    EXPECT_EQ(raised([&] { vm.newByteVector(-1); }).code, KErrInvalidArgument);

    const Address bytes = vm.newByteVector(3);
    EXPECT_EQ(vm.heap().entry(bytes - kHeaderSize).gcCode, GC_CODE_VECTOR_HOLDER);
    EXPECT_EQ(contents(1, bytes), (Words{0, 0, 0}));
    const Address object = vm.arena().word(bytes);
    EXPECT_EQ(vm.heap().entry(object - kHeaderSize).gcCode, GC_CODE_VECTOR_OBJECT);
    EXPECT_EQ(vm.heap().entry(object - kHeaderSize).objectKind, -1);
    EXPECT_EQ(vm.arena().word(object), 0u);
    EXPECT_EQ(contents(1, vm.newByteVector(0)), Words{});
}

} // namespace
