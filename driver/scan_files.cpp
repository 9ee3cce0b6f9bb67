#include "driver/scan_files.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "driver/file_identity.hpp"
#include "driver/observation_file.hpp"
#include "driver/observation_rows.hpp"
#include "driver/sha256.hpp"
#include "foundation/fatal_error.hpp"
#include "model/observations.hpp"

namespace {

std::string data_name(const std::string& data_file) {
  return data_file == "-" ? "standard input" : data_file;
}

}  // namespace

std::string scan_collision_problem(const ScanFiles& names) {
  struct Named {
    std::string description;
    std::string name;
    FileIdentity identity;
  };
  std::vector<Named> files;
  for (const std::string& data_file : names.data_files) {
    files.push_back({"the data file", data_name(data_file),
                     data_file == "-" ? identify_descriptor(0) : identify_path(data_file)});
  }
  const std::size_t data_count = files.size();
  if (!names.csv_file.empty()) {
    files.push_back(
        {"the CSV file", names.csv_file == "-" ? "standard output" : names.csv_file,
         names.csv_file == "-" ? identify_descriptor(1) : identify_path(names.csv_file)});
  }
  if (!names.plot_file.empty()) {
    files.push_back({"the plot file", names.plot_file, identify_path(names.plot_file)});
  }
  if (!names.json_file.empty()) {
    files.push_back(
        {"the JSON file", names.json_file == "-" ? "standard output" : names.json_file,
         names.json_file == "-" ? identify_descriptor(1) : identify_path(names.json_file)});
  }
  for (std::size_t later = 1; later < files.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      const bool named_twice = later < data_count && files[earlier].name == files[later].name &&
                               files[later].name == "standard input";
      if (!named_twice && !same_file(files[earlier].identity, files[later].identity)) continue;
      if (later < data_count) {
        return files[later].name == files[earlier].name
                   ? "the data file " + files[later].name + " is named twice; name each file once"
                   : "the data file " + files[later].name + " is the same file as the data file " +
                         files[earlier].name + "; name each file once";
      }
      return files[later].description + " " + files[later].name + " is the same file as " +
             files[earlier].description + " " + files[earlier].name +
             "; give the output another name";
    }
  }
  return {};
}

std::string load_scan_data(const std::string& data_file, ScannedData& data, DataSummary& summary) {
  const std::string name = data_name(data_file);
  const bool from_standard_input = data_file == "-";
  std::FILE* file = from_standard_input ? stdin : std::fopen(data_file.c_str(), "r");
  if (file == nullptr) return "can't open the data file " + name + ": " + std::strerror(errno);
  errno = 0;
  const std::optional<std::string> read = read_observation_stream(file);
  const int read_error = errno;
  if (!from_standard_input) std::fclose(file);
  if (!read) {
    return "can't read the data file " + name + ": " +
           std::strerror(read_error != 0 ? read_error : EIO);
  }
  const std::string& text = *read;
  const ObservationFileHeader header = read_observation_header(text);
  if (!header.problem.empty()) return name + ": " + header.problem;
  if (const std::optional<RowsProblem> rows = strict_rows_problem(text, header)) {
    return name + ", line " + std::to_string(rows->line) + ": " + rows->message;
  }
  if (!install_observation_table(text, header)) {
    fatal_numeric_error("allocation failure in cvector()");
  }
  summary = summarise_observations(name, observations, observation_count, interval_count);
  if (!summary.refusal.empty()) return name + ": " + summary.refusal;
  data.name = name;
  data.observation_count = header.observation_count;
  data.interval_count = header.interval_count;
  data.bytes = static_cast<long long>(text.size());
  Sha256 digest;
  digest.add(text);
  data.sha256 = digest.hex_digest();
  return {};
}

// The plotting library writes to a name of our making, in the temporary
// folder (free of '%', which the library would read as an order); the
// drawing is checked for its closing tag and copied into the output.
std::string write_plot(OutputFile& plot, const std::vector<OrderResult>& results,
                       const std::vector<ScannedData>& files) {
  std::string folder = temporary_folder();
  if (folder.find('%') != std::string::npos) folder = "/tmp";
  const std::string kind = plot_kind_of(plot.name());
  TemporaryFile drawing(folder, "interval-scan-plot" + kind);
  if (!drawing.ok()) {
    return "can't draw the plot file " + plot.name() + ": no temporary file in " + folder + ": " +
           drawing.problem();
  }
  close(drawing.release_descriptor());
  const std::string not_drawn = "can't draw the plot file " + plot.name() + ": ";
  const std::string problem = write_scan_plot(drawing.path(), kind, results, files);
  if (!problem.empty()) return not_drawn + problem;
  std::FILE* drawn = std::fopen(drawing.path().c_str(), "rb");
  if (drawn == nullptr) return not_drawn + "the plotting library wrote no plot";
  std::string svg;
  char piece[1 << 14];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, drawn)) > 0;) {
    svg.append(piece, got);
  }
  std::fclose(drawn);
  if (!plot_complete(svg, kind)) {
    return not_drawn + "the plotting library wrote an incomplete plot (is " + folder + " full?)";
  }
  if (std::fwrite(svg.data(), 1, svg.size(), plot.stream()) != svg.size()) {
    return plot.failure(errno);
  }
  return plot.commit();
}
