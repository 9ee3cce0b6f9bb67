// interval-scan's files: the data file it reads and checks strictly, the
// outputs that must not land on it or on each other, and the plot, drawn
// by the plotting library into a temporary file and copied into the
// output.  Each returns what went wrong as one line for the user, or an
// empty text.
#pragma once

#include <string>
#include <vector>

#include "driver/data_summary.hpp"
#include "driver/output_file.hpp"
#include "driver/scan_report.hpp"

// The files a scan names: "-" is standard input for the data file and
// standard output for the CSV file; an empty name is no such output.
struct ScanFiles {
  std::vector<std::string> data_files;
  std::string csv_file;
  std::string plot_file;
  std::string json_file;  // "-": standard output
};

// An output that is a data file, or another output, would destroy what it
// lands on, and a data file named twice would be fitted twice; this says
// so, before anything is read.
std::string scan_collision_problem(const ScanFiles& names);

// Reads, checks and installs the data file (model/observations); `data`
// gets its name, counts and digest, `summary` what its codes hold.  A file
// without a code the model reads is refused.
std::string load_scan_data(const std::string& data_file, ScannedData& data, DataSummary& summary);

// Draws the plot and writes it into `plot`, committed when complete.
std::string write_plot(OutputFile& plot, const std::vector<OrderResult>& results,
                       const std::vector<ScannedData>& files);
