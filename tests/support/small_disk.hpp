// A file system of a few kilobytes, for tests of what a program does when
// the disk fills up: a tmpfs mounted on a fresh folder, unmounted when the
// object goes.  Mounting needs the privilege to mount (root in CI); where
// it is missing, mounted() is false and why() says so, for the test to skip.
#pragma once

#if defined(__linux__)
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& folder, int kilobytes) : folder_(folder) {
    std::filesystem::create_directories(folder_);
#if defined(__linux__)
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      why_ = std::string("cannot mount a small tmpfs here: ") + std::strerror(errno);
    }
#else
    (void)kilobytes;
    why_ = "a small tmpfs is mounted on Linux only";
#endif
  }
  ~SmallDisk() {
#if defined(__linux__)
    if (mounted_) umount(folder_.c_str());
#endif
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string why_;
};
