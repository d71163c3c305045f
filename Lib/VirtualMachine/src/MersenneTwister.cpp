#include "MersenneTwister.h"

namespace {

constexpr int kShift = 397;
constexpr TUint32 kMatrix = 0x9908B0DFu;
constexpr TUint32 kUpper = 0x80000000u;
constexpr TUint32 kLower = 0x7FFFFFFFu;

} // namespace

void MersenneTwister::seed(TUint32 value) {
    state[0] = value;
    for (int i = 1; i < kStateSize; ++i) state[i] = 69069u * state[i - 1];
    index = kStateSize;
}

void MersenneTwister::twist() {
    for (int i = 0; i < kStateSize; ++i) {
        const TUint32 y = (state[i] & kUpper) | (state[(i + 1) % kStateSize] & kLower);
        state[i] = state[(i + kShift) % kStateSize] ^ (y >> 1) ^ ((y & 1) ? kMatrix : 0);
    }
    index = 0;
}

TUint32 MersenneTwister::next32() {
    if (!isSeeded()) seed(4357); // the original's default seed
    if (index >= kStateSize) twist();
    TUint32 y = state[index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}
