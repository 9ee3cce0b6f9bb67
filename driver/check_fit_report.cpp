#include "driver/check_fit_report.hpp"

#include <cstddef>

namespace {

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string check_fit_line(const CheckOfFit& check) {
  const PairStatistic& s = check.observed.pairs;
  const PatternStatistic& patterns = check.observed.patterns;
  const std::string over = check.observed.full_patterns
                               ? std::to_string(patterns.cells) +
                                     " cells of the full pattern table (" +
                                     std::to_string(patterns.complete_rows) + " complete rows)"
                               : std::to_string(s.pairs) + (s.pairs == 1 ? " pair" : " pairs");
  std::string line = "check of fit, order " + std::to_string(check.order) +
                     ": G2 = " + formatted("%.1f", check.observed.value) + " over " + over +
                     ", bootstrap p = " + formatted("%.3g", check.p_value) + " (" +
                     std::to_string(check.replicates) +
                     (check.replicates == 1 ? " replicate" : " replicates");
  if (check.failed_refits > 0) {
    line += ", " + std::to_string(check.failed_refits) + " refits failed";
  }
  line += ")";
  if (check.observed.full_patterns && !patterns.largest.empty()) {
    line += "; largest departure: pattern " + patterns.largest;
  } else if (s.largest >= 0) {
    const PairTable& table = s.tables[static_cast<std::size_t>(s.largest)];
    line += "; largest departure: intervals " + std::to_string(table.first) + " and " +
            std::to_string(table.second);
  }
  return line;
}

void print_check_fit_csv(std::FILE* out, const std::vector<CheckOfFit>& checks) {
  std::fprintf(out,
               "order,first,second,reading_first,reading_second,observed,expected,residual,"
               "pair_g2\n");
  for (const CheckOfFit& check : checks) {
    for (const PairTable& table : check.observed.pairs.tables) {
      if (table.count == 0) continue;
      for (int a = 0; a < reading_count; ++a) {
        for (int b = 0; b < reading_count; ++b) {
          std::fprintf(out, "%d,%d,%d,%c,%c,%.0f,%.6g,%.6g,%.6g\n", check.order, table.first,
                       table.second, reading_code[a], reading_code[b], table.observed[a][b],
                       table.expected[a][b], table.residual[a][b], table.association);
        }
      }
    }
  }
}
