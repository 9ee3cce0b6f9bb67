#include "foundation/results_file.hpp"

#include <cstdarg>
#include <cstdlib>

std::FILE* open_results_file() {
  std::FILE* file = std::fopen("etest.txt", "a");
  if (file == nullptr) {
    std::printf("can't open the data file");
    std::exit(1);
  }
  return file;
}

void append_results(std::FILE* file, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  // A failure sets the stream's error indicator, which the close checks.
  std::vfprintf(file, format, arguments);
  va_end(arguments);
}

void close_results_file(std::FILE* file) {
  // Buffered text reaches the disk only at the flush, so a full disk is often
  // first noticed here; the error indicator covers the earlier writes.
  const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::printf("\ncould not write the results to etest.txt: the block there is incomplete\n");
    std::exit(1);
  }
}
