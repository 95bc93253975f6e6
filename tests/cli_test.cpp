#include "cli.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <sys/stat.h>

// The address sanitizer cannot run under a cap on address space.
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN
#endif
#endif

namespace {

using namespace std::string_literals;

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z
const std::string usage =
    "Syntax: stampcut [file] [start unix ts] [end unix ts]. "
    "minimum 2 arguments. \n";

struct scan_case {
  const char *what;
  std::string input;
  std::string bounds;
  std::string want;
  std::string err = "";
  std::string feed = "";  // when given, pipes its output to /dev/stdin
  std::string piped = ""; // when given, what a pipe gives instead of want
};

class Scan : public cli_test {};

TEST_F(Scan, SelectsRecordsByTheirOwnTimes) {
  const std::string s = std::to_string(T);
  // What a note on a log that -m reads ends with.
  const std::string m = ": its stamps read as -m reads them: stampcut -m log " +
                        s + " " + std::to_string(T + 9);
  const std::string mixed = "junk\n\n" + stamp(T + 1) + " a\r\n" +
                            stamp(T + 2) + " b\r" + stamp(T + 3) + " c\n";
  const scan_case cases[] = {
      {"open start, closed end", lines({T, T + 1, T + 2, T + 3}),
       s + " " + std::to_string(T + 2), lines({T + 1, T + 2})},
      {"end 0 is no end", lines({T, T + 1, T + 2}), s + " 0",
       lines({T + 1, T + 2})},
      {"no end bound", lines({T, T + 1, T + 2}), s, lines({T + 1, T + 2})},
      {"start above everything", lines({T, T + 1}), std::to_string(T + 9), "",
       "stampcut: log: nothing lies in the interval: its lines run from "
       "2024-03-01T12:00:00 to 2024-03-01T12:00:01\n"},
      {"a log of lines without a digit is said to have no time",
       "hello world\nno stamps here\n", s, "",
       "stampcut: log: no line has a timestamp stampcut reads\n"},
      {"text before the first digit is not written",
       "  [" + stamp(T + 1) + "] x\n", s, stamp(T + 1) + "] x\n"},
      {"CR LF, lone CR, empty and digitless lines", mixed,
       s + " " + std::to_string(T + 9),
       stamp(T + 1) + " a\n" + stamp(T + 2) + " b\n" + stamp(T + 3) + " c\n"},
      {"an unparseable record is written without an end bound",
       lines({T + 1}) + "42 is no time\n" + lines({T + 2}), s,
       lines({T + 1}) + "42 is no time\n" + lines({T + 2})},
      {"an unparseable record ends the run with an end bound",
       lines({T + 1}) + "42 is no time\n" + lines({T + 2}),
       s + " " + std::to_string(T + 9), lines({T + 1}),
       "stampcut: log: stopped at a line without a timestamp, byte 38: "
       "42 is no time (see -m and -f)"
       ": its stamps read as -m reads them: stampcut -m log 1709294400 "
       "1709294409\n"},
      {"the note follows the records before it",
       lines({T + 1}) + "42 is\x7f no time\n" + lines({T + 2}),
       s + " " + std::to_string(T + 9) + " 2>&1",
       lines({T + 1}) +
           "stampcut: log: stopped at a line without a timestamp, byte 38: "
           "42 is\\x7f no time (see -m and -f)" +
           m + "\n"},
      // Both lines must be timed as the scan times them, by the bytes from
      // their first digit on; a probe that sees the timestamp cut short
      // reads too early a time and passes over the first.
      {"white space before a timestamp filling the probe's read",
       lines({T + 3}) + std::string(8174, ' ') + stamp(T + 5) + " x\n", s,
       lines({T + 3}) + stamp(T + 5) + " x\n"},
      {"zeros before the year filling the probe's read",
       lines({T + 3}) + "+" + std::string(8173, '0') + stamp(T + 5) + " x\n", s,
       lines({T + 3}) + std::string(8173, '0') + stamp(T + 5) + " x\n"},
      {"the first record past the end bound ends the run",
       lines({T + 1, T + 5, T + 2}), s + " " + std::to_string(T + 4),
       lines({T + 1})},
      {"a last line without terminator is not written, and said",
       lines({T + 1}) + stamp(T + 2) + " cut", s, lines({T + 1}),
       "stampcut: log: the last line has no line end and is not written: " +
           stamp(T + 2) + " cut (see -m)\n"},
      {"nor said when it would not be written",
       lines({T + 1}) + stamp(T + 12) + " cut", s + " " + std::to_string(T + 9),
       lines({T + 1})},
      {"a record is written whole, zero bytes included",
       stamp(T + 1) + " a\0b\n"s, s, stamp(T + 1) + " a\0b\n"s},
      {"a zero byte ends the text the parse sees", "2024-03-01T12:00\0:05Z\n"s,
       s + " " + std::to_string(T + 9), "",
       "stampcut: log: stopped at a line without a timestamp, byte 0: "
       "2024-03-01T12:00\\x00:05Z (see -m and -f)\n"},
      // The seconds are missing; they must not come from the next line.
      {"a record's time comes from that record only",
       "1970-01-01T00:00:\n42 next\n", "100", "1970-01-01T00:00:\n42 next\n",
       "stampcut: log: no line has a timestamp stampcut reads\n"},
      // Records alike but for one field each get their own time.
      {"only the day differs", "2024-03-01T12:00:00Z\n2024-03-02T12:00:00Z\n",
       s, "2024-03-02T12:00:00Z\n"},
      {"only the month differs", "2024-03-01T12:00:00Z\n2024-04-01T12:00:00Z\n",
       s, "2024-04-01T12:00:00Z\n"},
      {"only the year differs", "2024-03-01T12:00:00Z\n2025-03-01T12:00:00Z\n",
       s, "2025-03-01T12:00:00Z\n"},
      {"one-digit seconds, then two starting with that digit",
       "2024-03-01T12:00:5Z\n2024-03-01T12:00:59Z\n", std::to_string(T + 5),
       "2024-03-01T12:00:59Z\n"},
      {"two-digit seconds, then three",
       "2024-03-01T12:00:05Z\n2024-03-01T12:00:005Z\n", std::to_string(T + 4),
       "2024-03-01T12:00:05Z\n2024-03-01T12:00:005Z\n"},
      // The memo compares a minute of 17 or 32 bytes in 16-byte halves:
      // the next record differs in the last byte of the minute only.
      {"a record alike but for the minute's last byte",
       "2024-03-01T12:00:01 a\n2024-03-01T12:00-02 b\n",
       s + " " + std::to_string(T + 9), "2024-03-01T12:00:01 a\n",
       "stampcut: log: stopped at a line without a timestamp, byte 22: "
       "2024-03-01T12:00-02 b (see -m and -f)" +
           m + "\n"},
      {"a record alike but for a 32-byte minute's last byte",
       "0000000000000002024-03-01T12:00:01 a\n"
       "0000000000000002024-03-01T12:00;07 b\n",
       s + " " + std::to_string(T + 9),
       "0000000000000002024-03-01T12:00:01 a\n",
       "stampcut: log: stopped at a line without a timestamp, byte 37: "
       "0000000000000002024-03-01T12:00;07 b (see -m and -f)" +
           m + "\n"},
      // 33 bytes up to the seconds, more than the parse remembers; the next
      // record has the same first 32 and a digit, but no time.
      {"a long timestamp, then a record alike but without a time",
       "00000000000000002024-03-01T12:00:01 a\n"
       "00000000000000002024-03-01T12:007 b\n" +
           lines({T + 2}),
       s + " " + std::to_string(T + 9),
       "00000000000000002024-03-01T12:00:01 a\n",
       "stampcut: log: stopped at a line without a timestamp, byte 38: "
       "00000000000000002024-03-01T12:007 b (see -m and -f)" +
           m + "\n"},
  };
  for (const scan_case &c : cases) {
    write("log", c.input);
    run_result r = run("log " + c.bounds);
    EXPECT_EQ(r.out, c.want) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

TEST_F(Scan, SaysOnceWhereTheLogIsOutOfOrder) {
  const std::string log = lines({T + 1, T + 5, T + 2, T + 4, T + 9, T + 1});
  // The second step back is a line longer than a read.
  const std::string long_late = lines({T + 1, T + 5, T + 4}) + stamp(T + 1) +
                                std::string(200000, 'x') + "\n";
  const auto note = [](const std::string &name, int late, int after, int at,
                       int slack) {
    return "stampcut: " + name + ": not in time order: a line at " +
           stamp(T + late).substr(0, 19) + " follows one at " +
           stamp(T + after).substr(0, 19) + " (byte " + std::to_string(at) +
           "): lines of the interval may be missed; --slack " +
           std::to_string(slack) + " reads past the edges\n";
  };
  const struct {
    std::string input, slack;
    int late, after, at, largest; // the note's; no note when largest is 0
  } cases[] = {
      {log, "", 2, 5, 38, 8},
      {log, "-s 3 ", 1, 9, 152, 8},
      {log, "-s 8 ", 0, 0, 0, 0},
      {long_late, "-s 1 ", 1, 5, 38, 4},
  };
  for (const auto &c : cases) {
    write("log", c.input);
    for (const std::string mode : {"", "-m ", "-f %FT%T "})
      for (const std::string from : {"log", "/dev/stdin"}) {
        run_result r =
            run(c.slack + mode + from + " 0", from == "log" ? "" : "cat log");
        EXPECT_EQ(r.out, c.input) << c.slack << mode << from;
        EXPECT_EQ(r.err, c.largest == 0
                             ? ""
                             : note(from, c.late, c.after, c.at, c.largest))
            << c.slack << mode << from;
        EXPECT_EQ(r.status, 0);
      }
  }
}

// Lines of many lengths, so that records straddle every refill.
std::string varied_log(int count, const char *eol) {
  std::string s;
  for (int i = 0; i < count; ++i)
    s += stamp(T + i) + " " + std::string(i * 37 % 300, 'a' + i % 26) + eol;
  return s;
}

TEST_F(Scan, RecordsStraddlingRefillsAreWrittenOnce) {
  const std::string lf = varied_log(3000, "\n");
  write("lf", lf);
  write("crlf", varied_log(3000, "\r\n"));
  EXPECT_EQ(run("lf 0").out, lf);
  EXPECT_EQ(run("crlf 0").out, lf);
  EXPECT_EQ(run("/dev/stdin 0", "cat crlf").out, lf);
}

TEST_F(Scan, RecordsLongerThanTheWindowAreTakenLikeShortOnes) {
  // After a 38-byte first line, a 21-byte stamp and 8133, 16325 or 24517
  // bytes reach to the end of a window, and 139205 to the end of the scan's
  // first read: the terminator opens the next one. 65515: the record and
  // its LF fill two output pieces but the LF; 262123, longer than a read,
  // five when copied back.
  for (size_t size : {8133u, 8191u, 8192u, 8193u, 10000u, 16325u, 20000u,
                      24517u, 65515u, 100000u, 139205u, 262123u}) {
    const std::string big = stamp(T + 2) + " " + std::string(size, 'x');
    const std::string log = lines({T + 1}) + big + "\n" + lines({T + 3});
    const std::string digits = lines({T + 1}) + big + "42\n" + lines({T + 3});
    const std::string untimed = "1" + std::string(size + 20, 'y');
    const std::string bounded = std::to_string(T) + " " + std::to_string(T + 9);
    const scan_case cases[] = {
        {"ending in digits, selected", digits, std::to_string(T), digits},
        {"ending in digits, not selected", digits, std::to_string(T + 2),
         lines({T + 3})},
        {"selected", log, std::to_string(T), log},
        {"not selected", log, std::to_string(T + 2), lines({T + 3})},
        {"past the end bound", log,
         std::to_string(T) + " " + std::to_string(T + 1), lines({T + 1})},
        // A pipe that ends inside a long record has written it up to there.
        {"unterminated", lines({T + 1}) + big, std::to_string(T),
         lines({T + 1}),
         "stampcut: log: the last line has no line end and is not written: " +
             big.substr(0, 60) + " (see -m)\n",
         "", big.size() >= 8192 ? lines({T + 1}) + big + "\n" : ""},
        {"CR terminated", lines({T + 1}) + big + "\r" + lines({T + 3}),
         std::to_string(T), log},
        {"without a time, ending a bounded run",
         lines({T + 1}) + untimed + "\n" + lines({T + 3}), bounded,
         lines({T + 1}),
         "stampcut: log: stopped at a line without a timestamp, byte 38: " +
             untimed.substr(0, 60) +
             " (see -m and -f): its stamps read as -m reads them: stampcut -m "
             "log " +
             bounded + "\n"},
        {"without a time, unterminated", lines({T + 1}) + untimed, bounded,
         lines({T + 1})},
    };
    for (const scan_case &c : cases) {
      write("log", c.input);
      run_result r = run("log " + c.bounds);
      EXPECT_EQ(r.out, c.want) << c.what << " " << size;
      EXPECT_EQ(r.err, c.err) << c.what << " " << size;
      // A redirected file gives the same, and so does input that cannot be
      // read twice.
      EXPECT_EQ(run("/dev/stdin " + c.bounds + " <log").out, c.want);
      EXPECT_EQ(run("/dev/stdin " + c.bounds, "cat log").out,
                c.piped.empty() ? c.want : c.piped)
          << c.what << " " << size << " from a pipe";
    }
  }
}

TEST_F(Scan, CompressedLogsAreReadInProcess) {
  std::string log;
  for (int i = 0; i < 3000; ++i)
    log += lines({T + i / 10});
  write("log", log);
  std::string later;
  for (int i = 0; i < 300; ++i)
    later += lines({T + 400 + i});
  write("later", later);
  const std::string bounds =
      std::to_string(T + 10) + " " + std::to_string(T + 20);
  const std::string want =
      log.substr(log.find(stamp(T + 11)),
                 log.find(stamp(T + 21)) - log.find(stamp(T + 11)));
  const struct {
    const char *name, *tool, *ext;
  } kinds[] = {{"gzip", "gzip", "gz"},
               {"bzip2", "bzip2", "bz2"},
               {"xz", "xz", "xz"},
               {"zstd", "zstd -q", "zst"}};
  for (const auto &k : kinds) {
    const std::string tool = std::string(k.tool).substr(0, 4);
    if (shell("command -v " + tool + " >/dev/null") != 0)
      continue;
    const std::string f = std::string("log.") + k.ext;
    ASSERT_EQ(shell(std::string(k.tool) + " -c log >" + f), 0);
    // Members or frames one after another are read in turn.
    ASSERT_EQ(shell(std::string(k.tool) + " -c later >later." + k.ext), 0);
    shell("cat " + f + " later." + k.ext + " >two; head -c $(($(wc -c <" + f +
          ") / 2)) " + f + " >cut");
    const struct {
      std::string args, feed, out, err;
      int status;
    } runs[] = {
        {f + " " + bounds, "", want, "", 0},
        {"-m - " + bounds + " <" + f, "", want, "", 0},
        {"-f '%FT%T' - " + bounds, "cat " + f, want, "", 0},
        {"two 0", "", log + later, "", 0},
        {"cut 0", "", "",
         "stampcut: cut: truncated " + std::string(k.name) + " data\n", 255},
    };
    for (const auto &r : runs) {
      run_result got = run(r.args, r.feed);
      // What comes before the fault is whole lines of the log.
      if (r.status == 255)
        EXPECT_EQ(got.out, log.substr(0, got.out.size())) << k.name;
      else
        EXPECT_EQ(got.out, r.out) << k.name << ": " << r.args;
      EXPECT_EQ(got.err, r.err) << k.name << ": " << r.args;
      EXPECT_EQ(got.status, r.status) << k.name << ": " << r.args;
    }
    // Zero bytes after a member, as xz pads its streams and as gzip's and
    // bzip2's own tools pass over at the end, are no fault.
    if (std::string(k.name) != "zstd") {
      shell("{ cat " + f + "; printf '\\0\\0\\0\\0'; cat later." + k.ext +
            "; printf '\\0\\0\\0\\0'; } >padded");
      run_result padded = run("padded 0");
      EXPECT_EQ(padded.out, log + later) << k.name;
      EXPECT_EQ(padded.err, "") << k.name;
    }
    // A fault in the middle: the message, and status 255.
    shell("cp " + f +
          " bad; printf XXXXXXXXXXXXXXXX | dd of=bad bs=1 "
          "seek=$(($(wc -c <bad) / 2)) conv=notrunc status=none");
    run_result bad = run("bad 0");
    EXPECT_EQ(bad.err.substr(0, 14), "stampcut: bad:") << k.name;
    EXPECT_NE(bad.err.find(k.name), std::string::npos) << bad.err;
    EXPECT_EQ(bad.status, 255) << k.name;
  }
  // A window larger than stampcut allows is refused before it is taken.
  if (shell("command -v zstd >/dev/null") == 0) {
    shell("zstd -q --long=31 -c <log >wide.zst");
    run_result wide = run("wide.zst 0");
    EXPECT_EQ(wide.err, "stampcut: wide.zst: zstd window of 2 GiB is more "
                        "than stampcut allows (128 MiB)\n");
    EXPECT_EQ(wide.status, 255);
  }
}

TEST_F(Scan, InputThatCannotSeekIsScannedFromWhereItStands) {
  const std::string log = varied_log(3000, "\n");
  write("sorted", log);
  const std::string bounds =
      std::to_string(T + 1000) + " " + std::to_string(T + 1060);
  const std::string want =
      log.substr(log.find(stamp(T + 1001)),
                 log.find(stamp(T + 1061)) - log.find(stamp(T + 1001)));
  EXPECT_EQ(run("sorted " + bounds).out, want);
  EXPECT_EQ(run("/dev/stdin " + bounds, "cat sorted").out, want);
  EXPECT_EQ(run("/dev/stdin " + bounds + " <sorted").out, want);
  // Standard input left past the file's end holds nothing, and was not cut.
  EXPECT_EQ(shell("(dd bs=1 skip=99999999 count=0 status=none; " STAMPCUT_BIN
                  " - 0 >.out 2>.err) <sorted"),
            0);
  EXPECT_EQ(read(".out") + read(".err"), "");

  // A line with a digit but no time ends a scan from the first byte, but
  // lies before where the search starts: a redirected file is searched, a
  // pipe is not.
  write("front", "42 no time\n" + log);
  EXPECT_EQ(run("/dev/stdin " + bounds, "cat front").out, "");
  EXPECT_EQ(run("/dev/stdin " + bounds + " <front").out, want);
}

TEST_F(Scan, APipeIsTakenAsItsLinesArrive) {
  // The writer sends a selected line and waits for it on the output, then
  // a line past END and waits for the run to end, each for 5 s at most;
  // the pipe stays open all the while.
  const std::string wait_for =
      "i=0; while [ ! -s $f ] && [ $i -lt 100 ]; do sleep 0.05; "
      "i=$((i+1)); done";
  const std::string writer = "{ printf '" + lines({T + 1}) + "'; f=.out; " +
                             wait_for + "; cat .out >.seen; printf '" +
                             lines({T + 9}) + "'; f=.st; " + wait_for +
                             "; [ -s .st ] && echo ended >.ended; }";
  const std::string bounds = std::to_string(T) + " " + std::to_string(T + 5);
  for (const std::string options : {"", "-m", "-f '%Y-%m-%dT%H:%M:%S'"})
    for (const std::string to : {">.out", "| cat >.out"}) {
      shell("rm -f .out .seen .st .ended");
      const std::string run = "{ TZ=UTC timeout 10 " STAMPCUT_BIN " " +
                              options + " - " + bounds + " 2>.err" +
                              (to[0] == '>' ? " " + to : "") +
                              "; echo $? >.st; }" + (to[0] == '|' ? to : "");
      EXPECT_EQ(shell(writer + " | " + run), 0) << options << " " << to;
      EXPECT_EQ(read(".seen"), lines({T + 1})) << options << " " << to;
      EXPECT_EQ(read(".ended"), "ended\n") << options << " " << to;
      EXPECT_EQ(read(".st"), "0\n") << options << " " << to;
      EXPECT_EQ(read(".out"), lines({T + 1})) << options << " " << to;
      EXPECT_EQ(read(".err"), "") << options << " " << to;
    }
}

#ifndef UNDER_ASAN
TEST_F(Scan, LongLinesFromAStreamRunInFixedMemory) {
  // A selected line that cannot be read twice is written as it comes: the
  // run needs no more memory for it than for a short one, and one that
  // never ends is written until the reader has had enough.
  const std::string line = "{ printf %s " + stamp(T + 1) + "; head -c ";
  const std::string gig = line + "1073741824 /dev/zero; printf '\\n" +
                          lines({T + 2}) + "'; }",
                    cut = line + "400000000 /dev/zero; }";
  const std::string ended = "stampcut: -: input ended inside a line longer "
                            "than 8 KiB: written up to there, with an LF "
                            "added\n";
  const std::string enough = "head -c 100000000 | wc -c";
  const struct {
    std::string feed, args, then, same_as, err = "";
  } cases[] = {
      {"", "-m /dev/zero 0", enough, "echo 100000000"},
      {"yes 2024 | tr -d '\\n' |", "- 0", enough, "echo 100000000"},
      {gig + " |", "- 0", "cksum", gig + " | cksum"},
      {cut + " |", "- 0", "cksum", "{ " + cut + "; echo; } | cksum", ended},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(shell("( ulimit -v 200000; " + c.feed +
                    " TZ=UTC timeout 20 " STAMPCUT_BIN " " + c.args +
                    " 2>.err | " + c.then + " >.out )"),
              0)
        << c.feed << c.args;
    EXPECT_EQ(shell(c.same_as + " >.want"), 0);
    EXPECT_EQ(read(".out"), read(".want")) << c.feed << c.args;
    EXPECT_EQ(read(".err"), c.err) << c.feed << c.args;
  }
}
#endif

TEST_F(Scan, DigitlessTextFillingTheWindowIsPassedOver) {
  write("log", std::string(30000, 'x') + "\n" + std::string(300000, ' ') +
                   lines({T + 1}));
  run_result r = run("log 0");
  EXPECT_EQ(r.out, lines({T + 1}));
  EXPECT_EQ(r.status, 0);
}

TEST_F(Scan, CutIntoLinesTracesGoWithTheirLine) {
  const std::string s = std::to_string(T), e = std::to_string(T + 9);
  const std::string trace = "java.lang.IllegalStateException: boom\n"
                            "\tat com.example.Foo.bar(Foo.java:123)\n";
  const std::string a = stamp(T + 1) + " a\n", b = stamp(T + 2) + " b\n";
  // The probe at 16 reads up to 18 bytes into the last line's timestamp.
  const std::string cut_stamp = stamp(T + 3) + " a\n\tat " +
                                std::string(8162, '.') + "\n" + stamp(T + 5) +
                                " x\n";
  const std::string long_trace = "\tat " + std::string(300000, 'z') + "1\n";
  const std::string past_reach = std::string(128, 'x') + stamp(T + 5) + "\n";
  const scan_case cases[] = {
      {"a trace goes with its line", a + trace + b, s + " " + e, a + trace + b},
      {"and is left out with it", lines({T}) + trace + b, s, b},
      {"lines before the first time, with START 0", trace + a, "0", trace + a},
      {"lines before the first time, with a START", trace + a, s, a},
      {"a line past END ends the run; its trace is not written",
       a + stamp(T + 10) + " late\n" + trace + b, s + " " + e, a},
      {"the time after text",
       "<34>1 " + a + "{\"pid\":4242,\"ts\":\"" + b + "[" + stamp(T + 3) +
           "] c\n",
       s,
       "<34>1 " + a + "{\"pid\":4242,\"ts\":\"" + b + "[" + stamp(T + 3) +
           "] c\n"},
      {"a time beginning past the first 128 bytes is none",
       lines({T}) + past_reach + b, s, b},
      {"CR, CR LF and zero bytes are kept, a time after a CR is no line's",
       stamp(T + 1) + " 5%\r" + stamp(T + 20) + " 50%\r\n" + stamp(T + 2) +
           " \0\n"s,
       s + " " + e,
       stamp(T + 1) + " 5%\r" + stamp(T + 20) + " 50%\r\n" + stamp(T + 2) +
           " \0\n"s},
      {"a timestamp inside a run of digits is none", a + "9999999999" + b + b,
       s + " " + e, a + "9999999999" + b + b},
      {"long lines are written whole",
       a + stamp(T + 2) + std::string(300000, 'y') + "\n" + long_trace + b,
       s + " " + e,
       a + stamp(T + 2) + std::string(300000, 'y') + "\n" + long_trace + b},
      {"a long line goes with its line", lines({T}) + long_trace + b, s, b},
      {"a last line without an LF is a line", a + stamp(T + 2), s,
       a + stamp(T + 2) + "\n"},
      {"and ends the run past END", a + stamp(T + 12), s + " " + e, a},
      {"a long one is written whole",
       a + stamp(T + 2) + long_trace.substr(0, long_trace.size() - 1), s,
       a + stamp(T + 2) + long_trace},
      {"a timestamp cut by the probe's read", cut_stamp, std::to_string(T + 1),
       cut_stamp},
  };
  for (const scan_case &c : cases) {
    write("log", c.input);
    const struct {
      std::string args, feed;
    } runs[] = {{"-m log", ""}, {"--multiline -- /dev/stdin", "cat log"}};
    for (const auto &from : runs) {
      run_result r = run(from.args + " " + c.bounds, from.feed);
      EXPECT_EQ(r.out, c.want) << c.what << ", " << from.args;
      EXPECT_EQ(r.err, "") << c.what;
      EXPECT_EQ(r.status, 0) << c.what;
    }
  }
  // "--" ends the options: a file may be named -m.
  write("-m", a + b);
  EXPECT_EQ(run("-- -m " + s).out, a + b);
  EXPECT_EQ(run("-m -- -m 0 " + std::to_string(T + 1)).out, a);
}

TEST_F(Scan, FormatsOfEverydaySoftware) {
  for (const shape &c : shapes) {
    std::string log, want;
    for (int64_t t : {T - 60, T, T + 1, T + 59, T + 61}) {
      std::string line = shaped(c.pattern, t, c.offset) + "\n";
      if (t == T + 1)
        line += "Traceback (most recent call last):\n";
      log += line;
      if (t > T && t <= T + 59)
        want += line;
    }
    write("log", log);
    shell("touch -d @" + std::to_string(T + 3600) + " log");
    const std::string bounds = std::to_string(T) + " " + std::to_string(T + 59);
    const std::string f = "-f '" + std::string(c.format) + "' ";
    for (const std::string from : {"log", "- <log", "/dev/stdin"}) {
      // Through a pipe a year-less stamp takes the year of the run.
      if (c.yearless && from == "/dev/stdin")
        continue;
      run_result r =
          run(f + from + " " + bounds, from == "/dev/stdin" ? "cat log" : "");
      EXPECT_EQ(r.out, want) << c.what << ", " << from;
      EXPECT_EQ(r.err, "") << c.what << ", " << from;
    }
  }
}

TEST_F(Scan, FormatRules) {
  const std::string s = std::to_string(T), e = std::to_string(T + 9);
  const std::string a = "2024-03-01 12:00:01 a\n",
                    b = "2024-03-01 12:00:02 b\n";
  const std::string x128(128, 'x');
  struct format_case {
    const char *what, *format;
    std::string input, bounds, want;
  } cases[] = {
      {"no candidate right after a digit", "%F %T",
       "x12024-03-01 12:00:05 x\n" + b, s, b},
      {"nor after a digit before blanks and a day", "%e %b %Y %T",
       "41 Mar 2024 12:00:05 x\n1 Mar 2024 12:00:02 b\n", s,
       "1 Mar 2024 12:00:02 b\n"},
      {"a month in full is no abbreviation", "%B %e %Y %T",
       "Mar  1 2024 12:00:05 x\nmarch  1 2024 12:00:02 b\n", s,
       "march  1 2024 12:00:02 b\n"},
      {"no candidate right after a letter", "%b %e %Y %T",
       "xMar  1 2024 12:00:05 x\nMAR  1 2024 12:00:02 b\n", s,
       "MAR  1 2024 12:00:02 b\n"},
      {"none past the first 128 bytes", "%F %T",
       a + x128 + "2024-03-01 12:00:09 x\n" + b, std::to_string(T + 1), b},
      {"a time before 1970 is no match: the next position is tried", "%F %T",
       "1969-12-31 23:59:58 then 2024-03-01 12:00:05 x\n", s + " " + e,
       "1969-12-31 23:59:58 then 2024-03-01 12:00:05 x\n"},
      {"a run of 19 digits is no epoch", "\"ts\":%s",
       "{\"ts\":1709294401}\n{\"ts\":1709294400123456789}\n", s + " " + e,
       "{\"ts\":1709294401}\n{\"ts\":1709294400123456789}\n"},
      {"a fraction FORMAT names", "%F %T.%f",
       "2024-03-01 12:00:01.5 a\n2024-03-01 12:00:02,5 b\n", s,
       "2024-03-01 12:00:01.5 a\n2024-03-01 12:00:02,5 b\n"},
      {"every shape of %z; hours past 23 are none", "%FT%T%z",
       "2024-03-01T14:00:01+02 a\n2024-03-01T14:00:02+0200 b\n"
       "2024-03-01T14:00:03+02:00 c\n2024-03-01T12:00:04z d\n"
       "2024-03-01T06:30:05-05:30 e\n2024-03-01T12:00:07+24 g\n"
       "2024-03-01T12:00:06Z f\n",
       std::to_string(T + 1) + " " + std::to_string(T + 5),
       "2024-03-01T14:00:02+0200 b\n2024-03-01T14:00:03+02:00 c\n"
       "2024-03-01T12:00:04z d\n2024-03-01T06:30:05-05:30 e\n"
       "2024-03-01T12:00:07+24 g\n"},
      {"a day past its month carries over", "%FT%T%z",
       "2024-02-30T12:00:00Z x\n", std::to_string(T - 1) + " " + s,
       "2024-02-30T12:00:00Z x\n"},
      {"fields out of range are no match", "%F %T",
       a + "2024-13-01 12:00:05 x\n", s + " " + e,
       a + "2024-13-01 12:00:05 x\n"},
      {"two-digit years from 1969 to 2068", "%y%m%d %H%M%S",
       "700101 000100 a\n991231 235959 b\n000101 000000 c\n690101 000000 x\n"
       "680101 000000 d\n",
       "59 946684800",
       "700101 000100 a\n991231 235959 b\n000101 000000 c\n690101 000000 x\n"},
      {"%%, %t and %R; no hour, minute or second is 0", "%%%F%t%R",
       "%2024-03-01 \t12:00 a\n%2024-03-01 12:01 b\n", std::to_string(T - 1),
       "%2024-03-01 \t12:00 a\n%2024-03-01 12:01 b\n"},
      {"a field read twice takes the last reading", "%F %d", "2024-03-01 02\n",
       std::to_string(T + 43199), "2024-03-01 02\n"},
  };
  for (const format_case &c : cases) {
    write("log", c.input);
    for (const std::string from : {"log", "/dev/stdin"}) {
      run_result r =
          run("-f '" + std::string(c.format) + "' " + from + " " + c.bounds,
              from == "log" ? "" : "cat log");
      EXPECT_EQ(r.out, c.want) << c.what << ", " << from;
      EXPECT_EQ(r.err, "") << c.what << ", " << from;
      EXPECT_EQ(r.status, 0) << c.what << ", " << from;
    }
  }
}

TEST_F(Scan, FormatMatchingIsLinearInALine) {
  // Each candidate of these lines begins a match that reads a run to the
  // line's end and fails there: read again from every later candidate, the
  // work would grow as the square of the line, and take a minute or more.
  const struct {
    const char *format;
    char fill;
  } cases[] = {{"1%f%m%d", '1'}, {"a%Z%m%d", 'a'}};
  for (const auto &c : cases) {
    std::string log;
    for (int i = 0; i < 3000; ++i)
      log += std::string(8190, c.fill) + "\n";
    write("log", log);
    EXPECT_EQ(shell("timeout 20 " STAMPCUT_BIN " -f '" + std::string(c.format) +
                    "' log 1 >.out 2>/dev/null"),
              0)
        << c.format;
    EXPECT_EQ(read(".out"), "") << c.format;
  }
}

TEST_F(Scan, FormatWithoutAYearTakesTheReferencesYear) {
  const std::string f = "-f '%b %e %T' ";
  // The file's last change is the reference: a December line read in
  // January is of the year before, as is one more than a day later.
  write("log", "Dec 31 23:59:59 a\nJan  1 00:00:01 b\n");
  shell("touch -d @1704068000 log"); // 2024-01-01T00:13:20Z
  EXPECT_EQ(run(f + "log 1704067198 1704067201").out, read("log"));
  // More than a day after it is the year before: Jan 2, 2023.
  const struct {
    const char *line, *bounds;
  } edges[] = {{"Jan  2 00:00:00 a\n", "1704153599 1704153600"},
               {"Jan  2 00:00:01 b\n", "1672617600 1672617601"}};
  for (const auto &edge : edges) {
    write("log", edge.line);
    shell("touch -d @1704067200 log"); // 2024-01-01T00:00:00Z
    EXPECT_EQ(run(f + "log " + edge.bounds).out, edge.line);
  }
  // East of UTC a line just after the New Year is of the year after the
  // reference's in UTC: Jan 1, 2024 in Tokyo, 2023-12-31T15:00:01Z.
  write("log", "Dec 31 23:59:58 a\nJan  1 00:00:01 b\n");
  shell("touch -d 2023-12-31T21:25:01Z log");
  EXPECT_EQ(shell("TZ=Asia/Tokyo " STAMPCUT_BIN " " + f +
                  "log 1704034799 1704060000 >out"),
            0);
  EXPECT_EQ(read("out"), "Jan  1 00:00:01 b\n");
  // Through a pipe the reference is the time of the run.
  const int64_t now = std::time(nullptr);
  const std::string before = shaped("%b %e %H:%M:%S b\n", now - 3600);
  write("log", shaped("%b %e %H:%M:%S a\n", now - 7200) + before +
                   shaped("%b %e %H:%M:%S c\n", now + 2 * 86400));
  EXPECT_EQ(run(f + "/dev/stdin " + std::to_string(now - 7200), "cat log").out,
            before);
}

TEST_F(Scan, FormatReadsTheSecondsOfAKnownMinuteAsInFull) {
  // After a line of the same minute, only the seconds are read again: one
  // or two digits up to 60, as the full match reads them, whatever
  // follows; a line whose seconds do not match goes with the line before.
  const std::string log = "2024-03-01 12:00:01 a\n"
                          "2024-03-01 12:00:61 b\n"
                          "2024-03-01 12:00:5 c\n"
                          "2024-03-01 12:00:123 d\n"
                          "2024-03-01 12:00:x e\n"
                          "2024-03-01 12:00:60 f\n"
                          "2024-03-01 12:01:01 g\n";
  const struct {
    std::string bounds, want;
  } cases[] = {
      {std::to_string(T + 1) + " " + std::to_string(T + 11),
       "2024-03-01 12:00:5 c\n"},
      {std::to_string(T) + " " + std::to_string(T + 4),
       "2024-03-01 12:00:01 a\n2024-03-01 12:00:61 b\n"},
      {std::to_string(T + 4) + " " + std::to_string(T + 12),
       "2024-03-01 12:00:5 c\n2024-03-01 12:00:123 d\n"
       "2024-03-01 12:00:x e\n"},
      {std::to_string(T + 59) + " " + std::to_string(T + 60),
       "2024-03-01 12:00:60 f\n"},
  };
  write("log", log);
  for (const auto &c : cases)
    EXPECT_EQ(run("-f '%Y-%m-%d %H:%M:%S' log " + c.bounds).out, c.want)
        << c.bounds;
}

class CommandLine : public cli_test {};

TEST_F(CommandLine, OutputOutlastsSignalsAndNonBlockingDescriptors) {
  std::string log;
  for (int i = 0; i < 20000; ++i)
    log += lines({T + i / 100});
  write("log", log);
  const std::string note = lines({T + 1}) + "42 no time\n";
  write("note", note);
  std::string longer = log;
  for (int i = 20000; i < 40000; ++i)
    longer += lines({T + i / 100});
  write("longer", longer);
  // The leak checker of a sanitizer build cannot run under ptrace.
  const std::string strace =
      "ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e inject=";
  const struct {
    std::string command, out, err = "";
  } cases[] = {
      // A write interrupted by a signal fails with EINTR.
      {strace + "write:error=EINTR:when=2 " STAMPCUT_BIN " log 0", log},
      // So does the message after the records.
      {strace + "write:error=EINTR:when=2 " STAMPCUT_BIN " note 0 " +
           std::to_string(T + 9),
       lines({T + 1}),
       "stampcut: note: stopped at a line without a timestamp, byte 38: 42 "
       "no time (see -m and -f): its stamps read as -m reads them: stampcut "
       "-m note 0 " +
           std::to_string(T + 9) + "\n"},
      // And every other read of the file's, the probes' and the scan's:
      // those of a run that reads no log are the loader's.
      {"ASAN_OPTIONS=detect_leaks=0 strace -o .reads -e "
       "trace=pread64 " STAMPCUT_BIN " --version >/dev/null; " +
           strace +
           "pread64:error=EINTR:when=$(($(grep -c '^pread64(' .reads) + "
           "1))+2 " +
           STAMPCUT_BIN " log 0",
       log},
      // A reader slower than the writer, on a pipe left non-blocking.
      {"{ perl -MFcntl -e 'fcntl(STDOUT, F_SETFL, O_NONBLOCK) or "
       "die'; " STAMPCUT_BIN " log 0; } | { sleep 1; cat; }",
       log},
      // One that takes a little at a time, so that writes into the full
      // pipe come back short: more than the 1 MiB that stampcut asks the
      // pipe to hold.
      {"{ perl -MFcntl -e 'fcntl(STDOUT, F_SETFL, O_NONBLOCK) or "
       "die'; " STAMPCUT_BIN " -m longer 0; } | perl -e 'while (sysread(STDIN, "
       "$b, 3000)) { print $b; select(undef, undef, undef, 0.0002) }'",
       longer},
      // A reader that goes away kills the writer, as other filters are
      // killed; with SIGPIPE ignored the run says so, with status 255.
      {"{ timeout 10 " STAMPCUT_BIN
       " -m /dev/zero 0; echo $? >&2; } | head -c 1 >/dev/null",
       "", "141\n"},
      {"{ trap '' PIPE; timeout 10 " STAMPCUT_BIN
       " -m /dev/zero 0; echo $? >&2; } | head -c 1 >/dev/null",
       "", "stampcut: standard output: Broken pipe\n255\n"},
      // A writer slower than the reader, on an input pipe left
      // non-blocking.
      {"{ sleep 1; cat log; } | { perl -MFcntl -e 'fcntl(STDIN, F_SETFL, "
       "O_NONBLOCK) or die'; " STAMPCUT_BIN " - 0; }",
       log},
      // And a signal while it waits there for the reader.
      {"{ perl -MFcntl -e 'fcntl(STDOUT, F_SETFL, O_NONBLOCK) or die'; " +
           strace +
           "poll,ppoll:error=EINTR:when=1 " STAMPCUT_BIN
           " log 0; } | { sleep 1; cat; }",
       log},
  };
  const bool traced = shell("command -v strace >/dev/null") == 0;
  for (const auto &c : cases) {
    if (!traced && c.command.find("strace") != std::string::npos)
      continue;
    EXPECT_EQ(shell("{ export TZ=UTC; " + c.command + "; } >.out 2>.err"), 0)
        << c.command;
    EXPECT_EQ(read(".out"), c.out) << c.command;
    EXPECT_EQ(read(".err"), c.err) << c.command;
  }
}

TEST_F(CommandLine, OptionsStandBeforeFile) {
  const std::string log = lines({T + 1, T + 2});
  write("log", log);
  write("-x", log);
  const struct {
    std::string args, out, err = "";
    int status = 0;
  } cases[] = {
      {"-- -x 0", log},
      {"./-x 0", log},
      {"- 0 <log", log},
      {"-m -f '%FT%T' -m log " + std::to_string(T + 1), lines({T + 2})},
      {"log 0 0 -m -x", log,
       "stampcut: \"-m\" after the bounds is ignored: options go before "
       "FILE\n"},
      // Not an option, and ignored as every argument after END is.
      {"log 0 0 -5", log,
       "stampcut: \"-5\" after the bounds is ignored: one FILE is read, from "
       "START to END\n"},
      {"--version", "stampcut " STAMPCUT_VERSION "\n"},
      // A file as START is said also when the bounds fail for it.
      {"log log 03:30", "",
       "stampcut: END \"03:30\" is before 1970-01-02\nstampcut: START "
       "\"log\" is a file: one FILE is read; -r reads a rotated set\n",
       255},
      // An option after FILE becomes START, and what follows shifts on.
      {"log -m 0 9", log,
       "stampcut: \"9\" after the bounds is ignored: one FILE is read, from "
       "START to END\nstampcut: START \"-m\" is not a bound: options go "
       "before FILE\n"},
      {"-h >/dev/full", "",
       "stampcut: standard output: No space left on device\n", 255},
  };
  for (const auto &c : cases) {
    run_result r = run(c.args);
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
    EXPECT_EQ(r.status, c.status) << c.args;
  }
  // - reads on from where standard input stands, as a pipe is read: lines
  // read off before are not searched, taken or taken for compressed bytes.
  // Two, as a probe looks past the line it lands in.
  const std::string rest = lines({T + 3, T + 4});
  write("headed", lines({T + 1, T + 2}) + rest);
  write("packed", "\x1f\x8b?\n" + lines({T + 2}) + rest);
  const struct {
    std::string args, in;
  } from_here[] = {
      {"- 0", "headed"},
      {"- " + std::to_string(T), "headed"},
      {"-m - 0", "headed"},
      {"- 0", "packed"},
  };
  for (const auto &c : from_here) {
    EXPECT_EQ(shell("{ IFS= read -r x; read -r x; TZ=UTC " STAMPCUT_BIN " " +
                    c.args + "; } <" + c.in + " >.out 2>.err"),
              0)
        << c.args;
    EXPECT_EQ(read(".out"), rest) << c.args << " <" << c.in;
    EXPECT_EQ(read(".err"), "") << c.args << " <" << c.in;
  }
  run_result help = run("--help -x");
  EXPECT_EQ(
      help.out.substr(0, help.out.find('\n')),
      "Usage: stampcut [-m] [-f FORMAT] [-s SECONDS] [-rF] [-v] [--] FILE "
      "START [END]");
  EXPECT_NE(help.out.find("--format=FORMAT"), std::string::npos);
  // A screen's worth: the rules are the man page's.
  EXPECT_LE(std::count(help.out.begin(), help.out.end(), '\n'), 25);
  EXPECT_NE(help.out.find("stampcut(1)"), std::string::npos);
  EXPECT_EQ(help.status, 0);
}

TEST_F(CommandLine, TooFewArgumentsPrintUsage) {
  for (const char *args : {"", "log", "-f '%F' log"}) {
    run_result r = run(args);
    EXPECT_EQ(r.out, usage) << args;
    EXPECT_EQ(r.out.size(), 77u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 255);
  }
}

// The note for a bound that is not wholly a number.
std::string read_as(const char *which, const std::string &text, int value,
                    const std::string &as_time = "") {
  return "stampcut: "s + which + " \"" + text + "\" is read as " +
         std::to_string(value) + ": bounds are seconds since the epoch" +
         (as_time.empty() ? "" : "; as a time under TZ it is " + as_time) +
         "\n";
}

TEST_F(CommandLine, BoundsConvertWithAutomaticBase) {
  const std::string log = lines({7, 8, 9, 16, 17});
  const std::string minute = lines({T - 1, T, T + 59, T + 60});
  const scan_case cases[] = {
      {"hex", "", "0x10", lines({17})},
      {"octal", "", "010", lines({9, 16, 17})},
      {"a word is 0", "", "soon", log, read_as("START", "soon", 0)},
      {"trailing text", "", "9sec 16s", lines({16}),
       read_as("START", "9sec", 9) + read_as("END", "16s", 16)},
      {"extra arguments", "", "8 9 extra words", lines({9}),
       "stampcut: \"extra\" after the bounds is ignored: one FILE is read, "
       "from START to END\n"},
      {"negative wraps to a huge start", "", "-1", "",
       "stampcut: log: nothing lies in the interval: its lines run from "
       "1970-01-01T00:00:07 to 1970-01-01T00:00:17\n"},
      {"negative end is a huge end", "", "8 -1", lines({9, 16, 17})},
      {"too large is the largest", "", "8 99999999999999999999999",
       lines({9, 16, 17})},
      {"white space around a number, a plus sign", "", "' 8' '+0x10 '",
       lines({9, 16})},
      {"dates: each second of the minute", minute,
       "2024-03-01T12:00:00Z 2024-03-01T12:01:00Z", lines({T, T + 59})},
      {"a date with a space", minute, "'2024-03-01 12:00'",
       lines({T, T + 59, T + 60})},
      {"dates swapped", minute, "2024-03-01T12:01 2024-03-01T12:00", "",
       "stampcut: END \"2024-03-01T12:00\" is before START "
       "\"2024-03-01T12:01\": nothing can be selected\n"},
      {"not quite dates", "", "2024-03-01T03:30:00junk 2024-13-01", "",
       read_as("START", "2024-03-01T03:30:00junk", 2024, "1709263800") +
           read_as("END", "2024-13-01", 2024)},
      {"milliseconds", "", "8 1709288102123", lines({9, 16, 17}),
       "stampcut: END 1709288102123 lies after the year 9999: bounds are "
       "seconds, not milliseconds\n"},
      {"not times of day", "", "3:3 24:00", lines({7, 8, 9, 16, 17}),
       read_as("START", "3:3", 3) + read_as("END", "24:00", 24)},
      {"nor day words", "", "today3:30 yesterdy", lines({7, 8, 9, 16, 17}),
       read_as("START", "today3:30", 0) + read_as("END", "yesterdy", 0)},
      {"a word as END", "", "8 later", lines({9, 16, 17}),
       read_as("END", "later", 0)},
      {"empty, and a control byte", "", "'' \"$(printf '9\\tx')\"",
       lines({7, 8, 9}),
       read_as("START", "", 0) + read_as("END", "9\\x09x", 9)},
      {"END below START", "", "0x10 9", "",
       "stampcut: END 9 is before START 16: nothing can be selected\n"},
      {"END equal to START", "", "9 9", "",
       "stampcut: log: nothing lies in the interval: its lines run from "
       "1970-01-01T00:00:07 to 1970-01-01T00:00:17\n"},
      {"END 0 below START", "", "9 0", lines({16, 17})},
      {"BZh without a block size is text", "BZhang\n" + log, "8",
       lines({9, 16, 17})},
      {"a second file named", "", "log 9", lines({7, 8, 9}),
       "stampcut: START \"log\" is a file: one FILE is read; -r reads a "
       "rotated set\n"},
  };
  for (const scan_case &c : cases) {
    write("log", c.input.empty() ? log : c.input);
    run_result r = c.feed.empty() ? run("log " + c.bounds)
                                  : run("/dev/stdin " + c.bounds, c.feed);
    EXPECT_EQ(r.out, c.want) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

// Lines "STAMP n" a minute apart from t for count minutes, as pattern
// writes the stamp in zone (UTC when nullptr); *at gets each line's time.
std::string minutes(const char *pattern, int64_t t, int count,
                    const char *zone = nullptr) {
  std::string log;
  if (zone != nullptr)
    setenv("TZ", zone, 1);
  for (int i = 0; i < count; ++i, t += 60) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm;
    zone != nullptr ? localtime_r(&tt, &tm) : gmtime_r(&tt, &tm);
    char text[64];
    std::strftime(text, sizeof text, pattern, &tm);
    log += std::string(text) + " line " + std::to_string(i) + "\n";
  }
  setenv("TZ", "UTC", 1);
  return log;
}

// The lines first to first + count - 1 of a log of minutes.
std::string lines_of(const std::string &log, int first, int count) {
  std::size_t from = 0;
  for (int i = 0; i < first; ++i)
    from = log.find('\n', from) + 1;
  std::size_t to = from;
  for (int i = 0; i < count; ++i)
    to = log.find('\n', to) + 1;
  return log.substr(from, to - from);
}

TEST_F(CommandLine, BoundsAsOperatorsTypeThem) {
  // 23:40 on 1 March to 00:20 on 2 March: a time of day as START is placed
  // at or before the last line, END after START.
  const int64_t night = 1709336400; // 2024-03-01T23:40:00Z
  const std::string iso = minutes("%Y-%m-%dT%H:%M:%SZ", night, 41);
  const std::string syslog = minutes("%b %e %H:%M:%S", night, 41);
  std::string trace;
  for (int i = 0; i < 1000; ++i)
    trace += "    at com.example.Deep(Deep.java)\n";
  // Through a pipe the run's instant stands in for the last line: lines
  // from three hours ago to one hour ago, queried by their times of day.
  const int64_t now = std::time(nullptr);
  const std::string recent = minutes("%Y-%m-%dT%H:%M:%S", now - 10800, 121);
  const std::string hhmm_150 = minutes("%H:%M", now - 9000, 1),
                    hhmm_120 = minutes("%H:%M", now - 7200, 1);
  const std::string ago = hhmm_150.substr(0, 5) + " " + hhmm_120.substr(0, 5);
  const struct {
    std::string log, bounds, want;
    bool yearless = false, piped = false;
  } cases[] = {
      {iso, "23:50 00:10", lines_of(iso, 10, 20)},
      {iso, "00:05 00:06", lines_of(iso, 25, 1)},
      // The last line is found past a long trace at the file's end.
      {iso + trace, "00:05 00:06", lines_of(iso, 25, 1)},
      {iso, "23:45 23:45", lines_of(iso, 5, 36)},
      {iso, "'2024-03-01 23:58' 0:01:30.5", lines_of(iso, 18, 4)},
      {syslog, "'Mar  1 23:59' 'Mar  2 00:01'", lines_of(syslog, 19, 2), true},
      {syslog, "'Mar  2' 'Mar  3'", lines_of(syslog, 20, 21), true},
      {recent, ago, lines_of(recent, 30, 30), false, true},
  };
  for (const auto &c : cases) {
    write("log", c.log);
    shell("touch -d @" + std::to_string(night + 86400) + " log");
    const bool yearless = c.yearless;
    for (const std::string mode :
         {"", "-m", yearless ? "-f '%b %e %T'" : "-f '%FT%T'"}) {
      if (yearless && mode.empty())
        continue; // the default mode reads no syslog stamp
      for (const std::string from : {"log", "/dev/stdin"}) {
        // Through a pipe the year and the day come from the run's instant.
        if (!c.piped && from == "/dev/stdin")
          continue;
        run_result r = run(mode + " " + from + " " + c.bounds,
                           from == "log" ? "" : "cat log");
        EXPECT_EQ(r.out, c.want) << mode << " " << from << " " << c.bounds;
        EXPECT_EQ(r.err, "") << mode << " " << from << " " << c.bounds;
      }
    }
  }
  // Day words name the days of the run's wall clock, summer time included.
  const std::string berlin =
      minutes("%Y-%m-%dT%H:%M:%S", now - 50 * 3600, 49 * 60, "Europe/Berlin");
  write("log", berlin);
  std::string yesterday;
  const std::string day = minutes("%Y-%m-%d", now - 86400, 1, "Europe/Berlin");
  for (std::size_t at = 0, lf;
       (lf = berlin.find('\n', at)) != std::string::npos; at = lf + 1)
    if (berlin.compare(at, 10, day, 0, 10) == 0)
      yesterday += berlin.substr(at, lf + 1 - at);
  for (const std::string mode : {"", "-m"}) {
    EXPECT_EQ(shell("TZ=Europe/Berlin " STAMPCUT_BIN " " + mode +
                    " log yesterday today >out 2>err"),
              0);
    EXPECT_EQ(read("out"), yesterday) << mode;
    EXPECT_EQ(read("err"), "") << mode;
  }
}

TEST_F(CommandLine, TimesReadAsTheLogsStampsAre) {
  const std::string iso = lines({T - 3600, T - 1, T, T + 59, T + 60});
  const std::string zoned = "'2024-03-01 12:00+01:00' 2024-03-01T12:01Z";
  // Each a minute or more from every bound, whenever the run starts.
  const int64_t n = std::time(nullptr);
  const std::string recent = lines({n - 86460, n - 86340, n - 7260, n - 7140,
                                    n - 960, n - 840, n - 150, n - 30, n + 60});
  // A line a second late: only with slack is it found, past the line after
  // the interval.
  const std::string late = lines({T + 1, T + 3, T + 2, T + 4});
  const std::string second_2 = "2024-03-01T12:00:02 2024-03-01T12:00:03";
  const struct {
    std::string options, input, bounds, want;
  } cases[] = {
      {"", iso, zoned, lines({T, T + 59})},
      {"-m", iso, zoned, lines({T, T + 59})},
      {"-f %Y-%m-%dT%H:%M:%S%z", iso, zoned,
       lines({T - 3600, T - 1, T, T + 59})},
      {"-f '[%d/%b/%Y:%T %z]'",
       "[01/Mar/2024:11:00:00 +0000] a\n[01/Mar/2024:12:00:00 +0000] b\n",
       "'[01/Mar/2024:13:00:00 +0100]'", "[01/Mar/2024:12:00:00 +0000] b\n"},
      {"-f '%b %e %T'", "Mar  1 11:59:59 a\nMar  1 12:00:00 b\n",
       "'Mar  1 12:00:00'", "Mar  1 12:00:00 b\n"},
      {"", recent, "now-1d -2h", lines({n - 86340, n - 7260})},
      {"-m", recent, "-15m now-90s", lines({n - 840, n - 150})},
      {"", recent, "-90s now", lines({n - 30})},
      {"", late, second_2, ""},
      {"-s 1", late, second_2, lines({T + 2})},
      {"-m --slack=1", late, second_2, lines({T + 2})},
      {"-s1 -f %FT%T", late, second_2, lines({T + 2})},
  };
  for (const auto &c : cases) {
    write("log", c.input);
    for (const std::string from : {"log", "/dev/stdin"}) {
      run_result r = run(c.options + " " + from + " " + c.bounds,
                         from == "log" ? "" : "cat log");
      EXPECT_EQ(r.out, c.want) << c.options << " " << from << " " << c.bounds;
      // Nothing out: the note says where the lines lie.
      EXPECT_EQ(r.err.substr(0, c.want.empty() ? 41 + from.size() : 0),
                c.want.empty()
                    ? "stampcut: " + from + ": nothing lies in the interval:"
                    : "")
          << c.options << " " << from << " " << c.bounds;
    }
  }
}

TEST_F(CommandLine, FailuresExit255) {
  write("log", lines({T + 1}));
  mkdir(path("dir").c_str(), 0755);
  struct failure {
    std::string args, err, feed = "";
  } cases[] = {
      {"missing 0", "stampcut: missing: No such file or directory\n"},
      // Mistakes on the command line are said before FILE is opened.
      {"-x missing 0", "stampcut: unknown option -x\n"},
      {"-mx missing 0", "stampcut: unknown option -x\n"},
      {"--bogus=1 missing 0", "stampcut: unknown option --bogus\n"},
      {"--multiline=1 missing 0",
       "stampcut: option --multiline takes no argument\n"},
      {"-f", "stampcut: option -f needs an argument\n"},
      {"-s 1x missing 0",
       "stampcut: option -s: \"1x\" is not a number of seconds\n"},
      {"--slack=-1 missing 0",
       "stampcut: option --slack: \"-1\" is not a number of seconds\n"},
      {"--format", "stampcut: option --format needs an argument\n"},
      {"-f '%F %k' missing 0",
       "stampcut: FORMAT \"%F %k\": unknown directive %k\n"},
      {"-f '%F %T%' missing 0",
       "stampcut: FORMAT \"%F %T%\": ends with a lone %\n"},
      {"-f '%s %Q' missing 0",
       "stampcut: FORMAT \"%s %Q\": has both %s and %Q\n"},
      {"--format='%Y %d %T' missing 0",
       "stampcut: FORMAT \"%Y %d %T\": has no month (%m, %b, %h, %B or %F)\n"},
      {"-f \"$(printf %0270d%% 0)\" missing 0",
       "stampcut: FORMAT \"" + std::string(60, '0') +
           "\": is longer than 256 bytes and directives\n"},
      {"missing 0 0 -m", "stampcut: missing: No such file or directory\n"},
      {"-f'%b %T' missing 0",
       "stampcut: FORMAT \"%b %T\": has no day (%d, %e or %F)\n"},
      {"dir 0", "stampcut: dir: Is a directory\n"},
      {"log 1970-01-01T12:00",
       "stampcut: START \"1970-01-01T12:00\" is before 1970-01-02\n"},
      {"log 0 -99999d", "stampcut: END \"-99999d\" is before 1970-01-02\n"},
      // A time of -1 is a time too, not a text that FORMAT does not match.
      {"-f '%d/%m/%Y %T' log '31/12/1969 23:59:59'",
       "stampcut: START \"31/12/1969 23:59:59\" is before 1970-01-02\n"},
      {"log 0 >/dev/full",
       "stampcut: standard output: No space left on device\n"},
      {"log 0 >>log", "stampcut: log: input file is also the output\n"},
      {"log 0 >&-", "stampcut: standard output: Bad file descriptor\n"},
  };
  for (const failure &c : cases) {
    run_result r = run(c.args, c.feed);
    EXPECT_EQ(r.status, 255) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
  EXPECT_EQ(read("log"), lines({T + 1}));

  // A long record is read twice; a file cut short or rewritten in between
  // is not written as if whole. The copy waits on the full pipe while the
  // file is changed: 4 MiB, as the pipe may have been made to hold 1 MiB.
  const std::string record = stamp(T + 1) + std::string(4 << 20, 'x');
  for (const std::string &change :
       {"truncate -s 3000000 long"s,
        "printf y | dd of=long bs=1 conv=notrunc status=none seek=" +
            std::to_string(record.size()),
        "echo | dd of=long bs=1 conv=notrunc status=none seek=3100000"s,
        // The last byte of a copied piece that is not the last.
        "echo | dd of=long bs=1 conv=notrunc status=none seek=3145727"s}) {
    write("long", record + "\n");
    EXPECT_EQ(shell("{ TZ=UTC " STAMPCUT_BIN " long 0 2>.err; echo $? >.st; } "
                    "| { sleep 1; " +
                    change + "; cat >.out; }"),
              0);
    EXPECT_EQ(read(".st"), "255\n") << change;
    EXPECT_EQ(read(".err"), "stampcut: long: file changed while being read\n");
    const std::string out = read(".out");
    EXPECT_LT(out.size(), record.size()) << change;
    EXPECT_EQ(out, record.substr(0, out.size()));
  }
}

} // namespace
