#include "foundation/worker_threads.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

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
    std::fprintf(stderr, "INTERVAL_THREADS must be a whole number from 1 to %d, not \"%s\"\n",
                 max_thread_count, text);
    std::exit(1);
  }
  return static_cast<int>(value);
}

// The workers wait for a new batch (a change of `batch`), take task
// numbers from `next_task` until none is left, and report when they leave
// the batch; the caller takes tasks too, then sleeps until every worker has
// left, so that no worker still holds the task function when run returns.
class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int w = 1; w < threads; ++w) workers_.emplace_back([this] { serve(); });
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  void run(int tasks, const std::function<void(int)>& task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = &task;
      task_count_ = tasks;
      next_task_.store(0);
      busy_ = static_cast<int>(workers_.size());
      ++batch_;
    }
    wake_.notify_all();
    take_tasks(task, tasks);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    task_ = nullptr;
  }

 private:
  void take_tasks(const std::function<void(int)>& task, int tasks) {
    for (int i = next_task_.fetch_add(1); i < tasks; i = next_task_.fetch_add(1)) task(i);
  }

  void serve() {
    unsigned seen = 0;
    for (;;) {
      const std::function<void(int)>* task = nullptr;
      int tasks = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this, seen] { return stopping_ || batch_ != seen; });
        if (stopping_) return;
        seen = batch_;
        task = task_;
        tasks = task_count_;
      }
      take_tasks(*task, tasks);
      bool last = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last = --busy_ == 0;
      }
      if (last) done_.notify_one();
    }
  }

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  int task_count_ = 0;
  std::atomic<int> next_task_{0};
  int busy_ = 0;
  unsigned batch_ = 0;
  bool stopping_ = false;
};

WorkerPool& pool() {
  static WorkerPool workers(worker_thread_count());
  return workers;
}

}  // namespace

int worker_thread_count() {
  static const int count = configured_thread_count();
  return count;
}

void run_in_parallel(int tasks, const std::function<void(int)>& task) {
  if (tasks <= 0) return;
  if (tasks == 1 || worker_thread_count() == 1) {
    for (int i = 0; i < tasks; ++i) task(i);
    return;
  }
  pool().run(tasks, task);
}
