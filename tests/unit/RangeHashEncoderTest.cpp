#include "VectorNatives.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<TInt32>;

struct Raised {
    TInt32 code;
    std::string text;
};

class NativeTest : public ::testing::Test {
protected:
    using Group = void (*)(VirtualMachine&, TInt32);

    Words call(Group group, TInt32 function, const Words& arguments) {
        vm.sp = 0;
        for (TInt32 a : arguments) vm.push(a);
        group(vm, function);
        Words left;
        for (TInt32 i = 1; i <= vm.sp; ++i) left.push_back(vm.slot(i));
        return left;
    }
    Raised failure(Group group, TInt32 function, const Words& arguments) {
        clearLastError();
        try {
            call(group, function, arguments);
        } catch (const ErrorHandlingException&) {
            return {lastErrorCode(), lastErrorText().toLatin1()};
        }
        return {0, ""};
    }
    // A range variable: two words in a plain entry.
    Address range(TInt32 first, TInt32 count) {
        const Address r = vm.heap().allocate(8, 0, GC_CODE_PLAIN);
        vm.arena().setWord(r, TUint32(first));
        vm.arena().setWord(r + 4, TUint32(count));
        return r;
    }
    Words read(Address r) { return {vm.arena().int32(r), vm.arena().int32(r + 4)}; }
    std::vector<TUint8> bytes(Address value) {
        const OVector v = OVector::ofValue(vm.heap(), value, 1);
        const TUint8* at = v.elementBytesAt(0, v.count());
        return std::vector<TUint8>(at, at + v.count());
    }
    Address byteVector(const std::vector<TUint8>& content) {
        return newByteVectorValue(vm.heap(), content.data(), TInt32(content.size()));
    }
    Address box() { return vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX); }
    static TInt32 ref(Address a) { return TInt32(a); }

    VirtualMachine vm;
};

TEST_F(NativeTest, RangeSettersValidateTheirComponents) {
    const Address r = range(9, 9);
    call(rangeNative, 1, {ref(r)});
    EXPECT_EQ(read(r), (Words{0, 0}));
    call(rangeNative, 3, {ref(r), 2, 5});
    EXPECT_EQ(read(r), (Words{2, 4}));
    EXPECT_EQ(failure(rangeNative, 3, {ref(r), 5, 2}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(rangeNative, 3, {ref(r), -1, 2}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(rangeNative, 3, {ref(r), 0, 0x7FFFFFFF}).code, KErrInvalidArgument);
    EXPECT_EQ(read(r), (Words{2, 4}));
    call(rangeNative, 4, {ref(r), 3, 7});
    EXPECT_EQ(read(r), (Words{3, 7}));
    EXPECT_EQ(failure(rangeNative, 4, {ref(r), 3, -7}).text, "InvalidArgumentException");
    call(rangeNative, 7, {ref(r), 1});
    call(rangeNative, 8, {ref(r), 6});
    EXPECT_EQ(read(r), (Words{1, 6}));
    EXPECT_EQ(failure(rangeNative, 7, {ref(r), -1}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(rangeNative, 8, {ref(r), -1}).code, KErrInvalidArgument);
    call(rangeNative, 11, {ref(r), 3});
    EXPECT_EQ(read(r), (Words{3, -1}));
    call(rangeNative, 12, {ref(r), 4});
    EXPECT_EQ(read(r), (Words{4, -1}));
    EXPECT_EQ(failure(rangeNative, 11, {ref(r), -3}).code, KErrInvalidArgument);
}

TEST_F(NativeTest, RangeReadsCopiesAndComparisons) {
    const Address r = range(5, 8);
    const Address s = range(0, 0);
    EXPECT_EQ(call(rangeNative, 5, {ref(r)}), Words{5});
    EXPECT_EQ(call(rangeNative, 6, {ref(r)}), Words{8});
    call(rangeNative, 2, {ref(s), ref(r)});
    EXPECT_EQ(read(s), (Words{5, 8}));
    EXPECT_EQ(call(rangeNative, 9, {1, 2, 1, 2}), Words{1});
    EXPECT_EQ(call(rangeNative, 9, {1, 2, 1, 3}), Words{0});
    EXPECT_EQ(call(rangeNative, 10, {1, 2, 1, 3}), Words{1});
    EXPECT_EQ(call(rangeNative, 10, {1, 2, 1, 2}), Words{0});

    EXPECT_EQ(failure(rangeNative, 5, {0}).text, "NullPointerException: NULL pointer");
    vm.pc = 7;
    EXPECT_EQ(failure(rangeNative, 13, {}).text, "VMException: Range:7");
    EXPECT_EQ(failure(rangeNative, 0, {}).code, KErrVM);
}

TEST_F(NativeTest, HashDigestsAreEmptyAndTheBufferAccumulates) {
    const Address h = box();
    call(hashNative, 1, {ref(h), 2});
    const Address object = vm.arena().word(h);
    EXPECT_EQ(vm.heap().entry(object - kHeaderSize).gcCode, GC_CODE_HASH);
    EXPECT_NE(vm.heap().nativeObject(object), nullptr);

    call(hashNative, 3, {ref(h), ref(byteVector({1, 2, 3}))});
    const Words digest = call(hashNative, 4, {ref(h)});
    ASSERT_EQ(digest.size(), 1u);
    EXPECT_EQ(vm.heap().entry(Address(digest[0]) - kHeaderSize).gcCode, GC_CODE_VECTOR_HOLDER);
    EXPECT_TRUE(bytes(Address(digest[0])).empty());
    const Words oneShot = call(hashNative, 2, {ref(byteVector({4, 5})), 1});
    ASSERT_EQ(oneShot.size(), 1u);
    EXPECT_TRUE(bytes(Address(oneShot[0])).empty());

    // The hash object's host state goes with its heap entry.
    const int before = vm.heap().natives().count();
    vm.sp = 0;
    vm.heap().collect();
    EXPECT_EQ(vm.heap().natives().count(), before - 1);
}

TEST_F(NativeTest, HashRefusesNullAndForgedObjects) {
    EXPECT_EQ(failure(hashNative, 1, {0, 1}).code, KErrNullPointer);
    EXPECT_EQ(failure(hashNative, 4, {0}).code, KErrNullPointer);
    EXPECT_EQ(failure(hashNative, 4, {ref(box())}).code, KErrNullPointer);
    EXPECT_EQ(failure(hashNative, 2, {0, 1}).code, KErrNullPointer);
    const Address h = box();
    call(hashNative, 1, {ref(h), 1});
    EXPECT_EQ(failure(hashNative, 3, {ref(h), 0}).code, KErrNullPointer);

    // A box pointing at a byte vector, and a copied handle in another entry.
    const Address forged = box();
    vm.arena().setWord(forged, vm.arena().word(byteVector({1})));
    EXPECT_EQ(failure(hashNative, 4, {ref(forged)}).code, KErrVM);
    const Address copy = vm.heap().allocate(8, -1, GC_CODE_HASH);
    vm.arena().setWord(copy, vm.arena().word(vm.arena().word(h)));
    vm.arena().setWord(forged, copy);
    EXPECT_EQ(failure(hashNative, 4, {ref(forged)}).text, "VMException: Hash: invalid hash object");
    vm.pc = 3;
    EXPECT_EQ(failure(hashNative, 5, {}).text, "VMException: Hash:3");
}

TEST_F(NativeTest, EncoderRoundTripsUtf8) {
    const std::vector<TUint16> units = {'a', 0xE9, 0x20AC, 0x7FF, 0x800, 0xFFFF};
    const Address text = vm.newStringValue(OString(vm.arena(), units.data(), int(units.size())));
    const Words encoded = call(encoderNative, 1, {0, ref(text)});
    ASSERT_EQ(encoded.size(), 1u);
    EXPECT_EQ(bytes(Address(encoded[0])),
              (std::vector<TUint8>{'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xDF, 0xBF, 0xE0, 0xA0,
                                   0x80, 0xEF, 0xBF, 0xBF}));
    const Words decoded = call(encoderNative, 2, {0, encoded[0]});
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_TRUE(vm.stringValue(Address(decoded[0])) == vm.stringValue(text));

    const Address empty = vm.newStringValue(OString(vm.arena()));
    const Address none = Address(call(encoderNative, 1, {0, ref(empty)})[0]);
    EXPECT_TRUE(bytes(none).empty());
    EXPECT_TRUE(vm.stringValue(Address(call(encoderNative, 2, {0, ref(none)})[0])).isEmpty());
}

TEST_F(NativeTest, EncoderRefusesMalformedInput) {
    const TUint16 surrogate = 0xD800;
    const Address text = vm.newStringValue(OString(vm.arena(), &surrogate, 1));
    const Address encoded = Address(call(encoderNative, 1, {0, ref(text)})[0]);
    EXPECT_EQ(bytes(encoded), (std::vector<TUint8>{0xED, 0xA0, 0x80}));
    EXPECT_EQ(failure(encoderNative, 2, {0, ref(encoded)}).text, "DataFormatException: ");
    EXPECT_EQ(failure(encoderNative, 2, {0, ref(byteVector({0xC3}))}).code, KErrDataFormat);
    EXPECT_EQ(failure(encoderNative, 1, {0, 0}).text, "NullPointerException: NULL pointer");
    EXPECT_EQ(failure(encoderNative, 2, {0, 0}).code, KErrNullPointer);
    vm.pc = 11;
    EXPECT_EQ(failure(encoderNative, 3, {}).text, "VMException: Encoder:11");
}

} // namespace
