// interval-scan's options for the check of fit: --check-fit [B],
// --check-fit-csv FILE and --seed S, bound apart from the scan's other
// options.  Nothing here prints, opens a file or exits.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/check_of_fit.hpp"

// The largest number of replicates asked for.
inline constexpr int check_fit_replicate_limit = 1000000;

struct CheckFitOptions {
  std::vector<std::string> replicates_text;  // --check-fit's value, if given
  std::string csv_file;                      // empty: none; "-": standard output
  std::string plot_file;                     // the picture (SVG); empty: none
  std::string seed_text;                     // empty: the default seed
  const CLI::Option* check_fit = nullptr;    // to tell whether --check-fit was given
  // Filled in by check_fit_options_problem.
  bool requested = false;
  CheckFitSettings settings;
};

// Binds the options to `options`, with their help.
void add_check_fit_options(CLI::App& app, CheckFitOptions& options);

// Why the parsed options cannot be used, or an empty text when they can.
// Fills in `requested` and `settings`.
std::string check_fit_options_problem(CheckFitOptions& options);

// An output of the check (its CSV and its picture) that would land on the
// data file, on another output or on each other (empty names are no
// output), or an empty text.
std::string check_fit_collision_problem(const std::string& data_file,
                                        const std::vector<std::string>& other_outputs,
                                        const std::string& check_csv,
                                        const std::string& check_plot);
