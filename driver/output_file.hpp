// Files that a user keeps, written so that no earlier result is ever lost.
//
// A result goes first into a temporary file beside its target (same folder,
// so the same file system), every write, the flush and the close are
// checked, and only a complete file is renamed over the target: rename()
// replaces the name in one step, so whoever reads the target sees either
// the earlier file or the new one, never half of either.  A failed or
// interrupted run removes its temporary and leaves the earlier file exactly
// as it was; SIGINT, SIGTERM, SIGHUP and SIGPIPE remove every temporary
// still open before the signal ends the process as it would have anyway.
//
// Not every target can be replaced: standard output ("-" where a program
// allows it) and existing devices or pipes (/dev/null, a named pipe, a
// process substitution) are written directly, with the same checks.  A
// target that is a symbolic link is replaced where the link points, so the
// link stays a link.  An existing file the user cannot write is refused, as
// opening it for writing would be.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

// A file in a folder, with a name no other file has, that is removed when
// the object goes (or when a signal ends the process) unless kept.
class TemporaryFile {
 public:
  // Creates "<folder>/.<stem>.XXXXXX" with mode 0600.  When that fails,
  // ok() is false and problem() says why, in the system's words.
  TemporaryFile(const std::string& folder, const std::string& stem);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& problem() const { return problem_; }
  const std::string& path() const { return path_; }
  // The open descriptor, handed over: the caller closes it from now on.
  int release_descriptor();
  // Renames the file to `target`.  Returns 0, or the errno of the failure
  // (the temporary is then still there, and removed as usual).
  int rename_to(const std::string& target);

 private:
  std::string path_;
  std::string problem_;
  int descriptor_ = -1;
  int slot_ = -1;  // in the table that the signal handler clears
  bool kept_ = false;
};

class OutputFile {
 public:
  // `description` names the file in messages ("the CSV file"); `dash_is_
  // standard_output` lets "-" stand for standard output.
  OutputFile(std::string name, std::string description, bool dash_is_standard_output);
  ~OutputFile();  // abandons an output that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks the name and its folder and opens the temporary (or the device,
  // or takes standard output).  Returns an empty text, or the problem in a
  // sentence that names the file and the system's reason.
  std::string open();
  std::FILE* stream() const { return stream_; }
  bool is_standard_output() const { return standard_output_; }
  const std::string& name() const { return name_; }

  // Flushes, checks and closes what was written, then puts it in place.
  // Returns an empty text, or why the file could not be written, in which
  // case the target is left as it was.
  std::string commit();

  // "can't write <description> <name>: <the system's reason for error>".
  std::string failure(int error) const;

 private:
  std::string name_;
  std::string description_;
  bool dash_is_standard_output_;
  bool standard_output_ = false;
  std::FILE* stream_ = nullptr;
  std::string target_;  // what the temporary is renamed to
  std::unique_ptr<TemporaryFile> temporary_;
};

// The folder that temporaries without a place of their own go to: $TMPDIR
// when it is set, else /tmp.
std::string temporary_folder();
