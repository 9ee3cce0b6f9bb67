// The picture of a check of fit: a triangle of interval pairs, the pair
// (i, j) at column i and row j > i, coloured by its signed association
// departure
//
//   d_ij = sign(log OR_observed - log OR_model) sqrt(association term of G2),
//
// blue where the two readings agree less often than the fitted model says,
// red where more often, white where as often; |d| is on the scale of a
// standard normal deviate.  Near pairs lie along the diagonal, far pairs in
// the corner; a failing interval shows as a row and a column.
#pragma once

#include <string>

#include "driver/check_of_fit.hpp"
#include "driver/output_file.hpp"

// Draws the picture of `check` into the SVG file `svg_path` (which the
// plotting library opens itself: no '%' and no lone '-' in it).  The title
// names the data file (`data_name`) and the order.  Returns an empty text,
// or why no picture was drawn.
std::string write_check_fit_plot(const std::string& svg_path, const CheckOfFit& check,
                                 const std::string& data_name);

// Draws the picture into a temporary file and copies it into `picture`,
// committed when complete; an empty text, or what went wrong.
std::string write_check_fit_picture(OutputFile& picture, const CheckOfFit& check,
                                    const std::string& data_name);
