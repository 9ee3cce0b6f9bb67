// Poisson probabilities for the likelihood.
//
//   poisson_term(lambda, k) = lambda^k e^(-lambda) / k!
//
// k! comes from a process-wide table for k = 0..32, filled one entry at a
// time as larger arguments are first asked for, and from the Lanczos series
// for the logarithm of the gamma function above 32 (C. Lanczos, "A precision
// approximation of the gamma function", SIAM J. Numer. Anal. B 1, 1964; the
// six-coefficient form with g = 5).  The series carries a relative error near
// 1e-10 in k!; that error is part of the model's numbers and is kept.
#pragma once

// Largest argument served from the table; factorial_table holds 0..32.
inline constexpr int factorial_table_top = 32;

// Entries 0..factorial_top are valid.  Entries 0..4 are preset; each later
// entry is written once, from the one below it, the first time a caller
// needs it.  factorial_top only grows, and never beyond factorial_table_top.
extern double factorial_table[factorial_table_top + 1];
extern int factorial_top;

// The probability of k events when lambda are expected.  Where the written
// formula gives a finite number, that number is returned, bit for bit; where
// lambda^k overflows (inf / inf, or inf over a finite k!), the same
// probability is computed in logarithms.  The likelihood meets this from
// model order 20 or so, whose event counts reach 9p - 1.  Arguments are taken as they come:
// a negative lambda gives negative values for odd k, and a negative k ends
// the process through factorial.
double poisson_term(double lambda, int k);

// The same term given e^(-lambda), which is the same for every k of one
// lambda: filling all the terms of an interval then takes one exponential.
double poisson_term(double lambda, int k, double exp_minus_lambda);

// n! as a double.  A negative n ends the process with "Negative Factor".
double factorial(int n);

// Fills the whole table, as the calls that need its last entry would, once
// per process; any thread may call it, and a call returns when the table
// is full.  factorial guards nothing itself: the evaluations, which may run
// on several threads at once, call this before they need a factorial, after
// which factorial only reads the table.
void fill_factorial_table();

// ln Gamma(xx) for xx > 0 by the Lanczos series.  Only called with xx >= 34.
double log_gamma(double xx);
