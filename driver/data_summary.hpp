// What interval-scan says about a data file before it fits: how many rows
// and intervals it has, and what share of each interval's codes the model
// can read.  The likelihood reads R (an event-class observation), N (a
// no-event class) and X (either, the event class counted by one half);
// every other byte, lower-case letters and digits included, carries no
// information.  A file whose codes are all of that kind fits to a
// log-likelihood of 0 whatever the lengths: nothing is learnt, and the
// scan refuses it rather than report the starting values as a fit.
#pragma once

#include <string>
#include <vector>

#include "model/observations.hpp"

struct DataSummary {
  // One paragraph for standard error, lines of at most 80 characters with
  // their line ends: rows, intervals and each interval's shares of R, N, X
  // and uninformative codes (the range over the intervals when there are
  // many of them).
  std::string paragraph;
  // Not empty when no interval has an R or an N code: why the file cannot
  // be fitted, naming the codes it holds.
  std::string refusal;
  // One line per warning, without a line end: the intervals that hold no
  // R and no N code.
  std::vector<std::string> warnings;
};

// The summary of `table` (`rows` observations of `intervals` codes, laid
// out as the ObservationTable), named `name` in the paragraph.
DataSummary summarise_observations(const std::string& name, const ObservationTable& table, int rows,
                                   int intervals);
