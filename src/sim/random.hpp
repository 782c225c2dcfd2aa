#pragma once
// Uniform random numbers for the simulation: a process-wide current generator
// (a 32-bit Mersenne Twister during a run) and categorical draws built on it.
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

  // The next raw 32-bit output (the draw that Next() transforms).
  static std::uint32_t next_word() {
    if (mt_state::index >= mt_state::kWords) mt_state::regenerate();
    std::uint32_t y = mt_state::words[mt_state::index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
  }
  // Next() without the virtual call, for loops that draw once per allele.
  static double next_uniform() { return (next_word() + 0.5) * 2.3283064365386963e-10; }
  // Seeds the shared state with a 32-bit word (the standard initialisation).
  static void seed_word(std::uint32_t word);
  // The seed word that MT(s) uses: s * 2^32 clamped to [0, 2^32 - 1], truncated.
  static std::uint32_t seed_word_of(double s);
  // Marks the shared state as never seeded (the first draw then seeds 5489).
  static void reset_unseeded();
};

// One uniform draw from the current generator.
double uniform_draw();

// The current generator, looked up once: when it is the plain MT, draws skip
// the virtual call and read the shared state directly; the values are the same
// either way. Valid while the current generator stays the same.
class UniformDraws {
 public:
  UniformDraws() : direct(typeid(*Random::RNG) == typeid(MT)), rng(Random::RNG) {}
  double next() { return direct ? MT::next_uniform() : rng->Next(); }

 private:
  bool direct;
  Random* rng;
};

// Draws a category from the weights: returns its 1-based number (the size of
// p if the weights run out first; 0 for an empty p). One uniform draw.
int rmultinom(std::vector<double>* p);

// Thrown by DummyRNG::Next().
class RandomNotSetException {
 public:
  const char* message = "Newran: uniform rng not setup";
};
