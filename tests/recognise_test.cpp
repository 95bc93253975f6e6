// Stamps recognised under -m without -f, and the notes that say what the
// output cannot show.
#include "cli.h"

#include <string>

namespace {

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z

class Recognise : public cli_test {};

// A log of lines in pattern's shape at times about T, one followed by a
// trace; *want gets those of the minute after T.
std::string minute_log(const char *pattern, std::string *want) {
  std::string log;
  want->clear();
  for (int64_t t : {T - 60, T, T + 1, T + 59, T + 61}) {
    std::string line = shaped(pattern, t) + "\n";
    if (t == T + 1)
      line += "Traceback (most recent call last):\n";
    log += line;
    if (t > T && t <= T + 59)
      *want += line;
  }
  return log;
}

TEST_F(Recognise, EachEntryReadsItsShapeAsItsFormatDoes) {
  const std::string pad(130, 'p'); // puts a JSON key past byte 128
  const struct {
    const char *format, *pattern;
    bool yearless = false;
  } entries[] = {
      {"%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M:%S,123 INFO app: started"},
      {"%Y/%m/%d %H:%M:%S", "%Y/%m/%d %H:%M:%S [error] 7#7: *1 open()"},
      {"[%d/%b/%Y:%H:%M:%S %z]",
       "10.0.0.7 - - [%d/%b/%Y:%H:%M:%S +0000] \"GET / HTTP/1.1\" 200 612"},
      {"[%a %b %d %H:%M:%S %Y]", "[%a %b %d %H:%M:%S %Y] [core:error] x"},
      {"[%a %b %d %H:%M:%S %Y]",
       "[%a %b %d %H:%M:%S.123456 %Y] [core:error] [pid 42:tid 7] x"},
      {"%a %b %e %H:%M:%S %Y", "%a %b %e %H:%M:%S %Y x"},
      {"%b %e %H:%M:%S", "%b %e %H:%M:%S web-01 app[123]: x", true},
      {"%m-%d %H:%M:%S", "%m-%d %H:%M:%S.811  1702  2395 D WindowManager: x",
       true},
      {"%y%m%d %H%M%S", "%y%m%d %H%M%S 148 INFO dfs.DataNode: x"},
      {"%y/%m/%d %H:%M:%S", "%y/%m/%d %H:%M:%S INFO spark.SparkContext: x"},
      {"%Y-%m-%d-%H.%M.%S", "%Y-%m-%d-%H.%M.%S.123456 x"},
      {"%Y%m%d-%H:%M:%S", "%Y%m%d-%H:%M:%S:123|Step_LSC|30002312|x"},
      {"[%m.%d %H:%M:%S]", "[%m.%d %H:%M:%S] chrome.exe - x", true},
      {"\"time\": \"%FT%T",
       "{\"log\":\"@P\",\"stream\":\"stdout\",\"time\":\"%Y-%m-%dT%H:%M:%S."
       "123456789Z\"}"},
      {"\"ts\": \"%FT%T", "{\"msg\":\"@P\",\"ts\":\"%Y-%m-%dT%H:%M:%S.1Z\"}"},
      {"\"timestamp\": \"%FT%T",
       "{\"msg\":\"@P\",\"timestamp\":\"%Y-%m-%dT%H:%M:%S\"}"},
      {"\"@timestamp\": \"%FT%T",
       "{\"msg\":\"@P\",\"@timestamp\":\"%Y-%m-%dT%H:%M:%S.000Z\"}"},
      {"\"time\": %s", "{\"level\":30,\"time\":@s,\"msg\":\"x\"}"},
      {"\"time\": %Q", "{\"level\":30,\"time\":@Q,\"pid\":4242,\"msg\":\"x\"}"},
      {"\"ts\": %s", "{\"level\":\"info\",\"ts\":@s.1234567,\"msg\":\"x\"}"},
      {"\"ts\": %Q", "{\"ts\":@Q,\"msg\":\"x\"}"},
      // As Python's json writes it, a space after each colon.
      {"\"ts\": %s", "{\"ts\": @s.0, \"msg\": \"x\"}"},
      {"\"time\": \"%FT%T",
       "{\"msg\": \"@P\", \"time\": \"%Y-%m-%dT%H:%M:%SZ\"}"},
      {"\"timestamp\": %s", "{\"timestamp\":@s,\"msg\":\"x\"}"},
      {"\"timestamp\": %Q", "{\"timestamp\":@Q,\"msg\":\"x\"}"},
      {"%d-%b-%Y %H:%M:%S", "%d-%b-%Y %H:%M:%S.123 INFO [main] x"},
      {"%d %b %Y %H:%M:%S", "1:M %d %b %Y %H:%M:%S.123 * Ready"},
      {"%Y%m%dT%H%M%S", "%Y%m%dT%H%M%S x"},
      {"%d.%m.%Y %H:%M:%S", "%d.%m.%Y %H:%M:%S x"},
  };
  const std::string bounds = std::to_string(T) + " " + std::to_string(T + 59);
  for (const auto &e : entries) {
    std::string pattern = e.pattern, want;
    for (std::size_t at; (at = pattern.find("@P")) != std::string::npos;)
      pattern.replace(at, 2, pad);
    write("log", minute_log(pattern.c_str(), &want));
    shell("touch -d @" + std::to_string(T + 3600) + " log");
    const std::string understood = "stampcut: whole lines, timed by FORMAT '" +
                                   std::string(e.format) + "' (recognised)\n";
    for (const std::string from : {"log", "/dev/stdin"}) {
      // Through a pipe a year-less stamp takes the year of the run.
      if (e.yearless && from == "/dev/stdin")
        continue;
      const std::string feed = from == "log" ? "" : "cat log";
      run_result r = run("-m -v " + from + " " + bounds, feed);
      EXPECT_EQ(r.out, want) << e.format << ", " << from;
      EXPECT_EQ(r.err.substr(0, understood.size()), understood)
          << e.format << ", " << from;
      EXPECT_EQ(
          run("-f '" + std::string(e.format) + "' " + from + " " + bounds, feed)
              .out,
          want)
          << e.format << ", " << from;
    }
  }
}

TEST_F(Recognise, TheChoice) {
  const char *syslog = "%b %e %H:%M:%S web-01 app[123]: x";
  std::string want;
  const std::string log = minute_log(syslog, &want);
  std::string python;
  for (int i = 0; i < 3; ++i)
    python += shaped("%Y-%m-%d %H:%M:%S,123 INFO x\n", T - 7200 + i);
  const std::string banner(70000, '=');
  std::string many;
  for (int i = 0; i < 1000; ++i)
    many += log;
  const std::string bounds = std::to_string(T) + " " + std::to_string(T + 59);
  const struct {
    const char *what;
    std::string input, from, want, understood;
    bool as_format = false; // want: what -f with the FORMAT writes
  } cases[] = {
      {"a banner before the first stamp",
       "=== starting, version 2.4.1 ===\n\n=== config: 12 keys ===\n" + log,
       "log", want, "FORMAT '%b %e %H:%M:%S' (recognised)"},
      {"two shapes: the one of more lines wins", python + log, "log", want,
       "FORMAT '%b %e %H:%M:%S' (recognised)"},
      {"one long line first: the middle of the file decides",
       banner + "\n" + many, "log", "", "FORMAT '%b %e %H:%M:%S' (recognised)",
       true},
      {"one long line first: a pipe reads as the default stamp does",
       banner + "\n" + log, "/dev/stdin", "",
       "the default stamp within their first 128 bytes (recognised)"},
      {"a shape no entry knows", "12:00:05 on 1.3. x\n", "log", "",
       "the default stamp within their first 128 bytes (recognised)"},
  };
  for (const auto &c : cases) {
    write("log", c.input);
    shell("touch -d @" + std::to_string(T + 3600) + " log");
    run_result r =
        run("-m -v " + c.from + " " + bounds, c.from == "log" ? "" : "cat log");
    EXPECT_EQ(r.out, c.as_format ? run("-f '%b %e %H:%M:%S' log " + bounds).out
                                 : c.want)
        << c.what;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "stampcut: whole lines, timed by " + c.understood)
        << c.what;
  }
}

TEST_F(Recognise, NotesSayWhatTheOutputCannot) {
  const std::string syslog = shaped("%b %e %H:%M:%S web-01 app: a\n", T + 5) +
                             shaped("%b %e %H:%M:%S web-01 app: b\n", T + 65);
  const std::string iso = shaped("%Y-%m-%dT%H:%M:%S x\n", T + 5) +
                          shaped("%Y-%m-%dT%H:%M:%S y\n", T + 65);
  const std::string s = std::to_string(T), e = std::to_string(T + 9);
  const struct {
    const char *what;
    std::string input, args, err;
  } cases[] = {
      {"records timed by none, a shape -m reads", syslog, "log " + s,
       "stampcut: log: no line has a timestamp stampcut reads: its stamps "
       "read as -m reads them: stampcut -m log " +
           s + "\n"},
      {"stopped at one, bounds quoted for the shell", syslog,
       "log 'Mar  1 12:00:00' " + e,
       "stampcut: START \"Mar  1 12:00:00\" is read as 0: bounds are seconds "
       "since the epoch\n"
       "stampcut: log: stopped at a line without a timestamp, byte 5: 1 "
       "12:00:05 web-01 app: a (see -m and -f): its stamps read as -m reads "
       "them: stampcut -m log 'Mar  1 12:00:00' " +
           e + "\n"},
      {"records timed by none, a shape no entry knows", "at 12:00 x\n",
       "log " + s, "stampcut: log: no line has a timestamp stampcut reads\n"},
      {"nothing in the interval", iso, "log " + e + " " + e,
       "stampcut: log: nothing lies in the interval: its lines run from "
       "2024-03-01T12:00:05 to 2024-03-01T12:01:05\n"},
      {"the same, through a pipe", iso, "- " + e + " " + e + " <log",
       "stampcut: -: nothing lies in the interval: its lines run from "
       "2024-03-01T12:00:05 to 2024-03-01T12:01:05\n"},
      {"the year from the file's last change", syslog,
       "-m log 'Mar  1 12:02:00'",
       "stampcut: log: nothing lies in the interval: its lines run from "
       "2024-03-01T12:00:05 to 2024-03-01T12:01:05 (the year from the "
       "file's last change)\n"},
      {"no such note when another was said", iso, "log 9 10sec",
       "stampcut: END \"10sec\" is read as 10: bounds are seconds since the "
       "epoch\n"},
      {"a last record without a line end",
       iso + shaped("%Y-%m-%dT%H:%M:%S z", T + 70), "log " + s,
       "stampcut: log: the last line has no line end and is not written: "
       "2024-03-01T12:01:10 z (see -m)\n"},
  };
  for (const auto &c : cases) {
    write("log", c.input);
    shell("touch -d @" + std::to_string(T + 3600) + " log");
    run_result r = run(c.args);
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

TEST_F(Recognise, VerboseSaysWhatTheRunUnderstoodAndDid) {
  std::string log;
  for (int i = 0; i < 100; ++i)
    log += shaped("%b %e %H:%M:%S web-01 app: x\n", T + i);
  write("log", log);
  shell("touch -d @" + std::to_string(T + 3600) + " log");
  run_result r = run("-v -m log 'Mar  1 12:00:10' 'Mar  1 12:00:20'");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10);
  const std::string head =
      "stampcut: whole lines, timed by FORMAT '%b %e %H:%M:%S' (recognised)\n"
      "stampcut: stamps without a year are placed against "
      "2024-03-01T13:00:00Z (the file's last change): the year 2024, the one "
      "after or the one before\n"
      "stampcut: START Mar  1 12:00:10, a text in FORMAT: lines from "
      "2024-03-01T12:00:10 on\n"
      "stampcut: END Mar  1 12:00:20, a text in FORMAT: lines up to "
      "2024-03-01T12:00:19\n"
      "stampcut: log: started at byte ";
  EXPECT_EQ(r.err.substr(0, head.size()), head);
  EXPECT_NE(r.err.find("; wrote 10 lines; ended at the first line past END, "
                       "byte 600\n"),
            std::string::npos)
      << r.err;
  // The reference is an instant, the same in every zone.
  shell("TZ=America/New_York " STAMPCUT_BIN " -v -m log 0 2>.err >/dev/null");
  EXPECT_NE(read(".err").find("placed against 2024-03-01T13:00:00Z "),
            std::string::npos)
      << read(".err");
  // Output and status are those of the run without -v.
  EXPECT_EQ(run("-m log 'Mar  1 12:00:10' 'Mar  1 12:00:20'").out, r.out);
  EXPECT_EQ(r.status, 0);
}

} // namespace
