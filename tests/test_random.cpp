#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/random.hpp"
#include "scripted_draws.hpp"

namespace {

TEST(MersenneTwister, ReferenceOutputsAndSeedWords) {
  MT::reset_unseeded();
  EXPECT_EQ(MT::next_word(), 3499211612u);
  std::uint32_t word = 0;
  for (int i = 2; i <= 10000; ++i) word = MT::next_word();
  EXPECT_EQ(word, 4123659995u);
  // s * 2^32 clamped to [0, 2^32 - 1], truncated.
  const std::pair<double, std::uint32_t> seeds[] = {
      {0.12345, 530213712u}, {1.0, 4294967295u}, {1e300, 4294967295u}, {0.0, 0u}, {-0.25, 0u},
      {0.5, 2147483648u}, {1.0 / 4294967296.0, 1u}, {0.999999999, 4294967291u}};
  for (const auto& s : seeds) EXPECT_EQ(MT::seed_word_of(s.first), s.second) << s.first;
}

TEST(MersenneTwister, EveryGeneratorAndDrawPathContinuesOneSharedStandardStream) {
  MT first(0.9);
  first.Next();
  MT second(0.12345 + 1e-11);  // reseeds the shared state; same seed word as 0.12345
  Random::Set(second);
  UniformDraws draws;
  std::mt19937 reference(530213712u);
  for (int i = 0; i < 2000; ++i) {
    const double u = i % 3 == 0 ? uniform_draw() : i % 3 == 1 ? first.Next() : draws.next();
    ASSERT_EQ(u, (reference() + 0.5) * 2.3283064365386963e-10) << "draw " << i;  // in (0, 1)
  }
  std::vector<std::uint32_t> words(1500);
  MT::fill_words(words.data(), words.size());  // crosses two regenerations of the state
  for (std::uint32_t w : words) ASSERT_EQ(w, reference());
}

TEST(CurrentGenerator, PlaceholderRefusesToDrawUntilAGeneratorIsSet) {
  EXPECT_EQ(Random::RNG, Random::Dummy);
  EXPECT_THROW(uniform_draw(), RandomNotSetException);
  EXPECT_STREQ(RandomNotSetException().message, "Newran: uniform rng not setup");
  {
    MT generator(0.1);
    Random::Set(generator);
    { MT other(0.2); }  // never made current: its end leaves the slot alone
    EXPECT_EQ(Random::RNG, &generator);
  }
  EXPECT_EQ(Random::RNG, Random::Dummy);
  EXPECT_THROW(UniformDraws().next(), RandomNotSetException);
}

TEST(Rmultinom, ReducesTheDrawWeightByWeightAndTheEqualWeightFormAgrees) {
  const std::vector<double> quarter{0.25, 0.25, 0.5};
  const struct { std::vector<double> weights; double draw; int category; } cases[] = {
      {quarter, 0.25, 1},  // a remainder of exactly 0 picks the current category
      {quarter, 0.2500001, 2}, {quarter, 0.9, 3}, {{0.0, 1.0}, 1e-12, 2}, {{1.0, 0.0}, 0.999999, 1},
      {{0.5, 0.3}, 0.9, 2}, {{0.0, 0.0}, 0.5, 2}, {{}, 0.5, 0},  // running out gives the last
      // Ten weights of 0.1 sum below 1.0 in double arithmetic.
      {std::vector<double>(10, 0.1), 0.99999999999999995, 10},
  };
  for (const auto& c : cases) {
    std::vector<double> weights = c.weights;
    ScriptedDraws script({c.draw});
    EXPECT_EQ(rmultinom(&weights), c.category) << "draw " << c.draw << " over " << weights.size();
    EXPECT_EQ(script.used, 1u);
  }
  MT generator(0.5);
  Random::Set(generator);
  for (int size : {1, 2, 7, 600, 4001}) {
    std::vector<double> weights(size, 1.0 / size);
    for (int draw = 0; draw < 200; ++draw) {
      MT::seed_word(1000u * size + draw);
      const int expected = rmultinom(&weights);
      MT::seed_word(1000u * size + draw);
      ASSERT_EQ(rmultinom_equal(size, 1.0 / size), expected) << size << " " << draw;
    }
  }
}

// Word thresholds agree with the double comparisons they replace, at the
// words next to each threshold, for probabilities across the whole range.
TEST(WordThresholds, MatchTheComparisonOfTheDrawWithTheProbability) {
  std::vector<double> probabilities = {0.0, -1.0, 1.0, 2.0, 1e-300, 0.5 / 4294967296.0,
                                       std::nextafter(0.5 / 4294967296.0, 1.0), 0.25, 0.999999,
                                       MT::uniform_of(12345), MT::uniform_of(4294967295u)};
  for (double p = 1e-12; p < 1.0; p *= 1.37) probabilities.push_back(p);
  for (const double p : probabilities) {
    const std::uint64_t below = words_below(p), at_most = words_at_most(p);
    for (const std::int64_t b : {std::int64_t(below), std::int64_t(at_most)})
      for (std::int64_t w = std::max<std::int64_t>(b - 2, 0); w <= std::min<std::int64_t>(b + 1, 4294967295LL); ++w) {
        const double u = MT::uniform_of(static_cast<std::uint32_t>(w));
        ASSERT_EQ(static_cast<std::uint64_t>(w) < below, u < p) << p << " " << w;
        ASSERT_EQ(static_cast<std::uint64_t>(w) < at_most, u <= p) << p << " " << w;
      }
  }
}

}  // namespace
