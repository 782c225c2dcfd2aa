#pragma once
// The random numbers of a trait, apart from the simulation's generator: a
// stream keyed by the run's seed word and a purpose (the effects, each
// replicate's noise), so that trait flags never change a genotype draw, a
// replicate's noise does not depend on how many replicates there are, and
// the same seed word gives the same trait on every machine. The engine is
// the standard's 64-bit Mersenne Twister, whose outputs the C++ standard
// fixes; the transforms below use only exact arithmetic, sqrt and log.
#include <cmath>
#include <cstdint>
#include <random>

class TraitStream {
 public:
  enum Purpose : std::uint32_t { causal_effects = 1, noise = 2 };  // noise + r: replicate r

  TraitStream(std::uint32_t seed_word, std::uint32_t purpose)
      : engine(mix((std::uint64_t(seed_word) << 32) ^ mix(0x7472616974ULL + purpose))) {}

  std::uint64_t next() { return engine(); }
  // Uniform in (0, 1): 53 random bits and half a step.
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
  // A standard normal draw (the polar method; the second value is dropped so
  // that every draw costs the same number of words on average).
  double normal() {
    for (;;) {
      const double u = 2.0 * uniform() - 1.0, v = 2.0 * uniform() - 1.0;
      const double s = u * u + v * v;
      if (s < 1.0 && s > 0.0) return u * std::sqrt(-2.0 * std::log(s) / s);
    }
  }
  // Uniform over 0 .. n - 1, without bias (n > 0).
  std::uint64_t below(std::uint64_t n) {
    const std::uint64_t threshold = (0 - n) % n;
    for (;;) {
      const unsigned __int128 product = static_cast<unsigned __int128>(next()) * n;
      if (static_cast<std::uint64_t>(product) >= threshold) return static_cast<std::uint64_t>(product >> 64);
    }
  }

 private:
  // splitmix64's finaliser: nearby keys give unrelated engine seeds.
  static std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
  }
  std::mt19937_64 engine;
};
