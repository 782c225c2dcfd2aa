#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/random.hpp"

namespace {

// Hands out scripted uniforms, to aim draws at chosen categories.
class ScriptedDraws : public Random {
 public:
  explicit ScriptedDraws(std::vector<double> script) : values(std::move(script)) {}
  ~ScriptedDraws() override {
    if (Random::RNG == this) Random::RNG = Random::Dummy;
  }
  double Next() override { return values.at(used++); }
  std::vector<double> values;
  std::size_t used = 0;
};

TEST(MersenneTwister, UnseededStateStartsFromTheReferenceSeed) {
  MT::reset_unseeded();
  EXPECT_EQ(MT::next_word(), 3499211612u);
  std::uint32_t word = 0;
  for (int i = 2; i <= 10000; ++i) word = MT::next_word();
  EXPECT_EQ(word, 4123659995u);
}

TEST(MersenneTwister, SeedWordIsTheClampedTruncatedProductWithTwoToThe32) {
  struct Case {
    double seed;
    std::uint32_t word;
  };
  const Case cases[] = {
      {0.12345, 530213712u},       {1.0, 4294967295u}, {1.5, 4294967295u},
      {1e300, 4294967295u},        {0.0, 0u},          {-0.25, 0u},
      {-1e300, 0u},                {0.5, 2147483648u}, {1.0 / 4294967296.0, 1u},
      {0.999999999, 4294967291u},
  };
  for (const Case& c : cases) EXPECT_EQ(MT::seed_word_of(c.seed), c.word) << "seed " << c.seed;
}

TEST(MersenneTwister, SeededOutputsMatchTheStandardEngineAndMapIntoTheOpenUnitInterval) {
  MT generator(0.12345);
  std::mt19937 reference(530213712u);
  for (int i = 0; i < 2000; ++i) {
    const std::uint32_t expected = reference();
    const double u = generator.Next();
    ASSERT_EQ(u, (expected + 0.5) * 2.3283064365386963e-10) << "draw " << i;
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
}

TEST(MersenneTwister, AllGeneratorsShareOneStateAndConstructionReseeds) {
  MT first(0.5);
  const double a = first.Next();
  MT second(0.5);  // reseeds the shared state
  EXPECT_EQ(first.Next(), a);
  EXPECT_NE(second.Next(), a);
  // Seeds whose products with 2^32 share the integer part give one sequence.
  MT third(0.5 + 1e-11);
  EXPECT_EQ(third.Next(), a);
}

TEST(MersenneTwister, DirectAndVirtualDrawsContinueOneStream) {
  std::vector<double> expected;
  {
    MT generator(0.777);
    for (int i = 0; i < 1300; ++i) expected.push_back(generator.Next());
  }
  MT generator(0.777);
  Random::Set(generator);
  UniformDraws draws;
  for (int i = 0; i < 1300; ++i) {
    const double u = (i % 3 == 0) ? uniform_draw() : draws.next();
    ASSERT_EQ(u, expected[i]) << "draw " << i;
  }
}

TEST(CurrentGenerator, PlaceholderRefusesToDrawUntilAGeneratorIsSet) {
  EXPECT_EQ(Random::RNG, Random::Dummy);
  try {
    uniform_draw();
    FAIL() << "the placeholder drew a number";
  } catch (const RandomNotSetException& e) {
    EXPECT_EQ(std::string(e.message), "Newran: uniform rng not setup");
  }
  EXPECT_THROW(UniformDraws().next(), RandomNotSetException);
  {
    MT generator(0.1);
    Random::Set(generator);
    EXPECT_EQ(Random::RNG, &generator);
    {
      MT other(0.2);  // never made current: its end leaves the slot alone
    }
    EXPECT_EQ(Random::RNG, &generator);
  }
  EXPECT_EQ(Random::RNG, Random::Dummy);
  EXPECT_THROW(uniform_draw(), RandomNotSetException);
}

TEST(Rmultinom, ReducesTheDrawWeightByWeight) {
  struct Case {
    std::vector<double> weights;
    double draw;
    int category;
  };
  const Case cases[] = {
      {{0.25, 0.25, 0.5}, 0.25, 1},  // a remainder of exactly 0 picks the current category
      {{0.25, 0.25, 0.5}, 0.2500001, 2},
      {{0.25, 0.25, 0.5}, 0.9, 3},
      {{0.5, 0.3}, 0.9, 2},  // weights summing below the draw give the last category
      {{0.0, 1.0}, 1e-12, 2},
      {{0.0, 1.0}, 0.999999, 2},
      {{1.0, 0.0}, 0.999999, 1},
      {{0.0, 0.0}, 0.5, 2},
      {{}, 0.5, 0},
      {{0.5, 0.5}, 0.0, 0},  // not a draw MT can make
      // Ten weights of 0.1 sum below 1.0 in double arithmetic: a draw between
      // that sum and 1 still lands in the last category.
      {std::vector<double>(10, 0.1), 0.99999999999999995, 10},
  };
  for (const Case& c : cases) {
    std::vector<double> weights = c.weights;
    ScriptedDraws script({c.draw});
    Random::Set(script);
    EXPECT_EQ(rmultinom(&weights), c.category) << "draw " << c.draw << " over " << weights.size();
    EXPECT_EQ(script.used, 1u);
  }
}

}  // namespace
