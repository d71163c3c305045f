#include "WrapperUtilities.h"

#include "ErrorHandling.h"

#include <string>

namespace {

[[noreturn]] void raiseRange(const std::string& text) {
    raise(KErrRange, "Invalid Range, " + text);
}

} // namespace

// Sums are formed in 64 bits so that large arguments cannot wrap past the bounds. The texts,
// odd spacing included, are the ones applications already match on.
void checkRange(TInt32 lower, TInt32 size, TInt32 first, TInt32& count) {
    const TInt64 upper = TInt64(lower) + size;
    if (count == 0) {
        if (first < 0)
            raiseRange("first should be non-negative (first=" + std::to_string(first) + ")");
    } else if (count < 0) {
        if (first < lower) {
            raiseRange("first should not be less than " + std::to_string(lower) +
                       ", first = " + std::to_string(first));
        }
        if (first > upper) {
            raiseRange("first should not be more than " + std::to_string(upper) +
                       ", first = " + std::to_string(first));
        }
        count = TInt32(upper - first);
    } else {
        if (first < lower) {
            raiseRange("first should not be less than" + std::to_string(lower) +
                       ", first =  " + std::to_string(first));
        }
        if (TInt64(first) + count > upper) {
            raiseRange("range out of bounds: " + std::to_string(TInt64(first) + count) + " > " +
                       std::to_string(upper));
        }
    }
}
