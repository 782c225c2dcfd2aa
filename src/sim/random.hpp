#pragma once
// Uniform random numbers for the simulation: a process-wide current generator
// (a 32-bit Mersenne Twister during a run) and categorical draws built on it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <typeinfo>
#include <vector>

class Random {
 public:
  static Random* RNG;    // the current generator
  static Random* Dummy;  // placeholder held whenever no generator is set
  virtual ~Random() = default;
  virtual double Next() = 0;  // uniform in (0, 1)
  static void Set(Random& r);
};

// Raises "Newran: uniform rng not setup" on every draw.
class DummyRNG : public Random {
 public:
  double Next() override;
};

// The one MT19937 state of the process, shared by every MT object.
namespace mt_state {
constexpr int kWords = 624;
constexpr int kUnseeded = 625;  // index value of a state that was never seeded
extern std::uint32_t words[kWords];
extern int index;
// Refills all words by the MT19937 recurrence (seeding with 5489 first if the
// state was never seeded) and sets index to 0.
void regenerate();
}  // namespace mt_state

// MT19937. All MT objects share one process-wide state; constructing one
// reseeds it from s * 2^32 (clamped to 32 bits).
class MT : public Random {
 public:
  explicit MT(double s);
  ~MT() override;
  double Next() override;

  // The output of one state word.
  static std::uint32_t temper(std::uint32_t y) {
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    return y ^ (y >> 18);
  }
  // The next raw 32-bit output (the draw that Next() transforms).
  static std::uint32_t next_word() {
    if (mt_state::index >= mt_state::kWords) mt_state::regenerate();
    return temper(mt_state::words[mt_state::index++]);
  }
  // Next() without the virtual call, for loops that draw once per allele.
  static double next_uniform() { return uniform_of(next_word()); }
  // The uniform draw that Next() makes of a raw word.
  static double uniform_of(std::uint32_t word) { return (word + 0.5) * 2.3283064365386963e-10; }
  // The next `count` raw words, exactly as `count` calls of next_word() give
  // them, for loops that draw once per SNP and compare the words themselves.
  static void fill_words(std::uint32_t* out, std::size_t count);
  // Seeds the shared state with a 32-bit word (the standard initialisation).
  static void seed_word(std::uint32_t word);
  // The seed word that MT(s) uses: s * 2^32 clamped to [0, 2^32 - 1], truncated.
  static std::uint32_t seed_word_of(double s);
  // Marks the shared state as never seeded (the first draw then seeds 5489).
  static void reset_unseeded();
};

// Whether the current generator is the plain Mersenne Twister, whose raw
// words the simulation reads directly.
inline bool current_generator_is_mt() { return typeid(*Random::RNG) == typeid(MT); }

// One uniform draw from the current generator.
double uniform_draw();

// Comparisons of a draw with a probability p, moved to raw words: the draw of
// word w is (w + 0.5) * 2^-32 exactly, so it is below p exactly when
// w < words_below(p), and at most p exactly when w < words_at_most(p).
// Both return a count of words from 0 to 2^32.
//
// The draw is below p when w < p * 2^32 - 0.5, a bound that double holds
// exactly for every p of interest (p * 2^32 is exact, and below 2^32 so is
// the subtraction of 0.5): the count of such w is the bound's ceiling. The
// draw is at most p when w <= that bound: its floor, plus one.
inline std::uint64_t words_below(double p) {
  const double bound = p * 4294967296.0 - 0.5;
  if (!(bound > 0.0)) return 0;  // NaN included
  if (bound >= 4294967296.0) return std::uint64_t(1) << 32;
  return static_cast<std::uint64_t>(std::ceil(bound));
}
inline std::uint64_t words_at_most(double p) {
  const double bound = p * 4294967296.0 - 0.5;
  if (!(bound >= 0.0)) return 0;
  if (bound >= 4294967296.0) return std::uint64_t(1) << 32;
  return static_cast<std::uint64_t>(std::floor(bound)) + 1;
}

// The current generator, looked up once: when it is the plain MT, draws skip
// the virtual call and read the shared state directly; the values are the same
// either way. Valid while the current generator stays the same.
class UniformDraws {
 public:
  UniformDraws() : direct(current_generator_is_mt()), rng(Random::RNG) {}
  double next() { return direct ? MT::next_uniform() : rng->Next(); }

 private:
  bool direct;
  Random* rng;
};

// The categorical draw of the model from a uniform draw u: the weights
// weight(0), weight(1), ... are subtracted from u in turn until it is no
// longer positive. Returns the 1-based number of the category reached (`size`
// if the weights run out first; 0 when the draw is not positive).
template <class Weight>
int rmultinom_from(double u, int size, const Weight& weight) {
  if (u <= 0.0) return 0;
  int i = 0;
  do {
    if (i >= size) return i;
    u = u - weight(i);
    ++i;
  } while (u > 0.0);
  return i;
}

// The same draw, u taken from the current generator.
template <class Weight>
int rmultinom_by(int size, const Weight& weight) {
  return rmultinom_from(Random::RNG->Next(), size, weight);
}

// The draw over a vector of weights.
inline int rmultinom(std::vector<double>* p) {
  const std::vector<double>& weights = *p;
  return rmultinom_by(static_cast<int>(weights.size()), [&](int i) { return weights[i]; });
}

// The draw over `size` weights that all equal `weight`.
inline int rmultinom_equal(int size, double weight) {
  return rmultinom_by(size, [weight](int) { return weight; });
}


// Thrown by DummyRNG::Next().
class RandomNotSetException {
 public:
  const char* message = "Newran: uniform rng not setup";
};
