// The String: native group. A string value is a one-reference box (gc code 14) whose word 0
// refers to a string object (gc code 3) whose word 1 holds the shared buffer. Operations that
// store into a box give it a new string object; operations in place change the buffer that the
// string object holds, so every holder of the same value sees the change.

#include "stringNative.h"

#include "UnicodeUnits.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kPrefix = "String:";
constexpr Address kBufferWord = 4; // word 1 of a string object
// Texts are built in host memory first; refuse lengths no arena buffer could hold before
// asking the host for that much.
constexpr TInt64 kMaxUnits = (TInt64(1) << 30) - 16;
// Longer patterns are searched with Knuth-Morris-Pratt, so no search is quadratic.
constexpr size_t kShortPattern = 8;

[[noreturn]] void raiseRange() {
    raise(KErrRange);
}
[[noreturn]] void raiseBadArgument() {
    raise(KErrInvalidArgument);
}
[[noreturn]] void raiseIndex() {
    raise(KErrIndexOutOfBounds);
}
[[noreturn]] void raiseFormat() {
    raise(KErrDataFormat);
}

int checkedLength(TInt64 length) {
    if (length > kMaxUnits) raise(KErrInvalidArgument, "Out of memory");
    return static_cast<int>(length);
}

// ---------------------------------------------------------------------------------------------
// QChar semantics, one 16-bit unit at a time.

struct CaseTables {
    std::vector<TUint16> lower, upper;
    CaseTables() : lower(0x10000), upper(0x10000) {
        for (int unit = 0; unit < 0x10000; ++unit) {
            lower[unit] = UnicodeUnits::toLower(TUint16(unit));
            upper[unit] = UnicodeUnits::toUpper(TUint16(unit));
        }
    }
};

const CaseTables& caseTables() {
    static const CaseTables tables;
    return tables;
}

TUint16 toLower(TUint16 unit) {
    return caseTables().lower[unit];
}
bool isSpace(TUint16 unit) {
    return UnicodeUnits::isSpace(unit);
}

// ---------------------------------------------------------------------------------------------
// Views, ranges and the search kernel.

struct View {
    const TUint16* units;
    int length;
    TUint16 operator[](int index) const { return units[index]; }
};

View viewOf(const OString& text) {
    const std::span<const TUint16> units = text.view();
    return {units.data(), static_cast<int>(units.size())};
}

// Units first .. end - 1 of a string.
struct Span {
    int first;
    int end;
    int size() const { return end - first; }
};

// The range (first, last) after rule 1 and 2; (0, -1) is the empty range.
Span checkedUnits(TInt64 first, TInt64 last, int length) {
    if (first == 0 && last == -1) return {0, 0};
    if (first < 0 || first > last || last >= length) raiseRange();
    return {static_cast<int>(first), static_cast<int>(last + 1)};
}

// The range rule: count < 0 runs to the end of the string.
Span checkedRange(TInt32 first, TInt32 count, int length) {
    if (first < 0) raiseRange();
    TInt64 last = count < 0 ? TInt64(length) - 1 : TInt64(first) + count - 1;
    return checkedUnits(first, last, length);
}

// Extraction to the end from a first beyond the string is not an error but empty.
Span substringRange(TInt32 first, TInt32 count, int length) {
    if (first >= 0 && count < 0 && first >= length) return {0, 0};
    return checkedRange(first, count, length);
}

// Compares units exactly, or after QChar::toLower of both sides; finds a pattern from the left
// or the right.
class Searcher {
public:
    enum Direction { Forward, Backward };
    Searcher(View pattern, bool exact, Direction direction);
    // Start of the first (Forward) or last (Backward) match lying inside text[from, to), or -1.
    int find(View text, int from, int to) const;
    int patternLength() const { return static_cast<int>(keys.size()); }

private:
    template <bool kBackward, bool kFold> int findShort(View text, int from, int to) const;
    template <bool kBackward, bool kFold> int findLong(View text, int from, int to) const;
    template <bool kFold> TUint16 key(TUint16 unit) const { return kFold ? fold[unit] : unit; }

    const TUint16* fold;       // the lower-case table, null when comparing exactly
    std::vector<TUint16> keys; // the pattern, folded, in scanning order
    std::vector<int> borders;  // longest proper border of each prefix of keys (long patterns)
    bool backward;
};

Searcher::Searcher(View pattern, bool exact, Direction direction)
    : fold(exact ? nullptr : caseTables().lower.data()),
      keys(pattern.units, pattern.units + pattern.length), backward(direction == Backward) {
    if (fold)
        for (TUint16& unit : keys) unit = fold[unit];
    if (backward) std::reverse(keys.begin(), keys.end());
    if (keys.size() <= kShortPattern) return;
    borders.assign(keys.size(), 0);
    for (size_t i = 1, k = 0; i < keys.size(); ++i) {
        while (k > 0 && keys[i] != keys[k]) k = borders[k - 1];
        if (keys[i] == keys[k]) ++k;
        borders[i] = static_cast<int>(k);
    }
}

int Searcher::find(View text, int from, int to) const {
    if (keys.empty() || to - from < patternLength()) return -1;
    using Kernel = int (Searcher::*)(View, int, int) const;
    // Indexed by [long pattern][backward][folding].
    static constexpr Kernel kKernels[2][2][2] = {
        {{&Searcher::findShort<false, false>, &Searcher::findShort<false, true>},
         {&Searcher::findShort<true, false>, &Searcher::findShort<true, true>}},
        {{&Searcher::findLong<false, false>, &Searcher::findLong<false, true>},
         {&Searcher::findLong<true, false>, &Searcher::findLong<true, true>}}};
    return (this->*kKernels[!borders.empty()][backward][fold != nullptr])(text, from, to);
}

// A scan for the first key, then the rest where it matches: fast for the short patterns
// applications search for, whose first key is mostly rare in the text.
template <bool kBackward, bool kFold> int Searcher::findShort(View text, int from, int to) const {
    const int m = patternLength();
    const TUint16* const pattern = keys.data();
    const TUint16 first = pattern[0];
    // Scanning order: unit j of the scan lies at at + j * step.
    const int step = kBackward ? -1 : 1;
    const TUint16* const at = text.units + (kBackward ? to - 1 : from);
    for (int j = 0, lastStart = to - from - m; j <= lastStart; ++j) {
        const TUint16* candidate = at + j * step;
        if (key<kFold>(*candidate) != first) continue;
        int k = 1;
        while (k < m && key<kFold>(candidate[k * step]) == pattern[k]) ++k;
        if (k == m) return kBackward ? to - j - m : from + j;
    }
    return -1;
}

template <bool kBackward, bool kFold> int Searcher::findLong(View text, int from, int to) const {
    const int m = patternLength();
    int matched = 0;
    for (int j = 0; j < to - from; ++j) {
        TUint16 unit = key<kFold>(text[kBackward ? to - 1 - j : from + j]);
        while (matched > 0 && keys[matched] != unit) matched = borders[matched - 1];
        if (keys[matched] == unit) ++matched;
        if (matched == m) return kBackward ? to - 1 - j : from + j - m + 1;
    }
    return -1;
}

// Where the occurrences of a pattern lie inside a range: empty patterns match nothing, and
// are refused before the range is checked.
std::vector<int> matchesIn(View text, View pattern, Span span, bool exact) {
    std::vector<int> positions;
    Searcher searcher(pattern, exact, Searcher::Forward);
    for (int at = searcher.find(text, span.first, span.end); at >= 0;
         at = searcher.find(text, at + pattern.length, span.end))
        positions.push_back(at);
    return positions;
}

int locate(View text, View pattern, TInt32 first, TInt32 count, bool exact, bool last) {
    if (pattern.length == 0) return -1;
    Span span = checkedRange(first, count, text.length);
    Searcher searcher(pattern, exact, last ? Searcher::Backward : Searcher::Forward);
    return searcher.find(text, span.first, span.end);
}

int countMatches(View text, View pattern, TInt32 first, TInt32 count, bool exact) {
    if (pattern.length == 0) return 0;
    Span span = checkedRange(first, count, text.length);
    Searcher searcher(pattern, exact, Searcher::Forward);
    int matches = 0;
    for (int at = searcher.find(text, span.first, span.end); at >= 0;
         at = searcher.find(text, at + pattern.length, span.end))
        ++matches;
    return matches;
}

// Difference of the first differing unit pair, else of the lengths.
int compareViews(View s, View t, bool exact) {
    if (s.units == t.units && s.length == t.length) return 0;
    if (s.length == 0 || t.length == 0) return s.length - t.length;
    const TUint16* lower = caseTables().lower.data();
    for (int i = 0; i < std::min(s.length, t.length); ++i) {
        int a = exact ? s[i] : lower[s[i]];
        int b = exact ? t[i] : lower[t[i]];
        if (a != b) return a - b;
    }
    return s.length - t.length;
}

bool equalViews(View s, View t, bool exact) {
    return s.length == t.length && compareViews(s, t, exact) == 0;
}

TInt32 sign(int difference) {
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Building texts.

class TextBuilder {
public:
    TextBuilder(VirtualMachine& vm, TInt64 length) : vm(vm) {
        const int count = checkedLength(length);
        vm.requireBudgetFor(2 * TUint64(count));
        units.reserve(count);
    }
    void add(const TUint16* from, int count) { units.insert(units.end(), from, from + count); }
    void add(View view) { add(view.units, view.length); }
    OString build() const {
        return OString(vm.arena(), units.data(), static_cast<int>(units.size()));
    }

private:
    VirtualMachine& vm;
    std::vector<TUint16> units;
};

OString substring(Arena& arena, const OString& text, Span span) {
    // A range over the whole string shares its buffer.
    if (span.first == 0 && span.end == text.length()) return text;
    return OString(arena, text.units() + span.first, span.size());
}

OString repeated(VirtualMachine& vm, View text, TInt32 times) {
    if (times < 0) raiseBadArgument();
    TextBuilder builder(vm, TInt64(text.length) * times);
    // An empty text repeated 2^31 times is still empty, and must not take seconds to become so.
    if (text.length == 0) times = 0;
    for (TInt32 i = 0; i < times; ++i) builder.add(text);
    return builder.build();
}

OString everyNth(Arena& arena, View text, Span span, TInt32 step) {
    if (step < 1) raiseBadArgument();
    std::vector<TUint16> units;
    units.reserve(span.size() / step + 1);
    for (TInt64 i = span.first; i < span.end; i += step) units.push_back(text[int(i)]);
    return OString(arena, units.data(), static_cast<int>(units.size()));
}

// The text with units first .. end - 1 replaced.
OString spliced(VirtualMachine& vm, View text, Span span, View insertion) {
    TextBuilder builder(vm, TInt64(text.length) - span.size() + insertion.length);
    builder.add(text.units, span.first);
    builder.add(insertion);
    builder.add(text.units + span.end, text.length - span.end);
    return builder.build();
}

// The text with a pattern of the given length replaced at each of the positions.
OString replacedAt(VirtualMachine& vm, View text, const std::vector<int>& positions,
                   int patternLength, View replacement) {
    TextBuilder builder(vm, text.length +
                                TInt64(positions.size()) * (replacement.length - patternLength));
    int from = 0;
    for (int at : positions) {
        builder.add(text.units + from, at - from);
        builder.add(replacement);
        from = at + patternLength;
    }
    builder.add(text.units + from, text.length - from);
    return builder.build();
}

std::string radixText(TUint32 value, TInt32 radix) {
    if (radix < 2 || radix > 36) return {};
    std::string digits;
    do {
        digits += "0123456789abcdefghijklmnopqrstuvwxyz"[value % radix];
        value /= radix;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

int skipSpaces(View text) {
    int i = 0;
    while (i < text.length && isSpace(text[i])) ++i;
    return i;
}

// Digits are summed in 32-bit arithmetic without an overflow check, as applications expect.
TInt32 parseDecimal(View text) {
    int i = skipSpaces(text);
    if (i == text.length) raiseFormat();
    bool negative = false;
    if (text[i] == '+') {
        if (i + 2 < text.length && text[i + 1] == '-' && text[i + 2] == '0') return 0;
        ++i;
    } else if (text[i] == '-') {
        negative = true;
        ++i;
    }
    TUint32 value = 0;
    const int firstDigit = i;
    for (; i < text.length && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    if (i == firstDigit) raiseFormat();
    return static_cast<TInt32>(negative ? 0u - value : value);
}

int digitValue(TUint16 unit) {
    if (unit >= '0' && unit <= '9') return unit - '0';
    TUint16 lower = toLower(unit);
    if (lower >= 'a' && lower <= 'z') return lower - 'a' + 10;
    return -1;
}

TInt32 parseRadix(View text, TInt32 radix) {
    if (radix == 10) return parseDecimal(text);
    if (radix < 2 || radix > 36) raiseBadArgument();
    int i = skipSpaces(text);
    if (i == text.length) raiseFormat();
    TUint32 value = 0;
    const int firstDigit = i;
    for (int digit; i < text.length && (digit = digitValue(text[i])) >= 0 && digit < radix; ++i)
        value = value * TUint32(radix) + TUint32(digit);
    if (i == firstDigit) raiseFormat();
    return static_cast<TInt32>(value);
}

// The unit with the strictly greatest count; the earliest of them on ties.
TUint16 mostFrequent(View text, Span span, bool exact) {
    thread_local std::vector<int> counts(0x10000);
    const TUint16* lower = caseTables().lower.data();
    auto key = [&](int i) { return exact ? text[i] : lower[text[i]]; };
    for (int i = span.first; i < span.end; ++i) ++counts[key(i)];
    TUint16 best = 0;
    int bestCount = 0;
    for (int i = span.first; i < span.end; ++i)
        if (counts[key(i)] > bestCount) {
            best = key(i);
            bestCount = counts[best];
        }
    for (int i = span.first; i < span.end; ++i) counts[key(i)] = 0;
    return best;
}

// Pieces between the separators, without the empty ones; no pieces at all when the text holds
// no separator.
std::vector<Span> splitPieces(View text, View separator, bool exact) {
    if (text.length == 0) return {};
    if (separator.length == 0) raiseBadArgument();
    std::vector<int> positions = matchesIn(text, separator, {0, text.length}, exact);
    if (positions.empty()) return {};
    std::vector<Span> pieces;
    pieces.reserve(positions.size() + 1);
    int from = 0;
    for (int at : positions) {
        if (at > from) pieces.push_back({from, at});
        from = at + separator.length;
    }
    if (from < text.length) pieces.push_back({from, text.length});
    return pieces;
}

// ---------------------------------------------------------------------------------------------
// Arguments and results on the operand stack.

class Args {
public:
    Args(VirtualMachine& vm, int count) : vm(vm), base(vm.sp - count + 1) {}

    TInt32 integer(int index) const { return vm.slot(base + index); }
    TUint16 unit(int index) const { return static_cast<TUint16>(integer(index)); }
    bool flag(int index) const { return integer(index) != 0; }
    Address reference(int index) const { return static_cast<Address>(integer(index)); }
    OString string(int index) const { return vm.stringValue(reference(index)); }
    // A box to store a string value into.
    Address box(int index) const {
        Address box = reference(index);
        if (box == 0) raiseNullPointer();
        return box;
    }
    Arena& arena() const { return vm.arena(); }

    void finish() const { vm.sp = base - 1; }
    void finish(TInt32 result) const {
        vm.sp = base;
        vm.setSlot(base, result);
    }
    void finish(TInt32 first, TInt32 second) const {
        vm.sp = base + 1;
        vm.setSlot(base, first);
        vm.setSlot(base + 1, second);
    }
    void finishWithString(OString text) const {
        finish(static_cast<TInt32>(vm.newStringValue(std::move(text))));
    }

    VirtualMachine& vm;

private:
    TInt32 base;
};

// A search pattern: a string argument, or a character taken as a one-unit string.
class Pattern {
public:
    Pattern(const Args& args, int index, bool isUnit)
        : text(isUnit ? OString(args.arena()) : args.string(index)),
          unit(isUnit ? args.unit(index) : 0), isUnit(isUnit) {}
    Pattern(const Pattern&) = delete;
    View view() const { return isUnit ? View{&unit, 1} : viewOf(text); }

private:
    OString text;
    TUint16 unit;
    bool isUnit;
};

// The string a value refers to, changed in place. The string object's buffer word gets the
// (possibly new) buffer back when the edit ends, also when it raises.
class InPlace {
public:
    InPlace(const Args& args, int index)
        : vm(args.vm), arena(args.arena()), object(stringObject(args, index)),
          text(OString::adopt(arena, arena.word(object + kBufferWord))) {}
    ~InPlace() { arena.setWord(object + kBufferWord, text.detach()); }
    InPlace(const InPlace&) = delete;

    View view() const { return viewOf(text); }
    void set(OString replacement) { text = std::move(replacement); }
    void splice(Span span, View insertion) { set(spliced(vm, view(), span, insertion)); }

    VirtualMachine& vm;
    Arena& arena;
    const Address object;
    OString text;

private:
    // Reading a forged string object only reads arena memory, but writing through one could
    // overwrite the heap's own words: edits need a live string object.
    static Address stringObject(const Args& args, int index) {
        Address value = args.reference(index);
        Address object = value ? args.arena().word(value) : 0;
        if (object == 0) raiseNullPointer();
        const VMHeap& heap = args.vm.heap();
        const Address entryAddress = object - kHeaderSize;
        if (object % 4 != 0 || object < kHeaderSize || heap.isFree(entryAddress) ||
            heap.entry(entryAddress).gcCode != GC_CODE_STRING ||
            heap.entry(entryAddress).objectKind != -1 || heap.entry(entryAddress).size < 8)
            raise(KErrVM, "String: invalid string object");
        return object;
    }
};

void storeString(const Args& args, Address box, OString text) {
    Address object = args.vm.heap().allocate(8, -1, GC_CODE_STRING);
    args.arena().setWord(object + kBufferWord, text.detach());
    args.arena().setWord(box, object);
}

// The eight-member families: s, pattern, [first, count], [cs], numbered in this order:
// (t), (t, range), (t, cs), (t, range, cs), then the same with a character.
struct Form {
    bool range, cs, unit;
    int args() const { return 2 + 2 * range + cs; }
    TInt32 first(const Args& a) const { return range ? a.integer(2) : 0; }
    TInt32 count(const Args& a) const { return range ? a.integer(3) : -1; }
    bool exact(const Args& a) const { return cs && a.flag(2 + 2 * range); }
};

Form familyForm(TInt32 member) {
    return {(member & 1) != 0, (member & 2) != 0, (member & 4) != 0};
}

// ---------------------------------------------------------------------------------------------
// Characters and numbers.

void changeCase(VirtualMachine& vm, bool upper) {
    Args args(vm, 1);
    {
        InPlace edit(args, 0);
        View text = edit.view();
        const std::vector<TUint16>& table = upper ? caseTables().upper : caseTables().lower;
        std::vector<TUint16> mapped(text.units, text.units + text.length);
        for (TUint16& unit : mapped) unit = table[unit];
        if (!std::equal(mapped.begin(), mapped.end(), text.units))
            edit.set(OString(edit.arena, mapped.data(), text.length));
    }
    args.finish();
}

void characterOperation(VirtualMachine& vm, TInt32 function) {
    Args args(vm, 1);
    const TUint16 unit = args.unit(0);
    switch (function) {
    case -127: args.finish(UnicodeUnits::toLower(unit)); break;
    case -126: args.finish(UnicodeUnits::toUpper(unit)); break;
    case -125: args.finish(UnicodeUnits::isLetter(unit)); break;
    case -124: args.finish(UnicodeUnits::isDigit(unit)); break;
    default: args.finish(UnicodeUnits::isSpace(unit)); break;
    }
}

void numberText(VirtualMachine& vm, bool withRadix) {
    Args args(vm, withRadix ? 2 : 1);
    TInt32 value = args.integer(0);
    std::string text =
        withRadix ? radixText(static_cast<TUint32>(value), args.integer(1)) : std::to_string(value);
    args.finishWithString(OString(args.arena(), text));
}

void parseNumber(VirtualMachine& vm, bool withRadix) {
    Args args(vm, withRadix ? 2 : 1);
    OString text = args.string(0);
    args.finish(withRadix ? parseRadix(viewOf(text), args.integer(1)) : parseDecimal(viewOf(text)));
}

// ---------------------------------------------------------------------------------------------
// Comparison.

void compare(VirtualMachine& vm) {
    Args args(vm, 3);
    OString s = args.string(0), t = args.string(1);
    args.finish(sign(compareViews(viewOf(s), viewOf(t), args.flag(2))));
}

void compareRange(VirtualMachine& vm) {
    Args args(vm, 5);
    OString s = args.string(0), t = args.string(1);
    TInt32 first = args.integer(2), count = args.integer(3);
    View text = viewOf(s);
    if (!(first == 0 && count < 0)) {
        Span span = checkedRange(first, count, text.length);
        if (span.size() == 0) return args.finish(-1); // the empty range equals nothing
        text = {text.units + span.first, span.size()};
    }
    args.finish(sign(compareViews(text, viewOf(t), args.flag(4))));
}

void relation(VirtualMachine& vm, TInt32 function) {
    Args args(vm, 2);
    OString s = args.string(0), t = args.string(1);
    const View a = viewOf(s), b = viewOf(t);
    const int difference = compareViews(a, b, true);
    switch (function) {
    case -116: args.finish(equalViews(a, b, true)); break;
    case -115: args.finish(!equalViews(a, b, true)); break;
    case -114: args.finish(difference < 0); break;
    case -113: args.finish(difference <= 0); break;
    case -112: args.finish(difference > 0); break;
    case -111: args.finish(difference >= 0); break;
    default: args.finish(equalViews(a, b, false)); break; // -110
    }
}

void equal(VirtualMachine& vm) {
    Args args(vm, 3);
    OString s = args.string(0), t = args.string(1);
    args.finish(equalViews(viewOf(s), viewOf(t), args.flag(2)));
}

void rangeEquals(VirtualMachine& vm, bool withCs) {
    Args args(vm, withCs ? 5 : 4);
    OString s = args.string(0), t = args.string(1);
    TInt32 first = args.integer(2), count = args.integer(3);
    bool exact = withCs && args.flag(4);
    View text = viewOf(s), other = viewOf(t);
    if (first == 0 && count < 0) return args.finish(equalViews(text, other, exact));
    if (other.length == 0) raiseBadArgument();
    Span span = checkedRange(first, count, text.length);
    args.finish(span.size() == other.length &&
                equalViews({text.units + span.first, span.size()}, other, exact));
}

// ---------------------------------------------------------------------------------------------
// Construction, assignment and extraction.

void storeEmpty(VirtualMachine& vm) {
    Args args(vm, 1);
    storeString(args, args.box(0), OString(args.arena()));
    args.finish();
}

void storeCopy(VirtualMachine& vm) {
    Args args(vm, 2);
    Address box = args.box(0);
    storeString(args, box, args.string(1));
    args.finish();
}

void storeCopies(VirtualMachine& vm) {
    Args args(vm, 3);
    Address box = args.box(0);
    TUint16 unit = args.unit(1);
    storeString(args, box, repeated(vm, {&unit, 1}, args.integer(2)));
    args.finish();
}

void storeSubstring(VirtualMachine& vm) {
    Args args(vm, 4);
    Address box = args.box(0);
    OString s = args.string(1);
    Span span = substringRange(args.integer(2), args.integer(3), s.length());
    storeString(args, box, substring(args.arena(), s, span));
    args.finish();
}

void storeEveryNth(VirtualMachine& vm, bool withRange) {
    Args args(vm, withRange ? 5 : 3);
    Address box = args.box(0);
    OString s = args.string(1);
    View text = viewOf(s);
    Span span = withRange ? checkedRange(args.integer(2), args.integer(3), text.length)
                          : Span{0, text.length};
    TInt32 step = args.integer(withRange ? 4 : 2);
    OString result =
        step == 1 ? substring(args.arena(), s, span) : everyNth(args.arena(), text, span, step);
    storeString(args, box, std::move(result));
    args.finish();
}

void extract(VirtualMachine& vm, bool boxed) {
    Args args(vm, 3);
    OString s = args.string(0);
    Span span = substringRange(args.integer(1), args.integer(2), s.length());
    Address value = vm.newStringValue(substring(args.arena(), s, span));
    if (boxed) {
        // The value in one more box: the box marks the value, the value its string object.
        Address box = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
        args.arena().setWord(box, value);
        value = box;
    }
    args.finish(static_cast<TInt32>(value));
}

void unitAddress(VirtualMachine& vm) {
    Args args(vm, 2);
    OString s = args.string(0);
    TInt32 index = args.integer(1);
    if (index < 0 || index >= s.length()) raiseIndex();
    args.finish(static_cast<TInt32>(s.unitsAddress() + 2u * static_cast<TUint32>(index)));
}

void endUnit(VirtualMachine& vm, bool last) {
    Args args(vm, 1);
    OString s = args.string(0);
    View text = viewOf(s);
    if (text.length == 0) raiseIndex();
    args.finish(text[last ? text.length - 1 : 0]);
}

void concatenate(VirtualMachine& vm) {
    Args args(vm, 2);
    OString s = args.string(0), t = args.string(1);
    View a = viewOf(s), b = viewOf(t);
    if (b.length == 0) return args.finishWithString(std::move(s));
    TextBuilder builder(vm, TInt64(a.length) + b.length);
    builder.add(a);
    builder.add(b);
    args.finishWithString(builder.build());
}

void repeat(VirtualMachine& vm) {
    Args args(vm, 2);
    OString s = args.string(0);
    args.finishWithString(repeated(vm, viewOf(s), args.integer(1)));
}

// Equal short pieces of one text share a buffer, as copies of a string do: a text of repeated
// words costs a buffer per distinct word, not one per piece.
class SharedPieces {
public:
    SharedPieces(Arena& arena, View text) : arena(arena), text(text) {}

    OString piece(Span span) {
        const TUint16* units = text.units + span.first;
        const int length = span.size();
        if (length > kLongest) return OString(arena, units, length);
        Entry& entry = entries[slotOf(units, length)];
        if (!entry.text || entry.length != length ||
            std::memcmp(entry.units, units, size_t(length) * sizeof *units) != 0)
            entry = {OString(arena, units, length), units, length};
        return *entry.text;
    }

private:
    static constexpr int kLongest = 16;
    static constexpr size_t kSlots = 64;

    static size_t slotOf(const TUint16* units, int length) {
        TUint32 hash = 2166136261u; // FNV-1a
        for (int i = 0; i < length; ++i) hash = (hash ^ units[i]) * 16777619u;
        return hash % kSlots;
    }

    struct Entry {
        std::optional<OString> text;
        const TUint16* units = nullptr; // the piece's first occurrence, inside text
        int length = 0;
    };
    Arena& arena;
    const View text;
    std::array<Entry, kSlots> entries;
};

void split(VirtualMachine& vm, TInt32 function) {
    const bool byUnit = function >= 52, withCs = function == 51 || function == 53;
    Args args(vm, withCs ? 3 : 2);
    OString s = args.string(0);
    Pattern separator(args, 1, byUnit);
    View text = viewOf(s);
    std::vector<Span> pieces = splitPieces(text, separator.view(), withCs && args.flag(2));
    std::vector<TUint32> values;
    values.reserve(pieces.size());
    SharedPieces shared(args.arena(), text);
    for (Span piece : pieces) values.push_back(vm.newStringValue(shared.piece(piece)));
    args.finish(static_cast<TInt32>(newVectorValue(vm.heap(), 4, true,
                                                   reinterpret_cast<const TUint8*>(values.data()),
                                                   static_cast<TInt32>(values.size()))));
}

// ---------------------------------------------------------------------------------------------
// Searching and counting.

void findFamily(VirtualMachine& vm, TInt32 member, bool last) {
    const Form form = familyForm(member);
    Args args(vm, form.args());
    OString s = args.string(0);
    Pattern pattern(args, 1, form.unit);
    View t = pattern.view();
    int at = locate(viewOf(s), t, form.first(args), form.count(args), form.exact(args), last);
    // The plain first-occurrence form answers with a Range.
    if (member == 0 && !last) return at < 0 ? args.finish(0, 0) : args.finish(at, t.length);
    args.finish(at);
}

void countFamily(VirtualMachine& vm, TInt32 member) {
    const Form form = familyForm(member);
    Args args(vm, form.args());
    OString s = args.string(0);
    Pattern pattern(args, 1, form.unit);
    args.finish(countMatches(viewOf(s), pattern.view(), form.first(args), form.count(args),
                             form.exact(args)));
}

// -101 … -98: s, first, count, t, [cs].
void findWithRangeFirst(VirtualMachine& vm, TInt32 function) {
    const bool withCs = function == -100 || function == -98;
    Args args(vm, withCs ? 5 : 4);
    OString s = args.string(0), t = args.string(3);
    args.finish(locate(viewOf(s), viewOf(t), args.integer(1), args.integer(2),
                       withCs && args.flag(4), function >= -99));
}

void mostFrequentUnit(VirtualMachine& vm, TInt32 member) {
    const bool withRange = member & 1, withCs = member & 2;
    Args args(vm, 1 + 2 * withRange + withCs);
    OString s = args.string(0);
    View text = viewOf(s);
    if (text.length == 0) raiseFormat();
    Span span = withRange ? checkedRange(args.integer(1), args.integer(2), text.length)
                          : Span{0, text.length};
    args.finish(mostFrequent(text, span, withCs && args.flag(1 + 2 * withRange)));
}

void affix(VirtualMachine& vm, TInt32 function) {
    const bool withCs = function == 45 || function == 47, atEnd = function >= 46;
    Args args(vm, withCs ? 3 : 2);
    OString s = args.string(0), t = args.string(1);
    View text = viewOf(s), part = viewOf(t);
    if (part.length == 0 || part.length > text.length) return args.finish(0);
    View piece{text.units + (atEnd ? text.length - part.length : 0), part.length};
    args.finish(equalViews(piece, part, withCs && args.flag(2)));
}

// ---------------------------------------------------------------------------------------------
// Changes in place.

void checkPosition(TInt32 position, int length) {
    if (position < 0 || position > length) raiseIndex();
}

void insertAt(VirtualMachine& vm, bool unit) {
    Args args(vm, 3);
    InPlace edit(args, 0);
    Pattern insertion(args, 2, unit);
    TInt32 position = args.integer(1);
    checkPosition(position, edit.text.length());
    View units = insertion.view();
    checkedLength(TInt64(edit.text.length()) + units.length);
    edit.text.insert(position, units.units, units.length);
    args.finish();
}

void insertRangeAt(VirtualMachine& vm) { // 59: s, t, first, count, i
    Args args(vm, 5);
    InPlace edit(args, 0);
    OString t = args.string(1);
    Span span = checkedRange(args.integer(2), args.integer(3), t.length());
    TInt32 position = args.integer(4);
    if (span.size() > 0) {
        checkPosition(position, edit.text.length());
        checkedLength(TInt64(edit.text.length()) + span.size());
        edit.text.insert(position, t.units() + span.first, span.size());
    }
    args.finish();
}

// Count 0 inserts at first (which must lie inside or just behind the string); otherwise the
// range rule picks the units to replace.
Span replacedSpan(TInt32 first, TInt32 count, int length) {
    if (count != 0) return checkedRange(first, count, length);
    if (first < 0 || first > length) raiseRange();
    return {first, first};
}

void replaceOrInsert(VirtualMachine& vm) { // -104: s, first, count, t
    Args args(vm, 4);
    InPlace edit(args, 0);
    OString t = args.string(3);
    TInt32 count = args.integer(2);
    Span span = replacedSpan(args.integer(1), count, edit.text.length());
    if (count == 0 || span.size() > 0) edit.splice(span, viewOf(t));
    args.finish();
}

void replaceOrInsertUnits(VirtualMachine& vm) { // -102: s, a, b, t, first, count
    Args args(vm, 6);
    InPlace edit(args, 0);
    OString t = args.string(3);
    TInt32 count = args.integer(5);
    Span span = replacedSpan(args.integer(4), count, edit.text.length());
    View insertion = viewOf(t);
    if (count == 0) {
        if (args.integer(1) < 0) raiseRange();
        Span units = checkedUnits(args.integer(1), args.integer(2), insertion.length);
        insertion = {insertion.units + units.first, units.size()};
    } else if (span.size() == 0) {
        return args.finish();
    }
    edit.splice(span, insertion);
    args.finish();
}

void addAtEnd(VirtualMachine& vm, TInt32 function) { // 60 … 65
    Args args(vm, 2);
    InPlace edit(args, 0);
    Pattern addition(args, 1, (function & 1) != 0);
    View units = addition.view();
    checkedLength(TInt64(edit.text.length()) + units.length);
    if (function <= 61)
        edit.text.insert(0, units.units, units.length);
    else
        edit.text.append(units.units, units.length);
    args.finish();
}

void repeatInPlace(VirtualMachine& vm) {
    Args args(vm, 2);
    InPlace edit(args, 0);
    TInt32 times = args.integer(1);
    if (times < 0) raiseBadArgument();
    if (times != 1) edit.set(repeated(vm, edit.view(), times));
    args.finish();
}

void replaceRange(VirtualMachine& vm, bool unit) { // 67, 68: s, first, count, t / c
    Args args(vm, 4);
    InPlace edit(args, 0);
    Pattern replacement(args, 3, unit);
    Span span = checkedRange(args.integer(1), args.integer(2), edit.text.length());
    if (span.size() > 0) edit.splice(span, replacement.view());
    args.finish();
}

enum class Which { First, Last, All };

// Replaces the chosen occurrences of a pattern inside a range; an empty replacement removes
// them and an empty pattern changes nothing.
void replaceMatches(InPlace& edit, View pattern, View replacement, TInt32 first, TInt32 count,
                    bool exact, Which which) {
    if (pattern.length == 0) return;
    View text = edit.view();
    Span span = checkedRange(first, count, text.length);
    std::vector<int> positions;
    if (which == Which::All) {
        positions = matchesIn(text, pattern, span, exact);
    } else {
        Searcher searcher(pattern, exact,
                          which == Which::Last ? Searcher::Backward : Searcher::Forward);
        int at = searcher.find(text, span.first, span.end);
        if (at >= 0) positions.push_back(at);
    }
    if (!positions.empty())
        edit.set(replacedAt(edit.vm, text, positions, pattern.length, replacement));
}

// 69 … 92: s, t, [first, count], u or c, [cs]; members (u), (u, cs), (c), (c, cs), then the
// same four with a range.
void replaceFamily(VirtualMachine& vm, TInt32 member, Which which) {
    const bool withCs = member & 1, unit = member & 2, withRange = member & 4;
    Args args(vm, 3 + 2 * withRange + withCs);
    InPlace edit(args, 0);
    OString t = args.string(1);
    const int replacementIndex = 2 + 2 * withRange;
    Pattern replacement(args, replacementIndex, unit);
    TInt32 first = withRange ? args.integer(2) : 0, count = withRange ? args.integer(3) : -1;
    replaceMatches(edit, viewOf(t), replacement.view(), first, count,
                   withCs && args.flag(replacementIndex + 1), which);
    args.finish();
}

void replaceAllWithRangeFirst(VirtualMachine& vm, bool withCs) { // -97, -96
    Args args(vm, withCs ? 6 : 5);
    InPlace edit(args, 0);
    OString t = args.string(3), u = args.string(4);
    replaceMatches(edit, viewOf(t), viewOf(u), args.integer(1), args.integer(2),
                   withCs && args.flag(5), Which::All);
    args.finish();
}

void removeFamily(VirtualMachine& vm, TInt32 member, Which which) {
    const Form form = familyForm(member);
    Args args(vm, form.args());
    InPlace edit(args, 0);
    Pattern pattern(args, 1, form.unit);
    replaceMatches(edit, pattern.view(), {nullptr, 0}, form.first(args), form.count(args),
                   form.exact(args), which);
    args.finish();
}

void removeAt(VirtualMachine& vm) {
    Args args(vm, 2);
    InPlace edit(args, 0);
    TInt32 index = args.integer(1);
    if (index < 0 || index >= edit.text.length()) raiseIndex();
    edit.text.remove(index, 1);
    args.finish();
}

void removeRange(VirtualMachine& vm) {
    Args args(vm, 3);
    InPlace edit(args, 0);
    Span span = checkedRange(args.integer(1), args.integer(2), edit.text.length());
    edit.text.remove(span.first, span.size());
    args.finish();
}

void removeEnd(VirtualMachine& vm, bool atEnd, bool withCount) { // 119 … 122
    Args args(vm, withCount ? 2 : 1);
    InPlace edit(args, 0);
    const int length = edit.text.length();
    TInt32 n = 1;
    if (withCount) {
        n = args.integer(1);
        if (n < 0 || n > length) raiseBadArgument();
    } else if (length == 0) {
        raiseIndex();
    }
    edit.text.remove(atEnd ? length - n : 0, n);
    args.finish();
}

void clear(VirtualMachine& vm) {
    Args args(vm, 1);
    InPlace edit(args, 0);
    edit.text.clear();
    args.finish();
}

void trim(VirtualMachine& vm, bool leading, bool trailing) {
    Args args(vm, 1);
    InPlace edit(args, 0);
    View text = edit.view();
    int first = 0, end = text.length;
    if (leading)
        while (first < end && isSpace(text[first])) ++first;
    if (trailing)
        while (end > first && isSpace(text[end - 1])) --end;
    if (end - first != text.length) edit.set(substring(edit.arena, edit.text, {first, end}));
    args.finish();
}

// ---------------------------------------------------------------------------------------------

bool dispatchFamily(VirtualMachine& vm, TInt32 f) {
    if (f >= 16 && f <= 23)
        findFamily(vm, f - 16, false);
    else if (f >= 24 && f <= 31)
        findFamily(vm, f - 24, true);
    else if (f >= 32 && f <= 35)
        mostFrequentUnit(vm, f - 32);
    else if (f >= 36 && f <= 43)
        countFamily(vm, f - 36);
    else if (f >= 44 && f <= 47)
        affix(vm, f);
    else if (f >= 50 && f <= 53)
        split(vm, f);
    else if (f >= 69 && f <= 76)
        replaceFamily(vm, f - 69, Which::First);
    else if (f >= 77 && f <= 84)
        replaceFamily(vm, f - 77, Which::Last);
    else if (f >= 85 && f <= 92)
        replaceFamily(vm, f - 85, Which::All);
    else if (f >= 95 && f <= 102)
        removeFamily(vm, f - 95, Which::First);
    else if (f >= 103 && f <= 110)
        removeFamily(vm, f - 103, Which::Last);
    else if (f >= 111 && f <= 118)
        removeFamily(vm, f - 111, Which::All);
    else if (f >= -116 && f <= -110)
        relation(vm, f);
    else if (f >= -127 && f <= -123)
        characterOperation(vm, f);
    else if (f >= -101 && f <= -98)
        findWithRangeFirst(vm, f);
    else
        return false;
    return true;
}

} // namespace

void stringNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case -128: changeCase(vm, true); return;
    case 127: changeCase(vm, false); return;
    case -122: numberText(vm, false); return;
    case -121: numberText(vm, true); return;
    case -120: parseNumber(vm, false); return;
    case -119: parseNumber(vm, true); return;
    case -118: compare(vm); return;
    case -117: compareRange(vm); return;
    case -109: equal(vm); return;
    case -108: rangeEquals(vm, false); return;
    case -107: rangeEquals(vm, true); return;
    case -106: extract(vm, false); return;
    case -104: replaceOrInsert(vm); return;
    case -103: extract(vm, true); return;
    case -102: replaceOrInsertUnits(vm); return;
    case -97: replaceAllWithRangeFirst(vm, false); return;
    case -96: replaceAllWithRangeFirst(vm, true); return;
    case 1: storeEmpty(vm); return;
    case 2:
    case 4: storeCopy(vm); return;
    case 5: storeCopies(vm); return;
    case 7: storeSubstring(vm); return;
    case 8: storeEveryNth(vm, false); return;
    case 9: storeEveryNth(vm, true); return;
    case 10: {
        Args args(vm, 1);
        args.finish(args.string(0).length());
        return;
    }
    case 11: {
        Args args(vm, 1);
        args.finish(args.string(0).isEmpty());
        return;
    }
    case 12: unitAddress(vm); return;
    case 14: endUnit(vm, false); return;
    case 15: endUnit(vm, true); return;
    case 48: concatenate(vm); return;
    case 49: repeat(vm); return;
    case 57: insertAt(vm, false); return;
    case 58: insertAt(vm, true); return;
    case 59: insertRangeAt(vm); return;
    case 60:
    case 61:
    case 62:
    case 63:
    case 64:
    case 65: addAtEnd(vm, function); return;
    case 66: repeatInPlace(vm); return;
    case 67: replaceRange(vm, false); return;
    case 68: replaceRange(vm, true); return;
    case 93: removeAt(vm); return;
    case 94: removeRange(vm); return;
    case 119: removeEnd(vm, false, false); return;
    case 120: removeEnd(vm, false, true); return;
    case 121: removeEnd(vm, true, false); return;
    case 122: removeEnd(vm, true, true); return;
    case 123: clear(vm); return;
    case 124: trim(vm, true, false); return;
    case 125: trim(vm, false, true); return;
    case 126: trim(vm, true, true); return;
    default:
        // 3, 6, 13, 55 and 56 included: no number stops the process.
        if (!dispatchFamily(vm, function)) vm.raiseUnknownFunction(kPrefix);
    }
}
