#pragma once
// The chi-squared distribution function: lower and upper tail probabilities
// of a statistic for given degrees of freedom.

// Computes, for which == 1, p = P(X <= x) and q = P(X > x) for X chi-squared
// with df degrees of freedom. q is computed as its own quantity, never as
// 1 - p, so tail probabilities far below double-precision epsilon (1e-30 and
// smaller) keep their relative accuracy.
//
// On success status is 0. Otherwise status and bound describe the first
// failed check, and p and q are left untouched:
//   which < 1            status -1, bound 1.0
//   which > 3            status -1, bound 3.0
//   which 2 or 3         status -1, bound 1.0 (solving for x or df is not
//                        provided; 1 is the only accepted mode)
//   x < 0 or x not a number            status -4, bound 0.0
//   df <= 0 or df not a number         status -5, bound 0.0
// The incoming values of p and q are ignored.
void cdfchi(int* which, double* p, double* q, double* x, double* df, int* status, double* bound);
