// Builds without PLplot: interval-scan refuses --plot with a clear message.
#include "driver/scan_report.hpp"

bool scan_plot_available() { return false; }

std::vector<std::string> plot_kinds() { return {}; }

std::string plot_device_problem(const std::string& /*kind*/) { return plot_unavailable_reason(); }

std::string plot_unavailable_reason() {
  return "this interval-scan was built without PLplot, so it cannot draw plots (install "
         "libplplot-dev and build again)";
}

std::string write_scan_plot(const std::string& /*path*/, const std::string& /*kind*/,
                            const std::vector<OrderResult>& /*results*/,
                            const std::vector<ScannedData>& /*files*/) {
  return plot_unavailable_reason();
}

std::string write_scan_plot(const std::string& /*svg_path*/,
                            const std::vector<OrderResult>& /*results*/,
                            const std::vector<ScannedData>& /*files*/) {
  return plot_unavailable_reason();
}
