// The generated unit tables against QChar, the reference, for every 16-bit unit.

#include "UnicodeUnits.h"

#include <QChar>
#include <gtest/gtest.h>

#include <string>

namespace {

struct Property {
    const char* name;
    int (*ours)(TUint16);
    int (*qt)(QChar);
};

const Property kProperties[] = {
    {"isLetter", [](TUint16 u) { return int(UnicodeUnits::isLetter(u)); },
     [](QChar c) { return int(c.isLetter()); }},
    {"isDigit", [](TUint16 u) { return int(UnicodeUnits::isDigit(u)); },
     [](QChar c) { return int(c.isDigit()); }},
    {"isSpace", [](TUint16 u) { return int(UnicodeUnits::isSpace(u)); },
     [](QChar c) { return int(c.isSpace()); }},
    {"isSpaceOfCodePoint", [](TUint16 u) { return int(UnicodeUnits::isSpace(u)); },
     [](QChar c) { return int(QChar::isSpace(char32_t(c.unicode()))); }},
    {"toLower", [](TUint16 u) { return int(UnicodeUnits::toLower(u)); },
     [](QChar c) { return int(c.toLower().unicode()); }},
    {"toUpper", [](TUint16 u) { return int(UnicodeUnits::toUpper(u)); },
     [](QChar c) { return int(c.toUpper().unicode()); }},
};

class EveryUnit : public testing::TestWithParam<Property> {};

TEST_P(EveryUnit, AnswersAsQChar) {
    const Property& property = GetParam();
    int mismatches = 0;
    for (int unit = 0; unit < 0x10000; ++unit) {
        const int ours = property.ours(TUint16(unit));
        const int qt = property.qt(QChar(char16_t(unit)));
        if (ours != qt && ++mismatches <= 5)
            ADD_FAILURE() << property.name << " of U+" << std::hex << unit << ": " << ours
                          << " instead of " << qt;
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Properties, EveryUnit, testing::ValuesIn(kProperties),
                         [](const auto& info) { return std::string(info.param.name); });

// Fixed points that show lone-unit semantics, independent of the reference.
struct Sample {
    TUint16 unit, lower, upper;
    bool letter, digit, space;
};

const Sample kSamples[] = {
    {u'A', u'a', u'A', true, false, false},
    {u'7', u'7', u'7', false, true, false},
    {u'\t', u'\t', u'\t', false, false, true},
    {0x00A0, 0x00A0, 0x00A0, false, false, true},  // no-break space
    {0x00DF, 0x00DF, 0x00DF, true, false, false},  // sharp s: its upper case is two units
    {0x0130, 0x0130, 0x0130, true, false, false},  // dotted capital I: its lower case is two units
    {0x01C5, 0x01C6, 0x01C4, true, false, false},  // title-case Dz maps both ways
    {0x0391, 0x03B1, 0x0391, true, false, false},  // Greek capital alpha
    {0x0661, 0x0661, 0x0661, false, true, false},  // Arabic-Indic one
    {0x3000, 0x3000, 0x3000, false, false, true},  // ideographic space
    {0xD801, 0xD801, 0xD801, false, false, false}, // a lone surrogate has no properties
    {0xFFFF, 0xFFFF, 0xFFFF, false, false, false},
};

class SampleUnit : public testing::TestWithParam<Sample> {};

TEST_P(SampleUnit, HasKnownProperties) {
    const Sample& s = GetParam();
    EXPECT_EQ(UnicodeUnits::toLower(s.unit), s.lower);
    EXPECT_EQ(UnicodeUnits::toUpper(s.unit), s.upper);
    EXPECT_EQ(UnicodeUnits::isLetter(s.unit), s.letter);
    EXPECT_EQ(UnicodeUnits::isDigit(s.unit), s.digit);
    EXPECT_EQ(UnicodeUnits::isSpace(s.unit), s.space);
}

INSTANTIATE_TEST_SUITE_P(Units, SampleUnit, testing::ValuesIn(kSamples));

} // namespace
