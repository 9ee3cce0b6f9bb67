#include "driver/file_identity.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
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

}  // namespace

std::string followed_path(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path path(name);
  for (int k = 0; k < most_links_followed; ++k) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path.string();
    const fs::path target = fs::read_symlink(path, error);
    if (error) return path.string();
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return name;
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
