#include "foundation/worker_threads.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "foundation/fatal_error.hpp"

namespace {

TEST(WorkerThreads, RunEveryTaskExactlyOnceCallAfterCall) {
  // Many short batches in a row: a worker that missed a batch, ran one
  // twice, or still held a task when run returned would show here.  Four
  // threads, more than this machine's cores, unless set already.
  setenv("INTERVAL_THREADS", "4", 0);
  for (int round = 0; round < 200; ++round) {
    const int tasks = 1 + round % 37;
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(tasks));
    run_in_parallel(tasks, [&runs](int task) { runs[static_cast<std::size_t>(task)] += 1; });
    for (int task = 0; task < tasks; ++task) {
      ASSERT_EQ(runs[static_cast<std::size_t>(task)].load(), 1) << "round " << round;
    }
  }
}

TEST(WorkerThreads, RunTheTasksOfACallFromInsideATaskOnThatTask) {
  // Each outer task runs an inner batch, as an evaluation does inside the
  // standard errors' grid; waiting for busy workers there would deadlock or
  // mix the batches.
  setenv("INTERVAL_THREADS", "4", 0);
  constexpr int outer = 9;
  constexpr int inner = 5;
  std::vector<std::atomic<int>> runs(std::size_t{outer} * inner);
  run_in_parallel(outer, [&runs](int task) {
    run_in_parallel(inner, [&runs, task](int step) {
      runs[static_cast<std::size_t>(task) * inner + static_cast<std::size_t>(step)] += 1;
    });
  });
  for (const std::atomic<int>& count : runs) EXPECT_EQ(count.load(), 1);
}

TEST(WorkerThreadsDeathTest, AFatalErrorOnAWorkerEndsTheProcessWithItsMessage) {
  // A task on a worker thread meets a fatal error, which ends the process
  // through exit(): the pool must not be torn down then, as that would
  // join the very thread that is exiting (and abort instead).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("INTERVAL_THREADS", "2", 1);
        const std::thread::id caller = std::this_thread::get_id();
        run_in_parallel(2, [caller](int) {
          if (std::this_thread::get_id() != caller) fatal_numeric_error("failed on a worker");
          // The caller's task waits for the worker's to end the process.
          for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
      },
      ::testing::ExitedWithCode(1), "failed on a worker");
}

// Ends the process with 0 when 16 tasks each ran once on a process that
// may start no thread at all (RLIMIT_NPROC of 0 binds every user but the
// superuser, so the superuser's child becomes "nobody" first).
[[noreturn]] void run_tasks_without_threads() {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(2);
  const rlimit no_processes{0, 0};
  if (setrlimit(RLIMIT_NPROC, &no_processes) != 0) std::_Exit(2);
  setenv("INTERVAL_THREADS", "4", 1);
  std::vector<int> runs(16, 0);
  run_in_parallel(16, [&runs](int task) { runs[static_cast<std::size_t>(task)] += 1; });
  std::_Exit(std::all_of(runs.begin(), runs.end(), [](int n) { return n == 1; }) ? 0 : 3);
}

// Threads that cannot be had: the calling thread runs every task itself.
TEST(WorkerThreadsDeathTest, RunEveryTaskOnTheCallingThreadWhenNoThreadCanBeStarted) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_tasks_without_threads(), ::testing::ExitedWithCode(0), "");
}

TEST(WorkerThreadsDeathTest, RefuseAThreadCountThatIsNotAWholeNumberInRange) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const char* value : {"0", "two", "3x", "", "100000"}) {
    EXPECT_EXIT(
        {
          setenv("INTERVAL_THREADS", value, 1);
          worker_thread_count();
        },
        ::testing::ExitedWithCode(2), ": INTERVAL_THREADS must be a whole number from 1 to 256")
        << value;
  }
}

}  // namespace
