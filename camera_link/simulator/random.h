#pragma once
// A small, fast and reproducible random source for the simulated sensor: the same seed gives the
// same star field and the same noise on every machine (the standard library's distributions are
// not specified bit for bit, so the few we need are written out here).
#include <cmath>
#include <cstdint>

namespace korvi::sim
{

// SplitMix64: turns any seed (also 0 or a small counter) into well-mixed 64-bit values.
inline std::uint64_t MixSeed(std::uint64_t value)
{
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// xoshiro256** with uniform, normal and Poisson draws.
class Random
{
public:
    explicit Random(std::uint64_t seed)
    {
        for (auto &word : state_) {
            seed = MixSeed(seed);
            word = seed;
        }
    }

    std::uint64_t Next()
    {
        const std::uint64_t result = Rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = Rotl(state_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }

    // Standard normal (Marsaglia's polar method, keeping the second value).
    double Normal()
    {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u, v, s;
        do {
            u = 2.0 * Uniform() - 1.0;
            v = 2.0 * Uniform() - 1.0;
            s = u * u + v * v;
        } while (s >= 1.0 || s == 0.0);
        const double factor = std::sqrt(-2.0 * std::log(s) / s);
        spare_ = v * factor;
        haveSpare_ = true;
        return u * factor;
    }

    // Poisson count of the given mean: exact by multiplication for small means, the normal
    // approximation (rounded, never negative) above 30 where it is indistinguishable on a sensor.
    double Poisson(double mean)
    {
        if (!(mean > 0.0))
            return 0.0;
        if (mean > 30.0) {
            const double value = std::floor(mean + std::sqrt(mean) * Normal() + 0.5);
            return value < 0.0 ? 0.0 : value;
        }
        const double limit = std::exp(-mean);
        double product = Uniform();
        double count = 0.0;
        while (product > limit) {
            product *= Uniform();
            count += 1.0;
        }
        return count;
    }

private:
    static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    std::uint64_t state_[4];
    double spare_ = 0.0;
    bool haveSpare_ = false;
};

} // namespace korvi::sim
