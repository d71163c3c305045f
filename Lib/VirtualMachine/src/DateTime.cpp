#include "DateTime.h"

#include "ErrorHandling.h"
#include "Heap.h"

#include <QDateTime>

#include <memory>

namespace Zarnok {

namespace {

// Beyond this, in either direction, a year is not represented: QDate would need years that do
// not fit its arithmetic, and no real application computes with them.
constexpr TInt64 kYearLimit = 100000000;
constexpr TInt64 kSecondsPerDay = 86400;

TInt64 floorDiv(TInt64 a, TInt64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Qt counts 1 BC as year -1; the fields count it as year 0.
int toQtYear(TInt64 year) {
    return int(year <= 0 ? year - 1 : year);
}
TInt32 fromQtYear(int year) {
    return year < 0 ? year + 1 : year;
}

bool above(TInt32 value, TUint32 limit) {
    return TUint32(value) > limit;
}

Qt::TimeSpec specOf(TInt32 timezone) {
    return timezone == DateTime::kUtc ? Qt::UTC : Qt::LocalTime;
}

} // namespace

DateTime DateTime::now(TInt32 timezone) {
    return fromQDateTime(QDateTime::currentDateTime(), timezone);
}

DateTime DateTime::fromQDateTime(const QDateTime& value, TInt32 timezone) {
    DateTime result;
    result.timezone = timezone;
    result.readBack(value.toTimeSpec(specOf(timezone)));
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
    result.readBack(result.toQDateTime());
    return result;
}

// Fields outside their ranges (a day past the month's end, or what arithmetic left behind)
// carry into the next larger field, as mktime does.
QDateTime DateTime::toQDateTime() const {
    const TInt64 months = TInt64(year) * 12 + (TInt64(month) - 1);
    const TInt64 fullYear = floorDiv(months, 12);
    if (fullYear > kYearLimit || fullYear < -kYearLimit) return QDateTime();
    const TInt64 timeOfDay = TInt64(hour) * 3600 + TInt64(minute) * 60 + second;
    const TInt64 carriedDays = floorDiv(timeOfDay, kSecondsPerDay);
    const QDate date = QDate(toQtYear(fullYear), int(months - fullYear * 12) + 1, 1)
                           .addDays(TInt64(day) - 1 + carriedDays);
    const QTime time =
        QTime::fromMSecsSinceStartOfDay(int(timeOfDay - carriedDays * kSecondsPerDay) * 1000);
    const QDateTime value(date, time, specOf(timezone));
    if (value.isValid() || timezone == kUtc || !date.isValid()) return value;
    // A wall-clock time that the clocks skip: taken with the offset in force before the change,
    // so it lands as far after the change as it lies after its start.
    const TInt64 asUtc = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    const int offsetBefore =
        QDateTime::fromSecsSinceEpoch(asUtc - kSecondsPerDay, Qt::LocalTime).offsetFromUtc();
    return QDateTime::fromSecsSinceEpoch(asUtc - offsetBefore, Qt::LocalTime);
}

void DateTime::readBack(const QDateTime& value) {
    const QDate date = value.date();
    const QTime time = value.time();
    if (!value.isValid() || !date.isValid() || !time.isValid()) {
        day = month = year = hour = minute = second = 0;
        return;
    }
    day = date.day();
    month = date.month();
    year = fromQtYear(date.year());
    hour = time.hour();
    minute = time.minute();
    second = time.second();
}

void DateTime::addSeconds(TInt64 seconds) {
    readBack(toQDateTime().addSecs(seconds));
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
    readBack(changed.toQDateTime());
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
    const QDateTime value = toQDateTime();
    if (value.isValid()) readBack(value.toTimeSpec(specOf(zone)));
    timezone = zone;
}

CAppsString DateTime::toText() const {
    const QString text = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d%s", year, month, day,
                                           hour, minute, second, timezone == kUtc ? "Z" : "");
    CAppsString result;
    for (QChar unit : text) result.append(unit.unicode());
    return result;
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
