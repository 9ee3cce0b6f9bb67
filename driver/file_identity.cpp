#include "driver/file_identity.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

FileIdentity from_status(const struct stat& status) {
  FileIdentity identity;
  identity.known = true;
  identity.exists = true;
  identity.character_device = S_ISCHR(status.st_mode);
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  return identity;
}

// Links followed at most, as the system's own limit for path resolution.
constexpr int most_links_followed = 40;

// The number that `digits` spells, or -1 when it is not a plain decimal
// number that fits an int.
int plain_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return -1;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = 10 * value + (c - '0');
  }
  return value;
}

}  // namespace

int descriptor_named(const std::string& name) {
  const std::string_view text(name);
  if (text == "/dev/stdin") return 0;
  if (text == "/dev/stdout") return 1;
  if (text == "/dev/stderr") return 2;
  for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                    "/proc/" + std::to_string(getpid()) + "/fd/"}) {
    if (text.starts_with(folder)) return plain_number(text.substr(folder.size()));
  }
  return -1;
}

std::string followed_path(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path path(name);
  for (int k = 0;; ++k) {
    std::error_code error;
    if (descriptor_named(path.string()) >= 0) return path.string();
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path.string();
    if (k == most_links_followed) return name;
    const fs::path target = fs::read_symlink(path, error);
    if (error) return path.string();
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
}

FileIdentity identify_path(const std::string& name) {
  namespace fs = std::filesystem;
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) return from_status(status);
  FileIdentity identity;
  identity.known = true;
  const fs::path path(followed_path(name));
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  const fs::path real_folder = fs::canonical(folder, error);
  // A folder that does not exist either: its absolute path, written
  // plainly, is the best name there is (the output will fail to open).
  identity.resolved_path = error ? fs::absolute(path, error).lexically_normal().string()
                                 : (real_folder / path.filename()).string();
  return identity;
}

FileIdentity identify_descriptor(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return {};
  return from_status(status);
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  if (!a.known || !b.known || a.exists != b.exists) return false;
  if (a.exists) {
    return a.device == b.device && a.inode == b.inode && !a.character_device;
  }
  return a.resolved_path == b.resolved_path;
}
