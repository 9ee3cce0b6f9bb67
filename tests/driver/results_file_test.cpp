// The results file takes each block in one append, under a lock, so that
// runs in the same folder cannot cut into each other's blocks.
#include "driver/results_file.hpp"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/program_runner.hpp"

namespace {

// A block longer than a stdio buffer (4096 bytes on Linux), which a
// buffered stream would hand to the file in more than one write.
const std::string long_line(10'000, 'x');

// Runs the test in a scratch directory, where etest.txt is written.
class InScratchDirectory {
 public:
  InScratchDirectory() : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(where_.path());
  }
  ~InScratchDirectory() { std::filesystem::current_path(before_); }
  InScratchDirectory(const InScratchDirectory&) = delete;
  InScratchDirectory& operator=(const InScratchDirectory&) = delete;
  const ScratchDirectory& where() const { return where_; }

 private:
  ScratchDirectory where_;
  std::filesystem::path before_;
};

// Long enough for a process that does not wait for the lock to have
// written; the test can only pass wrongly if the machine stalls longer.
constexpr auto time_to_write = std::chrono::milliseconds(300);

}  // namespace

TEST(ResultsFile, ABlockReachesTheFileWholeAtTheCloseAfterWhatWasThere) {
  InScratchDirectory scratch;
  scratch.where().write("etest.txt", "earlier\n");
  ResultsBlock block = open_results_file();
  append_results(block, "%s", long_line.c_str());
  append_results(block, " %d %f\n", 3, 0.5);
  EXPECT_EQ(scratch.where().read("etest.txt"), "earlier\n");
  close_results_file(block);
  EXPECT_EQ(scratch.where().read("etest.txt"), "earlier\n" + long_line + " 3 0.500000\n");
}

TEST(ResultsFile, ABlockWaitsWhileAnotherRunHoldsTheLock) {
  InScratchDirectory scratch;
  scratch.where().write("etest.txt", "");
  const int other_run = open("etest.txt", O_WRONLY | O_APPEND);
  ASSERT_GE(other_run, 0);
  ASSERT_EQ(flock(other_run, LOCK_EX), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ResultsBlock block = open_results_file();
    append_results(block, "%s\n", long_line.c_str());
    close_results_file(block);
    _exit(0);
  }
  std::this_thread::sleep_for(time_to_write);
  EXPECT_EQ(scratch.where().read("etest.txt"), "");
  flock(other_run, LOCK_UN);
  close(other_run);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(scratch.where().read("etest.txt"), long_line + "\n");
}
