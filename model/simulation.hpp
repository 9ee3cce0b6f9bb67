// Drawing observation data from the latent-state model that the fit assumes,
// with the model's own rules for levels, classes, twins and emission
// (model/latent_state.hpp, model/emission.hpp).
//
// The generative process, one observation at a time and independently:
//   - the latent state is a level (1..p) and a sub-state (1..6); the
//     sub-states form three classes of twins, {1, 6}, {2, 5} and {3, 4};
//   - the observation starts at a level drawn uniformly from 1..p, in
//     sub-state 1 or 6 with equal probability (the likelihood's initial
//     weights, 1/(2p) on each of those 2p states);
//   - in interval t (1..n) the number of events is Poisson(λ_t); each event
//     moves the level up by one, and the event that takes it from p back to
//     1 is a wrap;
//   - each wrap moves the class to one of the two other classes with equal
//     probability, the sub-state going equally to either twin of the new
//     class (so each of the four sub-states outside the class has 1/4);
//   - with an escape fraction e > 0, a share e of the class moves escapes
//     the counting: the counting process then has (1 - e) λ_t expected
//     events, and an independent escape process makes Poisson(e λ_t / p)
//     further class moves in interval t, each like a wrap but leaving the
//     level alone.  Either way 2 length_t moves are expected per interval
//     (λ_t = 2p length_t);
//   - after the interval the code is `R` in class {2, 5} and `N` otherwise,
//     and may then be hidden (see emitted_code);
//   - with an error rate E > 0, every `R` or `N` that is shown is then read
//     as the other with probability E (a misread); `X` and no-information
//     codes are left as they are.  The misread acts on the code as shown:
//     a hidden code carries no reading to misread, and the X and missing
//     rates still act on the true class, as the emission factors say.
// The twin within a class never shows in a code, so the likelihood's equal
// split between twins and this process give the same code distribution.
// The process is drawn without the likelihood's truncation at T wraps.
// With e = 0 no escape count is drawn, so a seed gives the same file as it
// did before the escape process existed.
//
// The misreads come from a second engine of their own, seeded with
// misread_seed(seed), and are drawn after each row's codes: one uniform per
// shown `R` or `N`, none at all when E = 0.  The main engine's draws, and
// so every latent path and every X and missing position of a seed, are the
// same whatever E is, and E = 0 gives the file of a seed from before misreads
// existed.
//
// Reproducibility: every draw comes from std::mt19937_64, whose output
// sequence for a given seed is fixed by the language standard, through the
// uniform, Poisson and exponential routines below, which use only IEEE
// additions, multiplications, divisions and comparisons (no library
// distribution and no library transcendental function).  With
// floating-point contraction off, the same seed gives the same codes on
// every conforming machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using SimulationEngine = std::mt19937_64;

// Code characters written to a data file.  Any byte other than N, R and X
// carries no information for the likelihood; '-' is the one written here.
inline constexpr char code_no_event = 'N';
inline constexpr char code_event = 'R';
inline constexpr char code_x = 'X';
inline constexpr char code_missing = '-';

// Everything that fixes the distribution of a simulated data set.
struct SimulationSettings {
  int order = 1;                 // p, the number of levels
  std::vector<double> rates;     // λ_t, expected events in interval t, at index t - 1
  double x_rate = 0.0;           // x: rate of X codes (see emitted_code)
  double missing_rate = 0.0;     // q: rate of no-information codes
  double escape_fraction = 0.0;  // e: share of class moves outside the counting
  double error_rate = 0.0;       // E, 0 <= E < 0.5: chance that a shown R or N is misread
};

// A sub-state (1..6) and its level (1..p): the numbering of
// model/latent_state.hpp.
struct LatentState {
  int level = 1;
  int sub_state = 1;
};

// A double uniform on [0, 1): the top 53 bits of one engine output, times 2^-53.
double uniform_unit(SimulationEngine& engine);

// An integer uniform on 0 .. bound - 1 (bound >= 1), by rejection of the
// engine outputs that would make the remainder biased.
std::uint64_t uniform_below(SimulationEngine& engine, std::uint64_t bound);

// e^(-x) for 0 <= x <= poisson_chunk, from a fixed sequence of IEEE
// operations (relative error a few units in the last place).
double exp_negative(double x);

// The largest mean drawn in one inversion; larger means are split into
// independent parts, since a sum of independent Poisson counts is Poisson
// with the summed mean.  Keeps e^(-mean) far above the underflow threshold.
inline constexpr double poisson_chunk = 32.0;

// A Poisson(mean) count, mean finite and >= 0.  Cost grows with the mean.
std::int64_t poisson_draw(SimulationEngine& engine, double mean);

// The starting state of an observation.
LatentState initial_state(SimulationEngine& engine, int order);

// Runs the state through one interval with `mean` expected events of the
// counting process and `escape_mean` expected escape moves (none drawn when
// it is 0).
void advance_interval(SimulationEngine& engine, LatentState& state, int order, double mean,
                      double escape_mean = 0.0);

// The code shown for an interval that ends in `sub_state`.  Always takes
// exactly two uniforms from the engine, so the latent path that a seed gives
// does not depend on the two rates.
char emitted_code(SimulationEngine& engine, int sub_state, double x_rate, double missing_rate);

// The n codes of one observation into row[0 .. n-1], before any misread.
void simulate_observation(SimulationEngine& engine, const SimulationSettings& settings, char* row);

// Where the misread engine starts for a run seeded with `seed`: the
// SplitMix64 finaliser (Steele, Lea and Flood, OOPSLA 2014) of seed xor a
// fixed constant, so that the two engines start from unrelated states.
std::uint64_t misread_seed(std::uint64_t seed);

// Reads each `R` or `N` of row[0 .. n-1] as the other with probability
// error_rate, one uniform from `misreads` per such code; other codes take
// no draw and stay.  Draws nothing when error_rate is 0 (0 <= error_rate <= 1/2).
void misread_codes(SimulationEngine& misreads, double error_rate, char* row, std::size_t n);

// `count` observations drawn with a fresh engine seeded with `seed` (and,
// when settings.error_rate > 0, misread with one seeded with
// misread_seed(seed)): the codes row after row, n per row, no separators.  These are exactly the
// codes that write_observation_file writes for the same arguments.
std::vector<char> simulate_codes(const SimulationSettings& settings, int count, std::uint64_t seed);

// Writes a data file the loader reads: "M n" on the first line, then one
// line of n codes per observation, each line ended by "\n", or by "\r\n"
// when crlf is set.  Returns false when any write fails.
bool write_observation_file(std::FILE* file, const SimulationSettings& settings, int count,
                            std::uint64_t seed, bool crlf);
