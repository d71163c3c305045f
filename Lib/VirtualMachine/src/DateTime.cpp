#include "DateTime.h"

#include "ErrorHandling.h"
#include "Heap.h"

#include <cstdio>
#include <ctime>
#include <memory>

namespace Zarnok {

namespace {

// Beyond this, in either direction, a year is not represented; no real application computes
// with such years, and their instants stay far inside 64 bits.
constexpr TInt64 kYearLimit = 100000000;
constexpr TInt64 kSecondsPerDay = 86400;
constexpr TInt64 kDaysPer400Years = 146097;
// Days from 0000-03-01, where the proleptic Gregorian cycle starts, to 1970-01-01.
constexpr TInt64 kEpochFromCycleStart = 719468;

static_assert(sizeof(std::time_t) == sizeof(TInt64), "instants need a 64-bit time_t");

TInt64 floorDiv(TInt64 a, TInt64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool above(TInt32 value, TUint32 limit) {
    return TUint32(value) > limit;
}

// Days since 1970-01-01 of a proleptic Gregorian date. Years counted from March put the leap
// day last, so each 400-year cycle is regular.
TInt64 daysFromCivil(TInt64 year, TInt64 month, TInt64 day) {
    const TInt64 marchYear = year - (month <= 2);
    const TInt64 cycle = floorDiv(marchYear, 400);
    const TInt64 yearOfCycle = marchYear - cycle * 400;
    const TInt64 dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const TInt64 dayOfCycle = yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
    return cycle * kDaysPer400Years + dayOfCycle - kEpochFromCycleStart;
}

// The calendar fields of seconds since 1970-01-01 00:00, with no zone offset.
std::tm civilFromSeconds(TInt64 seconds) {
    const TInt64 days = floorDiv(seconds, kSecondsPerDay);
    const TInt64 timeOfDay = seconds - days * kSecondsPerDay;
    const TInt64 fromCycleStart = days + kEpochFromCycleStart;
    const TInt64 cycle = floorDiv(fromCycleStart, kDaysPer400Years);
    const TInt64 dayOfCycle = fromCycleStart - cycle * kDaysPer400Years;
    const TInt64 yearOfCycle =
        (dayOfCycle - dayOfCycle / 1460 + dayOfCycle / 36524 - dayOfCycle / 146096) / 365;
    const TInt64 dayOfYear = dayOfCycle - (365 * yearOfCycle + yearOfCycle / 4 - yearOfCycle / 100);
    const TInt64 monthFromMarch = (5 * dayOfYear + 2) / 153;
    std::tm fields{};
    fields.tm_mday = int(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    fields.tm_mon = int(monthFromMarch < 10 ? monthFromMarch + 2 : monthFromMarch - 10);
    fields.tm_year = int(yearOfCycle + cycle * 400 + (fields.tm_mon <= 1) - 1900);
    fields.tm_hour = int(timeOfDay / 3600);
    fields.tm_min = int(timeOfDay / 60 % 60);
    fields.tm_sec = int(timeOfDay % 60);
    return fields;
}

// localtime_r does not look at TZ again by itself; a process may have changed it since.
std::optional<std::tm> localFields(TInt64 instant) {
    tzset();
    const std::time_t value = instant;
    std::tm fields{};
    if (!localtime_r(&value, &fields)) return std::nullopt;
    return fields;
}

bool sameWallClock(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// mktime answers -1 both for an error and for the second before 1970 UTC.
bool madeTime(std::time_t result, const std::tm& normalised) {
    if (result != -1) return true;
    const std::optional<std::tm> check = localFields(-1);
    return check && sameWallClock(*check, normalised);
}

// The instant of a local wall-clock time, given as seconds counted as if it were UTC. An hour
// that occurs twice is left to mktime with no daylight-saving hint, as QDateTime leaves it:
// glibc takes the occurrence nearest the offset of its previous answer.
TInt64 localInstant(TInt64 wallClock) {
    const std::tm wanted = civilFromSeconds(wallClock);
    std::tm normalised = wanted;
    normalised.tm_isdst = -1;
    const std::time_t instant = std::mktime(&normalised);
    if (madeTime(instant, normalised) && sameWallClock(wanted, normalised)) return instant;
    // A wall-clock time that the clocks skip: taken with the offset in force before the change,
    // so it lands as far after the change as it lies after its start.
    const std::optional<std::tm> dayBefore = localFields(wallClock - kSecondsPerDay);
    return wallClock - (dayBefore ? dayBefore->tm_gmtoff : 0);
}

std::optional<std::tm> fieldsAt(TInt64 instant, TInt32 timezone) {
    if (timezone == DateTime::kUtc) return civilFromSeconds(instant);
    return localFields(instant);
}

} // namespace

DateTime DateTime::now(TInt32 timezone) {
    return fromSecondsSinceEpoch(std::time(nullptr), timezone);
}

DateTime DateTime::fromSecondsSinceEpoch(TInt64 seconds, TInt32 timezone) {
    DateTime result;
    result.timezone = timezone;
    result.readBack(seconds);
    return result;
}

DateTime DateTime::create(TInt32 day, TInt32 month, TInt32 year, TInt32 hour, TInt32 minute,
                          TInt32 second, TInt32 timezone) {
    if (above(year, 9999)) raise(KErrInvalidArgument, "Invalid year");
    if (above(month - 1, 11)) raise(KErrInvalidArgument, "Invalid month");
    if (above(day - 1, 30)) raise(KErrInvalidArgument, "Invalid day");
    if (above(hour, 23)) raise(KErrInvalidArgument, "Invalid hour");
    if (above(minute, 59)) raise(KErrInvalidArgument, "Invalid minute");
    if (above(second, 59)) raise(KErrInvalidArgument, "Invalid second");
    if (timezone != kLocalTime && timezone != kUtc) raise(KErrInvalidArgument, "Invalid timezone");
    DateTime result;
    result.timezone = timezone;
    result.day = day;
    result.month = month;
    result.year = year;
    result.hour = hour;
    result.minute = minute;
    result.second = second;
    result.readBack(result.secondsSinceEpoch());
    return result;
}

// Fields outside their ranges (a day past the month's end, or what arithmetic left behind)
// carry into the next larger field, as mktime does.
std::optional<TInt64> DateTime::secondsSinceEpoch() const {
    const TInt64 months = TInt64(year) * 12 + (TInt64(month) - 1);
    const TInt64 fullYear = floorDiv(months, 12);
    if (fullYear > kYearLimit || fullYear < -kYearLimit) return std::nullopt;
    const TInt64 days = daysFromCivil(fullYear, months - fullYear * 12 + 1, 1) + (TInt64(day) - 1);
    const TInt64 wallClock =
        days * kSecondsPerDay + TInt64(hour) * 3600 + TInt64(minute) * 60 + second;
    return timezone == kUtc ? wallClock : localInstant(wallClock);
}

void DateTime::readBack(std::optional<TInt64> instant) {
    const std::optional<std::tm> fields =
        instant ? fieldsAt(*instant, timezone) : std::optional<std::tm>();
    if (!fields) {
        day = month = year = hour = minute = second = 0;
        return;
    }
    day = fields->tm_mday;
    month = fields->tm_mon + 1;
    year = fields->tm_year + 1900;
    hour = fields->tm_hour;
    minute = fields->tm_min;
    second = fields->tm_sec;
}

void DateTime::addSeconds(TInt64 seconds) {
    const std::optional<TInt64> instant = secondsSinceEpoch();
    readBack(instant ? std::optional<TInt64>(*instant + seconds) : std::nullopt);
}

void DateTime::add(TInt32 days, TInt32 hours, TInt32 minutes, TInt32 seconds) {
    addSeconds(TInt64(days) * kSecondsPerDay + TInt64(hours) * 3600 + TInt64(minutes) * 60 +
               seconds);
}

void DateTime::subtract(TInt32 days, TInt32 hours, TInt32 minutes, TInt32 seconds) {
    addSeconds(
        -(TInt64(days) * kSecondsPerDay + TInt64(hours) * 3600 + TInt64(minutes) * 60 + seconds));
}

void DateTime::setField(TInt32 DateTime::*field, TInt32 value, TInt32 lowest, TInt32 highest) {
    if (above(value - lowest, TUint32(highest - lowest))) raise(KErrInvalidArgument);
    DateTime changed = *this;
    changed.*field = value;
    readBack(changed.secondsSinceEpoch());
}

void DateTime::setDay(TInt32 value) {
    setField(&DateTime::day, value, 1, 31);
}
void DateTime::setMonth(TInt32 value) {
    setField(&DateTime::month, value, 1, 12);
}
void DateTime::setYear(TInt32 value) {
    setField(&DateTime::year, value, 0, 9999);
}
void DateTime::setHour(TInt32 value) {
    setField(&DateTime::hour, value, 0, 23);
}
void DateTime::setMinute(TInt32 value) {
    setField(&DateTime::minute, value, 0, 59);
}
void DateTime::setSecond(TInt32 value) {
    setField(&DateTime::second, value, 0, 59);
}

void DateTime::setTimezone(TInt32 zone) {
    if (zone == timezone) return;
    if (zone != kLocalTime && zone != kUtc) raise(KErrInvalidArgument);
    const std::optional<TInt64> instant = secondsSinceEpoch();
    timezone = zone;
    if (instant) readBack(instant);
}

CAppsString DateTime::toText() const {
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s", year, month, day, hour,
                  minute, second, timezone == kUtc ? "Z" : "");
    return CAppsString(text);
}

namespace {

TInt32 order(TInt32 a, TInt32 b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

} // namespace

TInt32 DateTime::compareTimeTo(const DateTime& other) const {
    Z_CHECK(this->getTimezone() == other.getTimezone());
    if (TInt32 c = order(hour, other.hour)) return c;
    if (TInt32 c = order(minute, other.minute)) return c;
    return order(second, other.second);
}

TInt32 DateTime::compare(const DateTime& a, const DateTime& b) {
    if (a.timezone != b.timezone) {
        DateTime aligned = b;
        aligned.setTimezone(a.timezone);
        return compare(a, aligned);
    }
    if (TInt32 c = order(a.year, b.year)) return c;
    if (TInt32 c = order(a.month, b.month)) return c;
    if (TInt32 c = order(a.day, b.day)) return c;
    return a.compareTimeTo(b);
}

Address newDateTime(VMHeap& heap, const DateTime& value) {
    return heap.allocateNative(std::make_unique<DateTime>(value), 4, GC_CODE_DATE_TIME);
}

DateTime* dateTimeAt(const VMHeap& heap, Address reference) {
    return dynamic_cast<DateTime*>(heap.nativeObject(reference));
}

} // namespace Zarnok
