// Builds without PLplot: interval-scan refuses --plot with a clear message.
#include "driver/scan_report.hpp"

bool scan_plot_available() { return false; }

std::string write_scan_plot(const std::string& /*file_name*/,
                            const std::vector<OrderResult>& /*results*/) {
  return "this interval-scan was built without PLplot, so it cannot draw plots";
}
