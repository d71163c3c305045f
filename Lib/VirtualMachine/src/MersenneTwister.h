#pragma once

#include "Types.h"

// MT19937 of Matsumoto and Nishimura with the multiplier-69069 seeding of the original
// publication. Unseeded until the first seed().
class MersenneTwister {
public:
    static constexpr int kStateSize = 624;

    bool isSeeded() const { return index <= kStateSize; }
    void seed(TUint32 value);
    TUint32 next32();
    TUint32 stateWord(int i) const { return state[i]; }

private:
    void twist();

    TUint32 state[kStateSize] = {};
    int index = kStateSize + 1;
};
