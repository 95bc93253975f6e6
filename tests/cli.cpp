#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

std::string slurp(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

void cli_test::SetUp() {
  char templ[] = "/tmp/stampcut-test-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  dir_ = templ;
}

void cli_test::TearDown() {
  std::system(("chmod -R u+rwx " + dir_ + " && rm -rf " + dir_).c_str());
}

std::string cli_test::write(const std::string &name,
                            const std::string &content) {
  std::ofstream(path(name), std::ios::binary) << content;
  return path(name);
}

int cli_test::shell(const std::string &command) const {
  std::string line = "cd " + dir_ + " && { " + command + "\n}";
  int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string cli_test::read(const std::string &name) const {
  return slurp(path(name));
}

run_result cli_test::run(const std::string &args,
                         const std::string &feed) const {
  // The test's own redirections come after these, so they win.
  int status = shell((feed.empty() ? "" : feed + " | ") +
                     "TZ=UTC " STAMPCUT_BIN " >.out 2>.err " + args);
  return {read(".out"), read(".err"), status};
}

std::string stamp(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm;
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string lines(std::initializer_list<int64_t> times, const char *eol) {
  std::string s;
  for (int64_t t : times)
    s += stamp(t) + " event " + std::to_string(t) + eol;
  return s;
}
