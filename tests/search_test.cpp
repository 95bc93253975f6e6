#include "cli.h"
#include "in_process.h"
#include "stampcut.h"
#include "tz.h"
#include "virtual_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <random>

namespace {

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z

// Output of the scan over the file at path, after the search when search
// is set.
std::string select(const std::string &path, bool search, uint64_t start,
                   uint64_t end, cutting how = cutting::records,
                   const stamp_format *format = nullptr) {
  std::string out;
  EXPECT_EQ(run_in_process(path, search, start, end, &out, how, format), 0);
  return out;
}

TEST(Search, WorkedExample) {
  // Ten 24-byte lines, one second apart; then the same, each followed by
  // a 15-byte line without a time, which the probes pass over under -m, and
  // by lines without a digit, which they pass over in the default mode.
  std::string log, traced, blanked, digitless;
  for (int i = 0; i < 10; ++i) {
    log += stamp(T + i) + " ab\n";
    traced += stamp(T + i) + " ab\n\tat F.java:42)\n";
    blanked += stamp(T + i) + " ab\n\n";
    digitless += stamp(T + i) + " ab\nIllegalStateException: boom\n  }\n";
  }
  // A probe's read that holds no line end, in the long line, is later than
  // every bound: the search goes left from it.
  const std::string long_line = log.substr(0, 48) + stamp(T + 2) +
                                std::string(20000, 'x') + "\n" + log.substr(72);
  // Under -m a probe in a trace reads on to the trace's end, a window at a
  // time: the trace goes with a line before the target.
  std::string long_trace = log.substr(0, 72);
  for (int i = 0; i < 4000; ++i)
    long_trace += "\tat F.java:42)\n";
  long_trace += log.substr(72);
  struct {
    const std::string &log;
    cutting how;
    int64_t target;
    std::vector<uint64_t> reads; // the probes, then the alignment
    uint64_t start;
  } cases[] = {
      {log, cutting::records, T + 4, {120, 60, 90, 90}, 96},
      {log, cutting::records, T + 7, {120, 180, 150, 150}, 168},
      {traced, cutting::lines, T + 4, {195, 97, 146, 146}, 156},
      // Lines without a digit are passed over: the probes read no more.
      {blanked, cutting::records, T + 4, {125, 62, 93, 93}, 100},
      {digitless, cutting::records, T + 4, {280, 140, 210, 210}, 224},
      {long_line,
       cutting::records,
       T + 1,
       {10118, 5059, 2529, 1264, 632, 316, 158, 79, 39, 48, 19, 19},
       24},
      {long_trace,
       cutting::lines,
       T + 6,
       {30120, 38307, 46497, 54687, 45180, 53367, 52710, 56475, 58357, 59298,
        59769, 60004, 60122, 60122},
       60144},
  };
  for (const auto &c : cases) {
    virtual_file f = file_of(c.log);
    FILE *in = open_virtual(&f);
    int error;
    EXPECT_EQ(search_from(in, c.target, &error, c.how), c.start);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ftello(in), static_cast<off_t>(c.start));
    EXPECT_EQ(f.reads, c.reads);
    std::fclose(in);
  }
}

TEST(Search, EdgeFilesStartAtTheFirstByte) {
  const std::string cases[] = {
      "",
      stamp(T) + " only line\n",
      // A target below every time.
      stamp(T + 6) + " a\n" + stamp(T + 7) + " b\n" + stamp(T + 8) + " c\n",
      // A probe's second read is a window of the long line, and no more.
      stamp(T + 6) + " a\n" + stamp(T + 7) + std::string(9000, 'x') + "\n" +
          stamp(T + 8) + " c\n",
      // Text before the timestamps makes every probe fail.
      std::string(100, '[') + "\n[" + stamp(T) + "]\n[" + stamp(T + 1) + "]\n",
  };
  for (const std::string &log : cases) {
    virtual_file f = file_of(log);
    FILE *in = open_virtual(&f);
    int error;
    EXPECT_EQ(search_from(in, T + 5, &error), 0u) << log;
    std::fclose(in);
  }
}

TEST(Search, LeavesAStreamThatCannotSeekUntouched) {
  virtual_file f = file_of(stamp(T) + " a\n" + stamp(T + 1) + " b\n");
  f.seekable = false;
  FILE *in = open_virtual(&f);
  int error;
  EXPECT_EQ(search_from(in, T, &error), 0u);
  EXPECT_EQ(f.bytes_read, 0u);
  std::fclose(in);
}

TEST(Search, ReadErrorsEndTheRun) {
  std::string log;
  for (int i = 0; i < 2000; ++i)
    log += stamp(T + i) + " ab\n"; // 24 bytes
  // A record longer than the window, not selected, read on to its end.
  const std::string passed = lines({T + 3}) + stamp(T + 2) +
                             std::string(50000, 'x') + "\n" + lines({T + 4});
  struct {
    const char *what;
    const std::string &content;
    uint64_t fail_at, start;
    bool search;
    std::string out, err;
  } cases[] = {
      {"a probe", log, 30000, 0, true, "", ""},
      {"the scan", log, 24 * 1000 + 5, 0, false, log.substr(0, 24 * 1000),
       "stampcut: log: Input/output error\n"},
      {"the skip to a long record's end", passed, 30000, T + 2, false,
       lines({T + 3}), "stampcut: log: Input/output error\n"},
  };
  for (const auto &c : cases) {
    virtual_file f = file_of(c.content);
    f.fail_at = c.fail_at;
    FILE *in = open_virtual(&f);
    int error = 0;
    if (c.search)
      search_from(in, T + 1500, &error);
    char *data = nullptr;
    std::size_t size = 0;
    FILE *out = open_memstream(&data, &size);
    testing::internal::CaptureStderr();
    int status = error != 0 ? (std::fclose(in), -1)
                            : scan_from(in, "log", c.start, 0, out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
    std::fclose(out);
    EXPECT_EQ(std::string(data, size), c.out) << c.what;
    std::free(data);
    EXPECT_EQ(status, -1) << c.what;
    EXPECT_EQ(error, c.search ? EIO : 0) << c.what;
  }
}

// A sorted log of 64 GiB that exists only as a formula: line k, 32 bytes,
// has the time T + k / 4.
virtual_file huge_log(uint64_t *lines) {
  virtual_file f;
  *lines = (uint64_t{1} << 36) / 32;
  f.size = *lines * 32;
  f.content = [](uint64_t offset, char *buf, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
      uint64_t k = (offset + i) / 32;
      char line[40];
      std::snprintf(line, sizeof line, "%s %010llu\n",
                    stamp(T + static_cast<int64_t>(k / 4)).c_str(),
                    static_cast<unsigned long long>(k));
      for (std::size_t j = (offset + i) % 32; j < 32 && i < n; ++j)
        buf[i++] = line[j];
    }
  };
  return f;
}

ssize_t append_to(void *cookie, const char *buf, std::size_t n) {
  static_cast<std::string *>(cookie)->append(buf, n);
  return static_cast<ssize_t>(n);
}

TEST(Search, NarrowQueryNearTheEndOfAHugeFileReadsAFewWindows) {
  uint64_t lines;
  virtual_file f = huge_log(&lines);
  // Each read of the scan is twice the last, from 64 KiB: past the end
  // bound it reads no more than it read before.
  constexpr uint64_t first_read = 64 << 10;
  struct {
    const char *what;
    uint64_t k0;    // the query begins after line k0's second
    int64_t length; // seconds
    cutting how = cutting::records;
  } cases[] = {
      {"ten seconds near the end", lines - 1000, 10},
      {"ten seconds, the file going on", lines / 3, 10},
      {"selected text of several pieces", lines / 3, 4000},
      {"cut into lines", lines / 3, 4000, cutting::lines},
  };
  for (const auto &c : cases) {
    f.pos = f.bytes_read = 0;
    const uint64_t target = T + c.k0 / 4, end = target + c.length;
    FILE *in = open_virtual(&f);
    int error;
    uint64_t start = search_from(in, target, &error, c.how);
    EXPECT_EQ(error, 0);
    EXPECT_GT(start, uint64_t{1} << 32);
    EXPECT_EQ(start % 32, 0u);
    EXPECT_LE(start / 32, (c.k0 / 4 + 1) * 4);

    std::string text;
    cookie_io_functions_t io{};
    io.write = append_to;
    FILE *out = fopencookie(&text, "w", io);
    std::setvbuf(out, nullptr, _IONBF, 0);
    EXPECT_EQ(scan_from(in, "huge", target, end, out, c.how), 0);
    std::fclose(out);

    std::string want;
    for (uint64_t k = (c.k0 / 4 + 1) * 4; k < (c.k0 / 4 + c.length + 1) * 4;
         ++k) {
      char line[40];
      std::snprintf(line, sizeof line, "%s %010llu\n",
                    stamp(T + static_cast<int64_t>(k / 4)).c_str(),
                    static_cast<unsigned long long>(k));
      want += line;
    }
    EXPECT_EQ(text, want) << c.what;
    EXPECT_LE(f.bytes_read, (36 + 1 + 2) * window_size +
                                2 * (want.size() + first_read + window_size))
        << c.what;
  }
}

// A log whose lines all begin with timestamps in nondecreasing order, in
// one of many shapes; times holds each line's time.
std::string sorted_log(std::mt19937_64 &rng, std::vector<int64_t> *times) {
  auto pick = [&rng](uint64_t n) { return rng() % n; };
  const char *eol = pick(3) == 0 ? "\r\n" : "\n";
  const std::size_t count = pick(4) == 0 ? pick(4) : pick(3000);
  const bool long_lines = pick(4) == 0;
  int64_t t = pick(2) == 0 ? T : static_cast<int64_t>(pick(50));
  std::string log;
  for (std::size_t i = 0; i < count; ++i) {
    t += pick(3) == 0 ? 0 : pick(10) == 0 ? pick(1000) : 1;
    times->push_back(t);
    // Long lines end near where a probe's read does, so that some probe
    // sees only the start of the next line.
    std::size_t payload = !long_lines     ? pick(120)
                          : pick(3) == 0  ? 8100 + pick(100)
                          : pick(50) == 0 ? 8000 + pick(12000)
                                          : pick(120);
    log += std::string(pick(8) == 0 ? pick(3) : 0, ' ') + stamp(t) +
           (pick(2) == 0 ? ".250Z" : "") + " " +
           std::string(payload, 'a' + pick(26)) + eol;
  }
  // A line without a time counts as later than every bound, so it keeps the
  // order at the end.
  if (pick(4) == 0)
    log += "9 no time here" + std::string(eol);
  return log;
}

// What cutting into lines selects, read from the first byte, modelled
// plainly on whole strings. Line k's time is (*times)[k] when times are
// given, else that of the first timestamp that begins a run of digits; a
// last line without an LF is a line too, timed by format when times are
// given.
std::string reference_lines(const std::string &log, uint64_t start,
                            uint64_t end,
                            const std::vector<int64_t> *times = nullptr,
                            const stamp_format *format = nullptr) {
  std::string out;
  bool selected = start == 0;
  std::size_t k = 0;
  for (std::size_t at = 0, lf; at < log.size(); at = lf + 1, ++k) {
    lf = std::min(log.find('\n', at), log.size());
    std::string line = log.substr(at, lf - at);
    const std::string head = line.substr(0, window_size);
    int64_t t = times != nullptr && k < times->size() ? (*times)[k] : -1;
    if (times != nullptr && k == times->size())
      t = line_time(&line[0], &line[0] + line.size(), format);
    for (std::size_t i = 0; !times && i < head.size() && i < 128 && t == -1;
         ++i)
      if (is_digit(head[i]) && (i == 0 || !is_digit(head[i - 1])))
        t = parse_date(head.c_str() + i);
    if (t != -1 && end != 0 && static_cast<uint64_t>(t) > end)
      break;
    if (t != -1)
      selected = static_cast<uint64_t>(t) > start;
    if (selected)
      out += line + "\n";
  }
  return out;
}

// A log of timed lines in nondecreasing order, the time after a prefix in
// some, each followed by a trace of lines without a time in some.
std::string traced_log(std::mt19937_64 &rng, std::vector<int64_t> *times) {
  auto pick = [&rng](uint64_t n) { return rng() % n; };
  static const char *const prefixes[] = {
      "", "", "<34>1 ", "{\"pid\":4242,\"ts\":\"", "[", "  ", "7 "};
  static const char *const traces[] = {"\tat com.example.Foo.bar(Foo.java:123)",
                                       "java.lang.IllegalStateException: boom",
                                       "Caused by: x\ry 42", "", "  }"};
  const char *eol = pick(3) == 0 ? "\r\n" : "\n";
  int64_t t = pick(2) == 0 ? T : static_cast<int64_t>(pick(50));
  std::string log =
      pick(4) == 0 ? std::string(traces[pick(5)]) + eol : std::string();
  for (std::size_t i = pick(1500); i > 0; --i) {
    t += pick(3) == 0 ? 0 : pick(10) == 0 ? pick(1000) : 1;
    times->push_back(t);
    std::size_t payload = pick(20) == 0 ? 8000 + pick(400) : pick(120);
    // The time within a line's first 128 bytes, or just past them.
    const std::string prefix =
        pick(8) == 0 ? std::string(120 + pick(16), 'x') : prefixes[pick(7)];
    log += prefix + stamp(t) + (pick(4) == 0 ? "\r5%" : " ") +
           std::string(payload, 'a' + pick(26)) + eol;
    for (std::size_t k = pick(3) == 0 ? pick(8) : 0; k > 0; --k)
      log += (pick(30) == 0 ? std::string(8190 + pick(8), '.') : "") +
             traces[pick(5)] + eol;
  }
  // A last line without an LF, still being written or not.
  if (pick(3) == 0)
    log += stamp(t + 1).substr(0, pick(20));
  return log;
}

// Lines of shape s at known times in nondecreasing order, a prefix before
// some, traces after some, CR LF, long lines and a last line still being
// written. times gets each whole line's time as the rules give it: the
// stamp's own, or none (-1) for a trace and for a stamp that begins past
// the first 128 bytes, unless FORMAT begins with a literal byte.
std::string shaped_log(std::mt19937_64 &rng, const shape &s,
                       std::vector<int64_t> *times) {
  auto pick = [&rng](uint64_t n) { return rng() % n; };
  static const char *const prefixes[] = {"", "", "[", "x: ", "  "};
  static const char *const traces[] = {"\tat com.example.Foo.bar(Foo.java:123)",
                                       "java.lang.IllegalStateException: boom",
                                       "Caused by: x\ry 42", "", "  }"};
  const bool anchored = s.format[0] != '%' || s.format[1] == '%';
  const std::size_t at = std::strcspn(s.pattern, "%@"); // where its stamp is
  const char *eol = pick(3) == 0 ? "\r\n" : "\n";
  int64_t t = T - 864000 + static_cast<int64_t>(pick(1000));
  std::string log;
  for (std::size_t i = pick(600); i > 0; --i) {
    t += static_cast<int64_t>(pick(3) == 0    ? 0
                              : pick(10) == 0 ? pick(5000)
                                              : 1);
    const std::string prefix = pick(8) == 0
                                   ? std::string(119 + pick(16), 'x') + " "
                                   : prefixes[pick(5)];
    log += prefix + shaped(s.pattern, t, s.offset) + " " +
           std::string(pick(20) == 0 ? 8000 + pick(400) : pick(80),
                       static_cast<char>('a' + pick(26))) +
           eol;
    times->push_back(anchored || prefix.size() + at < 128 ? t : -1);
    for (std::size_t k = pick(3) == 0 ? pick(5) : 0; k > 0; --k) {
      log += traces[pick(5)] + std::string(eol);
      times->push_back(-1);
    }
  }
  if (pick(3) == 0)
    log += shaped(s.pattern, t + 1, s.offset).substr(0, pick(30));
  return log;
}

class SearchProperty : public cli_test {};

TEST_F(SearchProperty, FormatsAsTheirTimesAndTheRules) {
  scoped_tz utc("UTC");
  std::mt19937_64 rng(20261208);
  const int64_t reference = T; // the file's last change; lines from T - 10 d
  for (std::size_t file = 0; file < 10 * std::size(shapes); ++file) {
    const shape &s = shapes[file % std::size(shapes)];
    stamp_format f;
    char why[why_size];
    ASSERT_TRUE(compile_format(s.format, &f, why)) << s.format;
    set_reference(&f, reference);
    std::vector<int64_t> times;
    const std::string log = write("log", shaped_log(rng, s, &times));
    shell("touch -d @" + std::to_string(reference) + " log");
    std::vector<int64_t> timed;
    for (int64_t t : times)
      if (t != -1)
        timed.push_back(t);
    for (int b = 0; b < 6; ++b) {
      uint64_t some = timed.empty() ? T : timed[rng() % timed.size()];
      uint64_t start = b == 0 ? 0 : some + rng() % 3 - 1;
      uint64_t end = b % 3 == 0 ? 0 : b % 3 == 1 ? some + rng() % 90 : start;
      const std::string want =
          reference_lines(read("log"), start, end, &times, &f);
      const std::string bounds =
          std::to_string(start) + " " + std::to_string(end);
      ASSERT_EQ(select(log, false, start, end, cutting::lines, &f), want)
          << s.what << ", file " << file << " bounds " << bounds;
      ASSERT_EQ(select(log, true, start, end, cutting::lines, &f), want)
          << s.what << ", file " << file << " bounds " << bounds;
      if (file % 8 != 0 || b > 2)
        continue;
      const std::string run =
          "TZ=UTC " STAMPCUT_BIN " -f '" + std::string(s.format) + "' ";
      ASSERT_EQ(shell(run + "log " + bounds + " >out"), 0);
      EXPECT_EQ(read("out"), want) << s.what << ", file " << file;
      // Through a pipe the reference is the time of the run.
      if (s.yearless)
        continue;
      ASSERT_EQ(shell("cat log | " + run + "- " + bounds + " >out"), 0);
      EXPECT_EQ(read("out"), want) << s.what << ", file " << file << ", pipe";
    }
  }
}

TEST_F(SearchProperty, SlackFindsEveryLineOfANearlySortedLog) {
  std::mt19937_64 rng(20261208);
  for (int file = 0; file < 12; ++file) {
    // Each line is stamped by a clock that never goes back, some up to
    // slack seconds late; some are followed by a trace without a digit,
    // which goes with its line under -m and holds no record otherwise.
    const int64_t slack = 1 + static_cast<int64_t>(rng() % 5);
    std::vector<int64_t> times;
    std::vector<std::string> line, trace;
    std::string log;
    for (int64_t i = 0, clock = T; i < 3000; ++i) {
      clock += rng() % 3 == 0 ? 1 : 0;
      const uint64_t most = rng() % 4 == 0 ? static_cast<uint64_t>(slack) : 0;
      const int64_t lag = static_cast<int64_t>(rng() % (most + 1));
      times.push_back(clock - lag);
      line.push_back(stamp(clock - lag) + " " + std::string(rng() % 60, 'a') +
                     "\n");
      trace.push_back(rng() % 8 == 0 ? "  at Foo.bar(Foo.java)\n" : "");
      log += line.back() + trace.back();
    }
    write("log", log);
    for (int q = 0; q < 3; ++q) {
      const uint64_t start = times[rng() % times.size()] + rng() % 3 - 1;
      const uint64_t end = q == 0 ? 0 : start + 1 + rng() % 20;
      std::string records, lines;
      for (std::size_t k = 0; k < times.size(); ++k)
        if (later(times[k], start) && (end == 0 || !later(times[k], end))) {
          records += line[k];
          lines += line[k] + trace[k];
        }
      const std::string bounds =
          " " + std::to_string(start) + " " + std::to_string(end);
      for (const auto &[mode, want] :
           {std::pair{"", records}, std::pair{"-m ", lines},
            std::pair{"-f %FT%T ", lines}})
        for (const std::string from : {"log", "/dev/stdin"}) {
          run_result r =
              run("-s " + std::to_string(slack) + " " + mode + from + bounds,
                  from == "log" ? "" : "cat log");
          ASSERT_EQ(r.out, want) << "file " << file << ", " << mode << from
                                 << bounds << ", slack " << slack;
          EXPECT_EQ(r.err, "");
        }
    }
  }
}

TEST_F(SearchProperty, LinesAsTheScanFromTheFirstByteAndTheRules) {
  std::mt19937_64 rng(20261207);
  for (int file = 0; file < 200; ++file) {
    std::vector<int64_t> times;
    const std::string log = write("log", traced_log(rng, &times));
    for (int b = 0; b < 6; ++b) {
      uint64_t some = times.empty() ? T : times[rng() % times.size()];
      uint64_t start = b == 0 ? 0 : some + rng() % 3 - 1;
      uint64_t end = b % 3 == 0 ? 0 : b % 3 == 1 ? some + rng() % 90 : start;
      const std::string want = reference_lines(read("log"), start, end);
      ASSERT_EQ(select(log, false, start, end, cutting::lines), want)
          << "file " << file << " bounds " << start << " " << end;
      ASSERT_EQ(select(log, true, start, end, cutting::lines), want)
          << "file " << file << " bounds " << start << " " << end;
    }
  }
}

TEST_F(SearchProperty, SameOutputAsTheScanFromTheFirstByte) {
  std::mt19937_64 rng(20241207);
  for (int file = 0; file < 300; ++file) {
    std::vector<int64_t> times;
    const std::string whole = sorted_log(rng, &times);
    const std::string log = write("log", whole);
    auto some_time = [&]() -> uint64_t {
      return times.empty() ? T : times[rng() % times.size()];
    };
    for (int b = 0; b < 8; ++b) {
      uint64_t start = b == 0   ? 0
                       : b == 1 ? UINT64_MAX - 1
                       : b == 2 ? some_time() + 100000
                                : some_time() + rng() % 3 - 1;
      uint64_t end = b % 3 == 0 ? 0 : b % 3 == 1 ? some_time() : start + 5;
      ASSERT_EQ(select(log, true, start, end), select(log, false, start, end))
          << "file " << file << " bounds " << start << " " << end;
    }
    // A line being written follows the sorted ones, cut at every byte of
    // its timestamp: a cut one may read as an earlier time.
    const std::string tail = stamp(times.empty() ? T : times.back() + 15);
    for (std::size_t cut = 1; file % 4 == 0 && cut < tail.size(); ++cut) {
      write("log", whole + tail.substr(0, cut));
      uint64_t start = times.empty() ? T : times.back() - rng() % 15;
      ASSERT_EQ(select(log, true, start, 0), select(log, false, start, 0))
          << "file " << file << " cut " << cut << " start " << start;
    }
  }
}

} // namespace
