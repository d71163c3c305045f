// DateTime: date-time objects. A date-time argument is a box whose word 0 is the object; a
// target box receives a new one. Truth values are 1 and 0.

#include "DateTime.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

using Zarnok::DateTime;

namespace {

constexpr const char* kPrefix = "DateTime:";

class DateTimeCall {
public:
    DateTimeCall(VirtualMachine& vm, TInt32 argumentCount) : vm(vm), count(argumentCount) {}

    TInt32 operator[](TInt32 k) const { return vm.slot(vm.sp - count + 1 + k); }
    Address box(TInt32 k) const {
        const Address box = Address((*this)[k]);
        if (box == 0) raiseNullPointer();
        return box;
    }
    // An unset date-time is a null pointer like a null box.
    DateTime& dateTime(TInt32 k) const {
        const Address object = vm.arena().word(box(k));
        if (object == 0) raiseNullPointer();
        DateTime* value = Zarnok::dateTimeAt(vm.heap(), object);
        if (!value) raise(KErrVM, "DateTime: invalid date-time object");
        return *value;
    }
    void store(TInt32 k, const DateTime& value) {
        const Address target = box(k);
        vm.arena().setWord(target, Zarnok::newDateTime(vm.heap(), value));
    }
    void finish() { vm.sp -= count; }
    void finish(TInt32 result) {
        vm.sp -= count;
        vm.push(result);
    }

private:
    VirtualMachine& vm;
    TInt32 count;
};

void create(VirtualMachine& vm) {
    DateTimeCall call(vm, 8);
    const DateTime value =
        DateTime::create(call[1], call[2], call[3], call[4], call[5], call[6], call[7]);
    call.store(0, value);
    call.finish();
}

void arithmetic(VirtualMachine& vm, bool subtract) {
    DateTimeCall call(vm, 5);
    DateTime& value = call.dateTime(0);
    if (subtract)
        value.subtract(call[1], call[2], call[3], call[4]);
    else
        value.add(call[1], call[2], call[3], call[4]);
    call.finish();
}

void field(VirtualMachine& vm, TInt32 (DateTime::*get)() const) {
    DateTimeCall call(vm, 1);
    call.finish((call.dateTime(0).*get)());
}

void set(VirtualMachine& vm, void (DateTime::*setter)(TInt32)) {
    DateTimeCall call(vm, 2);
    (call.dateTime(0).*setter)(call[1]);
    call.finish();
}

void text(VirtualMachine& vm) {
    DateTimeCall call(vm, 1);
    const CAppsString text = call.dateTime(0).toText();
    call.finish(TInt32(vm.newStringValue(OString(vm.arena(), text))));
}

void identity(VirtualMachine& vm, bool same) {
    DateTimeCall call(vm, 2);
    call.finish((call[0] == call[1]) == same ? 1 : 0);
}

void compare(VirtualMachine& vm, TInt32 function) {
    DateTimeCall call(vm, 2);
    const TInt32 c = DateTime::compare(call.dateTime(0), call.dateTime(1));
    bool result = false;
    switch (function) {
    case 24: result = c == 0; break;
    case 25: result = c != 0; break;
    case 26: result = c < 0; break;
    case 27: result = c <= 0; break;
    case 28: result = c > 0; break;
    default: result = c >= 0; break;
    }
    call.finish(result ? 1 : 0);
}

} // namespace

Address newDateTimeValue(VirtualMachine& vm, TInt32 timezone) {
    if (timezone != DateTime::kLocalTime && timezone != DateTime::kUtc) raise(KErrInvalidArgument);
    const Address object = Zarnok::newDateTime(vm.heap(), DateTime::now(timezone));
    const Address box = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
    vm.arena().setWord(box, object);
    return box;
}

void dateTimeNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: {
        DateTimeCall call(vm, 1);
        call.store(0, DateTime::now(DateTime::kLocalTime));
        return call.finish();
    }
    case 2:
    case 3: {
        DateTimeCall call(vm, 2);
        const DateTime copy = call.dateTime(1);
        call.store(0, copy);
        return call.finish();
    }
    case 4: return create(vm);
    case 5: return arithmetic(vm, false);
    case 6: return arithmetic(vm, true);
    case 7: return field(vm, &DateTime::getDay);
    case 8: return field(vm, &DateTime::getMonth);
    case 9: return field(vm, &DateTime::getYear);
    case 10: return field(vm, &DateTime::getHour);
    case 11: return field(vm, &DateTime::getMinute);
    case 12: return field(vm, &DateTime::getSecond);
    case 13: return field(vm, &DateTime::getTimezone);
    case 14: return set(vm, &DateTime::setDay);
    case 15: return set(vm, &DateTime::setMonth);
    case 16: return set(vm, &DateTime::setYear);
    case 17: return set(vm, &DateTime::setHour);
    case 18: return set(vm, &DateTime::setMinute);
    case 19: return set(vm, &DateTime::setSecond);
    case 20: return set(vm, &DateTime::setTimezone);
    case 21: return text(vm);
    case 22: return identity(vm, true);
    case 23: return identity(vm, false);
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29: return compare(vm, function);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
