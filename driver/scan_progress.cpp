#include "driver/scan_progress.hpp"

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "driver/scan_report.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_gradient.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// An order is quiet for its first second; then the line is redrawn at most
// this often.
constexpr double seconds_before_running_line = 1.0;
constexpr double seconds_between_redraws = 0.25;
// The running line is cut at this width, so that it stays on one line of
// a terminal when several orders run at once.
constexpr std::size_t running_line_width = 150;

// An order being worked on: its search (0 the first, k restart k, -1 the
// information step, -2 the profile intervals) and evaluations so far.
struct Activity {
  int order = 0;
  int search = 0;
  long long evaluations = 0;
  Clock::time_point start;
};

// The closing lines of one order, held until every order before it in the
// printing order has closed.
struct Closing {
  int order = 0;
  std::vector<std::string> lines;
  bool done = false;
};

// The state of the one scan that runs, shared by the threads that fit its
// orders: the objective is a plain function, so what it counts lives here,
// under `mutex`.
struct ProgressState {
  bool active = false;
  bool running_line = false;  // stderr is a terminal and not --quiet
  bool quiet = false;
  std::vector<Activity> running;  // in the order they began
  std::vector<Closing> closing;   // in the order their lines are printed
  std::size_t printed = 0;        // closings printed so far
  Clock::time_point last_draw;
  std::size_t drawn_width = 0;  // of the running line on screen, 0 when none
  // Standard output as it was, and where it is caught meanwhile.
  int saved_output = -1;
  std::FILE* caught = nullptr;
  long caught_read = 0;  // bytes of `caught` already passed on
};
ProgressState state;
std::mutex mutex;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string search_name(int search) {
  if (search == -2) return "profile intervals";
  if (search < 0) return "information";
  if (search == 0) return "first search";
  return "restart " + std::to_string(search);
}

Activity* activity_of(int order) {
  for (Activity& activity : state.running) {
    if (activity.order == order) return &activity;
  }
  return nullptr;
}

void wipe_running_line() {
  if (state.drawn_width == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(state.drawn_width), "");
  std::fflush(stderr);
  state.drawn_width = 0;
}

void draw_running_line() {
  std::string line = "interval-scan:";
  const char* separator = " ";
  for (const Activity& activity : state.running) {
    char part[120];
    std::snprintf(part, sizeof part, "%sorder %d, %s, %lld evaluations, %.0f s", separator,
                  activity.order, search_name(activity.search).c_str(), activity.evaluations,
                  seconds_since(activity.start));
    line += part;
    separator = "; ";
  }
  if (line.size() > running_line_width) line.resize(running_line_width);
  // Padded over a longer line drawn before.
  const std::size_t size = line.size();
  const int pad = state.drawn_width > size ? static_cast<int>(state.drawn_width - size) : 0;
  std::fprintf(stderr, "\r%s%*s", line.c_str(), pad, "");
  std::fflush(stderr);
  state.drawn_width = size + static_cast<std::size_t>(pad);
  state.last_draw = Clock::now();
}

// The orders being worked on, for a caught line: "order 5" or "orders 5, 6".
std::string running_orders() {
  std::string orders = state.running.size() == 1 ? "order " : "orders ";
  for (std::size_t k = 0; k < state.running.size(); ++k) {
    if (k > 0) orders += ", ";
    orders += std::to_string(state.running[k].order);
  }
  if (state.running.size() == 1) orders += ", " + search_name(state.running[0].search);
  return orders;
}

// Passes on what the minimiser printed since the last time, each line
// prefixed with the orders (and, for one order, the search) under way.
void pass_on_caught_lines() {
  if (state.caught == nullptr) return;
  std::fflush(stdout);
  std::fseek(state.caught, state.caught_read, SEEK_SET);
  std::string line;
  bool any = false;
  for (int c = std::fgetc(state.caught); c != EOF; c = std::fgetc(state.caught)) {
    ++state.caught_read;
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!any) wipe_running_line();
    any = true;
    std::fprintf(stderr, "interval-scan: %s: %s\n", running_orders().c_str(), line.c_str());
    line.clear();
  }
  // A last line without its end waits for the rest.
  state.caught_read -= static_cast<long>(line.size());
  std::clearerr(state.caught);
  std::fseek(state.caught, 0, SEEK_END);
}

// One more evaluation for `order`, and the running line redrawn when due.
void count_evaluation(int order) {
  const std::lock_guard<std::mutex> lock(mutex);
  Activity* activity = activity_of(order);
  if (!state.active || activity == nullptr) return;
  ++activity->evaluations;
  if (state.running_line &&
      seconds_since(state.running.front().start) > seconds_before_running_line &&
      (state.drawn_width == 0 || seconds_since(state.last_draw) >= seconds_between_redraws)) {
    draw_running_line();
  }
}

void begin(int order, int search) {
  pass_on_caught_lines();
  Activity* activity = activity_of(order);
  if (activity == nullptr) {
    state.running.push_back(Activity{order, search, 0, Clock::now()});
  } else {
    *activity = Activity{order, search, 0, Clock::now()};
  }
}

// The first closing of `order` not yet printed.
Closing& closing_of(int order) {
  for (std::size_t k = state.printed; k < state.closing.size(); ++k) {
    if (state.closing[k].order == order) return state.closing[k];
  }
  // An order outside the announced ones closes after them.
  state.closing.push_back(Closing{order, {}, false});
  return state.closing.back();
}

// Ends the activity of `order` and holds `line` until its turn.
void close_activity(int order, std::string line) {
  pass_on_caught_lines();
  std::erase_if(state.running, [order](const Activity& a) { return a.order == order; });
  if (!state.quiet) closing_of(order).lines.push_back(std::move(line));
}

// Prints the held lines of every order whose turn has come.
void print_closed() {
  bool wiped = false;
  while (state.printed < state.closing.size() && state.closing[state.printed].done) {
    for (const std::string& line : state.closing[state.printed].lines) {
      if (!wiped) wipe_running_line();
      wiped = true;
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    ++state.printed;
  }
}

}  // namespace

ScanProgress::ScanProgress(bool quiet) {
  const std::lock_guard<std::mutex> lock(mutex);
  state = ProgressState{};
  state.active = true;
  state.quiet = quiet;
  state.running_line = !quiet && isatty(STDERR_FILENO) == 1;
  std::fflush(stdout);
  state.caught = std::tmpfile();
  state.saved_output = dup(STDOUT_FILENO);
  if (state.saved_output >= 0) {
    // Without a file to catch them in, the messages go to standard error
    // as they are.
    const int target = state.caught != nullptr ? fileno(state.caught) : STDERR_FILENO;
    dup2(target, STDOUT_FILENO);
  }
}

ScanProgress::~ScanProgress() {
  const std::lock_guard<std::mutex> lock(mutex);
  std::fflush(stdout);
  pass_on_caught_lines();
  for (Closing& closing : state.closing) closing.done = true;
  print_closed();
  if (state.saved_output >= 0) {
    dup2(state.saved_output, STDOUT_FILENO);
    close(state.saved_output);
  }
  if (state.caught != nullptr) std::fclose(state.caught);
  wipe_running_line();
  state = ProgressState{};
}

void ScanProgress::expect(const std::vector<int>& orders) {
  const std::lock_guard<std::mutex> lock(mutex);
  for (const int order : orders) state.closing.push_back(Closing{order, {}, false});
}

void ScanProgress::begin_order(int order) {
  const std::lock_guard<std::mutex> lock(mutex);
  begin(order, 0);
}

void ScanProgress::begin_information(int order) {
  const std::lock_guard<std::mutex> lock(mutex);
  begin(order, -1);
}

void ScanProgress::begin_profiles(int order) {
  const std::lock_guard<std::mutex> lock(mutex);
  begin(order, -2);
}

void ScanProgress::end_profiles(int order, double seconds) {
  char line[100];
  std::snprintf(line, sizeof line, "order %d: profile intervals, %.3f s", order, seconds);
  const std::lock_guard<std::mutex> lock(mutex);
  close_activity(order, line);
}

void ScanProgress::end_order(const OrderResult& result) {
  const std::lock_guard<std::mutex> lock(mutex);
  close_activity(result.order, progress_line(result));
}

void ScanProgress::order_done(int order) {
  const std::lock_guard<std::mutex> lock(mutex);
  closing_of(order).done = true;
  print_closed();
}

ObjectiveWithGradient counted_objective_with_gradient(int order) {
  return [order](const std::vector<double>& point, std::vector<double>& gradient) {
    const double value = negative_log_likelihood_and_gradient(order, point, gradient);
    count_evaluation(order);
    return value;
  };
}

ObjectiveWithGradient counted_escape_objective_with_gradient(int order) {
  return [order](const std::vector<double>& point, std::vector<double>& gradient) {
    const double value = negative_log_likelihood_and_gradient_with_escape(order, point, gradient);
    count_evaluation(order);
    return value;
  };
}
