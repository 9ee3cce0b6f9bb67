// Readings drawn from the model with everything else of an observation
// kept: the parametric bootstrap of the check of fit replaces the R and N
// codes of each real observation by readings drawn from the fitted model,
// and keeps where its X and no-information codes are.
//
// The draw is from the model's distribution of the readings given the
// positions of the codes.  X is scored 1 in classes {1, 6} and {3, 4} and
// 1/2 in {2, 5}, which is what a code that hides a reading at rate x in
// the first two and x/2 in the third implies.  Where such codes are left,
// then, a reading shows with probability 1 - x (an N) or 1 - x/2 (an R):
// the readings' weights, reading_weight[0] for R and [1] for N, take this
// into account; with no X codes both are 1.
//
// Method: forward filtering, backward sampling.  The forward weights of the
// row with its readings open (PatternModel::open_reading_weights) give, at
// the last interval, the law of the final state; going back,
//   P(s_{t-1} = l | s_t = k, codes) ~ alpha_{t-1}[l] T_t[l][k],
// and the class of each state at a reading decides R ({2, 5}) or N.
#pragma once

#include <string_view>

#include "model/pattern_probability.hpp"
#include "model/simulation.hpp"

// Writes the n codes of `codes` into row[0 .. n-1], each R or N replaced by
// a reading drawn as above, each other code as it is.  A row the model
// rules out (probability 0) is copied unchanged.  With a misread rate e > 0
// each drawn reading is then read as the other with probability e, in
// interval order, from the same engine (misread_codes, model/simulation.hpp);
// at e = 0 no draw is made.
void draw_readings(SimulationEngine& engine, const PatternModel& model,
                   const double reading_weight[2], std::string_view codes, char* row,
                   double error_rate = 0.0);
