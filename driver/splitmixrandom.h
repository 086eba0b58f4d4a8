#pragma once

#include <cmath>
#include <cstdint>

namespace vexadin {

// Small, fast, deterministic random numbers (a splitmix64 counter): the same
// state gives the same numbers on every run and platform, and a state can be
// saved and resumed. For simulation, not for anything secret.
class SplitMixRandom {
public:
    explicit SplitMixRandom(uint64_t state) : state_(state) {}

    static uint64_t mix(uint64_t z)
    {
        z += 0x9e3779b97f4a7c15ULL;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    uint64_t state() const { return state_; } // a generator made from it continues here
    uint64_t next() { return mix(state_++ * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL); }
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); } // [0, 1)
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }

    double normal()
    {
        const double u1 = 1.0 - uniform(); // (0, 1]
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * 3.14159265358979323846 * u2);
    }

    uint64_t poisson(double mean) { return poisson(mean, std::exp(-mean)); }
    // limit = exp(-mean), for callers that draw many times with one mean.
    uint64_t poisson(double mean, double limit)
    {
        if (!(mean > 0))
            return 0;
        if (mean > 40) {
            const double n = std::round(mean + std::sqrt(mean) * normal());
            return n > 0 ? uint64_t(n) : 0;
        }
        uint64_t k = 0;
        for (double p = uniform(); p > limit; p *= uniform())
            ++k;
        return k;
    }

private:
    uint64_t state_;
};

} // namespace vexadin
