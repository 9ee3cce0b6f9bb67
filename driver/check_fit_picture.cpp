#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "driver/check_fit_plot.hpp"

// The plotting library writes to a name of our making in the temporary
// folder (free of '%', which it would read as an order of its own); the
// drawing is checked for its closing tag and copied into the output.
std::string write_check_fit_picture(OutputFile& picture, const CheckOfFit& check,
                                    const std::string& data_name) {
  std::string folder = temporary_folder();
  if (folder.find('%') != std::string::npos) folder = "/tmp";
  TemporaryFile drawing(folder, "interval-scan-check.svg");
  const std::string not_drawn = "can't draw the check-fit plot " + picture.name() + ": ";
  if (!drawing.ok()) return not_drawn + "no temporary file in " + folder + ": " + drawing.problem();
  close(drawing.release_descriptor());
  if (const std::string problem = write_check_fit_plot(drawing.path(), check, data_name);
      !problem.empty()) {
    return not_drawn + problem;
  }
  std::FILE* drawn = std::fopen(drawing.path().c_str(), "rb");
  if (drawn == nullptr) return not_drawn + "the plotting library wrote no plot";
  std::string svg;
  char piece[1 << 14];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, drawn)) > 0;) {
    svg.append(piece, got);
  }
  std::fclose(drawn);
  const std::size_t closing = svg.rfind("</svg>");
  if (closing == std::string::npos ||
      svg.find_first_not_of(" \t\r\n", closing + 6) != std::string::npos) {
    return not_drawn + "the plotting library wrote an incomplete plot (is " + folder + " full?)";
  }
  if (std::fwrite(svg.data(), 1, svg.size(), picture.stream()) != svg.size()) {
    return picture.failure(errno);
  }
  return picture.commit();
}
