#pragma once

#include "Types.h"

// The range check shared by the natives that take a part of something with known bounds
// (vectors, drawn text, output streams). A range (first, count) is checked against the
// positions lower .. lower + size; a count below 0 means "to the end" and is replaced by the
// number of positions from first to the end. Failures raise code 5 with an "Invalid Range"
// text.
void checkRange(TInt32 lower, TInt32 size, TInt32 first, TInt32& count);
