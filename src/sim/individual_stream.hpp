#pragma once
// The random stream of one individual of the population engine: Philox4x32-10
// (Debian's librandom123-dev) keyed by the run's seed word and the
// individual's index. A counter-based generator needs no state carried from
// one individual to the next, so any individual can be drawn alone, on any
// thread, in any order, and always gets the same numbers.
#include <Random123/philox.h>

#include <cmath>
#include <cstdint>

class IndividualStream {
 public:
  using Philox = r123::Philox4x32;

  // What a stream is for: the haplotypes, or the noise of a liability. The
  // purposes never share a counter, so a trait's draws cannot change a genotype.
  enum Purpose : std::uint32_t { haplotypes = 0, liability = 1 };

  // Key {seed word, low word of the index}; the purpose and the high word of
  // the index sit in the last two counter words, the block number in the
  // first two.
  IndividualStream(std::uint32_t seed_word, std::uint64_t individual, Purpose purpose = haplotypes)
      : key{{seed_word, static_cast<std::uint32_t>(individual)}},
        counter{{0, 0, purpose, static_cast<std::uint32_t>(individual >> 32)}} {}

  // The raw Philox block for a counter and key, for the published test vectors.
  static Philox::ctr_type block(Philox::ctr_type c, Philox::key_type k) { return Philox()(c, k); }

  // The next 64 random bits: two words of a block, low word first.
  std::uint64_t next_bits() {
    if (used == 4) refill();
    const std::uint64_t low = words.v[used], high = words.v[used + 1];
    used += 2;
    return low | high << 32;
  }
  // Uniform in (0, 1): 53 bits and a half, so never 0 nor 1.
  double uniform() { return (static_cast<double>(next_bits() >> 11) + 0.5) * 0x1p-53; }
  // Exp(1), always above 0.
  double exponential() { return -std::log(uniform()); }
  // A standard normal draw by the polar method, which needs only sqrt and
  // log (the same on every machine); the second value is dropped.
  double normal() {
    for (;;) {
      const double u = 2.0 * uniform() - 1.0, v = 2.0 * uniform() - 1.0;
      const double s = u * u + v * v;
      if (s < 1.0 && s > 0.0) return u * std::sqrt(-2.0 * std::log(s) / s);
    }
  }
  // Uniform on 0 .. n - 1 (n >= 1), from the top bits of a 64 x 64-bit
  // product: off uniform by at most n / 2^64.
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(next_bits()) * n) >> 64);
  }

 private:
  void refill() {
    words = Philox()(counter, key);
    if (++counter.v[0] == 0) ++counter.v[1];
    used = 0;
  }

  Philox::key_type key;
  Philox::ctr_type counter;
  Philox::ctr_type words{};
  int used = 4;
};
