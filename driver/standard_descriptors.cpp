#include "driver/standard_descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

ClosedStandardDescriptors open_closed_standard_descriptors() {
  ClosedStandardDescriptors closed;
  bool* const was_closed[] = {&closed.input, &closed.output, &closed.error};
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    *was_closed[descriptor] = true;
    // open() returns the lowest free number, which is this one, since the
    // lower ones are open by now.
    const int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != descriptor) {
      if (opened >= 0) close(opened);
      closed.not_reopened = true;
      return closed;
    }
  }
  return closed;
}
