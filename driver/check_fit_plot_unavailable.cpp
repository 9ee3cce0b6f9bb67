// Builds without PLplot: interval-scan refuses --check-fit-plot.
#include "driver/check_fit_plot.hpp"
#include "driver/scan_report.hpp"

std::string write_check_fit_plot(const std::string& /*svg_path*/, const CheckOfFit& /*check*/,
                                 const std::string& /*data_name*/) {
  return plot_unavailable_reason();
}
