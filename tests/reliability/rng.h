// A small portable random generator (splitmix64): the same seed gives the
// same numbers on every platform and compiler, so a failing run can be
// replayed from its seed alone. Integer arithmetic only.
#pragma once

#include <cstdint>

namespace reliability {

class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}

    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // lo..hi, both included. The modulo bias is irrelevant here.
    uint64_t Range(uint64_t lo, uint64_t hi) { return lo + Next() % (hi - lo + 1); }
    int64_t SignedRange(int64_t lo, int64_t hi)
    {
        return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
    }
    bool Percent(unsigned p) { return Next() % 100 < p; }

    // Spread evenly over the powers of two between lo and hi (lo >= 1): short
    // values come as often as long ones, which a uniform draw would starve.
    uint64_t LogRange(uint64_t lo, uint64_t hi)
    {
        int loBit = 63 - __builtin_clzll(lo), hiBit = 63 - __builtin_clzll(hi);
        int bit = static_cast<int>(Range(static_cast<uint64_t>(loBit), static_cast<uint64_t>(hiBit)));
        uint64_t from = bit == loBit ? lo : (1ull << bit);
        uint64_t to = bit == hiBit ? hi : (1ull << (bit + 1)) - 1;
        return Range(from, to);
    }

    template <class T, unsigned N>
    const T& Pick(const T (&items)[N])
    {
        return items[Next() % N];
    }

private:
    uint64_t state_;
};

// A second, independent stream derived from a seed and a label.
inline uint64_t Mix(uint64_t seed, uint64_t label)
{
    return Rng(seed ^ (label * 0xD1B54A32D192ED03ull)).Next();
}

} // namespace reliability
