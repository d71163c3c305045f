#pragma once

#include "Vec.h"

// Base of native objects that hold host resources (streams, bitmaps, fonts, hashes, players).
// They live in host memory, in the machine's native-object table; their heap entry holds only
// a handle to them, so bytecode can never reach a host pointer.
class GCObject {
public:
    virtual ~GCObject() = default;
    // Pushes the references the object holds for the collector to mark.
    virtual void getReferences(Vec<Address>& markStack, bool all) {
        (void)markStack;
        (void)all;
    }
    // Bytes the object holds outside the heap.
    virtual int getContentSize() const { return 0; }
};
