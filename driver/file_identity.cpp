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

}  // namespace

FileIdentity identify_path(const std::string& name) {
  namespace fs = std::filesystem;
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) return from_status(status);
  FileIdentity identity;
  identity.known = true;
  const fs::path path(name);
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
