#include "sim/random.hpp"

namespace {
DummyRNG placeholder;
}

// The loops over the whole state run once per word drawn in bulk; with GCC on
// x86-64 they are also compiled for AVX2, and the processor picks the version
// when the program loads. The words are the same either way. Not under
// ThreadSanitizer, whose instrumented version chooser would run before the
// sanitizer is set up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(__SANITIZE_THREAD__)
#define WORD_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define WORD_LOOP
#endif

Random* Random::Dummy = &placeholder;
Random* Random::RNG = &placeholder;

void Random::Set(Random& r) { RNG = &r; }

double DummyRNG::Next() { throw RandomNotSetException(); }

double uniform_draw() { return Random::RNG->Next(); }

namespace mt_state {
std::uint32_t words[kWords];
int index = kUnseeded;

WORD_LOOP void regenerate() {
  constexpr int kMiddle = 397;
  constexpr std::uint32_t kMatrix = 0x9908B0DFu;
  constexpr std::uint32_t kUpper = 0x80000000u;
  constexpr std::uint32_t kLower = 0x7FFFFFFFu;
  if (index == kUnseeded) MT::seed_word(5489u);
  const auto twist = [](std::uint32_t word, std::uint32_t next, std::uint32_t far) {
    const std::uint32_t y = (word & kUpper) | (next & kLower);
    return far ^ (y >> 1) ^ ((y & 1u) ? kMatrix : 0u);
  };
  // Each stretch runs a whole number of eight-word vectors, and its few
  // words left over one by one: the compiler vectorizes only loops that
  // need no remainder of their own.
  int i = 0;
  for (; i < 224; ++i) words[i] = twist(words[i], words[i + 1], words[i + kMiddle]);
  for (; i < kWords - kMiddle; ++i) words[i] = twist(words[i], words[i + 1], words[i + kMiddle]);
  for (; i < kWords - kMiddle + 392; ++i) words[i] = twist(words[i], words[i + 1], words[i + (kMiddle - kWords)]);
  for (; i < kWords - 1; ++i) words[i] = twist(words[i], words[i + 1], words[i + (kMiddle - kWords)]);
  words[kWords - 1] = twist(words[kWords - 1], words[0], words[kMiddle - 1]);
  index = 0;
}
}  // namespace mt_state

void MT::seed_word(std::uint32_t word) {
  mt_state::words[0] = word;
  for (int i = 1; i < mt_state::kWords; ++i) {
    std::uint32_t prev = mt_state::words[i - 1];
    mt_state::words[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<std::uint32_t>(i);
  }
  mt_state::index = mt_state::kWords;
}

std::uint32_t MT::seed_word_of(double s) {
  double x = s * 4294967296.0;
  if (x > 4294967295.0) x = 4294967295.0;
  if (!(x >= 0.0)) x = 0.0;  // also maps a NaN seed to 0
  return static_cast<std::uint32_t>(x);
}

void MT::reset_unseeded() { mt_state::index = mt_state::kUnseeded; }

MT::MT(double s) { seed_word(seed_word_of(s)); }

MT::~MT() {
  if (Random::RNG == this) Random::RNG = Random::Dummy;
}

double MT::Next() { return next_uniform(); }

WORD_LOOP void MT::fill_words(std::uint32_t* out, std::size_t count) {
  while (count > 0) {
    if (mt_state::index >= mt_state::kWords) mt_state::regenerate();
    std::size_t take = static_cast<std::size_t>(mt_state::kWords - mt_state::index);
    if (take > count) take = count;
    const std::uint32_t* words = mt_state::words + mt_state::index;
    for (std::size_t i = 0; i < take; ++i) out[i] = temper(words[i]);
    mt_state::index += static_cast<int>(take);
    out += take;
    count -= take;
  }
}
