// Runs the built stampcut binary on files that a test writes.
#ifndef STAMPCUT_TESTS_CLI_H
#define STAMPCUT_TESTS_CLI_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

struct run_result {
  std::string out;
  std::string err;
  int status;
};

// A fresh directory per test, removed afterwards.
class cli_test : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  std::string path(const std::string &name) const {
    return dir_ + "/" + name;
  }
  std::string write(const std::string &name, const std::string &content);
  // Runs "stampcut ARGS" through the shell in the test's directory, with
  // TZ=UTC; ARGS may carry redirections. A FEED command, when given, pipes
  // its output into standard input.
  run_result run(const std::string &args, const std::string &feed = "") const;
  // Runs a shell command in the test's directory; its exit status.
  int shell(const std::string &command) const;
  std::string read(const std::string &name) const;

private:
  std::string dir_;
};

// An ISO-8601 UTC timestamp for t.
std::string stamp(int64_t t);
// Lines "STAMP text" for the given times, each ending with eol.
std::string lines(std::initializer_list<int64_t> times, const char *eol = "\n");

// The stamp of time t as software writes it: strftime's pattern for the
// clock offset seconds east of UTC, @s and @Q standing for the epoch in
// seconds and milliseconds.
std::string shaped(std::string pattern, int64_t t, int offset = 0);

// A shape of log that everyday software writes, and the FORMAT that reads
// it: each is read back from a file and through a pipe.
struct shape {
  const char *what, *format, *pattern;
  int offset = 0;
  bool yearless = false; // its year comes from the reference
};
extern const shape shapes[19];

#endif
