// How much work the last evaluation of negative_log_likelihood did, and the
// knobs that choose how it is organised: for benchmarks and tests, not for
// the fit.  No knob changes a single bit of the value.
#pragma once

#include <cstddef>

struct LikelihoodWork {
  long long distinct_rows = 0;  // distinct code rows of the table
  long long forward_steps = 0;  // nodes of the prefix tree: one forward step each
  long long multiply_adds = 0;  // products w[l] T[l][k] formed, k over the folded states
  int first_depth = 0;          // the first forward step run (n + 1: none)
  std::size_t cache_bytes = 0;  // weights kept for reuse, 0 when the cache is off
};

// Of the calling thread's last evaluation.
LikelihoodWork last_likelihood_work();

// Splits the tree into this many parts (0: one per worker thread, the
// default).  Takes effect at the next evaluation.
void set_likelihood_part_count(int parts);

// The most memory the sums kept for reuse may take, all threads together
// (the default is default_cache_limit): each thread that evaluates keeps
// its own cache within limit / worker_thread_count(), and a tree whose
// checkpoints need more than that keeps none and recomputes every
// evaluation from the first interval.
inline constexpr std::size_t default_cache_limit = std::size_t{512} << 20;
void set_likelihood_cache_limit(std::size_t bytes);

// Every how many depths the sums are kept for reuse (see likelihood.cpp).
inline constexpr int default_checkpoint_spacing = 4;
void set_likelihood_checkpoint_spacing(int spacing);

// Work at or above this many multiply-adds is shared among the threads;
// smaller evaluations run on the calling thread.  Tests set 0 to force the
// threads on small trees.
inline constexpr long long default_parallel_threshold = 1LL << 18;
void set_likelihood_parallel_threshold(long long multiply_adds);
