// Date-time arithmetic on the C library, checked against the QDateTime arithmetic it replaced:
// the same fields, carries, zone conversions, daylight-saving gaps and overlaps and range limits.

#include "DateTime.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace {

using Zarnok::DateTime;

// Zones with a one-hour, a half-hour and a whole-day change (Apia skipped 2011-12-30).
const char* const kZones[] = {"Europe/Helsinki", "America/New_York", "Australia/Lord_Howe",
                              "Pacific/Apia", "UTC"};

void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

struct Fields {
    int year, month, day, hour, minute, second;
    bool operator==(const Fields&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Fields& f) {
    return out << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute
               << ':' << f.second;
}

Fields fieldsOf(const DateTime& d) {
    return {d.getYear(), d.getMonth(), d.getDay(), d.getHour(), d.getMinute(), d.getSecond()};
}

// The QDateTime arithmetic that DateTime used to do, kept as the reference.
struct Reference {
    Fields f;
    int zone;

    static Qt::TimeSpec qtZoneOf(int zone) {
        return zone == DateTime::kUtc ? Qt::UTC : Qt::LocalTime;
    }
    static qint64 floorDiv(qint64 a, qint64 b) {
        return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
    }

    static Reference made(const Fields& f, int zone) {
        Reference r{f, zone};
        r.readBack(r.toQt());
        return r;
    }
    QDateTime toQt() const {
        const qint64 months = qint64(f.year) * 12 + (qint64(f.month) - 1);
        const qint64 fullYear = floorDiv(months, 12);
        if (fullYear > 100000000 || fullYear < -100000000) return QDateTime();
        const qint64 timeOfDay = qint64(f.hour) * 3600 + qint64(f.minute) * 60 + f.second;
        const qint64 carried = floorDiv(timeOfDay, 86400);
        const QDate date =
            QDate(int(fullYear <= 0 ? fullYear - 1 : fullYear), int(months - fullYear * 12) + 1, 1)
                .addDays(qint64(f.day) - 1 + carried);
        const QTime time = QTime::fromMSecsSinceStartOfDay(int(timeOfDay - carried * 86400) * 1000);
        const QDateTime value(date, time, qtZoneOf(zone));
        if (value.isValid() || zone == DateTime::kUtc || !date.isValid()) return value;
        const qint64 asUtc = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
        const int before =
            QDateTime::fromSecsSinceEpoch(asUtc - 86400, Qt::LocalTime).offsetFromUtc();
        return QDateTime::fromSecsSinceEpoch(asUtc - before, Qt::LocalTime);
    }
    void readBack(const QDateTime& value) {
        if (!value.isValid()) {
            f = {0, 0, 0, 0, 0, 0};
            return;
        }
        const QDate d = value.date();
        const QTime t = value.time();
        f = {d.year() < 0 ? d.year() + 1 : d.year(),
             d.month(),
             d.day(),
             t.hour(),
             t.minute(),
             t.second()};
    }
    void add(qint64 seconds) { readBack(toQt().addSecs(seconds)); }
    void set(int Fields::*field, int value) {
        Reference changed = *this;
        changed.f.*field = value;
        readBack(changed.toQt());
    }
    void setZone(int to) {
        const QDateTime value = toQt();
        if (value.isValid()) readBack(value.toTimeSpec(qtZoneOf(to)));
        zone = to;
    }
};

DateTime make(const Fields& f, int zone) {
    return DateTime::create(f.day, f.month, f.year, f.hour, f.minute, f.second, zone);
}

// glibc's mktime starts from the offset of its previous answer, and that picks which of the two
// occurrences of a repeated hour it returns; both sides start from the same answer.
void primeMktime(int month) {
    std::tm t{};
    t.tm_year = 121;
    t.tm_mon = month - 1;
    t.tm_mday = 15;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    std::mktime(&t);
}

// Valid inputs of create: epoch, leap years, the year limits, days past the month's end, the
// changes of each zone (gaps and repeated hours) and the local mean time of the 19th century.
const Fields kStarts[] = {
    {1970, 1, 1, 0, 0, 0},      {1969, 12, 31, 23, 59, 59}, {1970, 1, 1, 1, 59, 59},
    {1970, 1, 1, 2, 0, 0},      {1969, 12, 31, 19, 0, 0},   {2038, 1, 19, 3, 14, 8},
    {2000, 2, 29, 12, 0, 0},    {1900, 2, 29, 12, 0, 0},    {2100, 2, 29, 0, 0, 0},
    {0, 2, 29, 0, 0, 0},        {2024, 2, 31, 23, 59, 59},  {2021, 4, 31, 0, 0, 0},
    {0, 1, 1, 0, 0, 0},         {9999, 12, 31, 23, 59, 59}, {1, 1, 1, 0, 0, 0},
    {1800, 7, 1, 12, 0, 0},     {1919, 4, 30, 23, 30, 0},   {1942, 4, 2, 23, 30, 0},
    {2021, 3, 28, 3, 0, 0},     {2021, 3, 28, 3, 30, 0},    {2021, 3, 28, 3, 59, 59},
    {2021, 3, 28, 4, 0, 0},     {2021, 10, 31, 3, 0, 0},    {2021, 10, 31, 3, 30, 0},
    {2021, 10, 31, 3, 59, 59},  {2021, 10, 31, 4, 0, 0},    {2021, 3, 14, 2, 0, 0},
    {2021, 3, 14, 2, 30, 0},    {2021, 3, 14, 3, 0, 0},     {2021, 11, 7, 1, 0, 0},
    {2021, 11, 7, 1, 30, 0},    {2021, 11, 7, 1, 59, 59},   {2021, 11, 7, 2, 0, 0},
    {2021, 10, 3, 2, 15, 0},    {2021, 4, 4, 1, 45, 0},     {2011, 12, 30, 12, 0, 0},
    {2011, 12, 29, 23, 59, 59}, {2011, 12, 31, 0, 0, 0},    {2037, 10, 25, 3, 30, 0},
    {2150, 3, 29, 3, 30, 0},    {2150, 10, 25, 3, 30, 0},   {9999, 3, 26, 3, 30, 0},
};

TEST(DateTimeQtTest, CreateMatchesQDateTime) {
    for (const char* zone : kZones) {
        useZone(zone);
        for (const Fields& f : kStarts) {
            for (int tz : {DateTime::kLocalTime, DateTime::kUtc}) {
                for (int primed : {1, 7}) {
                    SCOPED_TRACE(::testing::PrintToString(f) + " zone " + std::to_string(tz) +
                                 " in " + zone + " primed " + std::to_string(primed));
                    primeMktime(primed);
                    const Reference expected = Reference::made(f, tz);
                    const QDateTime instant = expected.toQt();
                    primeMktime(primed);
                    const DateTime value = make(f, tz);
                    EXPECT_EQ(fieldsOf(value), expected.f);
                    primeMktime(primed);
                    EXPECT_EQ(value.secondsSinceEpoch(), instant.toSecsSinceEpoch());
                }
            }
        }
    }
}

TEST(DateTimeQtTest, AdditionsMatchQDateTime) {
    struct Step {
        int days, hours, minutes, seconds;
    };
    const int most = 0x7FFFFFFF, least = -most - 1;
    const Step steps[] = {
        {0, 0, 0, 1},
        {0, 0, 0, -1},
        {0, 1, 0, 0},
        {0, -1, 0, 0},
        {0, 0, 30, 0},
        {1, 0, 0, 0},
        {-1, 0, 0, 0},
        {365, 0, 0, 0},
        {-366, 0, 0, 0},
        {0, 0, 0, most},
        {0, 0, 0, least},
        {30000, 0, 0, 0},
        {-800000, 0, 0, 0},
        {most, 0, 0, 0},
        {least, 0, 0, 0},
        {0, most, most, 0},
        {least, least, least, least},
        {most, most, most, most},
        {2, -47, -59, -60},
    };
    for (const char* zone : kZones) {
        useZone(zone);
        for (const Fields& f : kStarts) {
            for (const Step& step : steps) {
                for (int tz : {DateTime::kLocalTime, DateTime::kUtc}) {
                    SCOPED_TRACE(::testing::PrintToString(f) + " zone " + std::to_string(tz) +
                                 " in " + zone + " + " + std::to_string(step.days) + "d " +
                                 std::to_string(step.hours) + "h " + std::to_string(step.minutes) +
                                 "m " + std::to_string(step.seconds) + "s");
                    const qint64 seconds = qint64(step.days) * 86400 + qint64(step.hours) * 3600 +
                                           qint64(step.minutes) * 60 + step.seconds;
                    Reference sum = Reference::made(f, tz), difference = sum;
                    sum.add(seconds);
                    difference.add(-seconds);
                    DateTime value = make(f, tz);
                    value.add(step.days, step.hours, step.minutes, step.seconds);
                    EXPECT_EQ(fieldsOf(value), sum.f);
                    value = make(f, tz);
                    value.subtract(step.days, step.hours, step.minutes, step.seconds);
                    EXPECT_EQ(fieldsOf(value), difference.f);
                }
            }
        }
    }
}

// Steps of about 5.9 million years walk past the year limit, where the fields become zeros,
// and from there on every operation computes from the zeros as the year before year 0.
TEST(DateTimeQtTest, FarFromYearZeroMatchesQDateTime) {
    for (const char* zone : kZones) {
        useZone(zone);
        for (int tz : {DateTime::kLocalTime, DateTime::kUtc}) {
            for (int direction : {1, -1}) {
                SCOPED_TRACE(std::string(zone) + " zone " + std::to_string(tz) + " direction " +
                             std::to_string(direction));
                Reference expected = Reference::made({9999, 12, 31, 23, 59, 59}, tz);
                DateTime value = make({9999, 12, 31, 23, 59, 59}, tz);
                for (int i = 0; i < 40 && expected.f.month != 0; ++i) {
                    expected.add(direction * 0x7FFFFFFFLL * 86400);
                    value.add(direction * 0x7FFFFFFF, 0, 0, 0);
                    ASSERT_EQ(fieldsOf(value), expected.f) << i;
                }
                EXPECT_EQ(fieldsOf(value), (Fields{0, 0, 0, 0, 0, 0}));
                expected.setZone(1 - tz);
                value.setTimezone(1 - tz);
                EXPECT_EQ(fieldsOf(value), expected.f);
                expected.set(&Fields::day, 15);
                value.setDay(15);
                EXPECT_EQ(fieldsOf(value), expected.f);
                expected.add(-3600);
                value.subtract(0, 1, 0, 0);
                EXPECT_EQ(fieldsOf(value), expected.f);
            }
        }
    }
}

TEST(DateTimeQtTest, SettersMatchQDateTime) {
    struct Case {
        void (DateTime::*set)(TInt32);
        int Fields::*field;
        int value;
    };
    const Case cases[] = {
        {&DateTime::setDay, &Fields::day, 31},       {&DateTime::setDay, &Fields::day, 29},
        {&DateTime::setDay, &Fields::day, 1},        {&DateTime::setMonth, &Fields::month, 2},
        {&DateTime::setMonth, &Fields::month, 12},   {&DateTime::setYear, &Fields::year, 0},
        {&DateTime::setYear, &Fields::year, 2023},   {&DateTime::setYear, &Fields::year, 9999},
        {&DateTime::setHour, &Fields::hour, 2},      {&DateTime::setHour, &Fields::hour, 3},
        {&DateTime::setMinute, &Fields::minute, 30}, {&DateTime::setSecond, &Fields::second, 59},
    };
    for (const char* zone : kZones) {
        useZone(zone);
        for (const Fields& f : kStarts) {
            for (const Case& c : cases) {
                for (int tz : {DateTime::kLocalTime, DateTime::kUtc}) {
                    SCOPED_TRACE(::testing::PrintToString(f) + " zone " + std::to_string(tz) +
                                 " in " + zone + " set " + std::to_string(c.value));
                    Reference expected = Reference::made(f, tz);
                    expected.set(c.field, c.value);
                    DateTime value = make(f, tz);
                    (value.*c.set)(c.value);
                    EXPECT_EQ(fieldsOf(value), expected.f);
                }
            }
        }
    }
}

// Instants from 100 million years before year 0 to as far after, and densely around today.
TEST(DateTimeQtTest, ManyInstantsBreakDownAndConvertLikeQDateTime) {
    std::mt19937_64 random(20240331);
    std::uniform_int_distribution<qint64> far(-3155700000000000LL, 3155700000000000LL);
    std::uniform_int_distribution<qint64> near(-4000000000LL, 8000000000LL);
    for (const char* zone : kZones) {
        useZone(zone);
        for (int i = 0; i < 3000; ++i) {
            const qint64 instant = i % 3 == 0 ? far(random) : near(random);
            for (int tz : {DateTime::kLocalTime, DateTime::kUtc}) {
                SCOPED_TRACE(std::to_string(instant) + " zone " + std::to_string(tz) + " in " +
                             zone);
                Reference expected{{}, tz};
                expected.readBack(QDateTime::fromSecsSinceEpoch(instant, Reference::qtZoneOf(tz)));
                DateTime value = DateTime::fromSecondsSinceEpoch(instant, tz);
                ASSERT_EQ(fieldsOf(value), expected.f);
                primeMktime(1 + i % 12);
                expected.setZone(1 - tz);
                primeMktime(1 + i % 12);
                value.setTimezone(1 - tz);
                ASSERT_EQ(fieldsOf(value), expected.f);
            }
        }
    }
}

// QDateTime reads TZ again on every conversion, so a zone set without tzset still counts.
TEST(DateTimeQtTest, ZoneChangedWithoutTzsetCounts) {
    const qint64 instant = 1600000000;
    useZone("Europe/Helsinki");
    DateTime::fromSecondsSinceEpoch(instant, DateTime::kLocalTime);
    for (const char* zone : kZones) {
        setenv("TZ", zone, 1);
        const DateTime value = DateTime::fromSecondsSinceEpoch(instant, DateTime::kLocalTime);
        Reference expected{{}, DateTime::kLocalTime};
        expected.readBack(QDateTime::fromSecsSinceEpoch(instant, Qt::LocalTime));
        EXPECT_EQ(fieldsOf(value), expected.f) << zone;
    }
}

} // namespace
