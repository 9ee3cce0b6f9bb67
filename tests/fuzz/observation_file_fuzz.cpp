// Fuzzing the loading of a data file: any bytes at all must either be
// refused with a reason or give a table, without a memory error, undefined
// behaviour or an exit.  Beyond not failing, the input is checked against
// what the loader promises:
//   - folding the line ends piece by piece gives the whole file's folding,
//     wherever the pieces break;
//   - a header that is settled on a prefix of the text is the header of the
//     whole text;
//   - the table filled from the text the loader reads (the header and one
//     character per slot) is the table filled from the whole text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/observation_file.hpp"

namespace {

// Tables beyond this many slots are skipped: they cost time, not coverage.
constexpr long long largest_fuzzed_slots = 1 << 16;

void require(bool promise) {
  if (!promise) std::abort();
}

bool same_header(const ObservationFileHeader& a, const ObservationFileHeader& b) {
  return a.problem == b.problem && a.observation_count == b.observation_count &&
         a.interval_count == b.interval_count && a.codes_begin == b.codes_begin;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string text = fold_line_ends(raw);

  // Two break points drawn from the input itself.
  const std::size_t first = size == 0 ? 0 : data[0] % (size + 1);
  const std::size_t second = size == 0 ? 0 : first + data[size - 1] % (size - first + 1);
  LineEndFolding folding;
  fold_more_line_ends(folding, raw.substr(0, first));
  fold_more_line_ends(folding, raw.substr(first, second - first));
  fold_more_line_ends(folding, raw.substr(second));
  finish_line_end_folding(folding);
  require(folding.text == text);

  const ObservationFileHeader header = read_observation_header(text);
  const std::size_t prefix_size = text.empty() ? 0 : first % (text.size() + 1);
  const ObservationFileHeader early =
      read_observation_header(std::string_view(text).substr(0, prefix_size));
  if (header_is_settled(early, prefix_size)) require(same_header(early, header));
  if (!header.problem.empty()) return 0;
  require(header.observation_count >= 1 && header.interval_count >= 1 &&
          header.interval_count <= largest_fitted_interval_count);

  const long long slots = observation_table_slots(header);
  if (slots < 0 || slots > largest_fuzzed_slots) return 0;
  const int last = static_cast<int>(slots) - 1;
  ObservationTable whole = cvector(0, last);
  ObservationTable needed = cvector(0, last);
  fill_observation_table(text, header, whole);
  const std::size_t read = std::min(text.size(), observation_text_needed(header));
  fill_observation_table(std::string_view(text).substr(0, read), header, needed);
  for (int s = 0; s <= last; ++s) require(whole[s] == needed[s]);
  release_cvector(needed, 0, last);
  release_cvector(whole, 0, last);
  return 0;
}
