#include "OString.h"

#include <gtest/gtest.h>

#include <functional>
#include <iconv.h>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

template <class Call> TInt32 raisedCode(Call&& call) {
    clearLastError();
    try {
        call();
    } catch (const ErrorHandlingException&) {
        return lastErrorCode();
    }
    return 0;
}

OString make(Arena& arena, std::u16string_view text) {
    std::vector<TUint16> units(text.begin(), text.end());
    return OString(arena, units.data(), static_cast<int>(units.size()));
}

std::u16string text(const OString& s) {
    return std::u16string(s.units(), s.units() + s.length());
}

TUint32 references(const OString& s) {
    return s.owner().word(s.buffer());
}

std::vector<TUint8> utf8(const OString& s) {
    Vec<TUint8> bytes = s.toUtf8();
    return std::vector<TUint8>(bytes.begin(), bytes.end());
}

OString decode(Arena& arena, std::vector<TUint8> bytes) {
    return OString::fromUtf8(arena, bytes.data(), static_cast<int>(bytes.size()));
}

// glibc's converter as the independent judge of well-formed UTF-8.
class ReferenceDecoder {
public:
    ReferenceDecoder() : cd(iconv_open("UTF-16LE", "UTF-8")) {}
    ~ReferenceDecoder() {
        iconv_close(cd);
        iconv_close(toUtf8);
    }

    // Low 16 bits of each code point, or -1 when iconv refuses the bytes.
    int decode(const TUint8* bytes, size_t count, TUint16* out) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        TUint16 utf16[64];
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        char* to = reinterpret_cast<char*>(utf16);
        size_t inLeft = count, outLeft = sizeof utf16;
        if (iconv(cd, &in, &inLeft, &to, &outLeft) == size_t(-1) || inLeft != 0) return -1;
        int units = static_cast<int>((sizeof utf16 - outLeft) / 2), n = 0;
        for (int i = 0; i < units; ++i) {
            TUint32 c = utf16[i];
            if (c >= 0xD800 && c < 0xDC00)
                c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
            out[n++] = static_cast<TUint16>(c);
        }
        return n;
    }

    std::vector<TUint8> encode(TUint16 unit) {
        char bytes[8];
        char* in = reinterpret_cast<char*>(&unit);
        char* to = bytes;
        size_t inLeft = 2, outLeft = sizeof bytes;
        if (iconv(toUtf8, &in, &inLeft, &to, &outLeft) == size_t(-1)) return {};
        return std::vector<TUint8>(bytes, to);
    }

private:
    iconv_t cd;
    iconv_t toUtf8 = iconv_open("UTF-8", "UTF-16LE");
};

// Compares OString's decoder with the reference for one byte sequence.
::testing::AssertionResult sameDecoding(ReferenceDecoder& reference, const TUint8* bytes,
                                        int count) {
    TUint16 expected[8], actual[8];
    int expectedCount = reference.decode(bytes, count, expected);
    int actualCount = OString::decodeUtf8(bytes, count, actual);
    bool same = actualCount == expectedCount;
    for (int i = 0; same && i < actualCount; ++i) same = actual[i] == expected[i];
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << ::testing::PrintToString(std::vector<TUint8>(bytes, bytes + count)) << " gives "
           << actualCount << " units, iconv " << expectedCount;
}

} // namespace

TEST(OString, Construction) {
    Arena arena;
    OString empty(arena);
    EXPECT_EQ(empty.buffer(), 0u);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.unitsAddress(), 0u);
    EXPECT_EQ(empty.units()[0], 0);
    EXPECT_EQ(OString(arena, nullptr, 0).buffer(), 0u);

    OString latin1(arena, std::string_view("caf\xE9"));
    EXPECT_EQ(text(latin1), u"caf\u00E9"); // widened, not sign-extended
    EXPECT_EQ(arena.unit(latin1.unitsAddress() + 2 * latin1.length()), 0); // terminator

    OString wide = make(arena, u"a\u20AC\uFFFF");
    EXPECT_TRUE(OString(arena, wide.toCAppsString()) == wide);
    EXPECT_EQ(wide.at(1), 0x20AC);
    EXPECT_EQ(raisedCode([&] { OString(arena, wide.units(), -1); }), KErrInvalidArgument);
}

TEST(OString, CopiesShareOneCountedBuffer) {
    Arena arena;
    Address buffer;
    {
        OString a = make(arena, u"shared");
        buffer = a.buffer();
        EXPECT_EQ(references(a), 1u);
        OString b = a;
        OString c(arena);
        c = b;
        EXPECT_EQ(b.buffer(), buffer);
        EXPECT_EQ(references(a), 3u);
        OString moved = std::move(c);
        EXPECT_EQ(references(a), 3u);
        EXPECT_EQ(c.buffer(), 0u);
        moved = moved;
        EXPECT_EQ(references(a), 3u);
        b = OString(arena);
        EXPECT_EQ(references(a), 2u);
    }
    EXPECT_EQ(arena.blockSize(buffer), 0u); // freed with the last reference
}

TEST(OString, ChangingACopyLeavesTheOriginal) {
    const std::function<void(OString&)> changes[] = {
        [](OString& s) { s.setAt(0, 'X'); }, [](OString& s) { s.append('!'); },
        [](OString& s) { s.append(s); },     [](OString& s) { s.insert(2, s.units(), 3); },
        [](OString& s) { s.remove(1, 2); },  [](OString& s) { s.clear(); },
        [](OString& s) { s.reserve(500); },
    };
    Arena arena;
    for (const auto& change : changes) {
        OString original = make(arena, u"original");
        OString copy = original;
        change(copy);
        EXPECT_EQ(text(original), u"original");
        EXPECT_EQ(references(original), 1u);
        // And the other way round.
        OString second = original;
        change(original);
        EXPECT_EQ(text(second), u"original");
        EXPECT_EQ(references(second), 1u);
    }
}

TEST(OString, PrivateStringsChangeInPlace) {
    Arena arena;
    OString s = make(arena, u"abcdef");
    s.reserve(40);
    Address buffer = s.buffer();
    s.setAt(0, 'A');
    s.append(u'g');
    const OString other = make(arena, u"xyz");
    s.append(other.units(), 2);
    s.append(other.units(), 0);
    EXPECT_EQ(text(s), u"Abcdefgxy");
    s.remove(7, 2);
    s.insert(0, s.units() + 2, 2); // units from the string itself
    s.remove(2, 1);
    s.append(s);
    EXPECT_EQ(s.buffer(), buffer);
    EXPECT_EQ(text(s), u"cdbcdefgcdbcdefg");
    EXPECT_EQ(arena.unit(s.unitsAddress() + 2 * s.length()), 0);
    s.insert(s.length(), s.units(), s.length()); // grows while reading itself
    EXPECT_EQ(text(s), u"cdbcdefgcdbcdefgcdbcdefgcdbcdefg");
}

TEST(OString, IndexErrorsRaiseInvalidArgument) {
    Arena arena;
    OString s = make(arena, u"abc");
    TUint16 x = 'x';
    const std::function<void()> bad[] = {
        [&] { s.at(-1); },           [&] { s.at(3); },
        [&] { s.setAt(3, 'x'); },    [&] { s.insert(-1, &x, 1); },
        [&] { s.insert(4, &x, 1); }, [&] { s.insert(0, &x, -1); },
        [&] { s.append(&x, -1); },   [&] { s.remove(-1, 1); },
        [&] { s.remove(0, 4); },     [&] { s.remove(3, 1); },
        [&] { s.remove(1, -1); },    [&] { OString(arena).at(0); },
    };
    for (const auto& call : bad) EXPECT_EQ(raisedCode(call), KErrInvalidArgument);
    EXPECT_EQ(text(s), u"abc");
    EXPECT_EQ(raisedCode([&] { s.remove(3, 0); }), 0);
    EXPECT_EQ(raisedCode([&] { s.insert(3, &x, 1); }), 0);
    EXPECT_EQ(text(s), u"abcx");
}

TEST(OString, ShareAdoptAndDetach) {
    Arena arena;
    OString s = make(arena, u"text");
    Address buffer = s.buffer();
    {
        OString shared = OString::share(arena, buffer);
        EXPECT_TRUE(shared == s);
        EXPECT_EQ(references(s), 2u);
    }
    EXPECT_EQ(references(s), 1u);

    Address loose = arena.allocate(64);
    arena.release(loose);
    for (Address notABuffer : {Address(0), Address(0x12345), buffer + 4, loose}) {
        EXPECT_TRUE(OString::share(arena, notABuffer).isEmpty());
        EXPECT_TRUE(OString::adopt(arena, notABuffer).isEmpty());
    }
    EXPECT_EQ(references(s), 1u);

    Address detached = s.detach();
    EXPECT_TRUE(s.isEmpty());
    EXPECT_EQ(arena.word(detached), 1u);
    OString adopted = OString::adopt(arena, detached);
    EXPECT_EQ(text(adopted), u"text");
    OString::share(arena, detached).detach(); // a reference held elsewhere
    adopted.clear();
    EXPECT_EQ(arena.word(detached), 1u);
    OString::releaseBuffer(arena, detached);
    EXPECT_EQ(arena.blockSize(detached), 0u);
}

TEST(OString, AppendingOneUnitAtATimeReallocatesRarely) {
    Arena arena;
    OString s(arena);
    std::set<Address> buffers;
    const int count = 1000000;
    for (int i = 0; i < count; ++i) {
        s.append(static_cast<TUint16>(i));
        buffers.insert(s.buffer());
    }
    EXPECT_EQ(s.length(), count);
    EXPECT_LE(buffers.size(), 25u);
    const TUint16* units = s.units();
    for (int i = 0; i < count; ++i) ASSERT_EQ(units[i], static_cast<TUint16>(i));
}

TEST(OString, SharingIntoAnEmptyStringAndComparing) {
    Arena arena, other;
    OString a = make(arena, u"same");
    OString b(arena);
    b.append(a);
    EXPECT_EQ(b.buffer(), a.buffer());
    OString c(other);
    c.append(a); // another arena: copied
    EXPECT_NE(c.buffer(), 0u);
    EXPECT_TRUE(c == a);
    EXPECT_FALSE(make(arena, u"samE") == a);
    EXPECT_FALSE(make(arena, u"sam") == a);
    OString zeroLength = make(arena, u"x");
    zeroLength.remove(0, 1);
    EXPECT_TRUE(zeroLength == OString(arena)); // no buffer and length 0 alike
    EXPECT_EQ(zeroLength.unitsAddress(), 0u);
}

// Bytecode can write any word of a buffer; nothing may reach past its block.
TEST(OString, CorruptedBufferWordsAreClamped) {
    Arena arena;
    OString s = make(arena, u"hello");
    Address buffer = s.buffer();
    TUint32 block = arena.blockSize(buffer);
    Address neighbour = arena.allocate(block);
    ASSERT_EQ(neighbour, buffer + block);
    for (Address a = neighbour; a < neighbour + block; ++a) arena.setByte(a, 0xAB);
    auto neighbourIntact = [&] {
        for (Address a = neighbour; a < neighbour + block; ++a)
            if (arena.byte(a) != 0xAB) return false;
        return true;
    };
    const int maxUnits = static_cast<int>((block - 12) / 2 - 1);

    arena.setWord(buffer + 4, 0xFFFFFFFFu);
    arena.setWord(buffer + 8, 0x7FFFFFFFu);
    EXPECT_EQ(s.length(), maxUnits);
    s.setAt(maxUnits - 1, 'z');
    EXPECT_LE(s.toUtf8().size(), 3 * maxUnits);
    EXPECT_EQ(raisedCode([&] { s.at(maxUnits); }), KErrInvalidArgument);
    s.append(u'!');
    EXPECT_NE(s.buffer(), buffer);
    EXPECT_EQ(s.at(maxUnits), u'!');
    EXPECT_TRUE(neighbourIntact());

    OString negative = make(arena, u"abc");
    arena.setWord(negative.buffer() + 8, 0x80000000u);
    EXPECT_TRUE(negative.isEmpty());
    negative.append(u'q');
    EXPECT_EQ(text(negative), u"q");

    // A count that is already at its maximum stays there instead of wrapping to 0.
    OString pinned = make(arena, u"pinned");
    arena.setWord(pinned.buffer(), 0xFFFFFFFFu);
    OString copy = pinned;
    EXPECT_EQ(references(pinned), 0xFFFFFFFFu);
    copy.setAt(0, 'P');
    EXPECT_EQ(text(pinned), u"pinned");

    // A count zeroed by bytecode: the holder still frees the buffer when it goes.
    Address zeroedBuffer;
    {
        OString zeroed = make(arena, u"zeroed");
        zeroedBuffer = zeroed.buffer();
        arena.setWord(zeroedBuffer, 0);
    }
    EXPECT_EQ(arena.blockSize(zeroedBuffer), 0u);

    // A count lowered below the real holders: the survivor sees an empty string, not freed data.
    OString first = make(arena, u"first");
    OString second = first;
    arena.setWord(first.buffer(), 1);
    first = OString(arena);
    EXPECT_TRUE(second.isEmpty());
    second.append(u'y');
    EXPECT_EQ(text(second), u"y");
}

TEST(OStringUtf8, Encoding) {
    Arena arena;
    struct Case {
        TUint16 unit;
        std::vector<TUint8> bytes;
    } cases[] = {
        {0x0000, {0x00}},
        {0x007F, {0x7F}},
        {0x0080, {0xC2, 0x80}},
        {0x00E9, {0xC3, 0xA9}},
        {0x07FF, {0xDF, 0xBF}},
        {0x0800, {0xE0, 0xA0, 0x80}},
        {0x20AC, {0xE2, 0x82, 0xAC}},
        {0xD800, {0xED, 0xA0, 0x80}},
        {0xDFFF, {0xED, 0xBF, 0xBF}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8(OString(arena, &c.unit, 1)), c.bytes);
    EXPECT_TRUE(utf8(OString(arena)).empty());
    EXPECT_EQ(utf8(make(arena, u"a\u00E9\u20AC")),
              (std::vector<TUint8>{'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}));
}

TEST(OStringUtf8, DecodingEdgeCases) {
    Arena arena;
    EXPECT_EQ(text(decode(arena, {0xF0, 0x9F, 0x98, 0x80})), u"\uF600");
    EXPECT_EQ(text(decode(arena, {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF4, 0x8F, 0xBF, 0xBF})),
              u"a\u00E9\u20AC\uFFFF");
    OString empty = decode(arena, {});
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.buffer(), 0u);

    const std::vector<TUint8> malformed[] = {
        {0xED, 0xA0, 0x80},
        {0xC0, 0x80},
        {0x80},
        {0xE2, 0x82},
        {'o', 'k', 0xC1},
        {0xF4, 0x90, 0x80, 0x80},
        {0xF5, 0x80, 0x80, 0x80},
        {0xE0, 0x9F, 0xBF},
        {0xF0, 0x8F, 0xBF, 0xBF},
        {0xE2, 0x82, 0x2C},
        {0xC3, 0xA9, 0xFF},
    };
    for (const auto& bytes : malformed) {
        EXPECT_EQ(raisedCode([&] { decode(arena, bytes); }), KErrDataFormat)
            << ::testing::PrintToString(bytes);
        EXPECT_TRUE(lastErrorText() == "DataFormatException: ");
    }
    TUint8 byte = 'a';
    EXPECT_EQ(raisedCode([&] { OString::fromUtf8(arena, &byte, -1); }), KErrInvalidArgument);
}

TEST(OStringUtf8, EveryUnitAgreesWithIconvAndRoundTrips) {
    Arena arena;
    ReferenceDecoder reference;
    for (TUint32 u = 0; u <= 0xFFFF; ++u) {
        TUint16 unit = static_cast<TUint16>(u);
        std::vector<TUint8> bytes = utf8(OString(arena, &unit, 1));
        TUint16 back[4];
        int backCount = OString::decodeUtf8(bytes.data(), static_cast<int>(bytes.size()), back);
        if (u >= 0xD800 && u <= 0xDFFF) {
            ASSERT_EQ(bytes.size(), 3u) << u;
            ASSERT_EQ(bytes[0], 0xED) << u;
            ASSERT_EQ(backCount, -1) << u; // a lone surrogate is not well-formed
        } else {
            ASSERT_EQ(bytes, reference.encode(unit)) << u;
            ASSERT_EQ(backCount, 1) << u;
            ASSERT_EQ(back[0], unit) << u;
        }
    }
}

TEST(OStringUtf8, EveryShortSequenceAgreesWithIconv) {
    ReferenceDecoder reference;
    for (TUint32 v = 0; v < 0x100; ++v) {
        TUint8 bytes[1] = {TUint8(v)};
        ASSERT_TRUE(sameDecoding(reference, bytes, 1));
    }
    for (TUint32 v = 0; v < 0x10000; ++v) {
        TUint8 bytes[2] = {TUint8(v >> 8), TUint8(v)};
        ASSERT_TRUE(sameDecoding(reference, bytes, 2));
    }
    for (TUint32 v = 0; v < 0x1000000; ++v) {
        TUint8 bytes[3] = {TUint8(v >> 16), TUint8(v >> 8), TUint8(v)};
        ASSERT_TRUE(sameDecoding(reference, bytes, 3));
    }
}

TEST(OStringUtf8, RandomFourByteSequencesAgreeWithIconv) {
    ReferenceDecoder reference;
    // Half the bytes sit on the boundaries of the lead and continuation ranges.
    const TUint8 edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                            0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF};
    std::mt19937 random(20240611);
    auto nextByte = [&] {
        TUint32 r = random();
        return (r & 1) ? TUint8(r >> 8) : edges[(r >> 8) % std::size(edges)];
    };
    for (int i = 0; i < 1000000; ++i) {
        TUint8 bytes[4] = {nextByte(), nextByte(), nextByte(), nextByte()};
        ASSERT_TRUE(sameDecoding(reference, bytes, 4));
    }
}

// fromUtf8 is the raising face of decodeUtf8: same decision and units for every pair.
TEST(OStringUtf8, FromUtf8MatchesDecodeUtf8) {
    Arena arena;
    for (TUint32 v = 0; v < 0x10000; ++v) {
        std::vector<TUint8> bytes = {TUint8(v >> 8), TUint8(v)};
        TUint16 units[2];
        int count = OString::decodeUtf8(bytes.data(), 2, units);
        if (count < 0) {
            ASSERT_EQ(raisedCode([&] { decode(arena, bytes); }), KErrDataFormat) << v;
        } else {
            ASSERT_EQ(text(decode(arena, bytes)), std::u16string(units, units + count)) << v;
        }
    }
}
