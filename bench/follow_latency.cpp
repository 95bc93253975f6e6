// Latency of -F: appends a line at a time to a log that stampcut follows,
// each to an idle follow, and times each from the append to the line's
// arrival on stampcut's standard output, a pipe. Prints the median and the
// worst, in milliseconds.
//
// Usage: follow_latency STAMPCUT [APPENDS [DIR]]
//   APPENDS  lines appended, one at a time (default 1000)
//   DIR      where the log is written (default /tmp)
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double seconds_now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Reads from fd until count LFs have come in all; false at its end.
bool read_lines(int fd, long count, long *seen) {
  char buf[4096];
  while (*seen < count) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    *seen += std::count(buf, buf + n, '\n');
  }
  return true;
}

std::string line_at(long i) {
  std::time_t t = 1709294400 + i;
  std::tm tm;
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return std::string(text) + " append " + std::to_string(i) + "\n";
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: follow_latency STAMPCUT [APPENDS [DIR]]\n");
    return 2;
  }
  const long appends = argc > 2 ? std::atol(argv[2]) : 1000;
  const std::string log =
      std::string(argc > 3 ? argv[3] : "/tmp") + "/follow-latency.log";
  int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  std::string first = line_at(0);
  if (out < 0 || write(out, first.data(), first.size()) < 0) {
    std::perror(log.c_str());
    return 1;
  }
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return 1;
  pid_t child = fork();
  if (child == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    setenv("TZ", "UTC", 1);
    execl(argv[1], argv[1], "-F", log.c_str(), "0",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pipe_fds[1]);
  long seen = 0;
  if (!read_lines(pipe_fds[0], 1, &seen))
    return 1;
  std::vector<double> latency;
  for (long i = 1; i <= appends; ++i) {
    // Long enough for the follow to be waiting again.
    usleep(2000);
    std::string line = line_at(i);
    double began = seconds_now();
    if (write(out, line.data(), line.size()) < 0 ||
        !read_lines(pipe_fds[0], i + 1, &seen)) {
      std::fprintf(stderr, "follow_latency: stampcut stopped\n");
      return 1;
    }
    latency.push_back((seconds_now() - began) * 1000);
  }
  kill(child, SIGINT);
  int status;
  waitpid(child, &status, 0);
  unlink(log.c_str());
  std::sort(latency.begin(), latency.end());
  std::printf("%ld appends: median %.3f ms, worst %.3f ms\n", appends,
              latency[latency.size() / 2], latency.back());
  return 0;
}
