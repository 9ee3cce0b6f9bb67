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
// The longest name in a folder, where the folder does not say.
constexpr std::size_t default_name_limit = 255;

// What the signal handler removes.  A slot is filled before it is marked in
// use and marked free before its file is renamed or removed, so the handler
// sees either nothing or a whole path; removing a path that has just been
// renamed away fails harmlessly.
struct CleanupSlot {
  volatile std::sig_atomic_t in_use = 0;
  std::array<char, longest_cleanup_path> path{};
};
std::array<CleanupSlot, cleanup_slot_count> cleanup_slots;

// Every signal whose default action ends the process and that a user, a
// shell or a batch system sends to stop a run: Ctrl-C, Ctrl-\, kill, a
// closed terminal or pipe, the user signals, the timers, a limit reached.
constexpr std::array<int, 12> cleaned_up_signals = {SIGINT,    SIGTERM, SIGHUP,  SIGPIPE,
                                                    SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM,
                                                    SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};

void remove_temporaries() {
  for (CleanupSlot& slot : cleanup_slots) {
    if (slot.in_use != 0) unlink(slot.path.data());
  }
}

extern "C" void remove_temporaries_and_reraise(int signal_number) {
  remove_temporaries();
  // The handler was installed with SA_RESETHAND: the signal, raised again,
  // ends the process as it would have without us once the handler returns.
  raise(signal_number);
}

void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  // exit() ends the process on paths that never return to the objects
  // holding the temporaries: a refused memory request, a numerical failure,
  // the plotting library giving up.
  std::atexit(remove_temporaries);
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
  // The temporary's name adds 8 bytes to the stem; a stem cut short keeps
  // it within the folder's limit, so any name the folder takes can be
  // written (mkstemp makes the name unique all the same).
  const long longest_name = pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t name_limit =
      longest_name > 0 ? static_cast<std::size_t>(longest_name) : default_name_limit;
  const std::size_t added = std::strlen("..XXXXXX");
  const std::string kept_stem =
      stem.size() + added > name_limit ? stem.substr(0, name_limit - added) : stem;
  std::string pattern = folder + "/." + kept_stem + ".XXXXXX";
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

std::string scratch_space_problem(const std::string& folder, std::size_t bytes) {
  TemporaryFile probe(folder, "interval-scratch");
  if (!probe.ok()) return probe.problem();
  const int descriptor = probe.release_descriptor();
  const std::string zeros(bytes, '\0');
  std::size_t written = 0;
  int error = 0;
  while (written < bytes && error == 0) {
    const ssize_t count = write(descriptor, zeros.data() + written, bytes - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      error = count == 0 ? ENOSPC : errno;
    }
  }
  // Space that a file system only promises at the write is claimed at the
  // latest by fsync.
  if (error == 0 && fsync(descriptor) != 0) error = errno;
  close(descriptor);
  return error == 0 ? std::string() : std::strerror(error);
}

OutputFile::OutputFile(std::string name, std::string description, bool dash_is_standard_output)
    : name_(std::move(name)),
      description_(std::move(description)),
      dash_is_standard_output_(dash_is_standard_output) {}

OutputFile::~OutputFile() {
  if (stream_ != nullptr && !borrowed_stream_) std::fclose(stream_);
}

std::string OutputFile::failure(int error) const {
  if (standard_output_)
    return std::string("can't write to standard output: ") + std::strerror(error);
  return "can't write " + description_ + " " + name_ + ": " + std::strerror(error);
}

namespace {

// Whether the rename can put a new file in the place of `existing` in
// `folder`.  In a folder with the sticky bit (/tmp, a shared drop folder),
// only the file's owner, the folder's owner and the superuser may move a
// name; anyone else's rename fails, although the file itself may well be
// writable.
bool may_replace(const std::string& folder, const struct stat& existing) {
  struct stat folder_status {};
  if (stat(folder.c_str(), &folder_status) != 0) return true;  // mkstemp will say why
  if ((folder_status.st_mode & S_ISVTX) == 0) return true;
  const uid_t user = geteuid();
  return user == 0 || existing.st_uid == user || folder_status.st_uid == user;
}

// The standard stream that an existing regular file is open as, 1 or 2, or
// -1.  Renaming over it would cut the shell's redirection off from the
// name ("--csv log.txt >> log.txt" would lose what log.txt held).
int standard_stream_holding(const struct stat& file) {
  for (int descriptor = 1; descriptor <= 2; ++descriptor) {
    struct stat open_file {};
    if (fstat(descriptor, &open_file) == 0 && S_ISREG(open_file.st_mode) &&
        open_file.st_dev == file.st_dev && open_file.st_ino == file.st_ino) {
      return descriptor;
    }
  }
  return -1;
}

}  // namespace

std::string OutputFile::open_descriptor(int descriptor) {
  // The descriptor must be open for writing: a closed one or one open for
  // reading only would refuse every write, and is refused at once.
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0) return failure(EBADF);
  if ((flags & O_ACCMODE) == O_RDONLY) return failure(EBADF);
  if (descriptor == 1 || descriptor == 2) {
    // Written through the program's own stream, so that nothing printed
    // there overtakes it.
    standard_output_ = descriptor == 1;
    borrowed_stream_ = true;
    stream_ = descriptor == 1 ? stdout : stderr;
    return {};
  }
  const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return failure(errno);
  stream_ = fdopen(copy, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    close(copy);
    return failure(error);
  }
  return {};
}

std::string OutputFile::open() {
  namespace fs = std::filesystem;
  if (dash_is_standard_output_ && name_ == "-") {
    standard_output_ = true;
    borrowed_stream_ = true;
    stream_ = stdout;
    return {};
  }
  if (name_.empty()) return failure(ENOENT);
  // A link is replaced where it points, so that it stays a link.
  target_ = followed_path(name_);
  if (const int descriptor = descriptor_named(target_); descriptor >= 0) {
    return open_descriptor(descriptor);
  }
  struct stat status {};
  const bool exists = stat(target_.c_str(), &status) == 0;
  // A loop of links, or a chain longer than the system follows, names no
  // file; replacing the link by a file would hide the mistake.
  if (!exists && errno == ELOOP) return failure(ELOOP);
  if (exists && S_ISDIR(status.st_mode)) return failure(EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    // A device or a pipe: nothing to replace, written where it is.
    stream_ = std::fopen(target_.c_str(), "wb");
    if (stream_ == nullptr) return failure(errno);
    return {};
  }
  if (exists && access(target_.c_str(), W_OK) != 0) return failure(errno);
  if (exists) {
    if (const int descriptor = standard_stream_holding(status); descriptor >= 0) {
      return open_descriptor(descriptor);
    }
  }

  const fs::path target_path(target_);
  std::string folder = target_path.parent_path().string();
  if (folder.empty()) folder = ".";
  if (exists && !may_replace(folder, status)) return failure(EPERM);
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
  if (borrowed_stream_) {
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
