// Running a built program as a user does: in a scratch directory of its own,
// with the answers on standard input, and everything it leaves behind
// (output, errors, exit status, files) collected for comparison.
#pragma once

#include <filesystem>
#include <string>

struct ProgramRun {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;  // empty when absent
  bool exists(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// The path of a program built at the top of the build folder.
std::string built_program(const std::string& name);

// Runs `program` with `arguments` (already quoted for the shell) in `where`,
// feeding `standard_input`.
ProgramRun run_program(const ScratchDirectory& where, const std::string& program,
                       const std::string& standard_input, const std::string& arguments = "");

// The same, but as a user to whom file permissions apply: run by the
// superuser (as in CI), the program runs as the unprivileged user "nobody"
// through setpriv, with the scratch directory opened up to it, so that a
// read-only file really is read-only.
ProgramRun run_program_unprivileged(const ScratchDirectory& where, const std::string& program,
                                    const std::string& standard_input);
