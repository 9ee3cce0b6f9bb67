#include "model/poisson.hpp"

#include <cmath>
#include <mutex>

#include "foundation/fatal_error.hpp"

namespace {

// The Lanczos coefficients of the series for ln Gamma, in the order they
// are added.
constexpr double lanczos_coefficients[6] = {76.18009173,  -86.50532033,  24.01409822,
                                            -1.231739516, 0.00120858003, -0.00000536382};
// The series' leading term and the offsets of its power and exponential parts.
constexpr double series_start = 1.0;
constexpr double power_offset = 0.5;
constexpr double exponential_offset = 5.5;
// Scale factor of the series, close to sqrt(2 pi).
constexpr double lanczos_scale = 2.50662827465;

}  // namespace

double factorial_table[factorial_table_top + 1] = {1.0, 1.0, 2.0, 6.0, 24.0};
int factorial_top = 4;

double poisson_term(double lambda, int k) { return poisson_term(lambda, k, std::exp(-lambda)); }

double poisson_term(double lambda, int k, double exp_minus_lambda) {
  // lambda^k e^(-lambda) / k!
  const double e = exp_minus_lambda;
  const double q = std::pow(lambda, static_cast<double>(k));
  const double written = (q * e) / factorial(k);
  if (std::isfinite(written)) return written;
  // For large k and lambda both lambda^k and k! overflow (inf / inf is NaN)
  // although their ratio is an ordinary probability; in logarithms
  //   P = exp(k ln(lambda) - lambda - ln k!)
  // with ln k! taken from the same k! the written formula divides by: the
  // table's value up to factorial_table_top, the series above it.
  const double log_factorial =
      k <= factorial_table_top ? std::log(factorial(k)) : log_gamma(k + 1.0);
  return std::exp(static_cast<double>(k) * std::log(lambda) - lambda - log_factorial);
}

double factorial(int n) {
  if (n < 0) fatal_numeric_error("Negative Factor");
  // n! = Gamma(n + 1); the table stops at 32, whose factorial is the last
  // one the likelihood needs for model orders up to 3.
  if (n > factorial_table_top) return std::exp(log_gamma(n + 1.0));
  // k! = k (k-1)!, each entry from the one below, filled at most once.
  while (factorial_top < n) {
    ++factorial_top;
    factorial_table[factorial_top] =
        static_cast<double>(factorial_top) * factorial_table[factorial_top - 1];
  }
  return factorial_table[n];
}

void fill_factorial_table() {
  static std::once_flag filled;
  std::call_once(filled, [] { factorial(factorial_table_top); });
}

double log_gamma(double xx) {
  // With x = xx - 1:
  //   ln Gamma(xx) = (x + 0.5) ln(x + 5.5) - (x + 5.5)
  //                  + ln(2.50662827465 (1 + sum_j c_j / (x + j)))
  double x = xx - 1.0;
  double tmp = x + exponential_offset;
  tmp = tmp - (x + power_offset) * std::log(tmp);
  double ser = series_start;
  for (const double coefficient : lanczos_coefficients) {
    x = x + 1.0;
    ser = ser + coefficient / x;
  }
  return -tmp + std::log(lanczos_scale * ser);
}
