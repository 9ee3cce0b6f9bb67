#include "driver/results_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "driver/console_output.hpp"
#include "driver/refusal.hpp"

namespace {

// Read and write for everyone, less the umask, as fopen(..., "a") creates.
constexpr mode_t new_file_permissions = 0666;

[[noreturn]] void report_incomplete_block() {
  std::printf("\ncould not write the results to etest.txt: the block there is incomplete\n");
  std::exit(1);
}

// Holds the lock until the block is written.  The lock is advisory and only
// orders cooperating runs; where the file system offers none (some network
// mounts), the single append still keeps a block in one piece there.
void lock_for_block(int descriptor) {
  while (flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
  }
}

// One write() normally takes the whole block; the loop only goes round when
// the file can take part of it (a disk that fills up), and the next write
// then reports why it cannot take the rest.
bool write_whole(int descriptor, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = write(descriptor, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

ResultsBlock open_results_file() {
  // The report printed so far is shown before the file is opened, whatever
  // happens there.
  flush_console();
  ResultsBlock block;
  // Without blocking: a named pipe with no reader would otherwise hold the
  // run for ever at the open.
  block.descriptor = open("etest.txt", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          new_file_permissions);
  if (block.descriptor < 0) refuse_unopenable_file();
  // A block goes into a file, or into a device (/dev/null, a terminal); a
  // pipe or a socket would take it in pieces, or hold the run once full.
  struct stat status {};
  if (fstat(block.descriptor, &status) != 0 ||
      !(S_ISREG(status.st_mode) || S_ISCHR(status.st_mode))) {
    close(block.descriptor);
    std::fprintf(stderr, "interval-fit: etest.txt is neither a regular file nor a device\n");
    refuse_unopenable_file();
  }
  const int flags = fcntl(block.descriptor, F_GETFL);
  if (flags >= 0) fcntl(block.descriptor, F_SETFL, flags & ~O_NONBLOCK);
  return block;
}

void append_results(ResultsBlock& block, const char* format, ...) {
  // Measured first, then formatted in place: the same text fprintf gives.
  std::va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length <= 0) return;
  const std::size_t start = block.text.size();
  // vsnprintf writes its terminator one past the text; the string's own
  // terminator slot takes it.
  block.text.resize(start + static_cast<std::size_t>(length));
  va_start(arguments, format);
  std::vsnprintf(block.text.data() + start, static_cast<std::size_t>(length) + 1, format,
                 arguments);
  va_end(arguments);
}

void close_results_file(ResultsBlock& block) {
  lock_for_block(block.descriptor);
  const bool written = write_whole(block.descriptor, block.text);
  flock(block.descriptor, LOCK_UN);
  const bool closed = close(block.descriptor) == 0;
  block.descriptor = -1;
  if (!written || !closed) report_incomplete_block();
}
