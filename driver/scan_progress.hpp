// What interval-scan says on standard error while it fits, kept apart from
// the table on standard output: an observer of the scan's run.
//
// - A running line, while an order has run for more than a second and
//   standard error is a terminal: for each order under way, which step
//   (the fit, the information step or the profile intervals), the
//   objective evaluations so far and the time, with how many orders (or
//   profile intervals, or bootstrap replicates of the check of fit) of how
//   many are done, redrawn in place a few times
//   a second, cut to the terminal's width, and wiped when the lines below
//   are printed.
// - The lines that close each step of an order (its log-likelihood,
//   restarts, evaluations and time; its profile intervals' time), printed
//   and flushed as soon as they can be, so that a log file follows the
//   scan.  Orders fitted at once on several threads end in any order;
//   their lines are printed in the order announced by expect() (the order
//   they were scheduled in), each held only while an order before it is
//   still at work, so that the same scan prints the same lines in the same
//   order however many threads it had.
// --quiet silences both.  Every member may be called from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "driver/scan_run.hpp"

class ScanProgress : public ScanObserver {
 public:
  // `quiet`: --quiet.
  explicit ScanProgress(bool quiet);
  ~ScanProgress() override;
  ScanProgress(const ScanProgress&) = delete;
  ScanProgress& operator=(const ScanProgress&) = delete;

  void expect(const std::vector<int>& orders) override;
  void begin(int order, ScanStep step) override;
  void evaluated(int order) override;
  void fitted(const OrderResult& result) override;
  void profiled(int order, double seconds) override;
  void part_done(int order, int done, int parts) override;
  void replicate_done(int order, int done, int replicates) override;
  void order_done(int order) override;
  // Ctrl-C or Ctrl-\ (driver/scan_interrupt.hpp).
  bool stop_requested() override;

 private:
  using Clock = std::chrono::steady_clock;

  // An order being worked on: its step and evaluations so far.
  struct Activity {
    int order = 0;
    ScanStep step = ScanStep::fit;
    long long evaluations = 0;
    Clock::time_point start;
    int parts_done = 0;  // of a step split into parts (the profile intervals)
    int parts = 0;
  };

  // The closing lines of one order, held until every order before it in
  // the printing order has closed.
  struct Closing {
    int order = 0;
    std::vector<std::string> lines;
    std::size_t printed = 0;  // lines printed so far
    bool done = false;
  };

  Activity* activity_of(int order);
  Closing& closing_of(int order);
  void close_activity(int order, std::string line);
  void print_closed();
  void draw_running_line();
  void wipe_running_line();

  std::mutex mutex_;
  bool quiet_ = false;
  bool running_line_ = false;      // standard error is a terminal and not --quiet
  std::vector<Activity> running_;  // in the order they began
  std::vector<Closing> closing_;   // in the order their lines are printed
  std::size_t printed_ = 0;        // closings printed in full so far
  std::size_t orders_ = 0;         // announced by the first expect()
  std::size_t orders_done_ = 0;    // fitted
  std::vector<int> counted_;       // the orders counted in orders_done_
  // For the estimate of the time left: the work of an order grows with the
  // square of p, so the work done so far, sum p^2 over the orders done, and
  // the time it took give a rate for the rest.
  Clock::time_point scan_start_ = Clock::now();
  double work_ = 0.0;       // sum of p^2 over the orders announced first
  double work_done_ = 0.0;  // ... over those done
  Clock::time_point last_draw_;
  std::size_t drawn_width_ = 0;  // of the running line on screen, 0 when none
};
