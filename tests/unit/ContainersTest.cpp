#include "Arena.h"
#include "CAppsString.h"
#include "ErrorHandling.h"
#include "Vec.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <limits>
#include <string>
#include <thread>

namespace {

// The code a call raised, 0 when it returned normally.
template <class Call> TInt32 raisedCode(Call&& call) {
    clearLastError();
    try {
        call();
    } catch (const ErrorHandlingException&) {
        return lastErrorCode();
    }
    return 0;
}

std::string lastText() {
    return lastErrorText().toLatin1();
}

} // namespace

TEST(Vec, AppendingToAFullVecGrowsByAQuarterPlusEight) {
    Vec<int> v;
    int growths = 0;
    for (int i = 0; i < 2000; ++i) {
        int size = v.size(), capacity = v.capacity();
        v.append(i);
        if (size == capacity) {
            EXPECT_EQ(v.capacity(), size * 5 / 4 + 8) << "after size " << size;
            ++growths;
        } else {
            EXPECT_EQ(v.capacity(), capacity);
        }
    }
    EXPECT_GT(growths, 10);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(v[i], i);
}

TEST(Vec, IndexErrorsRaiseInvalidArgument) {
    Vec<int> v{1, 2, 3};
    EXPECT_EQ(raisedCode([&] { v[3]; }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { v[-1]; }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { v.removeAt(3); }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { v.insert(4, 0); }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { v.resize(-1); }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([] { Vec<int> bad(-1); }), KErrInvalidArgument);
    EXPECT_EQ(lastText(), "InvalidArgumentException");
    Vec<int> empty;
    EXPECT_EQ(raisedCode([&] { empty.last(); }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { empty.removeLast(); }), KErrInvalidArgument);

    EXPECT_EQ(raisedCode([&] { v.insert(3, 4); }), 0); // at the end is allowed
    EXPECT_EQ(v, (Vec<int>{1, 2, 3, 4}));
}

// Elements of the Vec itself passed back in must survive the reallocation.
TEST(Vec, AppendingItsOwnElementsWhileGrowing) {
    Vec<std::string> v;
    while (v.size() < v.capacity() || v.isEmpty()) v.append(std::string(40, 'a' + v.size()));
    v.append(v[0]);
    EXPECT_EQ(v.last(), std::string(40, 'a'));
    while (v.size() < v.capacity()) v.append("x");
    v.insert(0, v.last());
    EXPECT_EQ(v[0], "x");

    CAppsString s("abc");
    for (int i = 0; i < 6; ++i) s.append(s);
    EXPECT_EQ(s.size(), 3 * 64);
    EXPECT_EQ(s.toLatin1().substr(0, 9), "abcabcabc");
}

TEST(ErrorHandling, TextIsTheNameThenTheMessage) {
    struct Case {
        TInt32 code;
        const char* message;
        const char* text;
    } cases[] = {
        {1, "NULL pointer", "NullPointerException: NULL pointer"},
        {3, "", "DivisionByZeroException"},
        {4, "", "DataFormatException: "},
        {4, "bad", "DataFormatException: : bad"},
        {2, "", "IndexOutOfBoundsException"},
        {13, "", "UnsupportedFeatureException"},
        {11, "", "UnknownException (CODE:11)"},
        {42, "x", "UnknownException (CODE:42): x"},
        {-7, "", "UnknownException (CODE:-7)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(raisedCode([&] { raise(c.code, c.message); }), c.code);
        EXPECT_EQ(lastText(), c.text);
    }
    EXPECT_EQ(raisedCode([] { raise(KErrDivisionByZero, ""); }), 3);
    EXPECT_EQ(lastText(), "DivisionByZeroException");
}

TEST(ErrorHandling, MessageKeepsSixteenBitUnits) {
    const TUint16 units[] = {'a', 0x20AC, 0xD800};
    raisedCode([&] { raise(KErrIO, CAppsString(units, 3)); });
    CAppsString expected("IOException: ");
    expected.append(units, 3);
    EXPECT_TRUE(lastErrorText() == expected);
}

// Re-raising with the pending text must not read the record it is overwriting.
TEST(ErrorHandling, ReraisingTheLastErrorText) {
    raisedCode([] { raise(KErrIO, "disk"); });
    try {
        raise(KErrVM, lastErrorText());
    } catch (const ErrorHandlingException&) {
    }
    EXPECT_EQ(lastErrorCode(), KErrVM);
    EXPECT_EQ(lastText(), "VMException: IOException: disk");
}

TEST(ErrorHandling, LastErrorIsPerThreadAndClears) {
    raisedCode([] { raise(KErrRange, "main"); });
    TInt32 otherCode = -1;
    std::string otherTextBefore, otherTextAfter;
    std::thread other([&] {
        otherCode = lastErrorCode();
        otherTextBefore = lastText();
        try {
            raise(KErrMath, "other");
        } catch (const ErrorHandlingException&) {
        }
        otherTextAfter = lastText();
    });
    other.join();
    EXPECT_EQ(otherCode, 0);
    EXPECT_EQ(otherTextBefore, "");
    EXPECT_EQ(otherTextAfter, "MathException: other");
    EXPECT_EQ(lastErrorCode(), KErrRange);
    EXPECT_EQ(lastText(), "RangeException: main");

    clearLastError();
    EXPECT_EQ(lastErrorCode(), 0);
    EXPECT_TRUE(lastErrorText().isEmpty());
}

TEST(Arena, UntouchedMemoryReadsZeroAndTheTopWordIsSafe) {
    Arena arena;
    EXPECT_EQ(arena.word(0), 0u);
    EXPECT_EQ(arena.word(0x80000000u), 0u);
    EXPECT_EQ(arena.byte(0xFFFFFFFFu), 0u);
    EXPECT_EQ(arena.word(0xFFFFFFFEu), 0u);
    EXPECT_EQ(arena.word(0xFFFFFFFCu), 0u);
    arena.setWord(0xFFFFFFFEu, 0xAABBCCDDu);
    EXPECT_EQ(arena.unit(0xFFFFFFFEu), 0xCCDDu);
    EXPECT_EQ(arena.word(0xFFFFFFFEu), 0xAABBCCDDu);
    arena.setWord(0x1234, 0x01020304u);
    EXPECT_EQ(arena.byte(0x1234), 4);
    EXPECT_EQ(arena.int32(0x1234), 0x01020304);
}

TEST(Arena, ADoubleWordsHighWordWrapsAsAddressesDo) {
    Arena arena;
    const ArenaCells cells = arena.cells();
    const struct {
        Address at, high;
    } cases[] = {{0x2000, 0x2004}, {0xFFFFFFF8u, 0xFFFFFFFCu}, {0xFFFFFFFCu, 0}, {0xFFFFFFFEu, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        cells.setDoubleWord(c.at, 0x1122334455667788u);
        EXPECT_EQ(arena.word(c.at), 0x55667788u);
        EXPECT_EQ(arena.word(c.high), 0x11223344u);
    }
}

TEST(Arena, BytesRangeCheck) {
    Arena arena;
    EXPECT_EQ(raisedCode([&] { arena.bytes(0xFFFFFFF0u, 0x10); }), 0);
    EXPECT_EQ(raisedCode([&] { arena.bytes(0, Arena::kSize); }), 0);
    EXPECT_EQ(raisedCode([&] { arena.bytes(0xFFFFFFF0u, 0x11); }), KErrInvalidArgument);
    EXPECT_EQ(raisedCode([&] { arena.bytes(1, Arena::kSize); }), KErrInvalidArgument);
    // A length that wraps the 64-bit sum must not pass.
    EXPECT_EQ(raisedCode([&] { arena.bytes(0x100, std::numeric_limits<TUint64>::max() - 0x80); }),
              KErrInvalidArgument);
}

// Resident kilobytes of the mapping that starts at address, from /proc/self/smaps.
long residentKiB(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const unsigned long start = reinterpret_cast<unsigned long>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        if (line.find('-') != std::string::npos && std::isxdigit(line[0]) &&
            line.find(' ') > line.find('-'))
            inside = std::stoul(line.substr(0, line.find('-')), nullptr, 16) == start;
        else if (inside && line.rfind("Rss:", 0) == 0)
            return std::stol(line.substr(4));
    }
    return -1;
}

// Words that bytecode writes at scattered addresses cost a small page each, not 2 MiB.
TEST(Arena, ScatteredWritesStayInSmallPages) {
    Arena arena;
    for (Address a = 0x40000000u; a < 0xC0000000u; a += 0x4000000u) arena.setWord(a, 1);
    const long resident = residentKiB(arena.at<TUint8>(0));
    ASSERT_GE(resident, 0);
    EXPECT_LT(resident, 1024);
}

// Small reservations have their pages brought in ahead; a large one must not cost its size.
TEST(Arena, LargeReservationsCostOnlyWhatIsWritten) {
    Arena arena;
    arena.reserve(64u << 20);
    arena.reserve(16);
    const long resident = residentKiB(arena.at<TUint8>(0));
    ASSERT_GE(resident, 0);
    EXPECT_LT(resident, 1024);
}

TEST(Arena, BlocksArePowerOfTwoAndReused) {
    Arena arena;
    Address a = arena.allocate(20);
    EXPECT_GE(a, Arena::kFirstUsable);
    EXPECT_EQ(arena.blockSize(a), 32u);
    EXPECT_EQ(arena.blockSize(a + 4), 0u);
    Address b = arena.allocate(1);
    EXPECT_EQ(arena.blockSize(b), 16u);
    arena.release(a);
    EXPECT_EQ(arena.blockSize(a), 0u);
    arena.release(a); // a second release is ignored
    EXPECT_EQ(arena.allocate(32), a);
    EXPECT_EQ(arena.allocate(32) == a, false);
    EXPECT_EQ(raisedCode([&] { arena.allocate(0x80000001u); }), KErrInvalidArgument);
}
