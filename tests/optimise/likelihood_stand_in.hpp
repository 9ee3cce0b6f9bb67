// The optimisation tests never load a model: negative_log_likelihood, which
// the standard errors call by name, is defined here and forwards to
// whatever objective a test installs.
#pragma once

#include "model/objective.hpp"

// The objective that negative_log_likelihood forwards to; a quadratic bowl
// over interval_count coordinates until a test installs another.
extern ObjectiveFunction likelihood_stand_in;

// sum over j = 1..interval_count of (x_j - 1)^2.
double quadratic_bowl_over_intervals(DoubleVector point);
