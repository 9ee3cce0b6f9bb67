// interval-simulate's command line: the options, their help, and the
// checks that need no file.  Nothing here prints, opens a file or exits, so
// the whole of it can be fuzzed; simulate_main.cpp reports and ends.  The
// options also give the settings the model draws from.
//
// Numbers are taken as words and read here, so that a word that is not a
// number gets a sentence in plain words rather than the parser's own.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "model/simulation.hpp"

struct SimulateOptions {
  // As typed.
  std::string intervals_text;  // empty: one interval per length
  std::string observations_text = "100";
  std::string order_text = "1";
  std::string lengths_text;
  std::string seed_text;  // empty: a fresh seed is drawn
  std::string x_rate_text = "0";
  std::string missing_rate_text = "0";
  std::string escape_fraction_text = "0";
  std::string error_rate_text = "0";
  bool crlf = false;
  std::string output = "-";  // "-": standard output
  bool quiet = false;        // no word of the drawn seed
  // As read.
  int intervals = 0;
  int observations = 0;
  int order = 0;
  std::vector<double> lengths;  // one, or one per interval
  bool seed_given = false;      // else the program draws one, and says which
  std::uint64_t seed = 0;
  double x_rate = 0.0;
  double missing_rate = 0.0;
  double escape_fraction = 0.0;
  double error_rate = 0.0;
};

// Binds the options to `options`, with their help, the text around them,
// and --version.
void add_simulate_options(CLI::App& app, SimulateOptions& options);

// Why the options parsed by `app` cannot be used, or an empty text when
// they can.  Fills in the values read.
std::string simulate_options_problem(const CLI::App& app, SimulateOptions& options);

// A seed for a run that names none, from the system's entropy source.
std::uint64_t fresh_seed();

// What the model draws from, for the options given: lambda_t = 2p x
// length_t, the inverse of the fit's report of lambda_t / (2p).
SimulationSettings simulation_settings(const SimulateOptions& options);
