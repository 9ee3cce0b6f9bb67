// interval-scan's summary for scripts: one JSON object that a program reads
// without parsing the table.
//
//   {
//     "program": "interval-scan", "version": "...", "command_line": [...],
//     "date": "2026-12-09T12:00:00Z",          (UTC, ISO 8601)
//     "data_files": [{"name": ..., "bytes": N, "sha256": "..."}],
//     "partial": false,                        (true: the scan was cut short)
//     "orders": [{"order": p, "log_likelihood": x, "converged": true,
//                 "failed": false, "start": "estimate", "total_length": x,
//                 (of every file's lengths together)
//                 "total_standard_error": x or null,
//                 "escape": null or {"fraction": q, "standard_error": x or null,
//                                    "profile_lower": x, "profile_upper": x,
//                                    "likelihood_ratio": x, "p_value": x},
//                 "error": the same for the misread rate e, with --error only,
//                 "files": with several data files only, each one's
//                          [{"name": ..., "total_length": x,
//                            "total_standard_error": x or null}]}],
//     "best_order": p or null,
//     "support_set": [p, ...],
//     "check_of_fit": [{"order": p, "statistic": G2, "p_value": x,
//                       "replicates": B, "failed_refits": k,
//                       "summary": "check of fit, order p: ..."}]
//   }
//
// "start" names the start the fit came from: "estimate", "estimate x p",
// "default estimate", "default estimate x p", or the fit of the order
// below or above.  Numbers are written with 17 significant digits, so they read back as the
// same doubles; a value that is not finite, or not available, is null.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/check_of_fit.hpp"
#include "driver/scan_report.hpp"

// A data file as the summary names it.
struct DataFileRecord {
  std::string name;  // as the user gave it ("-": standard input)
  long long bytes = 0;
  std::string sha256;
};

struct ScanProvenance {
  std::string version;
  std::vector<std::string> command_line;
  std::string date;  // ISO 8601, UTC
  std::vector<DataFileRecord> data_files;
  bool partial = false;
};

// The date and time now, as the summary writes it.
std::string utc_timestamp();

// The text as a JSON string, quotes included.
std::string json_string(const std::string& text);

// `checks`: the checks of fit that were run (none: an empty list).
void print_scan_json(std::FILE* out, const ScanProvenance& provenance,
                     const std::vector<OrderResult>& results,
                     const std::vector<CheckOfFit>& checks = {});
