// Seeded random numbers and the little geometry the demo needs. Only exact IEEE operations
// (+ - * / sqrt, rounding) are used, so a seed gives the same data with every compiler and libm.
#pragma once

#include <cmath>
#include <cstdint>

namespace ringolan::demo {

inline uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// xoshiro256**; `stream` separates independent sequences drawn from one seed.
class Rng {
public:
    Rng(uint64_t seed, uint64_t stream) {
        uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ULL);
        for (auto& s : s_) s = splitmix64(x);
    }

    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // Uniform in [0, n); n > 0.
    uint64_t below(uint64_t n) { return static_cast<uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64); }
    // Uniform in [lo, hi].
    int range(int lo, int hi) { return lo + static_cast<int>(below(static_cast<uint64_t>(hi - lo) + 1)); }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }
    // Roughly standard normal: scaled sum of six uniforms (bounded at +-4.24).
    double normal() {
        double s = 0;
        for (int i = 0; i < 6; ++i) s += unit();
        return (s - 3.0) * 1.4142135623730951;
    }
    template <class T> const T& pick(const T* items, size_t n) { return items[below(n)]; }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

constexpr double kPi = 3.14159265358979323846;

// Direction of the point (x right, y up) clockwise from the top, in turns [0, 1).
// Polynomial arctangent, error below 1e-5 rad, far finer than the stored 1/32768 turn.
inline double turns_from_top(double x, double y) {
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (ax == 0 && ay == 0) return 0;
    const bool steep = ax < ay;  // closer to the vertical axis
    const double z = steep ? ax / ay : ay / ax;
    const double z2 = z * z;
    const double a = z * (0.9998660 + z2 * (-0.3302995 + z2 * (0.1801410 + z2 * (-0.0851330 + z2 * 0.0208351))));
    double angle = steep ? a : kPi / 2 - a;  // first quadrant, from the top towards the right
    if (y < 0) angle = kPi - angle;
    if (x < 0) angle = 2 * kPi - angle;
    return angle / (2 * kPi);
}

}  // namespace ringolan::demo
