// Date-time arithmetic and zone conversion, checked against the C library's own time functions
// (mktime, localtime_r, timegm, gmtime_r) in a zone with daylight-saving changes.

#include "DateTime.h"

#include "ErrorHandling.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace {

using Zarnok::DateTime;

// Set before any test asks Qt or the C library for local time.
const bool zoneSet = [] {
    setenv("TZ", "Europe/Helsinki", 1);
    tzset();
    return true;
}();

struct Fields {
    int year, month, day, hour, minute, second;
    bool operator==(const Fields&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Fields& f) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, f.second);
    return out << text;
}

Fields fieldsOf(const DateTime& d) {
    return {d.getYear(), d.getMonth(), d.getDay(), d.getHour(), d.getMinute(), d.getSecond()};
}

Fields fieldsOf(const std::tm& t) {
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

std::tm tmOf(const Fields& f) {
    std::tm t{};
    t.tm_year = f.year - 1900;
    t.tm_mon = f.month - 1;
    t.tm_mday = f.day;
    t.tm_hour = f.hour;
    t.tm_min = f.minute;
    t.tm_sec = f.second;
    t.tm_isdst = -1;
    return t;
}

// The reference: the instant of wall-clock fields and back, in each zone.
std::time_t instantOf(const Fields& f, int zone) {
    std::tm t = tmOf(f);
    return zone == DateTime::kUtc ? timegm(&t) : std::mktime(&t);
}
Fields fieldsAt(std::time_t instant, int zone) {
    std::tm t{};
    if (zone == DateTime::kUtc)
        gmtime_r(&instant, &t);
    else
        localtime_r(&instant, &t);
    return fieldsOf(t);
}

DateTime make(const Fields& f, int zone = DateTime::kLocalTime) {
    return DateTime::create(f.day, f.month, f.year, f.hour, f.minute, f.second, zone);
}

// A local wall-clock time that occurs twice (the hour the clocks go back) names two instants;
// starts there are left out, since either answer is right.
bool unambiguous(std::time_t instant) {
    std::tm before{}, after{};
    const std::time_t earlier = instant - 7200, later = instant + 7200;
    localtime_r(&earlier, &before);
    localtime_r(&later, &after);
    return before.tm_isdst == after.tm_isdst;
}

std::string errorOf(void (*operation)()) {
    clearLastError();
    try {
        operation();
    } catch (const ErrorHandlingException&) {
        return lastErrorText().toUtf8();
    }
    return "no error";
}

TEST(DateTimeTest, CreateChecksTheFieldsInOrder) {
    struct Case {
        void (*create)();
        const char* error;
    };
    const Case cases[] = {
        {[] { DateTime::create(1, 13, 10000, 0, 0, 0, 2); }, "Invalid year"},
        {[] { DateTime::create(1, 1, -1, 0, 0, 0, 0); }, "Invalid year"},
        {[] { DateTime::create(0, 13, 2010, 24, 0, 0, 0); }, "Invalid month"},
        {[] { DateTime::create(0, 0, 2010, 0, 0, 0, 0); }, "Invalid month"},
        {[] { DateTime::create(32, 12, 2010, 24, 0, 0, 0); }, "Invalid day"},
        {[] { DateTime::create(0, 12, 2010, 0, 0, 0, 0); }, "Invalid day"},
        {[] { DateTime::create(1, 12, 2010, 24, 60, 0, 0); }, "Invalid hour"},
        {[] { DateTime::create(1, 12, 2010, -1, 0, 0, 0); }, "Invalid hour"},
        {[] { DateTime::create(1, 12, 2010, 23, 60, 60, 0); }, "Invalid minute"},
        {[] { DateTime::create(1, 12, 2010, 23, 59, 60, 9); }, "Invalid second"},
        {[] { DateTime::create(1, 12, 2010, 23, 59, -5, 0); }, "Invalid second"},
        {[] { DateTime::create(1, 12, 2010, 23, 59, 59, 2); }, "Invalid timezone"},
        {[] { DateTime::create(1, 12, 2010, 23, 59, 59, -1); }, "Invalid timezone"},
        {[] { DateTime::create(31, 12, 9999, 23, 59, 59, 1); }, "no error"},
        {[] { DateTime::create(1, 1, 0, 0, 0, 0, 0); }, "no error"},
    };
    for (const Case& c : cases) {
        const std::string expected = std::string(c.error) == "no error"
                                         ? c.error
                                         : "InvalidArgumentException: " + std::string(c.error);
        EXPECT_EQ(errorOf(c.create), expected);
    }
}

TEST(DateTimeTest, SettersRefuseValuesOutsideTheirRangeAndLeaveTheObjectAlone) {
    struct Case {
        void (DateTime::*set)(TInt32);
        TInt32 value;
    };
    const Case refused[] = {
        {&DateTime::setDay, 0},      {&DateTime::setDay, 32},      {&DateTime::setMonth, 0},
        {&DateTime::setMonth, 13},   {&DateTime::setYear, -1},     {&DateTime::setYear, 10000},
        {&DateTime::setHour, 24},    {&DateTime::setHour, -1},     {&DateTime::setMinute, 60},
        {&DateTime::setMinute, -1},  {&DateTime::setSecond, 60},   {&DateTime::setSecond, -2},
        {&DateTime::setTimezone, 2}, {&DateTime::setTimezone, -1},
    };
    for (const Case& c : refused) {
        DateTime value = make({2010, 3, 7, 9, 5, 0});
        clearLastError();
        EXPECT_THROW((value.*c.set)(c.value), ErrorHandlingException);
        EXPECT_EQ(lastErrorText().toUtf8(), "InvalidArgumentException");
        EXPECT_EQ(fieldsOf(value), (Fields{2010, 3, 7, 9, 5, 0}));
        EXPECT_EQ(value.getTimezone(), 0);
    }
    DateTime value = make({2010, 3, 7, 9, 5, 0});
    value.setYear(2012);
    value.setMonth(2);
    value.setDay(29);
    value.setHour(23);
    value.setMinute(0);
    value.setSecond(59);
    EXPECT_EQ(fieldsOf(value), (Fields{2012, 2, 29, 23, 0, 59}));
    value.setTimezone(0); // the same zone: nothing changes
    EXPECT_EQ(fieldsOf(value), (Fields{2012, 2, 29, 23, 0, 59}));
}

// Dates that do not exist roll over into the next month, as mktime normalises them.
TEST(DateTimeTest, DatesThatDoNotExistRollOverLikeMktime) {
    const Fields cases[] = {
        {2021, 4, 31, 12, 0, 0}, {2021, 2, 29, 0, 0, 0}, {2021, 2, 31, 23, 59, 59},
        {2100, 2, 29, 6, 0, 0},  {2021, 6, 31, 1, 2, 3}, {2021, 11, 31, 0, 0, 0},
    };
    for (const Fields& f : cases) {
        std::tm t = tmOf(f);
        std::mktime(&t);
        EXPECT_EQ(fieldsOf(make(f)), fieldsOf(t)) << f;
    }
    DateTime leap = make({2024, 2, 29, 10, 0, 0});
    leap.setYear(2023);
    EXPECT_EQ(fieldsOf(leap), (Fields{2023, 3, 1, 10, 0, 0}));
    DateTime april = make({2021, 4, 30, 10, 0, 0});
    april.setDay(31);
    EXPECT_EQ(fieldsOf(april), (Fields{2021, 5, 1, 10, 0, 0}));
    DateTime january = make({2021, 1, 31, 10, 0, 0});
    january.setMonth(2);
    EXPECT_EQ(fieldsOf(january), (Fields{2021, 3, 3, 10, 0, 0}));
}

TEST(DateTimeTest, AdditionsMatchTheCLibraryAcrossDaylightSavingChanges) {
    struct Case {
        Fields start;
        int zone, days, hours, minutes, seconds;
    };
    // Helsinki: 2021-03-28 03:00 becomes 04:00; 2021-10-31 04:00 becomes 03:00.
    const Case cases[] = {
        {{2009, 12, 31, 23, 59, 59}, 0, 0, 0, 0, 1},
        {{2021, 3, 28, 2, 30, 0}, 0, 0, 1, 0, 0},
        {{2021, 3, 28, 2, 59, 59}, 0, 0, 0, 0, 1},
        {{2021, 3, 27, 3, 30, 0}, 0, 1, 0, 0, 0},
        {{2021, 3, 28, 4, 30, 0}, 0, 0, -1, 0, 0},
        {{2021, 10, 31, 2, 30, 0}, 0, 0, 1, 0, 0},
        {{2021, 10, 31, 2, 30, 0}, 0, 0, 2, 0, 0},
        {{2021, 10, 30, 12, 0, 0}, 0, 1, 0, 0, 0},
        {{2021, 11, 1, 0, 0, 0}, 0, -2, 0, 0, 0},
        {{2021, 1, 1, 0, 0, 0}, 0, 365, 0, 0, 0},
        {{2021, 1, 1, 0, 0, 0}, 0, 0, 0, 0, -1},
        {{2021, 3, 1, 0, 0, 0}, 0, 0, 24 * 200, 0, 0},
        {{2021, 3, 1, 0, 0, 0}, 0, 0, 0, 60 * 24 * 100, 0},
        {{2021, 3, 1, 0, 0, 0}, 0, 10, -5, 70, -3601},
        {{2021, 3, 28, 0, 30, 0}, 1, 0, 1, 0, 0},
        {{1970, 1, 1, 0, 0, 0}, 1, 24855, 0, 0, 0},
        {{1970, 1, 1, 0, 0, 0}, 1, 24856, 0, 0, 0}, // past 2^31 seconds
        {{1970, 1, 1, 0, 0, 0}, 1, 30000, 23, 59, 59},
        {{2037, 1, 1, 0, 0, 0}, 1, -24856, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.start) + " zone " + std::to_string(c.zone) + " + " +
                     std::to_string(c.days) + "d " + std::to_string(c.hours) + "h " +
                     std::to_string(c.minutes) + "m " + std::to_string(c.seconds) + "s");
        const std::int64_t seconds =
            std::int64_t(c.days) * 86400 + c.hours * 3600LL + c.minutes * 60LL + c.seconds;
        const std::time_t start = instantOf(c.start, c.zone);
        DateTime sum = make(c.start, c.zone);
        sum.add(c.days, c.hours, c.minutes, c.seconds);
        EXPECT_EQ(fieldsOf(sum), fieldsAt(start + seconds, c.zone));
        DateTime difference = make(c.start, c.zone);
        difference.subtract(c.days, c.hours, c.minutes, c.seconds);
        EXPECT_EQ(fieldsOf(difference), fieldsAt(start - seconds, c.zone));
        EXPECT_EQ(sum.getTimezone(), c.zone);
    }
}

TEST(DateTimeTest, ManyAdditionsAndConversionsMatchTheCLibrary) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::int64_t> instants(0, 2100000000);
    std::uniform_int_distribution<int> days(-3000, 3000), parts(-100000, 100000);
    int checked = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::time_t start = instants(random);
        const int zone = i % 2;
        if (zone == DateTime::kLocalTime && !unambiguous(start)) continue;
        const Fields fields = fieldsAt(start, zone);
        const int d = days(random), h = parts(random) / 100, m = parts(random) / 10,
                  s = parts(random);
        const std::time_t end = start + std::int64_t(d) * 86400 + h * 3600LL + m * 60LL + s;
        if (end < 0 || end > 2140000000) continue;
        DateTime value = make(fields, zone);
        ASSERT_EQ(fieldsOf(value), fields);
        value.add(d, h, m, s);
        ASSERT_EQ(fieldsOf(value), fieldsAt(end, zone))
            << fields << " + " << d << "d " << h << "h " << m << "m " << s << "s";
        value.setTimezone(1 - zone);
        ASSERT_EQ(fieldsOf(value), fieldsAt(end, 1 - zone));
        ASSERT_EQ(value.getTimezone(), 1 - zone);
        ++checked;
    }
    EXPECT_GT(checked, 3500);
}

TEST(DateTimeTest, ZoneConversionKeepsTheInstant) {
    const Fields localTimes[] = {
        {2021, 1, 15, 12, 0, 0},  {2021, 7, 15, 12, 0, 0},    {2021, 3, 28, 2, 59, 59},
        {2021, 3, 28, 4, 0, 0},   {2021, 10, 31, 2, 59, 59},  {2021, 10, 31, 4, 0, 0},
        {2000, 2, 29, 23, 30, 0}, {1999, 12, 31, 23, 59, 59},
    };
    for (const Fields& f : localTimes) {
        DateTime value = make(f);
        value.setTimezone(DateTime::kUtc);
        EXPECT_EQ(fieldsOf(value), fieldsAt(instantOf(f, 0), 1)) << f;
        const DateTime utc = value;
        value.setTimezone(DateTime::kLocalTime);
        EXPECT_EQ(fieldsOf(value), f);
        EXPECT_EQ(DateTime::compare(make(f), utc), 0);
        EXPECT_EQ(DateTime::compare(utc, make(f)), 0);
    }
}

// A local time that the spring change skips does not exist; it moves forward by the gap.
TEST(DateTimeTest, LocalTimesInTheSpringGapMoveForward) {
    EXPECT_EQ(fieldsOf(make({2021, 3, 28, 3, 30, 0})), (Fields{2021, 3, 28, 4, 30, 0}));
    DateTime value = make({2021, 3, 28, 2, 30, 0});
    value.setHour(3);
    EXPECT_EQ(fieldsOf(value), (Fields{2021, 3, 28, 4, 30, 0}));
}

TEST(DateTimeTest, CompareOrdersByInstant) {
    const DateTime early = make({2010, 3, 7, 9, 5, 0});
    const Fields later[] = {
        {2011, 1, 1, 0, 0, 0},  {2010, 4, 1, 0, 0, 0}, {2010, 3, 8, 0, 0, 0},
        {2010, 3, 7, 10, 0, 0}, {2010, 3, 7, 9, 6, 0}, {2010, 3, 7, 9, 5, 1},
    };
    for (const Fields& f : later) {
        EXPECT_EQ(DateTime::compare(early, make(f)), -1) << f;
        EXPECT_EQ(DateTime::compare(make(f), early), 1) << f;
    }
    EXPECT_EQ(DateTime::compare(early, make({2010, 3, 7, 9, 5, 0})), 0);
    // 09:05 local (UTC+2 in March) is 07:05 UTC: 07:30 UTC is later, 07:00 earlier.
    EXPECT_EQ(DateTime::compare(early, make({2010, 3, 7, 7, 30, 0}, 1)), -1);
    EXPECT_EQ(DateTime::compare(early, make({2010, 3, 7, 7, 0, 0}, 1)), 1);
}

TEST(DateTimeTest, TextFormPadsEveryField) {
    EXPECT_EQ(make({2010, 3, 7, 9, 5, 0}, 1).toText().toUtf8(), "2010-03-07 09:05:00Z");
    EXPECT_EQ(make({7, 1, 2, 3, 4, 5}).toText().toUtf8(), "0007-01-02 03:04:05");
    EXPECT_EQ(make({123, 12, 31, 23, 59, 59}).toText().toUtf8(), "0123-12-31 23:59:59");
    DateTime first = make({1, 1, 1, 0, 0, 0}, 1);
    first.subtract(0, 0, 0, 1); // year 0 comes before year 1, and is a leap year
    EXPECT_EQ(first.toText().toUtf8(), "0000-12-31 23:59:59Z");
    first.subtract(306, 0, 0, 0);
    EXPECT_EQ(first.toText().toUtf8(), "0000-02-29 23:59:59Z");
}

TEST(DateTimeTest, NowIsTheCurrentTimeInTheAskedZone) {
    const std::time_t before = std::time(nullptr);
    const DateTime local = DateTime::now(DateTime::kLocalTime);
    const DateTime utc = DateTime::now(DateTime::kUtc);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(local.getTimezone(), 0);
    EXPECT_EQ(utc.getTimezone(), 1);
    const std::time_t localInstant = instantOf(fieldsOf(local), 0);
    EXPECT_GE(localInstant, before - 3600); // the hour that repeats may read an hour early
    EXPECT_LE(localInstant, after);
    EXPECT_GE(instantOf(fieldsOf(utc), 1), before);
    EXPECT_LE(instantOf(fieldsOf(utc), 1), after);
}

TEST(DateTimeTest, ResultsBeyondTheCalendarReadBackAsZeros) {
    DateTime value = make({9999, 12, 31, 0, 0, 0}, 1);
    value.add(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF); // far, but representable
    EXPECT_GT(value.getYear(), 5000000);
    for (int i = 0; i < 40 && value.getYear() != 0; ++i) value.add(0x7FFFFFFF, 0, 0, 0);
    EXPECT_EQ(fieldsOf(value), (Fields{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(value.toText().toUtf8(), "0000-00-00 00:00:00Z");
    value.setTimezone(0);
    EXPECT_EQ(value.getTimezone(), 0);
    EXPECT_EQ(DateTime::compare(value, value), 0);
}

} // namespace
