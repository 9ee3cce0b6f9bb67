#include "driver/scan_progress.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "driver/scan_report.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_gradient.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// An order is quiet for its first second; then the line is redrawn at most
// this often.
constexpr double seconds_before_running_line = 1.0;
constexpr double seconds_between_redraws = 0.25;

// The state of the one scan that runs: the objective is a plain function,
// so what it counts lives here.
struct ProgressState {
  bool active = false;
  bool running_line = false;  // stderr is a terminal and not --quiet
  bool quiet = false;
  int order = 0;
  int search = 0;  // -1: the information step, -2: the profile intervals
  long long evaluations = 0;
  Clock::time_point order_start;
  Clock::time_point last_draw;
  std::size_t drawn_width = 0;  // of the running line on screen, 0 when none
  // Standard output as it was, and where it is caught meanwhile.
  int saved_output = -1;
  std::FILE* caught = nullptr;
  long caught_read = 0;  // bytes of `caught` already passed on
};
ProgressState state;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string search_name() {
  if (state.search == -2) return "profile intervals";
  if (state.search < 0) return "information";
  if (state.search == 0) return "first search";
  return "restart " + std::to_string(state.search);
}

void wipe_running_line() {
  if (state.drawn_width == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(state.drawn_width), "");
  std::fflush(stderr);
  state.drawn_width = 0;
}

void draw_running_line() {
  char line[200];
  const int width = std::snprintf(
      line, sizeof line, "interval-scan: order %d, %s, %lld evaluations, %.0f s", state.order,
      search_name().c_str(), state.evaluations, seconds_since(state.order_start));
  const std::size_t size = width < 0 ? 0 : static_cast<std::size_t>(width);
  // Padded over a longer line drawn before.
  const int pad = state.drawn_width > size ? static_cast<int>(state.drawn_width - size) : 0;
  std::fprintf(stderr, "\r%s%*s", line, pad, "");
  std::fflush(stderr);
  state.drawn_width = size + static_cast<std::size_t>(pad);
  state.last_draw = Clock::now();
}

// Passes on what the minimiser printed since the last time, each line
// prefixed with the order and the search.
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
    std::fprintf(stderr, "interval-scan: order %d, %s: %s\n", state.order, search_name().c_str(),
                 line.c_str());
    line.clear();
  }
  // A last line without its end waits for the rest.
  state.caught_read -= static_cast<long>(line.size());
  std::clearerr(state.caught);
  std::fseek(state.caught, 0, SEEK_END);
}

// One more evaluation, and the running line redrawn when it is due.
void count_evaluation() {
  if (!state.active) return;
  ++state.evaluations;
  if (state.running_line && seconds_since(state.order_start) > seconds_before_running_line &&
      (state.drawn_width == 0 || seconds_since(state.last_draw) >= seconds_between_redraws)) {
    draw_running_line();
  }
}

}  // namespace

ScanProgress::ScanProgress(bool quiet) {
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
  std::fflush(stdout);
  pass_on_caught_lines();
  if (state.saved_output >= 0) {
    dup2(state.saved_output, STDOUT_FILENO);
    close(state.saved_output);
  }
  if (state.caught != nullptr) std::fclose(state.caught);
  wipe_running_line();
  state = ProgressState{};
}

void ScanProgress::begin_order(int order) {
  state.order = order;
  state.search = 0;
  state.evaluations = 0;
  state.order_start = Clock::now();
}

void ScanProgress::begin_information() {
  pass_on_caught_lines();
  state.search = -1;
}

void ScanProgress::begin_profiles(int order) {
  pass_on_caught_lines();
  state.order = order;
  state.search = -2;
  state.evaluations = 0;
  state.order_start = Clock::now();
}

void ScanProgress::end_profiles(int order, double seconds) {
  pass_on_caught_lines();
  wipe_running_line();
  if (!state.quiet) std::fprintf(stderr, "order %d: profile intervals, %.3f s\n", order, seconds);
}

void ScanProgress::end_order(const OrderResult& result) {
  pass_on_caught_lines();
  wipe_running_line();
  if (!state.quiet) std::fprintf(stderr, "%s\n", progress_line(result).c_str());
}

double counted_objective_with_gradient(const std::vector<double>& point,
                                       std::vector<double>& gradient) {
  const double value = negative_log_likelihood_and_gradient(point, gradient);
  count_evaluation();
  return value;
}

double counted_escape_objective_with_gradient(const std::vector<double>& point,
                                              std::vector<double>& gradient) {
  const double value = negative_log_likelihood_and_gradient_with_escape(point, gradient);
  count_evaluation();
  return value;
}
