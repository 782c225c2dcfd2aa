#pragma once
// A current generator that hands out scripted uniforms while installed, to
// aim draws at chosen outcomes; an unscripted draw throws.
#include <vector>

#include "sim/random.hpp"

struct ScriptedDraws : Random {
  explicit ScriptedDraws(std::vector<double> v) : values(std::move(v)) { Random::Set(*this); }
  ~ScriptedDraws() override { Random::RNG = Random::Dummy; }
  double Next() override { return values.at(used++); }
  std::vector<double> values;
  std::size_t used = 0;
};
