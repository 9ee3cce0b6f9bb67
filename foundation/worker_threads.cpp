#include "foundation/worker_threads.hpp"

#include <pthread.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The asynchronous signals that end a process: the ones a user, a shell or
// a limit sends to stop a run.
constexpr std::array<int, 12> stopping_signals = {SIGINT,    SIGTERM, SIGHUP,  SIGPIPE,
                                                  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM,
                                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};

// A thread count that is not understood is refused as a bad option is: the
// program's name, the problem, and status 2.
constexpr int status_bad_setting = 2;

// The running program's name, for that message.
const char* program_name() {
#if defined(__GLIBC__)
  return program_invocation_short_name;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
  return getprogname();
#else
  return "interval";
#endif
}

// INTERVAL_THREADS if set, else the machine's count (at least 1).
int configured_thread_count() {
  const char* text = std::getenv("INTERVAL_THREADS");
  if (text == nullptr) {
    const unsigned machine = std::thread::hardware_concurrency();
    if (machine == 0) return 1;
    return machine > static_cast<unsigned>(max_thread_count) ? max_thread_count
                                                             : static_cast<int>(machine);
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > max_thread_count) {
    std::fprintf(stderr, "%s: INTERVAL_THREADS must be a whole number from 1 to %d, not \"%s\"\n",
                 program_name(), max_thread_count, text);
    std::exit(status_bad_setting);
  }
  return static_cast<int>(value);
}

// How long a thread that runs out of work keeps looking before it sleeps.
// The fitting program evaluates one point after another, each split over
// the threads, with little between them: a worker put to sleep at the end
// of one evaluation and woken for the next costs a system call and a
// scheduler's wake-up (tens of microseconds on a busy machine), a sizeable
// part of an evaluation that takes a few hundred.  Looking for a while
// first catches the next batch while the thread is still running; past the
// budget the thread sleeps, so a pool left idle, or a caller whose worker
// is held up, does not keep a core busy for long.
constexpr std::chrono::microseconds spin_budget{100};

// Returns true as soon as `ready()` holds, false once spin_budget has
// passed without it.  The clock is read every few dozen looks only.
template <typename Ready>
bool spin_until(Ready ready) {
  constexpr int looks_per_clock_reading = 64;
  const auto give_up = std::chrono::steady_clock::now() + spin_budget;
  for (;;) {
    for (int look = 0; look < looks_per_clock_reading; ++look) {
      if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    if (std::chrono::steady_clock::now() >= give_up) return false;
  }
}

// Each run() is a batch with a number of its own.  A task is claimed by
// advancing `ticket`, which holds the batch number in its high half and the
// next task in its low half, so that a worker still holding an earlier
// batch can never claim a task of a later one.  The caller claims tasks as
// well and returns once every task has finished: it never waits for a
// worker that has not yet woken up (on a busy machine that can take a long
// time), and a worker that wakes late finds nothing left and sleeps again.
// Whether this thread is running a task of the pool: a run() from there
// runs its tasks in order on this thread (the workers are busy with the
// outer tasks, and waiting for them from a task could deadlock).
thread_local bool inside_task = false;

class WorkerPool {
 public:
  // Starts up to threads - 1 workers.  A thread the system refuses (a
  // process limit, no memory for its stack) is done without: the caller
  // and the workers that did start share the tasks, and the results are
  // the same bits however many there are.  The workers never take the
  // signals that stop a run: those go to the calling thread, whose
  // handlers may hold them back while they change what they clean up.
  explicit WorkerPool(int threads) {
    sigset_t stopping;
    sigset_t previous;
    sigemptyset(&stopping);
    for (const int signal_number : stopping_signals) sigaddset(&stopping, signal_number);
    pthread_sigmask(SIG_BLOCK, &stopping, &previous);
    try {
      for (int w = 1; w < threads; ++w) workers_.emplace_back([this] { serve(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  // Threads that share a batch, the calling thread included.
  int threads() const { return static_cast<int>(workers_.size()) + 1; }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // The pool lives as long as the process (see pool() below).
  ~WorkerPool() = delete;

  void run(int tasks, const std::function<void(int)>& task) {
    std::uint64_t batch = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch = batch_.fetch_add(1) + 1;
      task_ = &task;
      task_count_ = tasks;
      finished_.store(0);
      ticket_.store(batch << 32);
    }
    wake_.notify_all();
    take_tasks(batch, task, tasks);
    if (spin_until([this, tasks] { return finished_.load() == tasks; })) return;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this, tasks] { return finished_.load() == tasks; });
  }

 private:
  // Claims and runs tasks of `batch` until none is left.
  void take_tasks(std::uint64_t batch, const std::function<void(int)>& task, int tasks) {
    inside_task = true;
    for (;;) {
      std::uint64_t ticket = ticket_.load();
      int index = 0;
      do {
        index = static_cast<int>(ticket & 0xffffffffu);
        if ((ticket >> 32) != batch || index >= tasks) {
          inside_task = false;
          return;
        }
      } while (!ticket_.compare_exchange_weak(ticket, ticket + 1));
      task(index);
      bool last = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last = finished_.fetch_add(1) + 1 == tasks;
      }
      if (last) done_.notify_one();
    }
  }

  void serve() {
    std::uint64_t seen = 0;
    for (;;) {
      const std::function<void(int)>* task = nullptr;
      int tasks = 0;
      spin_until([this, seen] { return batch_.load() != seen; });
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this, seen] { return batch_.load() != seen; });
        seen = batch_.load();
        task = task_;
        tasks = task_count_;
      }
      take_tasks(seen, *task, tasks);
    }
  }

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  int task_count_ = 0;
  // finished_ and batch_ change under mutex_, as the condition variables
  // need, and are read without it while a thread spins.
  std::atomic<int> finished_{0};
  std::atomic<std::uint64_t> ticket_{0};
  std::atomic<std::uint64_t> batch_{0};
};

// Made on first use and never destroyed: the workers live as long as the
// process.  A fatal error may end the process from a worker, through
// exit(), and a pool destroyed then would join the very thread that is
// exiting.
WorkerPool& pool() {
  static WorkerPool* const workers = new WorkerPool(worker_thread_count());
  return *workers;
}

}  // namespace

int worker_thread_count() {
  static const int count = configured_thread_count();
  return count;
}

void run_in_parallel(int tasks, const std::function<void(int)>& task) {
  if (tasks <= 0) return;
  if (tasks == 1 || worker_thread_count() == 1 || inside_task || pool().threads() == 1) {
    for (int i = 0; i < tasks; ++i) task(i);
    return;
  }
  pool().run(tasks, task);
}
