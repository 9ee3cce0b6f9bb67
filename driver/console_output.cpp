#include "driver/console_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The errno of the first failed flush; 0 while none has failed.
int first_failure = 0;

}  // namespace

void keep_standard_descriptors_open() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free number, which is this one.  Standard
    // output gets a read-only descriptor: every write to it fails and the
    // failure is reported at the checks.
    const int flags = descriptor == 2 ? O_WRONLY : O_RDONLY;
    if (open("/dev/null", flags) != descriptor) std::_Exit(1);
  }
}

void report_file_size_limit_as_write_failure() { std::signal(SIGXFSZ, SIG_IGN); }

void flush_console() {
  if (std::fflush(stdout) != 0 && first_failure == 0) first_failure = errno;
}

void require_console_written() {
  flush_console();
  if (std::ferror(stdout) == 0) return;
  // A write that failed inside the buffer's earlier flushes left its reason
  // in errno then; the flushes here remember the first one they see.
  const int reason = first_failure != 0 ? first_failure : EIO;
  std::fprintf(stderr, "interval-fit: the report could not be written to standard output: %s\n",
               std::strerror(reason));
  std::exit(1);
}

int flush_failure(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return 0;
  return errno != 0 ? errno : EIO;
}
