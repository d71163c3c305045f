#pragma once

#include "CAppsString.h"
#include "GCObject.h"
#include "Types.h"

#include <optional>

class VMHeap;

namespace Zarnok {

// A calendar date and time of day in local time (timezone 0) or UTC (1), to the second.
// Every operation turns the fields into an instant (seconds since 1970 UTC) and breaks the
// result down into the fields again. Local time is the process's TZ, read through the C
// library's mktime and localtime_r.
//
// Years are astronomical: year 0 is the year before 1, as the text form writes it. A date
// that does not exist (31 April, 29 February of a common year) rolls over into the next
// month, as the C library's mktime does: 31 April is 1 May. A local time that a daylight-saving
// change skips is moved forward by the length of the gap, as mktime does; one that occurs twice
// is the one mktime picks. Fields whose year, once the months have carried, lies beyond
// 100,000,000 either side of year 0 read back as 0 in all six date and time fields.
class DateTime : public GCObject {
public:
    static constexpr TInt32 kLocalTime = 0;
    static constexpr TInt32 kUtc = 1;

    DateTime() = default;
    static DateTime now(TInt32 timezone);
    // Checks the fields in the order year, month, day, hour, minute, second, timezone and
    // raises code 6 "Invalid <field>" for the first outside its range.
    static DateTime create(TInt32 day, TInt32 month, TInt32 year, TInt32 hour, TInt32 minute,
                           TInt32 second, TInt32 timezone);
    // The instant of seconds since 1970-01-01 00:00 UTC, broken down in the given zone.
    static DateTime fromSecondsSinceEpoch(TInt64 seconds, TInt32 timezone);

    // Calendar arithmetic in 64 bits: no sum of the parts wraps.
    void add(TInt32 days, TInt32 hours, TInt32 minutes, TInt32 seconds);
    void subtract(TInt32 days, TInt32 hours, TInt32 minutes, TInt32 seconds);
    // Each raises code 6 with an empty message for a value outside the field's range and
    // then leaves the object unchanged.
    void setDay(TInt32 value);
    void setMonth(TInt32 value);
    void setYear(TInt32 value);
    void setHour(TInt32 value);
    void setMinute(TInt32 value);
    void setSecond(TInt32 value);
    // The same instant as wall-clock time of the other zone.
    void setTimezone(TInt32 zone);

    // "YYYY-MM-DD hh:mm:ss", then "Z" in UTC.
    CAppsString toText() const;
    // -1, 0 or 1: a before, at or after b as instants.
    static TInt32 compare(const DateTime& a, const DateTime& b);
    // Only the time of day; both in the same zone.
    TInt32 compareTimeTo(const DateTime& other) const;

    // Seconds since 1970-01-01 00:00 UTC; none beyond the year limit.
    std::optional<TInt64> secondsSinceEpoch() const;

    TInt32 getTimezone() const { return timezone; }
    TInt32 getDay() const { return day; }
    TInt32 getMonth() const { return month; }
    TInt32 getYear() const { return year; }
    TInt32 getHour() const { return hour; }
    TInt32 getMinute() const { return minute; }
    TInt32 getSecond() const { return second; }

private:
    void addSeconds(TInt64 seconds);
    void setField(TInt32 DateTime::*field, TInt32 value, TInt32 lowest, TInt32 highest);
    // Breaks the instant down into the fields in this object's zone; all six are 0 for none.
    void readBack(std::optional<TInt64> instant);

    TInt32 timezone = kLocalTime;
    TInt32 day = 1;
    TInt32 month = 1;
    TInt32 year = 1970;
    TInt32 hour = 0;
    TInt32 minute = 0;
    TInt32 second = 0;
};

// A new date-time object in the heap (gc code 15); returns its reference.
Address newDateTime(VMHeap& heap, const DateTime& value);
// The date-time behind a reference; null when it is not one.
DateTime* dateTimeAt(const VMHeap& heap, Address reference);

} // namespace Zarnok
