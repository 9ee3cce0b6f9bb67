#include "driver/scan_json.hpp"

#include <cmath>
#include <ctime>

#include "driver/check_fit_report.hpp"

namespace {

// A double that reads back as itself, or null.
std::string number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

const char* boolean(bool value) { return value ? "true" : "false"; }

std::string fraction_object(const FractionResult& e) {
  if (!e.fitted || !e.identified) return "null";
  return "{\"fraction\": " + number(e.fraction) +
         ", \"standard_error\": " + (e.has_standard_error ? number(e.standard_error) : "null") +
         ", \"profile_lower\": " + (e.profiled ? number(e.profile.lower) : "null") +
         ", \"profile_upper\": " + (e.profiled ? number(e.profile.upper) : "null") +
         ", \"likelihood_ratio\": " + number(e.likelihood_ratio) +
         ", \"p_value\": " + number(e.p_value) + "}";
}

// With several files fitted together, each one's share of the order:
// its name, its total and the total's standard error.
std::string files_array(const OrderResult& r, const std::vector<DataFileRecord>& files) {
  if (r.shares.empty()) return "";
  std::string text = ", \"files\": [";
  for (std::size_t k = 0; k < r.shares.size(); ++k) {
    const OrderResult share = file_result(r, k);
    text += std::string(k == 0 ? "" : ", ") +
            "{\"name\": " + json_string(k < files.size() ? files[k].name : "") +
            ", \"total_length\": " + number(share.total_length) + ", \"total_standard_error\": " +
            (total_has_wald(share) ? number(share.total_standard_error) : "null") + "}";
  }
  return text + "]";
}

}  // namespace

std::string utc_timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&now, &parts) != nullptr)
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string json_string(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void print_scan_json(std::FILE* out, const ScanProvenance& provenance,
                     const std::vector<OrderResult>& results,
                     const std::vector<CheckOfFit>& checks) {
  std::fprintf(out, "{\n  \"program\": \"interval-scan\",\n  \"version\": %s,\n",
               json_string(provenance.version).c_str());
  std::fprintf(out, "  \"command_line\": [");
  for (std::size_t k = 0; k < provenance.command_line.size(); ++k) {
    std::fprintf(out, "%s%s", k == 0 ? "" : ", ", json_string(provenance.command_line[k]).c_str());
  }
  std::fprintf(out, "],\n  \"date\": %s,\n  \"data_files\": [",
               json_string(provenance.date).c_str());
  for (std::size_t k = 0; k < provenance.data_files.size(); ++k) {
    const DataFileRecord& file = provenance.data_files[k];
    std::fprintf(out, "%s\n    {\"name\": %s, \"bytes\": %lld, \"sha256\": %s}", k == 0 ? "" : ",",
                 json_string(file.name).c_str(), file.bytes, json_string(file.sha256).c_str());
  }
  std::fprintf(out, "\n  ],\n  \"partial\": %s,\n  \"orders\": [", boolean(provenance.partial));
  for (std::size_t k = 0; k < results.size(); ++k) {
    const OrderResult& r = results[k];
    const bool failed = !std::isfinite(r.log_likelihood);
    std::fprintf(out,
                 "%s\n    {\"order\": %d, \"log_likelihood\": %s, \"converged\": %s, "
                 "\"failed\": %s, \"start\": %s, \"total_length\": %s, "
                 "\"total_standard_error\": %s, \"escape\": %s%s%s}",
                 k == 0 ? "" : ",", r.order, number(r.log_likelihood).c_str(),
                 boolean(!failed && r.fit.converged()), boolean(failed),
                 json_string(r.fit.start).c_str(), number(r.total_length).c_str(),
                 total_has_wald(r) ? number(r.total_standard_error).c_str() : "null",
                 fraction_object(r.escape).c_str(),
                 r.error.fitted ? (", \"error\": " + fraction_object(r.error)).c_str() : "",
                 files_array(r, provenance.data_files).c_str());
  }
  const int best = best_result(results);
  std::fprintf(
      out, "\n  ],\n  \"best_order\": %s,\n  \"support_set\": [",
      best < 0 ? "null" : std::to_string(results[static_cast<std::size_t>(best)].order).c_str());
  const std::vector<int> support = support_set(results);
  for (std::size_t k = 0; k < support.size(); ++k) {
    std::fprintf(out, "%s%d", k == 0 ? "" : ", ", support[k]);
  }
  std::fprintf(out, "],\n  \"check_of_fit\": [");
  for (std::size_t k = 0; k < checks.size(); ++k) {
    const CheckOfFit& check = checks[k];
    std::fprintf(out,
                 "%s\n    {\"order\": %d, \"statistic\": %s, \"p_value\": %s, \"replicates\": %d, "
                 "\"failed_refits\": %d, \"summary\": %s}",
                 k == 0 ? "" : ",", check.order, number(check.observed.value).c_str(),
                 number(check.p_value).c_str(), check.replicates, check.failed_refits,
                 json_string(check_fit_line(check)).c_str());
  }
  std::fprintf(out, "%s]\n}\n", checks.empty() ? "" : "\n  ");
}
