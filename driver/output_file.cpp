#include "driver/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "driver/file_identity.hpp"

namespace {

// Temporaries open at once, at most: a program writes two outputs, and the
// plot one more for the plotting library.
constexpr std::size_t cleanup_slot_count = 8;
// The longest temporary path the handler can hold.
constexpr std::size_t longest_cleanup_path = 4096;

// What the signal handler removes.  A slot is filled before it is marked in
// use and marked free before its file is renamed or removed, so the handler
// sees either nothing or a whole path; removing a path that has just been
// renamed away fails harmlessly.
struct CleanupSlot {
  volatile std::sig_atomic_t in_use = 0;
  std::array<char, longest_cleanup_path> path{};
};
std::array<CleanupSlot, cleanup_slot_count> cleanup_slots;

constexpr std::array<int, 4> cleaned_up_signals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void remove_temporaries_and_reraise(int signal_number) {
  for (CleanupSlot& slot : cleanup_slots) {
    if (slot.in_use != 0) unlink(slot.path.data());
  }
  // The handler was installed with SA_RESETHAND: the signal, raised again,
  // ends the process as it would have without us once the handler returns.
  raise(signal_number);
}

void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal_number : cleaned_up_signals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0) continue;
    // A signal the caller chose to ignore stays ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = remove_temporaries_and_reraise;
    sigemptyset(&cleanup.sa_mask);
    for (const int other : cleaned_up_signals) sigaddset(&cleanup.sa_mask, other);
    cleanup.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(signal_number, &cleanup, nullptr);
  }
}

int claim_cleanup_slot(const std::string& path) {
  if (path.size() >= longest_cleanup_path) return -1;
  for (std::size_t k = 0; k < cleanup_slots.size(); ++k) {
    CleanupSlot& slot = cleanup_slots[k];
    if (slot.in_use != 0) continue;
    std::memcpy(slot.path.data(), path.c_str(), path.size() + 1);
    slot.in_use = 1;
    return static_cast<int>(k);
  }
  return -1;
}

void free_cleanup_slot(int slot) {
  if (slot >= 0) cleanup_slots[static_cast<std::size_t>(slot)].in_use = 0;
}

// The permissions a new file gets from fopen(): 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& folder, const std::string& stem) {
  std::string pattern = folder + "/." + stem + ".XXXXXX";
  if (pattern.size() >= longest_cleanup_path) {
    problem_ = std::strerror(ENAMETOOLONG);
    return;
  }
  install_cleanup_handlers();
  // The signals are held back from the file's creation until its slot is
  // filled, so that no signal can leave the file behind.
  sigset_t held;
  sigset_t previous;
  sigemptyset(&held);
  for (const int signal_number : cleaned_up_signals) sigaddset(&held, signal_number);
  sigprocmask(SIG_BLOCK, &held, &previous);
  descriptor_ = mkstemp(pattern.data());
  const int error = errno;
  if (descriptor_ >= 0) {
    slot_ = claim_cleanup_slot(pattern);
    path_ = pattern;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (descriptor_ < 0) {
    problem_ = std::strerror(error);
  } else if (slot_ < 0) {
    problem_ = "too many temporary files at once";
    close(std::exchange(descriptor_, -1));
    unlink(path_.c_str());
    path_.clear();
  }
}

TemporaryFile::~TemporaryFile() {
  if (descriptor_ >= 0) close(descriptor_);
  if (!kept_ && !path_.empty()) {
    free_cleanup_slot(slot_);
    unlink(path_.c_str());
  }
}

int TemporaryFile::release_descriptor() { return std::exchange(descriptor_, -1); }

int TemporaryFile::rename_to(const std::string& target) {
  if (std::rename(path_.c_str(), target.c_str()) != 0) return errno;
  free_cleanup_slot(slot_);
  slot_ = -1;
  kept_ = true;
  return 0;
}

std::string temporary_folder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

OutputFile::OutputFile(std::string name, std::string description, bool dash_is_standard_output)
    : name_(std::move(name)),
      description_(std::move(description)),
      dash_is_standard_output_(dash_is_standard_output) {}

OutputFile::~OutputFile() {
  if (stream_ != nullptr && !standard_output_) std::fclose(stream_);
}

std::string OutputFile::failure(int error) const {
  if (standard_output_)
    return std::string("can't write to standard output: ") + std::strerror(error);
  return "can't write " + description_ + " " + name_ + ": " + std::strerror(error);
}

std::string OutputFile::open() {
  namespace fs = std::filesystem;
  if (dash_is_standard_output_ && name_ == "-") {
    standard_output_ = true;
    stream_ = stdout;
    return {};
  }
  if (name_.empty()) return failure(ENOENT);
  // A link is replaced where it points, so that it stays a link.
  target_ = followed_path(name_);
  struct stat status {};
  const bool exists = stat(target_.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) return failure(EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    // A device or a pipe: nothing to replace, written where it is.
    stream_ = std::fopen(target_.c_str(), "wb");
    if (stream_ == nullptr) return failure(errno);
    return {};
  }
  if (exists && access(target_.c_str(), W_OK) != 0) return failure(errno);

  const fs::path target_path(target_);
  std::string folder = target_path.parent_path().string();
  if (folder.empty()) folder = ".";
  temporary_ = std::make_unique<TemporaryFile>(folder, target_path.filename().string());
  if (!temporary_->ok()) {
    std::string problem =
        "can't write " + description_ + " " + name_ + ": " + temporary_->problem();
    temporary_.reset();
    return problem;
  }
  const int descriptor = temporary_->release_descriptor();
  // The new file gets the earlier file's permissions, or those a newly
  // created file would have had.
  fchmod(descriptor, exists ? static_cast<mode_t>(status.st_mode & 07777) : new_file_mode());
  stream_ = fdopen(descriptor, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    close(descriptor);
    temporary_.reset();
    return failure(error);
  }
  return {};
}

std::string OutputFile::commit() {
  if (stream_ == nullptr) return failure(EBADF);
  errno = 0;
  bool failed = std::fflush(stream_) != 0 || std::ferror(stream_) != 0;
  int error = errno;
  if (standard_output_) {
    stream_ = nullptr;
    return failed ? failure(error != 0 ? error : EIO) : std::string();
  }
  // On disk before the name moves, so that a crash cannot leave an empty
  // file under the name of a complete one.
  if (!failed && temporary_ != nullptr && fsync(fileno(stream_)) != 0) {
    failed = true;
    error = errno;
  }
  errno = 0;
  if (std::fclose(stream_) != 0 && !failed) {
    failed = true;
    error = errno;
  }
  stream_ = nullptr;
  if (failed) {
    temporary_.reset();
    return failure(error != 0 ? error : EIO);
  }
  if (temporary_ != nullptr) {
    const int rename_error = temporary_->rename_to(target_);
    temporary_.reset();
    if (rename_error != 0) return failure(rename_error);
  }
  return {};
}
