#pragma once

#include "Arena.h"
#include "CAppsString.h"

#include <span>
#include <string_view>

// The machine's string: a handle on a shared, reference-counted buffer of 16-bit units in the
// arena (so bytecode can be handed addresses inside it). Copies share the buffer; a change to
// a shared buffer first makes a private copy.
//
// Buffer record at address B (an Arena::allocate block):
//   B+0 references (u32), B+4 capacity in units (u32), B+8 length in units (i32),
//   B+12 capacity + 1 units: the text followed by a terminating 0.
// Bytecode can overwrite these words; every reader clamps them to what the block holds.
//
// In the VM heap a string object (gc code 3, objectKind -1) is two words: word 0 is 0 (no
// native handle), word 1 is its buffer address or 0 for the empty string.
class OString {
public:
    explicit OString(Arena& arena) : arena(&arena) {}
    OString(Arena& arena, const TUint16* units, int count);
    OString(Arena& arena, std::string_view latin1);
    OString(Arena& arena, const CAppsString& text);
    // Malformed UTF-8 raises DataFormatException (code 4) with an empty message.
    static OString fromUtf8(Arena& arena, const TUint8* bytes, int count);
    // The same decoding without raising: writes one unit per sequence to out (room for count
    // units) and returns how many, or -1 when any sequence is malformed.
    static int decodeUtf8(const TUint8* bytes, int count, TUint16* out);

    OString(const OString& other);
    OString(OString&& other) noexcept;
    OString& operator=(const OString& other);
    OString& operator=(OString&& other) noexcept;
    ~OString();

    // Takes over one reference the caller holds on buffer (0 for empty); nothing is counted.
    static OString adopt(Arena& arena, Address buffer);
    // A new handle on buffer: the reference count grows. An address that is not a live
    // string buffer gives the empty string.
    static OString share(Arena& arena, Address buffer);
    // Gives up this handle's reference to the caller and leaves the string empty.
    Address detach();
    // Drops one reference; the buffer is freed with the last one.
    static void releaseBuffer(Arena& arena, Address buffer);

    Address buffer() const { return bufferAddress; }
    int length() const;
    bool isEmpty() const { return length() == 0; }
    TUint16 at(int index) const; // code 6 outside 0 .. length-1
    // Arena address of unit 0 (0 for the empty string); valid until the next change.
    Address unitsAddress() const;
    const TUint16* units() const;          // host view of the units; valid until the next change
    std::span<const TUint16> view() const; // the units and their count, read once

    void clear();
    void append(TUint16 unit);
    void append(const TUint16* units, int count);
    void append(const OString& other);
    void insert(int index, const TUint16* units, int count); // code 6 unless 0 <= index <= length
    void remove(int index, int count);                       // code 6 outside the string
    void setAt(int index, TUint16 unit);                     // code 6 outside the string
    void reserve(int capacity);

    bool operator==(const OString& other) const;
    Vec<TUint8> toUtf8() const;
    CAppsString toCAppsString() const;
    Arena& owner() const { return *arena; }

private:
    void makeWritable(int capacity); // private buffer with at least this capacity

    Arena* arena;
    Address bufferAddress = 0;
};
