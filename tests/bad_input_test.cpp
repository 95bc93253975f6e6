// Whatever a file holds, a run ends with a defined output and status.
#include "cli.h"
#include "timing.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>

namespace {

using namespace std::string_literals;

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z

// What the scan prints reading content from its first byte, modelled
// plainly: records from a digit to an LF or CR, an unterminated one never.
// *stop gets the offset of a record without a time that ended the run;
// *back is set when a record taken is earlier than one before it.
std::string reference_scan(const std::string &content, uint64_t start,
                           uint64_t end, std::size_t *stop = nullptr,
                           bool *back = nullptr) {
  std::string out;
  int64_t latest = -1;
  for (std::size_t at = 0;;) {
    std::size_t p = content.find_first_of("0123456789", at);
    std::size_t e = content.find_first_of("\r\n", p);
    if (p == std::string::npos || e == std::string::npos)
      return out;
    std::string record = content.substr(p, e - p);
    int64_t time = parse_date(record.c_str());
    if (back != nullptr && time >= 0 && time < latest)
      *back = true;
    latest = std::max(latest, time);
    uint64_t t = static_cast<uint64_t>(time);
    if (end != 0 && t > end) {
      if (stop != nullptr && t == UINT64_MAX)
        *stop = p;
      return out;
    }
    if (t > start)
      out += record + "\n";
    at = e + 1;
  }
}

std::string junk(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char &c : s)
    c = static_cast<char>(rng());
  return s;
}

class BadInput : public cli_test {};

TEST_F(BadInput, EveryFileEndsTheRunCleanly) {
  const std::string big(1 << 20, 'x');
  const std::string sorted = lines({T + 1, T + 2, T + 3});
  struct bad_case {
    const char *what;
    std::string content;
    uint64_t start, end;
    bool sorted; // the search then may not change the output
    // A pipe ends inside a long selected record, which it has written up
    // to there; a file is read to its end before any of it is.
    bool ends_inside = false;
  } cases[] = {
      {"empty", "", 0, 0, true},
      {"only zero bytes", std::string(20000, '\0'), 0, 0, true},
      // A sparse file's hole, passed over many bytes at a time.
      {"zero bytes before the lines",
       std::string(100003, '\0') + "\0\0 9"s + std::string(20, '\0') + sorted,
       T + 1, 0, true},
      {"only LFs", std::string(20000, '\n'), 0, T, true},
      {"only CRs", std::string(20000, '\r'), 0, T, true},
      {"no digit across windows",
       [] {
         std::string s;
         for (int i = 0; i < 5000; ++i)
           s += "no time here\n";
         return s;
       }(),
       0, 0, true},
      {"binary junk", junk(100000, 1), 0, 0, false},
      {"binary junk with an end bound", junk(100000, 2), 5, T, false},
      {"timestamps amid junk", junk(30000, 3) + "\n" + sorted + junk(30000, 4),
       T, 0, false},
      {"1 MiB record, selected", sorted + stamp(T + 4) + big + "\n" + sorted,
       T + 3, 0, false},
      {"1 MiB record, not selected",
       sorted + stamp(T + 4) + big + "\n" + lines({T + 5}), T + 4, 0, true},
      {"1 MiB record past the end", sorted + stamp(T + 4) + big + "\n" + sorted,
       T, T + 3, false},
      {"1 MiB record without terminator", sorted + stamp(T + 4) + big, T, 0,
       true, true},
      {"1 MiB CR-terminated record", stamp(T + 4) + big + "\r" + sorted, T, 0,
       false},
      {"unsorted", lines({T + 5, T + 1, T + 9, T + 2, T + 7, T + 3}), T + 2,
       T + 8, false},
      {"start above every time", sorted, T + 100, 0, true},
      {"zero bytes inside records", stamp(T + 1) + "\0a\0\n"s + sorted, T, 0,
       false},
  };
  for (const bad_case &c : cases) {
    write("f", c.content);
    const std::string bounds =
        std::to_string(c.start) + " " + std::to_string(c.end);
    std::size_t stop = std::string::npos;
    bool back = false;
    const std::string want =
        reference_scan(c.content, c.start, c.end, &stop, &back);
    // A run stopped by a record without a time says where, once.
    auto note = [stop](const std::string &name) {
      return stop == std::string::npos
                 ? ""
                 : "stampcut: " + name +
                       ": stopped at a line without a timestamp, byte " +
                       std::to_string(stop) + ": ";
    };
    run_result piped = run("/dev/stdin " + bounds, "cat f");
    EXPECT_EQ(piped.out,
              c.ends_inside ? want + stamp(T + 4) + big + "\n" : want)
        << c.what;
    EXPECT_EQ(piped.status, 0) << c.what;
    EXPECT_EQ(piped.err.substr(0, note("/dev/stdin").size()),
              note("/dev/stdin"))
        << c.what;
    // Else only the notes on what the output cannot show: a last record
    // without a terminator, no time at all, an empty interval; and a step
    // back in time.
    if (stop != std::string::npos)
      EXPECT_EQ(std::count(piped.err.begin(), piped.err.end(), '\n'),
                1 + (back ? 1 : 0))
          << c.what;
    else
      EXPECT_EQ(piped.err.find("stopped at"), std::string::npos) << c.what;
    EXPECT_EQ(piped.err.find(": not in time order: ") != std::string::npos,
              back)
        << c.what;
    run_result searched = run("f " + bounds);
    EXPECT_EQ(searched.status, 0) << c.what;
    if (c.sorted) {
      EXPECT_EQ(searched.out, want) << c.what;
      EXPECT_EQ(searched.err.substr(0, note("f").size()), note("f")) << c.what;
    }
  }
}

TEST_F(BadInput, SpecialFiles) {
  const std::string log = lines({T + 1, T + 2, T + 3});
  write("log", log);
  mkfifo(path("fifo").c_str(), 0600);
  std::ifstream proc("/proc/version");
  const std::string version((std::istreambuf_iterator<char>(proc)),
                            std::istreambuf_iterator<char>());
  struct special {
    const char *what;
    std::string args, feed, want, err = "";
  } cases[] = {
      {"FIFO with a writer", "fifo 0 & cat log >fifo; wait", "",
       reference_scan(log, 0, 0)},
      {"/dev/null", "/dev/null 0", "", ""},
      // A regular file that says it is empty, however much it holds.
      {"a file of /proc", "/proc/version 0", "",
       version.substr(version.find_first_of("0123456789")),
       "stampcut: /proc/version: no line has a timestamp stampcut reads\n"},
      {"terminal-less standard input", "/dev/stdin " + std::to_string(T + 1),
       "cat log", lines({T + 2, T + 3})},
  };
  for (const special &c : cases) {
    run_result r = run(c.args, c.feed);
    EXPECT_EQ(r.out, c.want) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
  }
}

// A log about 4 MiB long, which the run cannot take in one go: its output
// waits on a pipe while the file changes under it.
TEST_F(BadInput, FileChangingWhileRead) {
  std::string log;
  for (int i = 0; i < 60000; ++i)
    log += stamp(T + i) + " a line of about seventy bytes in all, say\n";
  const std::string appended = lines({T + 70000});
  std::string rewritten;
  for (int i = 0; i < 30000; ++i)
    rewritten += stamp(T + i) + " NEW line " + std::to_string(i) + "\n";
  const std::string cut = "stampcut: log: truncated while being read\n";
  struct change {
    const char *what, *command;
    std::string full; // the output were the file read whole
    std::string status = "0\n", err = "";
  } cases[] = {
      // Below the offset the scan has read, and above it: the last read
      // may hold bytes of a file written anew.
      {"shrinks", "truncate -s 100000 log", log, "255\n", cut},
      {"shrinks, not as far as the scan", "truncate -s 3000000 log", log,
       "255\n", cut},
      {"is written anew, as copytruncate does",
       "truncate -s 0 log; cat new >>log", log, "255\n", cut},
      {"grows", "cat more >>log", log + appended},
  };
  for (const change &c : cases) {
    write("log", log);
    write("more", appended);
    write("new", rewritten);
    // The pipe holds 64 KiB: stampcut is blocked well before the end.
    std::string command = "{ TZ=UTC " STAMPCUT_BIN
                          " log 0 2>.err; echo $? >status; } | "
                          "{ head -c 1000 >.out; " +
                          std::string(c.command) + "; cat >>.out; }";
    ASSERT_EQ(shell(command), 0) << c.what;
    std::string out = read(".out");
    EXPECT_EQ(read("status"), c.status) << c.what;
    EXPECT_EQ(read(".err"), c.err) << c.what;
    EXPECT_GE(out.size(), 1000u) << c.what;
    EXPECT_EQ(out, c.full.substr(0, out.size())) << c.what;
    EXPECT_EQ(out.back(), '\n') << c.what;
  }
}

} // namespace
