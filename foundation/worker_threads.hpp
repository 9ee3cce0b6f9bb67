// A fixed set of worker threads for the parallel parts of an evaluation.
//
// run(tasks, task) calls task(0) .. task(tasks - 1), each exactly once, on
// the calling thread and the workers together, and returns when all have
// finished.  Which thread runs which task, and in what order, is not fixed:
// a caller gets the same bits from any thread count only if every task
// writes its own results and any combining is done afterwards, in a fixed
// order, on the calling thread.
//
// The number of threads is the machine's hardware concurrency, or the value
// of the environment variable INTERVAL_THREADS (a whole number from 1 to
// max_thread_count) when it is set.  Idle workers sleep on a condition
// variable: on a shared machine they take no processor time while the
// program runs its sequential parts.  Workers the system will not start
// (a process limit, too little memory) are done without, down to the
// calling thread alone.  The workers block the signals that stop a run
// (SIGINT, SIGTERM, SIGQUIT, ...), so that their handlers always run on a
// thread that is not a worker.
#pragma once

#include <functional>

// The largest thread count INTERVAL_THREADS may ask for.
inline constexpr int max_thread_count = 256;

// Threads that work on one run() call, the calling thread included.  Reads
// INTERVAL_THREADS on first use; a value that is not a whole number from 1
// to max_thread_count ends the process with one line on standard error
// that names the program, and exit status 2 (as a bad option does).
int worker_thread_count();

// Runs the tasks as described above.  With one thread, or one task, or
// when called from inside a task (an evaluation within one of several
// evaluations run in parallel), it calls them in order on the calling
// thread.
void run_in_parallel(int tasks, const std::function<void(int)>& task);
