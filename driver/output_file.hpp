// Files that a user keeps, written so that no earlier result is ever lost.
//
// A result goes first into a temporary file beside its target (same folder,
// so the same file system), every write, the flush and the close are
// checked, and only a complete file is renamed over the target: rename()
// replaces the name in one step, so whoever reads the target sees either
// the earlier file or the new one, never half of either.  A failed or
// interrupted run removes its temporary and leaves the earlier file exactly
// as it was: an exit() from anywhere, and the signals that end a process
// (SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, the user and timer signals,
// SIGXCPU), remove every temporary still open before the process ends as
// it would have anyway.
//
// Not every target can be replaced: standard output ("-" where a program
// allows it), existing devices or pipes (/dev/null, a named pipe) and the
// names of open descriptors (/dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N, as a process substitution gives) are written directly,
// with the same checks; a descriptor's name is written through the
// descriptor itself, so a shell's ">>" still appends.  A file that standard
// output or standard error is open on is never renamed over either: it is
// written through that stream.  A target that is a symbolic link is
// replaced where the link points, so the link stays a link; a loop of
// links is refused.  An existing file the user cannot write, or cannot
// replace (someone else's file in a folder with the sticky bit), is
// refused when the output is opened, as opening it for writing would be.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// A file in a folder, with a name no other file has, that is removed when
// the object goes (or when a signal ends the process) unless kept.
class TemporaryFile {
 public:
  // Creates "<folder>/.<stem>.XXXXXX" with mode 0600, the stem cut short
  // where the name would be too long for the folder.  When that fails,
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
  // True for "-" and for every name of standard output.
  bool is_standard_output() const { return standard_output_; }
  const std::string& name() const { return name_; }

  // Flushes, checks and closes what was written, then puts it in place.
  // Returns an empty text, or why the file could not be written, in which
  // case the target is left as it was.
  std::string commit();

  // "can't write <description> <name>: <the system's reason for error>".
  std::string failure(int error) const;

 private:
  // Writes through an open descriptor of this process.
  std::string open_descriptor(int descriptor);

  std::string name_;
  std::string description_;
  bool dash_is_standard_output_;
  bool standard_output_ = false;
  bool borrowed_stream_ = false;  // stdout or stderr: flushed, never closed
  std::FILE* stream_ = nullptr;
  std::string target_;  // what the temporary is renamed to
  std::unique_ptr<TemporaryFile> temporary_;
};

// The folder that temporaries without a place of their own go to: $TMPDIR
// when it is set, else /tmp.
std::string temporary_folder();

// Whether `bytes` can be written to a new file in `folder`: an empty text,
// or the system's reason why not.  The file is removed again.  For a
// library that needs scratch space there and ends the process without it.
std::string scratch_space_problem(const std::string& folder, std::size_t bytes);
