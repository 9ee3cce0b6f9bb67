#include "driver/scan_progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "driver/scan_interrupt.hpp"

namespace {

// An order is quiet for its first second; then the line is redrawn at most
// this often.
constexpr double seconds_before_running_line = 1.0;
constexpr double seconds_between_redraws = 0.25;
// The running line is cut to the terminal's width less one column (a line
// that fills the last column wraps on some terminals), or to this width
// when the terminal does not say.
constexpr std::size_t default_terminal_width = 80;

std::size_t running_line_width() {
  winsize size{};
  const bool known = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1;
  return (known ? static_cast<std::size_t>(size.ws_col) : default_terminal_width) - 1;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const char* step_name(ScanStep step) {
  switch (step) {
    case ScanStep::fit:
      return "fit";
    case ScanStep::information:
      return "information";
    case ScanStep::profiles:
      return "profile intervals";
    case ScanStep::check_of_fit:
      return "check of fit, replicates";
  }
  return "";
}

}  // namespace

ScanProgress::ScanProgress(bool quiet)
    : quiet_(quiet), running_line_(!quiet && isatty(STDERR_FILENO) == 1) {}

ScanProgress::~ScanProgress() {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (Closing& closing : closing_) closing.done = true;
  print_closed();
  wipe_running_line();
}

ScanProgress::Activity* ScanProgress::activity_of(int order) {
  for (Activity& activity : running_) {
    if (activity.order == order) return &activity;
  }
  return nullptr;
}

void ScanProgress::wipe_running_line() {
  if (drawn_width_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_width_), "");
  std::fflush(stderr);
  drawn_width_ = 0;
}

void ScanProgress::draw_running_line() {
  char counts[64];
  std::snprintf(counts, sizeof counts, "interval-scan: %zu of %zu orders fitted", orders_done_,
                orders_);
  std::string line = counts;
  if (work_done_ > 0.0 && orders_done_ < orders_) {
    const double left = seconds_since(scan_start_) * (work_ - work_done_) / work_done_;
    char estimate[48];
    std::snprintf(estimate, sizeof estimate, ", about %.0f s left", left);
    line += estimate;
  }
  for (const Activity& activity : running_) {
    char part[120];
    if (activity.parts > 0) {
      std::snprintf(part, sizeof part, "; order %d, %s %d of %d, %.0f s", activity.order,
                    step_name(activity.step), activity.parts_done, activity.parts,
                    seconds_since(activity.start));
    } else {
      std::snprintf(part, sizeof part, "; order %d, %s, %lld evaluations, %.0f s", activity.order,
                    step_name(activity.step), activity.evaluations, seconds_since(activity.start));
    }
    line += part;
  }
  const std::size_t width = running_line_width();
  if (line.size() > width) line.resize(width);
  // Padded over a longer line drawn before.
  const std::size_t size = line.size();
  const int pad = drawn_width_ > size ? static_cast<int>(drawn_width_ - size) : 0;
  std::fprintf(stderr, "\r%s%*s", line.c_str(), pad, "");
  std::fflush(stderr);
  drawn_width_ = size + static_cast<std::size_t>(pad);
  last_draw_ = Clock::now();
}

// The first closing of `order` not yet printed.
ScanProgress::Closing& ScanProgress::closing_of(int order) {
  for (std::size_t k = printed_; k < closing_.size(); ++k) {
    if (closing_[k].order == order) return closing_[k];
  }
  // An order outside the announced ones closes after them.
  closing_.push_back(Closing{order, {}, 0, false});
  return closing_.back();
}

// Ends the activity of `order` and holds `line` until its turn.
void ScanProgress::close_activity(int order, std::string line) {
  std::erase_if(running_, [order](const Activity& a) { return a.order == order; });
  if (!quiet_ && !line.empty()) closing_of(order).lines.push_back(std::move(line));
}

// Prints the lines whose turn has come: those of the first closing not
// printed in full, and of the ones after it while each before is done.
void ScanProgress::print_closed() {
  bool wiped = false;
  while (printed_ < closing_.size()) {
    Closing& closing = closing_[printed_];
    for (; closing.printed < closing.lines.size(); ++closing.printed) {
      if (!wiped) wipe_running_line();
      wiped = true;
      std::fprintf(stderr, "%s\n", closing.lines[closing.printed].c_str());
    }
    if (!closing.done) break;
    ++printed_;
  }
  if (wiped) std::fflush(stderr);
}

void ScanProgress::expect(const std::vector<int>& orders) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (orders_ == 0) {
    orders_ = orders.size();
    for (const int order : orders) work_ += static_cast<double>(order) * order;
  }
  for (const int order : orders) closing_.push_back(Closing{order, {}, 0, false});
}

void ScanProgress::begin(int order, ScanStep step) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Activity* activity = activity_of(order);
  if (activity == nullptr) {
    running_.push_back(Activity{order, step, 0, Clock::now()});
  } else {
    *activity = Activity{order, step, 0, Clock::now()};
  }
}

// One more evaluation for `order`, and the running line redrawn when due.
void ScanProgress::evaluated(int order) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Activity* activity = activity_of(order);
  if (activity == nullptr) return;
  ++activity->evaluations;
  if (running_line_ && seconds_since(running_.front().start) > seconds_before_running_line &&
      (drawn_width_ == 0 || seconds_since(last_draw_) >= seconds_between_redraws)) {
    draw_running_line();
  }
}

void ScanProgress::fitted(const OrderResult& result) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // An order counts as done once fitted (its profiles come after).
  if (std::find(counted_.begin(), counted_.end(), result.order) == counted_.end() &&
      orders_done_ < orders_) {
    counted_.push_back(result.order);
    ++orders_done_;
    work_done_ += static_cast<double>(result.order) * result.order;
  }
  // A fit that a stop cut short is not reported.
  close_activity(result.order, scan_interrupted() ? std::string() : progress_line(result));
  print_closed();
}

void ScanProgress::part_done(int order, int done, int parts) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Activity* activity = activity_of(order);
  if (activity == nullptr) return;
  activity->parts_done = std::max(activity->parts_done, done);
  activity->parts = parts;
}

void ScanProgress::profiled(int order, double seconds) {
  char line[100];
  std::snprintf(line, sizeof line, "order %d: profile intervals, %.3f s", order, seconds);
  const std::lock_guard<std::mutex> lock(mutex_);
  close_activity(order, scan_interrupted() ? std::string() : std::string(line));
  print_closed();
}

void ScanProgress::order_done(int order) {
  const std::lock_guard<std::mutex> lock(mutex_);
  closing_of(order).done = true;

  print_closed();
}

bool ScanProgress::stop_requested() { return scan_interrupted(); }

void ScanProgress::replicate_done(int order, int done, int replicates) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Activity* activity = activity_of(order);
  if (activity == nullptr) {
    running_.push_back(Activity{order, ScanStep::check_of_fit, 0, Clock::now()});
    activity = &running_.back();
  }
  activity->step = ScanStep::check_of_fit;
  activity->parts_done = done;
  activity->parts = replicates;
  if (done >= replicates) {
    std::erase_if(running_, [order](const Activity& a) { return a.order == order; });
    return;
  }
  if (running_line_ &&
      (drawn_width_ == 0 || seconds_since(last_draw_) >= seconds_between_redraws)) {
    draw_running_line();
  }
}
