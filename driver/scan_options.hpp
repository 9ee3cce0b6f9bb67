// interval-scan's command line: the options, their help, and the checks
// that need no file.  Nothing here prints, opens a file or exits, so the
// whole of it can be fuzzed; scan_main.cpp reports and ends.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

struct ScanOptions {
  // Fitted together when there are several; "-": standard input.
  std::vector<std::string> data_files;
  std::string orders_text = "1-6";
  std::string order_text;  // --order P: the one order, instead of --orders
  std::string estimate_text = "0.5";
  std::string csv_file;   // empty: none; "-": standard output
  std::string plot_file;  // empty: none
  std::string json_file;  // empty: none; "-": standard output
  bool quiet = false;
  std::string intervals = "profile";  // --ci (old name --intervals); or "wald": no profile refits
  bool profile_all = false;           // profiles for every order, not only the best
  bool escape = false;                // fit the escape fraction with the lengths
  bool error = false;                 // fit the misread rate with the lengths
  std::vector<int> orders;
  double estimate = 0.5;
};

// Binds the options to `options`, with their help, and --version.
void add_scan_options(CLI::App& app, ScanOptions& options);

// The help's text around the options: what the program does (after the
// usage line), and the examples, the environment and the exit status.
void describe_scan(CLI::App& app);

// Why the options parsed by `app` cannot be used, or an empty text when
// they can.  Fills in `orders` and `estimate`.
std::string scan_options_problem(const CLI::App& app, ScanOptions& options);
