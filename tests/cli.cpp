#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <utility>

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

std::string shaped(std::string pattern, int64_t t, int offset) {
  for (const auto &[mark, value] : {std::pair{"@s", std::to_string(t)},
                                    std::pair{"@Q", std::to_string(t) + "123"}})
    for (std::size_t at; (at = pattern.find(mark)) != std::string::npos;)
      pattern.replace(at, 2, value);
  std::time_t clock = static_cast<std::time_t>(t + offset);
  std::tm tm;
  gmtime_r(&clock, &tm);
  char text[512];
  return std::string(text,
                     std::strftime(text, sizeof text, pattern.c_str(), &tm));
}

const shape shapes[19] = {
    {"Python logging", "%Y-%m-%d %H:%M:%S",
     "%Y-%m-%d %H:%M:%S,123 INFO app: started"},
    {"log4j, logback", "%F %T,%f", "%Y-%m-%d %H:%M:%S,123 [main] INFO a.B - x"},
    {"nginx and Apache access", "[%d/%b/%Y:%H:%M:%S %z]",
     "10.0.0.7 - - [%d/%b/%Y:%H:%M:%S +0100] \"GET /a/1 HTTP/1.1\" 200 612",
     3600},
    {"nginx error, Go's log", "%Y/%m/%d %H:%M:%S",
     "%Y/%m/%d %H:%M:%S [error] 7#7: *1 open() failed (2: No such file)"},
    {"Apache error", "[%a %b %d %H:%M:%S %Y]",
     "[%a %b %d %H:%M:%S.123456 %Y] [core:error] [pid 42:tid 7] AH00037"},
    {"classic syslog", "%b %e %H:%M:%S", "%b %e %H:%M:%S web-01 app[123]: x", 0,
     true},
    {"RFC 5424", "%FT%T%z", "<34>1 %Y-%m-%dT%H:%M:%S.003-05:00 h app - - x",
     -18000},
    {"journalctl -o short-iso", "%FT%T%z",
     "%Y-%m-%dT%H:%M:%S+0100 web-01 app[123]: x", 3600},
    {"Docker's JSON log, the time past byte 128", "\"time\":\"%FT%T%z",
     "{\"log\":\"GET /api/v2/orders/1234567 200 8123b 12ms ua=curl/8.5 "
     "ref=https://example.com/checkout?id=98765&step=2 x=0123456789\\n\","
     "\"stream\":\"stdout\",\"time\":\"%Y-%m-%dT%H:%M:%S.123456789Z\"}"},
    {"CRI", "%FT%T%z", "%Y-%m-%dT%H:%M:%S.123456789Z stdout F x"},
    {"PostgreSQL", "%F %T %Z", "%Y-%m-%d %H:%M:%S.123 UTC [4242] LOG:  x"},
    {"MySQL", "%FT%T%z", "%Y-%m-%dT%H:%M:%S.123456Z 0 [System] [MY-010116] x"},
    {"pino, epoch milliseconds", "\"time\":%Q",
     "{\"level\":30,\"time\":@Q,\"pid\":4242,\"msg\":\"x\"}"},
    {"zap, epoch seconds with a fraction", "\"ts\":%s",
     "{\"level\":\"info\",\"ts\":@s.1234567,\"msg\":\"x\"}"},
    {"Android logcat", "%m-%d %H:%M:%S",
     "%m-%d %H:%M:%S.811  1702  2395 D WindowManager: x", 0, true},
    {"HDFS", "%y%m%d %H%M%S", "%y%m%d %H%M%S 148 INFO dfs.DataNode: x"},
    {"JSON lines", "\"ts\":\"%FT%T",
     "{\"pid\":4242,\"ts\":\"%Y-%m-%dT%H:%M:%S.123Z\",\"msg\":\"x\"}"},
    {"a space for T", "%F %T", "%Y-%m-%d %H:%M:%S,123 INFO x"},
    {"full names", "%A, %B %e, %Y %R:%S", "%A, %B %e, %Y %H:%M:%S x"},
};
