#include "OString.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr Address kReferencesOffset = 0;
constexpr Address kCapacityOffset = 4;
constexpr Address kLengthOffset = 8;
constexpr Address kUnitsOffset = 12;
constexpr TUint32 kUnitSize = sizeof(TUint16);
// The largest block the arena hands out, less the header and the terminator.
constexpr TInt64 kMaxCapacity = ((TInt64(1) << 31) - kUnitsOffset) / kUnitSize - 1;

const TUint16 kNoUnits[1] = {0};

// What a buffer really holds, whatever bytecode wrote into its header words.
struct BufferState {
    bool live = false;
    TUint32 blockBytes = 0;
    TUint32 references = 0;
    int capacity = 0;
    int length = 0;

    // Whether a change may be made in place: the buffer is live, private and large enough.
    bool writable(TInt64 newLength) const {
        return live && references <= 1 && newLength <= capacity;
    }
};

int capacityOfBlock(TUint32 blockBytes) {
    if (blockBytes < kUnitsOffset + kUnitSize) return 0;
    return static_cast<int>((blockBytes - kUnitsOffset) / kUnitSize - 1);
}

BufferState readState(const Arena& arena, Address buffer) {
    BufferState state;
    TUint32 blockBytes = buffer ? arena.blockSize(buffer) : 0;
    if (blockBytes == 0) return state;
    state.live = true;
    state.blockBytes = blockBytes;
    state.references = arena.word(buffer + kReferencesOffset);
    TUint32 capacity = std::min<TUint32>(arena.word(buffer + kCapacityOffset),
                                         static_cast<TUint32>(capacityOfBlock(blockBytes)));
    state.capacity = static_cast<int>(capacity);
    state.length = std::clamp(arena.int32(buffer + kLengthOffset), 0, state.capacity);
    return state;
}

Address unitAddress(Address buffer, int index) {
    return buffer + kUnitsOffset + static_cast<Address>(index) * kUnitSize;
}

void setLength(Arena& arena, Address buffer, int length) {
    arena.setWord(buffer + kLengthOffset, static_cast<TUint32>(length));
    arena.setUnit(unitAddress(buffer, length), 0);
}

TUint16* unitsOf(Arena& arena, Address buffer, int capacity) {
    return reinterpret_cast<TUint16*>(
        arena.bytes(unitAddress(buffer, 0), TUint64(capacity + 1) * kUnitSize));
}

[[noreturn]] void raiseOutOfMemory() {
    raise(KErrInvalidArgument, "Out of memory");
}

// A private, empty buffer; the whole power-of-two block becomes capacity.
Address allocateBuffer(Arena& arena, TInt64 capacity) {
    if (capacity > kMaxCapacity) raiseOutOfMemory();
    Address buffer = arena.allocate(kUnitsOffset + static_cast<TUint32>(capacity + 1) * kUnitSize);
    arena.setWord(buffer + kReferencesOffset, 1);
    arena.setWord(buffer + kCapacityOffset,
                  static_cast<TUint32>(capacityOfBlock(arena.blockSize(buffer))));
    setLength(arena, buffer, 0);
    return buffer;
}

// Adds a reference when buffer is a live block; 0 otherwise.
Address retain(Arena& arena, Address buffer) {
    if (buffer == 0 || arena.blockSize(buffer) == 0) return 0;
    TUint32 references = arena.word(buffer + kReferencesOffset);
    // A saturated count keeps the buffer alive for good rather than wrapping to 0.
    if (references != std::numeric_limits<TUint32>::max())
        arena.setWord(buffer + kReferencesOffset, references + 1);
    return buffer;
}

void checkCount(int count) {
    if (count < 0) raise(KErrInvalidArgument);
}

void checkIndex(int index, int size) {
    if (index < 0 || index >= size) raiseIndexError(index, size);
}

bool overlaps(const void* first, TUint64 bytes, const void* otherFirst, TUint64 otherBytes) {
    auto begin = static_cast<const TUint8*>(first),
         otherBegin = static_cast<const TUint8*>(otherFirst);
    std::less<const TUint8*> before;
    return before(begin, otherBegin + otherBytes) && before(otherBegin, begin + bytes);
}

// Replaces buffer, whose state is given, by a private copy with at least this capacity.
void reallocate(Arena& arena, Address& buffer, const BufferState& state, int capacity) {
    Address copy = allocateBuffer(arena, std::max(capacity, state.length));
    if (state.length > 0)
        std::memcpy(unitsOf(arena, copy, state.length), unitsOf(arena, buffer, state.length),
                    TUint64(state.length) * kUnitSize);
    setLength(arena, copy, state.length);
    OString::releaseBuffer(arena, buffer);
    buffer = copy;
}

bool overlapsBuffer(Arena& arena, Address buffer, const BufferState& state, const TUint16* units,
                    int count) {
    return state.live && overlaps(units, TUint64(count) * kUnitSize,
                                  arena.bytes(buffer, state.blockBytes), state.blockBytes);
}

// The well-formed multi-byte leads: sequence length and the range allowed for the next byte.
struct Utf8Lead {
    TUint8 first, last;
    int length;
    TUint8 nextLow, nextHigh;
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Length of the well-formed UTF-8 sequence at bytes[0], or 0 when it is malformed.
int utf8SequenceLength(const TUint8* bytes, int available) {
    if (bytes[0] < 0x80) return 1;
    for (const Utf8Lead& lead : kUtf8Leads) {
        if (bytes[0] < lead.first || bytes[0] > lead.last) continue;
        if (lead.length > available) return 0;
        if (bytes[1] < lead.nextLow || bytes[1] > lead.nextHigh) return 0;
        for (int k = 2; k < lead.length; ++k)
            if (bytes[k] < 0x80 || bytes[k] > 0xBF) return 0;
        return lead.length;
    }
    return 0;
}

// One unit per sequence: a sequence beyond 16 bits keeps the low 16 bits of its code point.
TUint16 decodeSequence(const TUint8* bytes, int length) {
    if (length == 1) return bytes[0];
    TUint32 value = bytes[0] & ((1u << (7 - length)) - 1);
    for (int k = 1; k < length; ++k) value = (value << 6) | (bytes[k] & 0x3F);
    return static_cast<TUint16>(value);
}

} // namespace

OString::OString(Arena& arena, const TUint16* units, int count) : arena(&arena) {
    append(units, count);
}

OString::OString(Arena& arena, std::string_view latin1) : OString(arena, CAppsString(latin1)) {}

OString::OString(Arena& arena, const CAppsString& text) : arena(&arena) {
    append(text.data(), text.size());
}

OString OString::fromUtf8(Arena& arena, const TUint8* bytes, int count) {
    checkCount(count);
    std::vector<TUint16> units(count);
    int unitCount = decodeUtf8(bytes, count, units.data());
    if (unitCount < 0) raise(KErrDataFormat);
    return OString(arena, units.data(), unitCount);
}

int OString::decodeUtf8(const TUint8* bytes, int count, TUint16* out) {
    int unitCount = 0;
    for (int p = 0; p < count;) {
        int length = utf8SequenceLength(bytes + p, count - p);
        if (length == 0) return -1;
        out[unitCount++] = decodeSequence(bytes + p, length);
        p += length;
    }
    return unitCount;
}

OString::OString(const OString& other)
    : arena(other.arena), bufferAddress(retain(*other.arena, other.bufferAddress)) {}

OString::OString(OString&& other) noexcept
    : arena(other.arena), bufferAddress(std::exchange(other.bufferAddress, 0)) {}

OString& OString::operator=(const OString& other) {
    Address shared = retain(*other.arena, other.bufferAddress);
    releaseBuffer(*arena, bufferAddress);
    arena = other.arena;
    bufferAddress = shared;
    return *this;
}

OString& OString::operator=(OString&& other) noexcept {
    if (this == &other) return *this;
    releaseBuffer(*arena, bufferAddress);
    arena = other.arena;
    bufferAddress = std::exchange(other.bufferAddress, 0);
    return *this;
}

OString::~OString() {
    releaseBuffer(*arena, bufferAddress);
}

OString OString::adopt(Arena& arena, Address buffer) {
    OString result(arena);
    if (buffer != 0 && arena.blockSize(buffer) != 0) result.bufferAddress = buffer;
    return result;
}

OString OString::share(Arena& arena, Address buffer) {
    OString result(arena);
    result.bufferAddress = retain(arena, buffer);
    return result;
}

Address OString::detach() {
    return std::exchange(bufferAddress, 0);
}

void OString::releaseBuffer(Arena& arena, Address buffer) {
    if (buffer == 0 || arena.blockSize(buffer) == 0) return;
    TUint32 references = arena.word(buffer + kReferencesOffset);
    // A count bytecode zeroed still belongs to this last holder.
    if (references <= 1)
        arena.release(buffer);
    else
        arena.setWord(buffer + kReferencesOffset, references - 1);
}

int OString::length() const {
    return readState(*arena, bufferAddress).length;
}

TUint16 OString::at(int index) const {
    checkIndex(index, length());
    return arena->unit(unitAddress(bufferAddress, index));
}

Address OString::unitsAddress() const {
    return length() == 0 ? 0 : unitAddress(bufferAddress, 0);
}

const TUint16* OString::units() const {
    return view().data();
}

std::span<const TUint16> OString::view() const {
    const int count = readState(*arena, bufferAddress).length;
    if (count == 0) return {kNoUnits, 0};
    return {reinterpret_cast<const TUint16*>(
                arena->bytes(unitAddress(bufferAddress, 0), TUint64(count) * kUnitSize)),
            static_cast<size_t>(count)};
}

void OString::clear() {
    releaseBuffer(*arena, bufferAddress);
    bufferAddress = 0;
}

void OString::append(TUint16 unit) {
    append(&unit, 1);
}

void OString::append(const TUint16* units, int count) {
    const BufferState state = readState(*arena, bufferAddress);
    const TInt64 newLength = TInt64(state.length) + count;
    // A run of appends mostly finds room in its own buffer: nothing to shift, save or copy.
    if (count > 0 && state.writable(newLength) &&
        !overlapsBuffer(*arena, bufferAddress, state, units, count)) {
        TUint16* end = unitsOf(*arena, bufferAddress, static_cast<int>(newLength)) + state.length;
        if (count == 1)
            *end = *units; // the usual case, for which a call to memcpy costs more than the copy
        else
            std::memcpy(end, units, TUint64(count) * kUnitSize);
        setLength(*arena, bufferAddress, static_cast<int>(newLength));
        return;
    }
    insert(state.length, units, count);
}

void OString::append(const OString& other) {
    // Nothing to copy into: sharing is enough.
    if (isEmpty() && arena == other.arena) {
        *this = other;
        return;
    }
    const std::span<const TUint16> units = other.view();
    append(units.data(), static_cast<int>(units.size()));
}

void OString::insert(int index, const TUint16* units, int count) {
    const BufferState state = readState(*arena, bufferAddress);
    const int oldLength = state.length;
    if (index < 0 || index > oldLength) raiseIndexError(index, oldLength);
    checkCount(count);
    if (count == 0) return;
    TInt64 newLength = TInt64(oldLength) + count;
    if (newLength > kMaxCapacity) raiseOutOfMemory();
    // Units taken from this very buffer must outlive the move or the shift below.
    std::vector<TUint16> saved;
    if (overlapsBuffer(*arena, bufferAddress, state, units, count)) {
        saved.assign(units, units + count);
        units = saved.data();
    }
    // Doubling keeps a run of single-unit appends linear.
    if (!state.writable(newLength))
        reallocate(*arena, bufferAddress, state,
                   newLength <= state.capacity
                       ? static_cast<int>(newLength)
                       : static_cast<int>(std::clamp<TInt64>(2 * TInt64(state.capacity), newLength,
                                                             kMaxCapacity)));
    TUint16* text = unitsOf(*arena, bufferAddress, static_cast<int>(newLength));
    std::memmove(text + index + count, text + index, TUint64(oldLength - index) * kUnitSize);
    std::memcpy(text + index, units, TUint64(count) * kUnitSize);
    setLength(*arena, bufferAddress, static_cast<int>(newLength));
}

void OString::remove(int index, int count) {
    int oldLength = length();
    if (index < 0 || count < 0 || TInt64(index) + count > oldLength)
        raiseIndexError(index, oldLength);
    if (count == 0) return;
    makeWritable(oldLength);
    TUint16* text = unitsOf(*arena, bufferAddress, oldLength);
    std::memmove(text + index, text + index + count,
                 TUint64(oldLength - index - count) * kUnitSize);
    setLength(*arena, bufferAddress, oldLength - count);
}

void OString::setAt(int index, TUint16 unit) {
    checkIndex(index, length());
    makeWritable(length());
    arena->setUnit(unitAddress(bufferAddress, index), unit);
}

void OString::reserve(int capacity) {
    if (capacity > readState(*arena, bufferAddress).capacity) makeWritable(capacity);
}

bool OString::operator==(const OString& other) const {
    int count = length();
    return count == other.length() &&
           std::memcmp(units(), other.units(), TUint64(count) * kUnitSize) == 0;
}

Vec<TUint8> OString::toUtf8() const {
    const TUint16* text = units();
    int count = length();
    TInt64 byteCount = 0;
    for (int i = 0; i < count; ++i) byteCount += CAppsString::utf8Length(text[i]);
    if (byteCount > std::numeric_limits<int>::max()) raiseOutOfMemory();
    Vec<TUint8> bytes(static_cast<int>(byteCount));
    TUint8* out = bytes.data();
    for (int i = 0; i < count; ++i) out = CAppsString::encodeUtf8(text[i], out);
    return bytes;
}

CAppsString OString::toCAppsString() const {
    return CAppsString(units(), length());
}

void OString::makeWritable(int capacity) {
    const BufferState state = readState(*arena, bufferAddress);
    if (!state.writable(capacity)) reallocate(*arena, bufferAddress, state, capacity);
}
