// Every file a scan writes besides its table: the CSV, the JSON summary,
// the plot, and the check of fit's residual table and picture.  Each is
// opened before the fits, so that a bad name or folder fails at once, and
// committed only when whole, so that the earlier file stays as it was
// until then (driver/output_file.hpp).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/check_of_fit.hpp"
#include "driver/output_file.hpp"
#include "driver/scan_json.hpp"
#include "driver/scan_report.hpp"

// The names, as the options give them; an empty name is no such output.
struct ScanOutputNames {
  std::string csv;  // "-": standard output
  std::string plot;
  std::string json;       // "-": standard output
  std::string check_csv;  // "-": standard output
  std::string check_plot;
};

class ScanOutputs {
 public:
  explicit ScanOutputs(const ScanOutputNames& names);

  // Opens every output named, and checks that the plotting library can
  // draw the plot's kind; the first problem, or an empty text.
  std::string open();

  // Where the table goes: standard output, unless an output takes it.
  std::FILE* table_stream() const;

  // Writes and commits each output named; the problems, one line each.
  // The CSV names each file as provenance.data_files does.
  // The check of fit's picture shows the best order's check.
  std::vector<std::string> write(const std::vector<OrderResult>& results,
                                 const std::vector<CheckOfFit>& checks,
                                 const std::vector<ScannedData>& files,
                                 const ScanProvenance& provenance);

 private:
  OutputFile csv_;
  OutputFile plot_;
  OutputFile json_;
  OutputFile check_csv_;
  OutputFile check_plot_;
};
