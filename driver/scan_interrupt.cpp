#include "driver/scan_interrupt.hpp"

#include <array>
#include <csignal>

namespace {

constexpr std::array<int, 2> stop_signals = {SIGINT, SIGQUIT};

volatile std::sig_atomic_t stop_requested = 0;
std::array<struct sigaction, stop_signals.size()> earlier{};

// The first signal sets the flag and puts the earlier handler back
// (sigaction is safe in a handler), so that the next one meets it: the
// temporaries are removed and the process ends.
extern "C" void ask_to_stop(int signal_number) {
  stop_requested = 1;
  for (std::size_t k = 0; k < stop_signals.size(); ++k) {
    if (stop_signals[k] == signal_number) sigaction(signal_number, &earlier[k], nullptr);
  }
}

}  // namespace

ScanInterrupt::ScanInterrupt() {
  for (std::size_t k = 0; k < stop_signals.size(); ++k) {
    struct sigaction stop {};
    stop.sa_handler = ask_to_stop;
    sigemptyset(&stop.sa_mask);
    if (sigaction(stop_signals[k], nullptr, &earlier[k]) != 0) continue;
    // A signal the caller chose to ignore stays ignored.
    if (earlier[k].sa_handler == SIG_IGN) continue;
    sigaction(stop_signals[k], &stop, nullptr);
  }
}

ScanInterrupt::~ScanInterrupt() {
  for (std::size_t k = 0; k < stop_signals.size(); ++k) {
    if (earlier[k].sa_handler != SIG_IGN) sigaction(stop_signals[k], &earlier[k], nullptr);
  }
}

bool scan_interrupted() { return stop_requested != 0; }
