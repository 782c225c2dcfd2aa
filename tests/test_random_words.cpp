#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sim/random.hpp"

namespace {

// Word thresholds agree with the double comparisons they replace, at the
// words next to each threshold, for probabilities across the whole range.
TEST(WordThresholds, MatchTheComparisonOfTheDrawWithTheProbability) {
  std::vector<double> probabilities = {0.0, -1.0, 1.0, 2.0, 1e-300, 0.5 / 4294967296.0,
                                       std::nextafter(0.5 / 4294967296.0, 1.0), 0.25, 0.999999,
                                       MT::uniform_of(12345), MT::uniform_of(4294967295u)};
  for (double p = 1e-12; p < 1.0; p *= 1.37) probabilities.push_back(p);
  for (const double p : probabilities) {
    const std::uint64_t below = words_below(p), at_most = words_at_most(p);
    for (const std::uint64_t bound : {below, at_most}) {
      const std::int64_t b = static_cast<std::int64_t>(bound);
      for (std::int64_t w = b - 2; w <= b + 1; ++w) {
        if (w < 0 || w > 4294967295LL) continue;
        const double u = MT::uniform_of(static_cast<std::uint32_t>(w));
        ASSERT_EQ(static_cast<std::uint64_t>(w) < below, u < p) << p << " " << w;
        ASSERT_EQ(static_cast<std::uint64_t>(w) < at_most, u <= p) << p << " " << w;
      }
    }
  }
}

TEST(BulkDraws, WordsAndEqualWeightDrawsContinueTheOneStream) {
  MT generator(0.12345);
  Random::Set(generator);
  std::vector<std::uint32_t> words(1500);
  MT::fill_words(words.data(), words.size());  // crosses two regenerations of the state
  MT::seed_word(MT::seed_word_of(0.12345));
  for (std::uint32_t word : words) ASSERT_EQ(word, MT::next_word());

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

}  // namespace
