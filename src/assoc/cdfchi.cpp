#include "assoc/cdfchi.hpp"

#include <cmath>

#include <boost/math/special_functions/gamma.hpp>

void cdfchi(int* which, double* p, double* q, double* x, double* df, int* status, double* bound) {
  // Only the tails are computed (which 1); the bound names the nearest
  // accepted value.
  if (*which != 1) {
    *status = -1;
    *bound = *which > 3 ? 3.0 : 1.0;
    return;
  }
  // Written as negations so that a NaN fails the test.
  if (!(*x >= 0.0)) {
    *status = -4;
    *bound = 0.0;
    return;
  }
  if (!(*df > 0.0)) {
    *status = -5;
    *bound = 0.0;
    return;
  }
  *status = 0;

  const double a = *df / 2.0;
  const double u = *x / 2.0;
  if (u <= 0.0) {
    *p = 0.0;
    *q = 1.0;
    return;
  }
  // The limits the gamma ratios reach but the library does not accept as
  // arguments: all the mass lies below an infinite statistic, and none below
  // a finite one when the degrees of freedom are infinite.
  if (std::isinf(u)) {
    *p = 1.0;
    *q = 0.0;
    return;
  }
  if (std::isinf(a)) {
    *p = 0.0;
    *q = 1.0;
    return;
  }
  // Both tails come from their own regularised incomplete gamma ratio: the
  // upper one must not be 1 - P, which loses every digit once P rounds to 1.
  *p = boost::math::gamma_p(a, u);
  *q = boost::math::gamma_q(a, u);
}
