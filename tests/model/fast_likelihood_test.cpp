// The fast objective against the step-by-step one: the same bits for every
// input, including after the table or the model order change, for every way
// of cutting the tree into parts (threads), with and without the weights
// kept between evaluations, and in every instruction set's build.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "foundation/worker_threads.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Bytes the rows are drawn from: the three codes, lower-case look-alikes and
// stray bytes, each of which must be treated as uninformative.
const std::string code_bytes = std::string("NNNNRRXnrx?") + '\0' + '\xff' + ' ';

#ifdef INTERVAL_REQUIRED_INSTRUCTION_SET
// This program's objective is built for one instruction set: on a processor
// without it every test is skipped rather than stopped by an illegal
// instruction.
bool processor_runs(const std::string& instruction_set) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  if (instruction_set == "avx2") return __builtin_cpu_supports("avx2");
  if (instruction_set == "avx512f") return __builtin_cpu_supports("avx512f");
#endif
  return instruction_set == "portable";
}

class InstructionSetCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!processor_runs(INTERVAL_REQUIRED_INSTRUCTION_SET)) {
      GTEST_SKIP() << "this processor lacks " << INTERVAL_REQUIRED_INSTRUCTION_SET;
    }
  }
};
const auto* const instruction_set_check =
    ::testing::AddGlobalTestEnvironment(new InstructionSetCheck);
#endif

// Identical bits, NaN included: whichever NaN the arithmetic produces, both
// objectives return objective_not_a_number.
void expect_same_bits(double fast, double reference, const std::string& context) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(reference))
      << context << " fast " << fast << " reference " << reference;
}

// The ways of organising an evaluation, each of which must give the same
// bits: parts of the tree (threads), weights kept for reuse or not, and the
// threads forced on however small the tree.
struct Organisation {
  int parts;
  std::size_t cache_limit;
  long long parallel_threshold;
  int checkpoint_spacing;
};
const Organisation organisations[] = {
    {1, default_cache_limit, default_parallel_threshold, default_checkpoint_spacing},
    {3, default_cache_limit, 0, 1},
    {2, 0, 0, default_checkpoint_spacing}};

class OrganisedAs {
 public:
  explicit OrganisedAs(const Organisation& organisation) {
    set_likelihood_part_count(organisation.parts);
    set_likelihood_cache_limit(organisation.cache_limit);
    set_likelihood_parallel_threshold(organisation.parallel_threshold);
    set_likelihood_checkpoint_spacing(organisation.checkpoint_spacing);
  }
  OrganisedAs(const OrganisedAs&) = delete;
  OrganisedAs& operator=(const OrganisedAs&) = delete;
  ~OrganisedAs() {
    set_likelihood_part_count(0);
    set_likelihood_cache_limit(default_cache_limit);
    set_likelihood_parallel_threshold(default_parallel_threshold);
    set_likelihood_checkpoint_spacing(default_checkpoint_spacing);
  }
};

std::string describe(const Organisation& organisation) {
  return " (parts " + std::to_string(organisation.parts) + ", cache limit " +
         std::to_string(organisation.cache_limit) + ", spacing " +
         std::to_string(organisation.checkpoint_spacing) + ")";
}

void expect_fast_matches_reference(const std::vector<double>& lambdas, const std::string& context) {
  Point point(lambdas);
  const double reference = straightforward_negative_log_likelihood(point.get());
  for (const Organisation& organisation : organisations) {
    const OrganisedAs organised(organisation);
    const std::string how = context + describe(organisation);
    expect_same_bits(negative_log_likelihood(point.get()), reference, how);
    // A second call reuses the cached prefix tree and working storage.
    expect_same_bits(negative_log_likelihood(point.get()), reference, how + " (again)");
  }
}

// Rows that share prefixes: each is a copy of an earlier row (or a fresh
// one) with a random tail replaced, and some are exact repeats.
std::vector<std::string> random_rows(std::mt19937_64& random, int count, int n) {
  std::uniform_int_distribution<std::size_t> pick_code(0, code_bytes.size() - 1);
  std::uniform_int_distribution<int> pick_kind(0, 9);
  std::vector<std::string> rows;
  for (int i = 0; i < count; ++i) {
    std::string row;
    const int kind = pick_kind(random);
    if (rows.empty() || kind < 2) {
      for (int t = 0; t < n; ++t) row += code_bytes[pick_code(random)];
    } else {
      row = rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(random)];
      if (kind >= 4) {
        const int keep = std::uniform_int_distribution<int>(0, n - 1)(random);
        for (int t = keep; t < n; ++t) {
          if (kind >= 7 || t == keep) {
            row[static_cast<std::size_t>(t)] = code_bytes[pick_code(random)];
          }
        }
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// Parameters mostly ordinary, with zeros, tiny and subnormal values, large
// ones, negatives and NaN mixed in at the given rate (out of 100).
std::vector<double> random_parameters(std::mt19937_64& random, int n, int special_rate) {
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> pick_special(0, 6);
  std::uniform_real_distribution<double> ordinary(0.01, 3.0);
  std::vector<double> lambdas;
  for (int t = 0; t < n; ++t) {
    double value = ordinary(random);
    if (percent(random) < special_rate) {
      switch (pick_special(random)) {
        case 0:
          value = 0.0;
          break;
        case 1:
          value = 1e-300;
          break;
        case 2:
          value = std::numeric_limits<double>::denorm_min() * 12345.0;
          break;
        case 3:
          value = std::uniform_real_distribution<double>(10.0, 60.0)(random);
          break;
        case 4:
          value = -std::uniform_real_distribution<double>(0.01, 2.0)(random);
          break;
        case 5:
          value = std::numeric_limits<double>::quiet_NaN();
          break;
        default:
          value = -0.0;
          break;
      }
    }
    lambdas.push_back(value);
  }
  return lambdas;
}

struct Case {
  int p;
  int n;
  int count;
  int special_rate;
};

void run_random_cases(const std::vector<Case>& cases, std::uint64_t stream) {
  std::mt19937_64 random(stream);
  for (const Case& c : cases) {
    const std::string context = "p " + std::to_string(c.p) + " n " + std::to_string(c.n) +
                                " count " + std::to_string(c.count);
    InstalledTable table(random_rows(random, c.count, c.n), c.n);
    model_order = c.p;
    for (int trial = 0; trial < 3; ++trial) {
      expect_fast_matches_reference(random_parameters(random, c.n, c.special_rate),
                                    context + " trial " + std::to_string(trial));
    }
  }
}

TEST(FastObjective, MatchesTheReferenceBitForBitAcrossOrdersAndSizes) {
  std::vector<Case> cases;
  std::mt19937_64 sizes(20240611);
  for (int p = 1; p <= 8; ++p) {
    for (int repeat = 0; repeat < 8; ++repeat) {
      const int n = std::uniform_int_distribution<int>(1, 40)(sizes);
      // Keep the reference's cost (count x n x p) small.
      const int count = std::uniform_int_distribution<int>(0, 1 + 2500 / (n * p))(sizes);
      cases.push_back({p, n, count, repeat == 0 ? 0 : 15});
    }
  }
  run_random_cases(cases, 1);
}

TEST(FastObjective, MatchesTheReferenceOnTablesOfThousandsOfRows) {
  run_random_cases({{1, 3, 3000, 0}, {2, 2, 2500, 10}, {3, 4, 1500, 0}, {1, 1, 4000, 20}}, 2);
}

TEST(FastObjective, MatchesTheReferenceWhenEveryParameterIsSpecial) {
  // Zero, subnormal, huge, negative and NaN intervals meeting weights of 0,
  // infinity and NaN in the recursion: the zero-weight shortcut must only
  // apply where it leaves the bits alone.
  run_random_cases(
      {{1, 6, 30, 100}, {2, 8, 30, 100}, {3, 5, 20, 100}, {5, 6, 10, 100}, {8, 4, 8, 100}}, 3);
  std::mt19937_64 random(4);
  const std::vector<std::vector<double>> points = {
      {0.0, 0.0, 0.0},    {1e-300, 1e-300, 1e-300},
      {60.0, 60.0, 60.0}, {700.0, 800.0, 1e308},
      {-1.0, -2.0, -0.5}, {std::numeric_limits<double>::infinity(), 1.0, 1.0}};
  for (int p = 1; p <= 5; ++p) {
    InstalledTable table(random_rows(random, 25, 3), 3);
    model_order = p;
    for (const auto& point : points) expect_fast_matches_reference(point, "p " + std::to_string(p));
  }
}

TEST(FastObjective, ReplacedTableInTheSameStorageIsNotServedFromStaleWork) {
  std::mt19937_64 random(5);
  const int n = 6;
  InstalledTable table(random_rows(random, 40, n), n);
  model_order = 2;
  const std::vector<double> lambdas = random_parameters(random, n, 0);
  expect_fast_matches_reference(lambdas, "first table");

  // New codes written into the same bytes, announced through set_observations.
  ObservationTable codes = table.table();
  for (int i = 0; i < 40 * n; ++i) codes[i] = (i % 3 == 0) ? 'R' : 'N';
  set_observations(codes, 40, n);
  expect_fast_matches_reference(lambdas, "rewritten table");

  // Fewer rows, then a different row length over the same storage.
  set_observations(codes, 13, n);
  expect_fast_matches_reference(lambdas, "fewer rows");
  set_observations(codes, 40, n - 2);
  expect_fast_matches_reference({lambdas.begin(), lambdas.end() - 2}, "shorter rows");
}

TEST(FastObjective, EvaluationsOnSeveralThreadsAtOnceGiveTheReferenceBits) {
  // The standard errors' points and the scan's orders are evaluated on
  // several threads at once, each with its own working state: points of
  // three orders, interleaved, each thread's state meeting a new order and
  // point at every call.
  std::mt19937_64 random(12);
  const int n = 6;
  InstalledTable table(random_rows(random, 300, n), n);
  struct Call {
    int p;
    std::vector<double> lambdas;
    double reference = 0.0;
    double fast = 0.0;
  };
  std::vector<Call> calls(24);
  for (std::size_t k = 0; k < calls.size(); ++k) {
    calls[k].p = 1 + static_cast<int>(k % 3);
    calls[k].lambdas = random_parameters(random, n, 0);
  }
  for (Call& call : calls) {
    model_order = call.p;
    const Point point(call.lambdas);
    call.reference = straightforward_negative_log_likelihood(point.get());
  }
  run_in_parallel(static_cast<int>(calls.size()), [&calls](int k) {
    Call& call = calls[static_cast<std::size_t>(k)];
    const Point point(call.lambdas);
    call.fast = negative_log_likelihood_of_order(call.p, point.get());
  });
  for (std::size_t k = 0; k < calls.size(); ++k) {
    expect_same_bits(calls[k].fast, calls[k].reference, "call " + std::to_string(k));
  }
}

TEST(FastObjective, ChangedModelOrderIsNotServedFromStaleWork) {
  std::mt19937_64 random(6);
  const int n = 7;
  InstalledTable table(random_rows(random, 60, n), n);
  const std::vector<double> lambdas = random_parameters(random, n, 0);
  for (const int p : {2, 5, 2, 1, 8, 3}) {
    model_order = p;
    expect_fast_matches_reference(lambdas, "p " + std::to_string(p));
  }
}

TEST(FastObjective, PointsChangedFromAnIntervalOnRecomputeFromThereWithTheSameBits) {
  // The standard errors' and the minimiser's pattern: one or two
  // coordinates move at a time, sometimes back to an earlier value, and
  // sometimes to a special value, from -0.0 to +0.0, or not at all.
  std::mt19937_64 random(7);
  const int n = 11;
  InstalledTable table(random_rows(random, 300, n), n);
  for (const int p : {1, 3, 6}) {
    model_order = p;
    for (const Organisation& organisation : organisations) {
      const OrganisedAs organised(organisation);
      std::vector<double> lambdas = random_parameters(random, n, 0);
      for (int move = 0; move < 30; ++move) {
        const int first = std::uniform_int_distribution<int>(0, n - 1)(random);
        const std::vector<double> before = lambdas;
        const int kind = move % 5;
        if (kind == 0) {
          lambdas[static_cast<std::size_t>(first)] = -0.0;
        } else if (kind == 1) {
          lambdas[static_cast<std::size_t>(first)] = 0.0;
        } else if (kind < 4) {
          lambdas[static_cast<std::size_t>(first)] = random_parameters(random, 1, 20)[0];
          if (first + 2 < n) lambdas[static_cast<std::size_t>(first) + 2] += 0.001;
        }
        Point point(lambdas);
        const std::string context =
            "p " + std::to_string(p) + " move " + std::to_string(move) + describe(organisation);
        expect_same_bits(negative_log_likelihood(point.get()),
                         straightforward_negative_log_likelihood(point.get()), context);
        // Where the cache is kept, the recursion restarts at the first
        // interval whose bits changed, or at the checkpoint below it, and
        // not before; nothing is recomputed for an unchanged point.
        int changed = n + 1;
        for (int t = n; t >= 1; --t) {
          const double a = before[static_cast<std::size_t>(t - 1)];
          const double b = lambdas[static_cast<std::size_t>(t - 1)];
          if (std::bit_cast<std::uint64_t>(a) != std::bit_cast<std::uint64_t>(b)) changed = t;
        }
        const int spacing = organisation.checkpoint_spacing;
        const int restart =
            changed <= 1 || changed > n ? changed : 2 + (changed - 2) / spacing * spacing;
        if (organisation.cache_limit > 0 && move > 0) {
          EXPECT_EQ(last_likelihood_work().first_depth, restart) << context;
        }
      }
    }
  }
}

TEST(FastObjective, OrdersUpToAHundredAndWideStatesMatchTheReference) {
  // Wide states are cut into column blocks; orders 6, 7, 11 and 100 leave
  // blocks of different widths and a part-filled last lane group.
  std::mt19937_64 random(8);
  for (const int p : {6, 7, 11, 16, 100}) {
    const int n = p >= 16 ? 3 : 5;
    InstalledTable table(random_rows(random, p >= 16 ? 12 : 40, n), n);
    model_order = p;
    expect_fast_matches_reference(random_parameters(random, n, p == 7 ? 30 : 0),
                                  "p " + std::to_string(p));
  }
}

TEST(FastObjective, NotANumberComesOutAsTheOneQuietNaN) {
  // A negative parameter makes transition entries negative and a row's
  // likelihood negative, whose logarithm is NaN; an infinite one makes
  // 0 x inf.  Both objectives return the same NaN, whose negation (the
  // printed log-likelihood) reads "nan".
  std::mt19937_64 random(9);
  InstalledTable table(random_rows(random, 50, 4), 4);
  model_order = 2;
  for (const auto& lambdas : std::vector<std::vector<double>>{
           {-1.5, 0.3, -2.0, 0.4}, {std::numeric_limits<double>::infinity(), 0.3, 0.2, 0.1}}) {
    Point point(lambdas);
    const double fast = negative_log_likelihood(point.get());
    ASSERT_TRUE(std::isnan(fast));
    EXPECT_TRUE(std::signbit(fast));
    expect_same_bits(fast, straightforward_negative_log_likelihood(point.get()), "NaN");
  }
  // An order without latent states has no likelihood at all: the same NaN,
  // not the quiet NaN of the standard library, whose sign bit is clear.
  Point point({0.5, 0.3, 0.2, 0.1});
  for (const int p : {0, -3}) {
    expect_same_bits(negative_log_likelihood_of_order(p, point.get()), objective_not_a_number,
                     "order " + std::to_string(p));
  }
}

TEST(FastObjective, EachDistinctPrefixCostsOneForwardStep) {
  const OrganisedAs organised(organisations[0]);
  model_order = 2;
  Point point({0.5, 0.5, 0.5});
  {
    InstalledTable table({"NRX", "NRX", "NRX", "NRX"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 1);
    EXPECT_EQ(last_likelihood_work().forward_steps, 3);
  }
  {
    // Prefixes N, R; NN, NR, RN; and the four rows: nine steps.  Lower-case
    // and stray bytes share the uninformative code, so "n?" is "?n".
    InstalledTable table({"NNN", "RNN", "NRN", "NNR", "RNN", "NNN"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 4);
    EXPECT_EQ(last_likelihood_work().forward_steps, 9);
  }
  {
    InstalledTable table({"n?x", "?nx", "x?n"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 1);
  }
  {
    // Rows longer than one sorting word (32 codes) that differ only in the
    // first or only in the last: equal rows must still meet, and the two
    // that share 39 codes share their nodes.
    const std::string all_n(40, 'N');
    const std::string last_r = all_n.substr(0, 39) + "R";
    const std::string first_r = "R" + all_n.substr(1);
    InstalledTable table({all_n, first_r, last_r, all_n, first_r, last_r}, 40);
    Point long_point(std::vector<double>(40, 0.5));
    negative_log_likelihood(long_point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 3);
    EXPECT_EQ(last_likelihood_work().forward_steps, 81);
  }
}

}  // namespace
