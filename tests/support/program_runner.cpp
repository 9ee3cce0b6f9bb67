#include "tests/support/program_runner.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string environment_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : fallback;
}

std::string read_whole_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (fs::temp_directory_path() / "interval-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a scratch directory");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Tests may leave read-only files and directories behind; make them
  // removable first.
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void ScratchDirectory::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << bytes;
}

std::string ScratchDirectory::read(const std::string& name) const {
  return read_whole_file(path_ / name);
}

bool ScratchDirectory::exists(const std::string& name) const {
  return fs::exists(fs::symlink_status(path_ / name));
}

std::string built_program(const std::string& name) {
  return environment_or("INTERVAL_BUILD_DIR", ".") + "/" + name;
}

namespace {

ProgramRun run_command(const ScratchDirectory& where, const std::string& launcher,
                       const std::string& program, const std::string& standard_input,
                       const std::string& arguments) {
  const fs::path io = fs::temp_directory_path() / (where.path().filename().string() + "-io");
  fs::create_directories(io);
  {
    std::ofstream in(io / "stdin", std::ios::binary);
    in << standard_input;
  }
  const std::string command =
      "cd " + shell_quoted(where.path().string()) + " && " + launcher + shell_quoted(program) +
      " " + arguments + " < " + shell_quoted((io / "stdin").string()) + " > " +
      shell_quoted((io / "stdout").string()) + " 2> " + shell_quoted((io / "stderr").string());
  const int raw = std::system(command.c_str());
  ProgramRun run;
  run.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  run.out = read_whole_file(io / "stdout");
  run.err = read_whole_file(io / "stderr");
  std::error_code ignored;
  fs::remove_all(io, ignored);
  return run;
}

}  // namespace

ProgramRun run_program(const ScratchDirectory& where, const std::string& program,
                       const std::string& standard_input, const std::string& arguments) {
  return run_command(where, "", program, standard_input, arguments);
}

ProgramRun run_program_unprivileged(const ScratchDirectory& where, const std::string& program,
                                    const std::string& standard_input) {
  if (geteuid() != 0) return run_command(where, "", program, standard_input, "");
  // "nobody" must be able to enter the directory and read what is in it;
  // what a test made read-only stays so (no write bit is added).
  std::error_code ignored;
  fs::permissions(where.path(),
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ignored);
  for (const auto& entry : fs::directory_iterator(where.path(), ignored)) {
    if (fs::is_regular_file(entry.path())) {
      fs::permissions(entry.path(), fs::perms::group_read | fs::perms::others_read,
                      fs::perm_options::add, ignored);
    }
  }
  return run_command(where, "setpriv --reuid=65534 --regid=65534 --clear-groups ", program,
                     standard_input, "");
}
