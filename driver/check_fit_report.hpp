// What the check of fit says: one line per checked order, and the table of
// pairs behind it (--check-fit-csv).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/check_of_fit.hpp"

// "check of fit, order 4: G2 = 123.4 over 15 pairs, bootstrap p = 0.005
// (200 replicates); largest departure: intervals 3 and 4", with the failed
// refits, if any, after the replicates; with the full pattern table, "over
// 40 cells of the full pattern table (2950 complete rows)" and "largest
// departure: pattern RNNRRN".
std::string check_fit_line(const CheckOfFit& check);

// One row per order, pair and cell:
//   order,first,second,reading_first,reading_second,observed,expected,
//   residual,pair_g2
// readings R or N, residual the standardised residual of the cell, pair_g2
// the pair's share of G2 (the same on its four rows).  Pairs without an
// observation whose codes at both intervals are readings are left out.
void print_check_fit_csv(std::FILE* out, const std::vector<CheckOfFit>& checks);
