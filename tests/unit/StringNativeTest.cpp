#include "stringNative.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Raised {
    TInt32 code;
    std::string text;
    bool operator==(const Raised&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Raised& raised) {
    return out << raised.code << " \"" << raised.text << "\"";
}

const Raised kNull{1, "NullPointerException: NULL pointer"};
const Raised kIndex{2, "IndexOutOfBoundsException"};
const Raised kFormat{4, "DataFormatException: "};
const Raised kRange{5, "RangeException"};
const Raised kArgument{6, "InvalidArgumentException"};
const Raised kOutOfMemory{6, "InvalidArgumentException: Out of memory"};
const Raised kNothing{0, ""};

TInt32 ch(char16_t unit) {
    return unit;
}

class StringNatives : public ::testing::Test {
protected:
    Arena& arena() { return vm.arena(); }

    TInt32 str(std::u16string_view text) {
        std::vector<TUint16> units(text.begin(), text.end());
        return static_cast<TInt32>(
            vm.newStringValue(OString(arena(), units.data(), static_cast<int>(units.size()))));
    }
    std::u16string text(TInt32 value) {
        OString s = vm.stringValue(static_cast<Address>(value));
        return std::u16string(s.units(), s.units() + s.length());
    }
    Address buffer(TInt32 value) { return arena().word(arena().word(Address(value)) + 4); }
    TUint32 references(TInt32 value) { return arena().word(buffer(value)); }

    // Pushes the arguments in order, runs the operation and returns the slots it left.
    std::vector<TInt32> call(TInt32 function, std::initializer_list<TInt32> args) {
        const TInt32 start = vm.sp;
        for (TInt32 arg : args) vm.push(arg);
        stringNative(vm, function);
        std::vector<TInt32> left;
        for (TInt32 i = start + 1; i <= vm.sp; ++i) left.push_back(vm.slot(i));
        vm.sp = start;
        return left;
    }
    TInt32 one(TInt32 function, std::initializer_list<TInt32> args) {
        std::vector<TInt32> left = call(function, args);
        EXPECT_EQ(left.size(), 1u) << "function " << function;
        return left.empty() ? 0 : left[0];
    }
    std::u16string textOf(TInt32 function, std::initializer_list<TInt32> args) {
        return text(one(function, args));
    }
    // An in-place edit of a new string; the text it leaves.
    std::u16string edited(std::u16string_view s, TInt32 function,
                          std::initializer_list<TInt32> rest) {
        TInt32 value = str(s);
        std::vector<TInt32> args{value};
        args.insert(args.end(), rest);
        const TInt32 start = vm.sp;
        for (TInt32 arg : args) vm.push(arg);
        stringNative(vm, function);
        EXPECT_EQ(vm.sp, start) << "function " << function;
        vm.sp = start;
        return text(value);
    }
    Raised raised(TInt32 function, std::initializer_list<TInt32> args) {
        const TInt32 start = vm.sp;
        clearLastError();
        try {
            call(function, args);
        } catch (const ErrorHandlingException&) {
            vm.sp = start;
            return {lastErrorCode(), lastErrorText().toLatin1()};
        }
        return kNothing;
    }
    std::vector<std::u16string> strings(TInt32 vectorValue) {
        OVector vector = OVector::ofValue(vm.heap(), Address(vectorValue), 4);
        std::vector<std::u16string> items;
        for (TInt32 i = 0; i < vector.count(); ++i) items.push_back(text(TInt32(vector.word(i))));
        return items;
    }

    VirtualMachine vm;
};

using Strings = std::vector<std::u16string>;

TEST_F(StringNatives, CharactersFollowQChar) {
    EXPECT_EQ(one(-127, {ch(u'Q')}), ch(u'q'));
    EXPECT_EQ(one(-127, {ch(u'\u00C9')}), ch(u'\u00E9'));
    EXPECT_EQ(one(-127, {ch(u'\u212A')}), ch(u'k')); // Kelvin sign
    EXPECT_EQ(one(-126, {ch(u'\u03C3')}), ch(u'\u03A3'));
    EXPECT_EQ(one(-126, {ch(u'\u00DF')}), ch(u'\u00DF')); // no one-unit upper case
    EXPECT_EQ(one(-126, {0x10061}), ch(u'A'));            // only the low 16 bits count
    EXPECT_EQ(one(-125, {ch(u'\u05D0')}), 1);
    EXPECT_EQ(one(-125, {ch(u'1')}), 0);
    EXPECT_EQ(one(-124, {ch(u'\u0663')}), 1);
    EXPECT_EQ(one(-124, {ch(u'x')}), 0);
    EXPECT_EQ(one(-123, {ch(u'\u00A0')}), 1);
    EXPECT_EQ(one(-123, {ch(u'\t')}), 1);
    EXPECT_EQ(one(-123, {ch(u'_')}), 0);
}

TEST_F(StringNatives, CaseChangesInPlace) {
    EXPECT_EQ(edited(u"Stra\u00DFe \u00E9\u212A", -128, {}), u"STRA\u00DFE \u00C9\u212A");
    EXPECT_EQ(edited(u"Stra\u00DFe \u00C9\u212A", 127, {}), u"stra\u00DFe \u00E9k");
    EXPECT_EQ(edited(u"", -128, {}), u"");
}

TEST_F(StringNatives, NumbersToText) {
    EXPECT_EQ(textOf(-122, {INT_MIN}), u"-2147483648");
    EXPECT_EQ(textOf(-122, {0}), u"0");
    EXPECT_EQ(textOf(-121, {-1, 16}), u"ffffffff");
    EXPECT_EQ(textOf(-121, {35, 36}), u"z");
    EXPECT_EQ(textOf(-121, {5, 2}), u"101");
    EXPECT_EQ(textOf(-121, {0, 8}), u"0");
    EXPECT_EQ(textOf(-121, {5, 1}), u"");
    EXPECT_EQ(textOf(-121, {5, 37}), u"");
}

TEST_F(StringNatives, DecimalParse) {
    EXPECT_EQ(one(-120, {str(u"  42abc")}), 42);
    EXPECT_EQ(one(-120, {str(u"\t\u00A0-17")}), -17);
    EXPECT_EQ(one(-120, {str(u"+8")}), 8);
    EXPECT_EQ(one(-120, {str(u"+-0")}), 0);
    EXPECT_EQ(one(-120, {str(u"4294967297")}), 1); // 32-bit arithmetic, no overflow check
    EXPECT_EQ(raised(-120, {str(u"abc")}), kFormat);
    EXPECT_EQ(raised(-120, {str(u"")}), kFormat);
    EXPECT_EQ(raised(-120, {str(u"   ")}), kFormat);
    EXPECT_EQ(raised(-120, {str(u"+-5")}), kFormat);
    EXPECT_EQ(raised(-120, {str(u"- 5")}), kFormat);
    EXPECT_EQ(raised(-120, {0}), kNull);
}

TEST_F(StringNatives, RadixParse) {
    EXPECT_EQ(one(-119, {str(u"Ff"), 16}), 255);
    EXPECT_EQ(one(-119, {str(u" 1012"), 2}), 5);
    EXPECT_EQ(one(-119, {str(u"\u212A"), 36}), 20); // lower-cases to k
    EXPECT_EQ(one(-119, {str(u"-12"), 10}), -12);   // radix 10 parses decimals
    EXPECT_EQ(raised(-119, {str(u"-12"), 16}), kFormat);
    EXPECT_EQ(raised(-119, {str(u"g"), 16}), kFormat);
    EXPECT_EQ(raised(-119, {str(u"  "), 16}), kFormat);
    EXPECT_EQ(raised(-119, {str(u"1"), 1}), kArgument);
    EXPECT_EQ(raised(-119, {str(u"1"), 37}), kArgument);
}

TEST_F(StringNatives, Comparison) {
    TInt32 abc = str(u"abc");
    EXPECT_EQ(one(-118, {abc, str(u"ABD"), 0}), -1);
    EXPECT_EQ(one(-118, {abc, str(u"ABC"), 0}), 0);
    EXPECT_EQ(one(-118, {abc, str(u"ABC"), 1}), 1);
    EXPECT_EQ(one(-118, {abc, str(u"abcd"), 1}), -1);
    EXPECT_EQ(one(-118, {str(u""), abc, 1}), -1);
    EXPECT_EQ(one(-118, {abc, abc, 1}), 0);

    EXPECT_EQ(one(-116, {abc, str(u"abc")}), 1);
    EXPECT_EQ(one(-116, {abc, str(u"ABC")}), 0);
    EXPECT_EQ(one(-115, {abc, str(u"ABC")}), 1);
    EXPECT_EQ(one(-114, {str(u"B"), str(u"a")}), 1); // exact: 'B' < 'a'
    EXPECT_EQ(one(-113, {abc, str(u"abc")}), 1);
    EXPECT_EQ(one(-112, {abc, str(u"ab")}), 1);
    EXPECT_EQ(one(-111, {str(u"ab"), abc}), 0);
    EXPECT_EQ(one(-110, {abc, str(u"AbC")}), 1);
    EXPECT_EQ(one(-110, {abc, str(u"AbCd")}), 0);
    EXPECT_EQ(one(-109, {abc, str(u"AbC"), 1}), 0);
    EXPECT_EQ(one(-109, {abc, str(u"AbC"), 0}), 1);
    EXPECT_EQ(raised(-116, {abc, 0}), kNull);
}

TEST_F(StringNatives, RangeComparison) {
    TInt32 s = str(u"xxHello");
    EXPECT_EQ(one(-117, {s, str(u"hello"), 2, 5, 0}), 0);
    EXPECT_EQ(one(-117, {s, str(u"hello"), 2, -1, 1}), -1);
    EXPECT_EQ(one(-117, {s, str(u"XXHELLO"), 0, -1, 0}), 0); // all of s
    EXPECT_EQ(one(-117, {str(u""), str(u""), 0, -1, 0}), 0);
    EXPECT_EQ(one(-117, {s, str(u""), 0, 0, 0}), -1); // the empty range equals nothing
    EXPECT_EQ(raised(-117, {s, str(u"a"), 3, 9, 0}), kRange);

    EXPECT_EQ(one(-108, {s, str(u"HELLO"), 2, -1}), 1);
    EXPECT_EQ(one(-107, {s, str(u"HELLO"), 2, -1, 1}), 0);
    EXPECT_EQ(one(-107, {s, str(u"Hell"), 2, -1, 1}), 0); // lengths differ
    EXPECT_EQ(one(-108, {str(u""), str(u""), 0, -1}), 1);
    EXPECT_EQ(raised(-108, {s, str(u""), 1, 2}), kArgument);
    EXPECT_EQ(raised(-108, {s, str(u"x"), -1, 2}), kRange);
}

TEST_F(StringNatives, RangeRuleAndItsException) {
    TInt32 abc = str(u"abc");
    EXPECT_EQ(textOf(-106, {abc, 1, -1}), u"bc");
    EXPECT_EQ(textOf(-106, {abc, 1, 1}), u"b");
    EXPECT_EQ(textOf(-106, {abc, 0, 0}), u"");  // the empty range
    EXPECT_EQ(textOf(-106, {abc, 5, -1}), u""); // to the end from outside: no error
    EXPECT_EQ(textOf(-106, {abc, 3, -1}), u"");
    EXPECT_EQ(textOf(-106, {str(u""), 0, -1}), u"");
    EXPECT_EQ(raised(-106, {abc, -1, -1}), kRange);
    EXPECT_EQ(raised(-106, {abc, 1, 0}), kRange);
    EXPECT_EQ(raised(-106, {abc, 2, 2}), kRange);
    EXPECT_EQ(raised(-106, {str(u""), 0, 1}), kRange);

    // The exception belongs to extraction only.
    EXPECT_EQ(raised(17, {abc, str(u"a"), 3, -1}), kRange);
    EXPECT_EQ(one(17, {abc, str(u"b"), 0, 0}), -1);
    EXPECT_EQ(raised(17, {abc, str(u"b"), 1, 0}), kRange);
    EXPECT_EQ(one(17, {abc, str(u""), 7, 9}), -1); // empty pattern before the range check
    EXPECT_EQ(raised(17, {abc, str(u"b"), -1, 2}), kRange);
}

TEST_F(StringNatives, SubstringsShareTheBufferOnlyWhenWhole) {
    TInt32 s = str(u"shared");
    TInt32 whole = one(-106, {s, 0, -1});
    EXPECT_EQ(buffer(whole), buffer(s));
    EXPECT_NE(buffer(one(-106, {s, 1, -1})), buffer(s));
}

TEST_F(StringNatives, FirstAndLastOccurrence) {
    TInt32 s = str(u"abcABCabc");
    EXPECT_EQ(call(16, {s, str(u"BC")}), (std::vector<TInt32>{1, 2}));
    EXPECT_EQ(call(16, {s, str(u"xy")}), (std::vector<TInt32>{0, 0}));
    EXPECT_EQ(call(16, {s, str(u"")}), (std::vector<TInt32>{0, 0}));
    EXPECT_EQ(one(17, {s, str(u"abc"), 1, 7}), 3);
    EXPECT_EQ(one(17, {s, str(u"abc"), 1, 4}), -1); // longer than what is left of the range
    EXPECT_EQ(one(18, {str(u"abc"), str(u"B"), 0}), 1);
    EXPECT_EQ(one(18, {str(u"abc"), str(u"B"), 1}), -1);
    EXPECT_EQ(one(19, {s, str(u"abc"), 1, -1, 1}), 6);
    EXPECT_EQ(one(20, {s, ch(u'C')}), 2);
    EXPECT_EQ(one(21, {s, ch(u'a'), 4, -1}), 6);
    EXPECT_EQ(one(22, {s, ch(u'C'), 1}), 5);
    EXPECT_EQ(one(23, {s, ch(u'c'), 3, 3, 1}), -1);
    EXPECT_EQ(one(16 + 8, {s, str(u"abc")}), 6);
    EXPECT_EQ(one(25, {s, str(u"abc"), 0, 6}), 3);
    EXPECT_EQ(one(26, {s, str(u"ABC"), 1}), 3);
    EXPECT_EQ(one(27, {s, str(u"abc"), 0, 8, 1}), 0);
    EXPECT_EQ(one(28, {s, ch(u'b')}), 7);
    EXPECT_EQ(one(29, {s, ch(u'b'), 0, 6}), 4);
    EXPECT_EQ(one(30, {s, ch(u'B'), 1}), 4);
    EXPECT_EQ(one(31, {s, ch(u'B'), 5, -1, 1}), -1);
    EXPECT_EQ(one(24, {s, s}), 0); // the very same buffer
    EXPECT_EQ(one(-101, {s, 1, -1, str(u"ab")}), 3);
    EXPECT_EQ(one(-100, {s, 1, -1, str(u"ab"), 1}), 6);
    EXPECT_EQ(one(-99, {s, 0, 5, str(u"AB")}), 3);
    EXPECT_EQ(one(-98, {s, 0, 5, str(u"ab"), 1}), 0);
    EXPECT_EQ(raised(20, {0, ch(u'a')}), kNull);
}

TEST_F(StringNatives, LongPatternsAreSearchedLikeShortOnes) {
    std::u16string text, pattern = u"abababababababac";
    for (int i = 0; i < 200; ++i) text += u"abababababababab";
    text += u"ABABABABABABABAC" + text + u"abababababababac" + text;
    TInt32 s = str(text);
    const int upper = 3200, lower = 6416;
    EXPECT_EQ(one(18, {s, str(pattern), 0}), upper);
    EXPECT_EQ(one(18, {s, str(pattern), 1}), lower);
    EXPECT_EQ(one(26, {s, str(pattern), 0}), lower);
    EXPECT_EQ(one(26, {s, str(u"ABABABABABABABAC"), 1}), upper);
    EXPECT_EQ(one(27, {s, str(pattern), 0, lower + 16, 0}), lower);
    EXPECT_EQ(one(27, {s, str(pattern), 0, lower + 15, 0}), upper);
    EXPECT_EQ(one(38, {s, str(pattern), 0}), 2);
    EXPECT_EQ(one(38, {s, str(u"abababababababab"), 1}), 600);
}

// Every text of up to five units over {a, A, b} against every pattern of up to three: the first
// and the last occurrence, exactly and ignoring case, as a plain search finds them.
TEST_F(StringNatives, ShortPatternsAreFoundWhereAPlainSearchFindsThem) {
    const auto fold = [](std::u16string t) {
        for (char16_t& unit : t) unit = unit == u'A' ? u'a' : unit;
        return t;
    };
    const auto every = [](size_t longest) {
        std::vector<std::u16string> all{u""};
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].size() < longest)
                for (char16_t unit : std::u16string_view(u"aAb")) all.push_back(all[i] + unit);
        return all;
    };
    const std::vector<std::u16string> patterns = every(3);
    for (const std::u16string& t : every(5)) {
        const TInt32 text = str(t);
        for (size_t p = 1; p < patterns.size(); ++p) {
            const TInt32 pattern = str(patterns[p]);
            for (TInt32 exact : {0, 1}) {
                const std::u16string a = exact ? t : fold(t);
                const std::u16string b = exact ? patterns[p] : fold(patterns[p]);
                const size_t first = a.find(b), last = a.rfind(b);
                const TInt32 expectedFirst = first == a.npos ? -1 : TInt32(first);
                const TInt32 expectedLast = last == a.npos ? -1 : TInt32(last);
                ASSERT_EQ(one(18, {text, pattern, exact}), expectedFirst);
                ASSERT_EQ(one(26, {text, pattern, exact}), expectedLast);
            }
        }
    }
}

TEST_F(StringNatives, CountsAreNonOverlapping) {
    TInt32 s = str(u"aAaAa");
    EXPECT_EQ(one(36, {s, str(u"aa")}), 2);
    EXPECT_EQ(one(37, {s, str(u"aa"), 1, 3}), 1);
    EXPECT_EQ(one(38, {s, str(u"aA"), 1}), 2);
    EXPECT_EQ(one(39, {s, str(u"Aa"), 0, 4, 1}), 1);
    EXPECT_EQ(one(40, {s, ch(u'A')}), 5);
    EXPECT_EQ(one(41, {s, ch(u'a'), 2, 0 + 1}), 1);
    EXPECT_EQ(one(42, {s, ch(u'A'), 1}), 2);
    EXPECT_EQ(one(43, {s, ch(u'a'), 0, 0, 1}), 0);
    EXPECT_EQ(one(36, {s, str(u"")}), 0);
}

TEST_F(StringNatives, MostFrequentUnit) {
    EXPECT_EQ(one(32, {str(u"abba")}), ch(u'a')); // ties: the earliest
    EXPECT_EQ(one(32, {str(u"aBbA b")}), ch(u'b'));
    EXPECT_EQ(one(34, {str(u"aBbA b"), 1}), ch(u'b'));
    EXPECT_EQ(one(34, {str(u"XaXbx"), 0}), ch(u'x')); // the lower-case form
    EXPECT_EQ(one(34, {str(u"XaXbx"), 1}), ch(u'X'));
    EXPECT_EQ(one(33, {str(u"aabbb"), 0, 3}), ch(u'a'));
    EXPECT_EQ(one(35, {str(u"aabBB"), 2, -1, 1}), ch(u'B'));
    EXPECT_EQ(raised(32, {str(u"")}), kFormat);
    EXPECT_EQ(raised(33, {str(u"ab"), 2, -1}), kRange);
}

TEST_F(StringNatives, StartsAndEndsWith) {
    TInt32 s = str(u"Prefix.txt");
    EXPECT_EQ(one(44, {s, str(u"pre")}), 1);
    EXPECT_EQ(one(45, {s, str(u"pre"), 1}), 0);
    EXPECT_EQ(one(46, {s, str(u".TXT")}), 1);
    EXPECT_EQ(one(47, {s, str(u".TXT"), 1}), 0);
    EXPECT_EQ(one(44, {s, str(u"")}), 0);
    EXPECT_EQ(one(46, {s, str(u"xPrefix.txt")}), 0);
}

TEST_F(StringNatives, Splitting) {
    EXPECT_EQ(strings(one(50, {str(u"a,,b,"), str(u",")})), (Strings{u"a", u"b"}));
    EXPECT_EQ(strings(one(50, {str(u"abc"), str(u",")})), Strings{});
    EXPECT_EQ(strings(one(50, {str(u""), str(u",")})), Strings{});
    EXPECT_EQ(strings(one(50, {str(u","), str(u",,")})), Strings{});
    EXPECT_EQ(strings(one(50, {str(u"1xx2XX3"), str(u"xX")})), (Strings{u"1", u"2", u"3"}));
    EXPECT_EQ(strings(one(51, {str(u"1xx2XX3"), str(u"xX"), 1})), Strings{});
    EXPECT_EQ(strings(one(51, {str(u"1xx2XX3"), str(u"XX"), 1})), (Strings{u"1xx2", u"3"}));
    EXPECT_EQ(strings(one(52, {str(u"aTbtc"), ch(u't')})), (Strings{u"a", u"b", u"c"}));
    EXPECT_EQ(strings(one(53, {str(u"aTbtc"), ch(u't'), 1})), (Strings{u"aTb", u"c"}));
    EXPECT_EQ(raised(50, {str(u"abc"), str(u"")}), kArgument);
    EXPECT_EQ(raised(50, {str(u"abc"), 0}), kNull);
}

TEST_F(StringNatives, EqualPiecesShareABufferThatAChangeCopies) {
    OVector pieces =
        OVector::ofValue(vm.heap(), Address(one(52, {str(u"ab,cd,ab,ab"), ch(u',')})), 4);
    ASSERT_EQ(pieces.count(), 4);
    const auto piece = [&](int i) { return TInt32(pieces.word(i)); };
    EXPECT_EQ(buffer(piece(0)), buffer(piece(2)));
    EXPECT_EQ(buffer(piece(0)), buffer(piece(3)));
    EXPECT_NE(buffer(piece(0)), buffer(piece(1)));
    EXPECT_EQ(references(piece(0)), 3u);
    call(63, {piece(0), ch(u'!')});
    EXPECT_EQ(text(piece(0)), u"ab!");
    EXPECT_EQ(text(piece(2)), u"ab");
    EXPECT_EQ(references(piece(2)), 2u);
}

TEST_F(StringNatives, ResultsSurviveACollectionWhileReachable) {
    TInt32 pieces = one(50, {str(u"one two"), str(u" ")});
    TInt32 boxed = one(-103, {str(u"xyz"), 1, -1});
    EXPECT_EQ(vm.heap().entry(Address(boxed) - kHeaderSize).gcCode, GC_CODE_REFERENCE_BOX);
    vm.heap().pin(Address(pieces));
    vm.heap().pin(Address(boxed));
    str(u"garbage");
    vm.heap().collect();
    str(u"new"); // reuses freed memory
    EXPECT_EQ(strings(pieces), (Strings{u"one", u"two"}));
    EXPECT_EQ(text(TInt32(arena().word(Address(boxed)))), u"yz");
}

TEST_F(StringNatives, StoringIntoBoxes) {
    TInt32 box = str(u"old");
    const Address oldObject = arena().word(Address(box));
    auto stored = [&](TInt32 function, std::initializer_list<TInt32> rest) {
        std::vector<TInt32> args{box};
        args.insert(args.end(), rest);
        const TInt32 start = vm.sp;
        for (TInt32 arg : args) vm.push(arg);
        stringNative(vm, function);
        EXPECT_EQ(vm.sp, start);
        vm.sp = start;
        EXPECT_NE(arena().word(Address(box)), oldObject); // a new string object
        return text(box);
    };
    TInt32 source = str(u"abcdefg");
    EXPECT_EQ(stored(1, {}), u"");
    EXPECT_EQ(stored(2, {source}), u"abcdefg");
    EXPECT_EQ(buffer(box), buffer(source));
    EXPECT_EQ(stored(4, {source}), u"abcdefg");
    EXPECT_EQ(stored(5, {ch(u'z'), 3}), u"zzz");
    EXPECT_EQ(stored(5, {ch(u'z'), 0}), u"");
    EXPECT_EQ(stored(7, {source, 2, 3}), u"cde");
    EXPECT_EQ(stored(7, {source, 9, -1}), u"");
    EXPECT_EQ(stored(8, {source, 3}), u"adg");
    EXPECT_EQ(stored(8, {source, 1}), u"abcdefg");
    EXPECT_EQ(stored(9, {source, 1, 5, 2}), u"bdf");
    EXPECT_EQ(stored(9, {source, 1, -1, 9}), u"b");
    EXPECT_EQ(raised(5, {box, ch(u'z'), -1}), kArgument);
    EXPECT_EQ(raised(8, {box, source, 0}), kArgument);
    EXPECT_EQ(raised(9, {box, source, 6, 2, 1}), kRange);
    EXPECT_EQ(raised(2, {0, source}), kNull);
    EXPECT_EQ(raised(1, {0}), kNull);
}

TEST_F(StringNatives, LengthUnitsAndAddresses) {
    TInt32 s = str(u"h\u00E9llo");
    EXPECT_EQ(one(10, {s}), 5);
    EXPECT_EQ(one(11, {s}), 0);
    EXPECT_EQ(one(11, {str(u"")}), 1);
    EXPECT_EQ(one(14, {s}), ch(u'h'));
    EXPECT_EQ(one(15, {s}), ch(u'o'));
    EXPECT_EQ(raised(14, {str(u"")}), kIndex);
    EXPECT_EQ(raised(15, {str(u"")}), kIndex);
    Address address = Address(one(12, {s, 1}));
    EXPECT_EQ(arena().unit(address), 0x00E9);
    EXPECT_EQ(arena().unit(Address(one(12, {s, 4}))), ch(u'o'));
    EXPECT_EQ(raised(12, {s, 5}), kIndex);
    EXPECT_EQ(raised(12, {s, -1}), kIndex);
    EXPECT_EQ(raised(10, {0}), kNull);
}

TEST_F(StringNatives, ConcatenationAndRepetition) {
    EXPECT_EQ(textOf(48, {str(u"ab"), str(u"cd")}), u"abcd");
    EXPECT_EQ(textOf(48, {str(u""), str(u"cd")}), u"cd");
    EXPECT_EQ(textOf(49, {str(u"ab"), 3}), u"ababab");
    EXPECT_EQ(textOf(49, {str(u"ab"), 0}), u"");
    EXPECT_EQ(textOf(49, {str(u""), 5}), u"");
    EXPECT_EQ(raised(49, {str(u"ab"), -1}), kArgument);
    std::u16string longText(1000, u'x');
    EXPECT_EQ(raised(49, {str(longText), 2000000000}), kOutOfMemory);
    EXPECT_EQ(raised(5, {str(u""), ch(u'x'), 2000000000}), kOutOfMemory);
}

TEST_F(StringNatives, Insertions) {
    EXPECT_EQ(edited(u"ad", 57, {1, str(u"bc")}), u"abcd");
    EXPECT_EQ(edited(u"ab", 57, {2, str(u"cd")}), u"abcd");
    EXPECT_EQ(edited(u"bc", 58, {0, ch(u'a')}), u"abc");
    EXPECT_EQ(edited(u"ae", 59, {str(u"xbcdx"), 1, 3, 1}), u"abcde");
    EXPECT_EQ(edited(u"a", 59, {str(u"xbc"), 1, -1, 1}), u"abc");
    EXPECT_EQ(edited(u"a", 59, {str(u"xbc"), 0, 0, 9}), u"a"); // empty range: nothing
    EXPECT_EQ(raised(57, {str(u"ab"), 3, str(u"x")}), kIndex);
    EXPECT_EQ(raised(58, {str(u"ab"), -1, ch(u'x')}), kIndex);
    EXPECT_EQ(raised(59, {str(u"ab"), str(u"xy"), 1, 2, 0}), kRange);

    EXPECT_EQ(edited(u"ad", -104, {1, 0, str(u"bc")}), u"abcd");
    EXPECT_EQ(edited(u"abXYZ", -104, {2, -1, str(u"c")}), u"abc");
    EXPECT_EQ(edited(u"aXYd", -104, {1, 2, str(u"bc")}), u"abcd");
    EXPECT_EQ(raised(-104, {str(u"ab"), 3, 0, str(u"c")}), kRange);
    EXPECT_EQ(raised(-104, {str(u"ab"), -1, 1, str(u"c")}), kRange);

    EXPECT_EQ(edited(u"ad", -102, {1, 2, str(u"xbcx"), 1, 0}), u"abcd");
    EXPECT_EQ(edited(u"ad", -102, {0, -1, str(u"xbcx"), 1, 0}), u"ad");
    EXPECT_EQ(edited(u"aXd", -102, {7, 9, str(u"bc"), 1, 1}), u"abcd");
    EXPECT_EQ(edited(u"aXY", -102, {7, 9, str(u"bc"), 1, -1}), u"abc");
    EXPECT_EQ(raised(-102, {str(u"ad"), -1, 0, str(u"bc"), 1, 0}), kRange);
    EXPECT_EQ(raised(-102, {str(u"ad"), 1, 2, str(u"bc"), 1, 0}), kRange);

    EXPECT_EQ(edited(u"bc", 60, {str(u"a")}), u"abc");
    EXPECT_EQ(edited(u"bc", 61, {ch(u'a')}), u"abc");
    EXPECT_EQ(edited(u"ab", 62, {str(u"cd")}), u"abcd");
    EXPECT_EQ(edited(u"ab", 63, {ch(u'c')}), u"abc");
    EXPECT_EQ(edited(u"ab", 64, {str(u"cd")}), u"abcd");
    EXPECT_EQ(edited(u"ab", 65, {ch(u'c')}), u"abc");
}

TEST_F(StringNatives, RepeatingAndReplacingRanges) {
    EXPECT_EQ(edited(u"ab", 66, {3}), u"ababab");
    EXPECT_EQ(edited(u"ab", 66, {0}), u"");
    EXPECT_EQ(edited(u"ab", 66, {1}), u"ab");
    EXPECT_EQ(raised(66, {str(u"ab"), -2}), kArgument);
    EXPECT_EQ(raised(66, {str(std::u16string(1000, u'x')), 2000000000}), kOutOfMemory);
    EXPECT_EQ(edited(u"aXYd", 67, {1, 2, str(u"bc")}), u"abcd");
    EXPECT_EQ(edited(u"aXYd", 67, {1, -1, str(u"")}), u"a");
    EXPECT_EQ(edited(u"aXd", 68, {1, 1, ch(u'b')}), u"abd");
    EXPECT_EQ(edited(u"ab", 68, {0, 0, ch(u'b')}), u"ab");
    EXPECT_EQ(raised(67, {str(u"ab"), 1, 0, str(u"c")}), kRange);
}

TEST_F(StringNatives, ReplacingOccurrences) {
    TInt32 u = str(u"<>");
    EXPECT_EQ(edited(u"aXbxc", 69, {str(u"x"), u}), u"a<>bxc");
    EXPECT_EQ(edited(u"aXbxc", 70, {str(u"x"), u, 1}), u"aXb<>c");
    EXPECT_EQ(edited(u"aXbxc", 71, {str(u"x"), ch(u'-')}), u"a-bxc");
    EXPECT_EQ(edited(u"aXbxc", 72, {str(u"X"), ch(u'-'), 1}), u"a-bxc");
    EXPECT_EQ(edited(u"xaxbx", 73, {str(u"x"), 1, -1, u}), u"xa<>bx");
    EXPECT_EQ(edited(u"xaXbx", 74, {str(u"x"), 1, 3, u, 1}), u"xaXbx");
    EXPECT_EQ(edited(u"xaxbx", 75, {str(u"x"), 1, -1, ch(u'-')}), u"xa-bx");
    EXPECT_EQ(edited(u"xaXbx", 76, {str(u"x"), 0, 4, ch(u'-'), 1}), u"-aXbx");

    EXPECT_EQ(edited(u"aXbxc", 77, {str(u"x"), u}), u"aXb<>c");
    EXPECT_EQ(edited(u"aXbxc", 78, {str(u"X"), u, 1}), u"a<>bxc");
    EXPECT_EQ(edited(u"xaxbx", 81, {str(u"x"), 0, 4, u}), u"xa<>bx");
    EXPECT_EQ(edited(u"xaxbx", 84, {str(u"X"), 0, -1, ch(u'-'), 0}), u"xaxb-");

    EXPECT_EQ(edited(u"aXbxc", 85, {str(u"x"), u}), u"a<>b<>c");
    EXPECT_EQ(edited(u"aXbxc", 86, {str(u"x"), u, 1}), u"aXb<>c");
    EXPECT_EQ(edited(u"aaaa", 85, {str(u"aa"), str(u"b")}), u"bb");
    EXPECT_EQ(edited(u"aXbxc", 85, {str(u"x"), str(u"")}), u"abc"); // empty: removes
    EXPECT_EQ(edited(u"abc", 85, {str(u""), u}), u"abc");           // empty pattern
    EXPECT_EQ(edited(u"xaxbx", 89, {str(u"x"), 1, 3, u}), u"xa<>bx");
    EXPECT_EQ(edited(u"xxxxx", 91, {str(u"x"), 1, -1, ch(u'y')}), u"xyyyy");
    EXPECT_EQ(edited(u"xXxXx", 92, {str(u"x"), 1, 3, ch(u'y'), 1}), u"xXyXx");
    EXPECT_EQ(edited(u"xaxbx", -97, {1, 3, str(u"X"), u}), u"xa<>bx");
    EXPECT_EQ(edited(u"xaxbx", -96, {0, -1, str(u"X"), u, 1}), u"xaxbx");
    EXPECT_EQ(edited(u"xaxbx", -96, {0, -1, str(u"x"), u, 1}), u"<>a<>b<>");
    EXPECT_EQ(raised(89, {str(u"ab"), str(u"a"), 1, 0, u}), kRange);
    EXPECT_EQ(raised(69, {str(u"ab"), str(u"a"), 0}), kNull);
}

TEST_F(StringNatives, RemovingOccurrences) {
    EXPECT_EQ(edited(u"aXbxc", 95, {str(u"x")}), u"abxc");
    EXPECT_EQ(edited(u"xaxbx", 96, {str(u"X"), 1, -1}), u"xabx");
    EXPECT_EQ(edited(u"aXbxc", 97, {str(u"x"), 1}), u"aXbc");
    EXPECT_EQ(edited(u"xaxbx", 98, {str(u"x"), 1, 2, 1}), u"xabx");
    EXPECT_EQ(edited(u"aXbxc", 99, {ch(u'x')}), u"abxc");
    EXPECT_EQ(edited(u"aXbxc", 102, {ch(u'x'), 0, -1, 1}), u"aXbc");
    EXPECT_EQ(edited(u"aXbxc", 103, {str(u"x")}), u"aXbc");
    EXPECT_EQ(edited(u"aXbxc", 105, {str(u"x"), 1}), u"aXbc");
    EXPECT_EQ(edited(u"xaxbx", 108, {ch(u'x'), 0, 3}), u"xabx");
    EXPECT_EQ(edited(u"aXbxc", 111, {str(u"x")}), u"abc");
    EXPECT_EQ(edited(u"xaxbx", 112, {str(u"x"), 1, 3}), u"xabx");
    EXPECT_EQ(edited(u"aXbxc", 117, {ch(u'x'), 1}), u"aXbc");
    EXPECT_EQ(edited(u"aXbxc", 118, {ch(u'X'), 0, -1, 1}), u"abxc");
    EXPECT_EQ(raised(112, {str(u"ab"), str(u"a"), 2, -1}), kRange);
}

TEST_F(StringNatives, RemovingUnitsAndTrimming) {
    EXPECT_EQ(edited(u"abc", 93, {1}), u"ac");
    EXPECT_EQ(raised(93, {str(u"abc"), 3}), kIndex);
    EXPECT_EQ(edited(u"abcd", 94, {1, 2}), u"ad");
    EXPECT_EQ(edited(u"abcd", 94, {1, -1}), u"a");
    EXPECT_EQ(raised(94, {str(u"abc"), 1, 3}), kRange);
    EXPECT_EQ(edited(u"abc", 119, {}), u"bc");
    EXPECT_EQ(edited(u"abc", 120, {2}), u"c");
    EXPECT_EQ(edited(u"abc", 120, {3}), u"");
    EXPECT_EQ(edited(u"abc", 121, {}), u"ab");
    EXPECT_EQ(edited(u"abc", 122, {2}), u"a");
    EXPECT_EQ(raised(120, {str(u"abc"), 4}), kArgument);
    EXPECT_EQ(raised(122, {str(u"abc"), -1}), kArgument);
    EXPECT_EQ(raised(119, {str(u"")}), kIndex);
    EXPECT_EQ(edited(u"abc", 123, {}), u"");
    EXPECT_EQ(edited(u" \t a b\u00A0 ", 124, {}), u"a b\u00A0 ");
    EXPECT_EQ(edited(u" \t a b\u00A0 ", 125, {}), u" \t a b");
    EXPECT_EQ(edited(u" \t a b\u00A0 ", 126, {}), u"a b");
    EXPECT_EQ(edited(u"   ", 126, {}), u"");
}

TEST_F(StringNatives, InPlaceEditsAreSeenByEveryHolderOfTheValue) {
    TInt32 value = str(u"abc");
    TInt32 sameValue = value; // a second variable holding the same string value
    TInt32 copy = str(u"");
    call(2, {copy, value}); // assignment: shares the buffer, not the value
    EXPECT_EQ(references(value), 2u);

    call(62, {value, str(u"def")});
    EXPECT_EQ(text(sameValue), u"abcdef");
    EXPECT_EQ(text(copy), u"abc");
    EXPECT_EQ(references(value), 1u);
    EXPECT_EQ(references(copy), 1u);

    call(-128, {copy});
    EXPECT_EQ(text(copy), u"ABC");
    EXPECT_EQ(text(value), u"abcdef");

    call(62, {value, value}); // appending a string to itself
    EXPECT_EQ(text(value), u"abcdefabcdef");
    call(57, {value, 3, value});
    EXPECT_EQ(text(value), u"abcabcdefabcdefdefabcdef");
    EXPECT_EQ(references(value), 1u);
}

TEST_F(StringNatives, AFailedEditLeavesTheStringIntact) {
    TInt32 value = str(u"abc");
    TInt32 copy = str(u"");
    call(2, {copy, value});
    const Address before = buffer(value);
    EXPECT_EQ(raised(67, {value, 2, 5, str(u"x")}), kRange);
    EXPECT_EQ(raised(66, {value, 2000000000}), kOutOfMemory);
    EXPECT_EQ(raised(57, {value, 0, 0}), kNull);
    EXPECT_EQ(buffer(value), before);
    EXPECT_EQ(references(value), 2u);
    EXPECT_EQ(text(value), u"abc");
    EXPECT_EQ(raised(62, {0, str(u"x")}), kNull);
    TInt32 emptyBox = static_cast<TInt32>(vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX));
    EXPECT_EQ(raised(62, {emptyBox, str(u"x")}), kNull);
}

TEST_F(StringNatives, ForgedBuffersReadAsEmpty) {
    TInt32 value = str(u"abc");
    arena().setWord(arena().word(Address(value)) + 4, 0x12345678);
    EXPECT_EQ(one(10, {value}), 0);
    call(62, {value, str(u"ok")});
    EXPECT_EQ(text(value), u"ok");
}

TEST_F(StringNatives, EditsNeedALiveStringObject) {
    const Raised invalid{10, "VMException: String: invalid string object"};
    TInt32 value = str(u"abc");
    Address box = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
    arena().setWord(box, Address(value)); // a box around a value, not around a string object
    EXPECT_EQ(raised(62, {TInt32(box), str(u"x")}), invalid);
    arena().setWord(box, arena().word(Address(value)) + 2);
    EXPECT_EQ(raised(123, {TInt32(box)}), invalid);
    Address object = arena().word(Address(value));
    vm.heap().release(object);
    arena().setWord(box, object); // a freed string object
    EXPECT_EQ(raised(123, {TInt32(box)}), invalid);
}

TEST_F(StringNatives, UnknownNumbersRaiseTheGroupError) {
    vm.pc = 4321;
    const Raised unknown{10, "VMException: String:4321"};
    for (TInt32 function : {3, 6, 13, 54, 55, 56, 0, -1, -95, -105})
        EXPECT_EQ(raised(function, {str(u"a"), str(u"b")}), unknown) << function;
}

TEST_F(StringNatives, BuildingByAppendsReusesTheBuffer) {
    TInt32 value = str(u"");
    for (int i = 0; i < 100000; ++i) call(63, {value, ch(u'a' + i % 26)});
    std::u16string built = text(value);
    ASSERT_EQ(built.size(), 100000u);
    EXPECT_EQ(built.substr(99990), u"uvwxyzabcd");
    EXPECT_EQ(references(value), 1u);
}

} // namespace
