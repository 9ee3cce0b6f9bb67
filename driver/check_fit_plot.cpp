#include "driver/check_fit_plot.hpp"

#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr PLINT page_width = 760;
constexpr PLINT page_height = 640;
// The triangle and the colour scale, as fractions of the page.
constexpr PLFLT triangle_panel[4] = {0.1, 0.74, 0.1, 0.84};
constexpr PLFLT scale_panel[4] = {0.84, 0.87, 0.1, 0.84};
// The colour scale reaches at least this departure either way.
constexpr double least_scale = 3.0;
constexpr int scale_steps = 60;
constexpr PLINT axis_colour = 15;
constexpr PLFLT text_scale = 0.8;

// A diverging colour map: blue, white, red.
void set_colour_map() {
  const PLFLT position[3] = {0.0, 0.5, 1.0};
  const PLFLT red[3] = {0.13, 1.0, 0.8};
  const PLFLT green[3] = {0.35, 1.0, 0.1};
  const PLFLT blue[3] = {0.8, 1.0, 0.1};
  plscmap1l(1, 3, position, red, green, blue, nullptr);
}

void fill_box(double x0, double x1, double y0, double y1, double colour) {
  PLFLT x[4] = {x0, x1, x1, x0};
  PLFLT y[4] = {y0, y0, y1, y1};
  plcol1(colour);
  plfill(4, x, y);
}

}  // namespace

std::string write_check_fit_plot(const std::string& svg_path, const CheckOfFit& check,
                                 const std::string& data_name) {
  const std::vector<PairTable>& tables = check.observed.pairs.tables;
  if (tables.empty()) return "there is no pair of intervals to draw";
  int n = 0;
  double reach = least_scale;
  for (const PairTable& table : tables) {
    n = std::max(n, table.second);
    if (table.count > 0) reach = std::fmax(reach, std::fabs(signed_association_departure(table)));
  }
  plsdev("svg");
  plsfnam(svg_path.c_str());
  plspage(0.0, 0.0, page_width, page_height, 0, 0);
  plscolbg(255, 255, 255);
  plscol0(axis_colour, 0, 0, 0);
  plstar(1, 1);
  pladv(0);
  plschr(0.0, text_scale);
  set_colour_map();

  const double top = static_cast<double>(n) + 0.5;
  plvpor(triangle_panel[0], triangle_panel[1], triangle_panel[2], triangle_panel[3]);
  plwind(0.5, top, 0.5, top);
  for (const PairTable& table : tables) {
    const double i = static_cast<double>(table.first);
    const double j = static_cast<double>(table.second);
    // An empty pair stays uncoloured (grey frame only).
    if (table.count == 0) continue;
    const double d = signed_association_departure(table);
    fill_box(i - 0.5, i + 0.5, j - 0.5, j + 0.5, 0.5 + 0.5 * d / reach);
  }
  plcol0(axis_colour);
  plbox("bcnst", 1.0, 0, "bcnstv", 1.0, 0);
  plmtex("b", 3.0, 0.5, 0.5, "first interval i");
  plmtex("l", 3.5, 0.5, 0.5, "second interval j");
  char title[256];
  std::snprintf(title, sizeof title, "Check of fit: %s, order %d", data_name.c_str(), check.order);
  plmtex("t", 3.2, 0.5, 0.5, title);
  char subtitle[256];
  std::snprintf(subtitle, sizeof subtitle, "G2 = %.1f, bootstrap p = %.3g (%d replicates)",
                check.observed.value, check.p_value, check.replicates);
  plmtex("t", 1.6, 0.5, 0.5, subtitle);

  // The scale: departures from -reach to +reach.
  plvpor(scale_panel[0], scale_panel[1], scale_panel[2], scale_panel[3]);
  plwind(0.0, 1.0, -reach, reach);
  for (int k = 0; k < scale_steps; ++k) {
    const double from = -reach + 2.0 * reach * k / scale_steps;
    const double to = -reach + 2.0 * reach * (k + 1) / scale_steps;
    fill_box(0.0, 1.0, from, to, (static_cast<double>(k) + 0.5) / scale_steps);
  }
  plcol0(axis_colour);
  plbox("bc", 0.0, 0, "bcmstv", 0.0, 0);
  plmtex("r", 4.5, 0.5, 0.5, "pair's departure: - fewer, + more agreeing readings than the model");
  plend();
  return {};
}
