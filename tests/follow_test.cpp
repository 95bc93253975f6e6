// -F on a real file that the test grows, rotates and cuts while stampcut
// follows it. Every wait has a deadline: stampcut runs under timeout, and
// each wait for its output gives up after 5 s and says so.
#include "cli.h"

#include <algorithm>
#include <ctime>
#include <string>

namespace {

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z

// Shell functions for a row's steps: add appends to the log, wait_for
// waits for a line on the output (noting in .late when it does not come),
// settle gives stampcut time to act on what it was given, and stop sends
// it a signal.
const std::string helpers = "add() { printf '%s' \"$1\" >>log; }; "
                            "wait_for() { i=0; p=$(printf %s \"$1\"); "
                            "until grep -qsF -- \"$p\" .out; do [ $i -ge 100 ] "
                            "&& { echo \"$1\" >>.late; return; }; sleep 0.05; "
                            "i=$((i+1)); done; }; "
                            "settle() { sleep 0.3; }; "
                            "stop() { kill -$1 $(cat .pid); }; ";

struct follow_case {
  const char *what;
  std::string bounds, steps, want;
  std::string status = "130\n", err = "";
  std::string mid = "";  // what .mid, when a step copies the output, holds
  std::string pipe = ""; // a reader that stampcut's output is piped to
};

class Follow : public cli_test {};

TEST_F(Follow, WritesWhatIsAppendedAsItArrives) {
  const std::string l1 = lines({T + 1}), l2 = lines({T + 2}),
                    l3 = lines({T + 3}), l4 = lines({T + 4});
  const int64_t now = std::time(nullptr);
  const std::string add2 = "add '" + l2 + "'; wait_for '" + l2 + "'; ";
  const follow_case cases[] = {
      {"appended in pieces", "0",
       add2 + "add '" + l3 + "'; wait_for '" + l3 + "'; stop INT",
       l1 + l2 + l3},
      {"a line split across two appends", "0",
       "add '" + l2.substr(0, 25) + "'; settle; cp .out .mid; add '" +
           l2.substr(25) + "'; wait_for '" + l2 + "'; stop INT",
       l1 + l2, "130\n", "", l1},
      // The old file is read to its end, but for a last line cut short,
      // which is no line; then the new one from its first byte.
      {"rotation by rename and create", "0",
       add2 + "mv log log.1; printf '" + l3 + stamp(T + 5) +
           " cut' >>log.1; printf '" + l4 + "' >log; wait_for '" + l4 +
           "'; stop TERM",
       l1 + l2 + l3 + l4, "143\n"},
      {"copytruncate", "0",
       add2 + "cp log log.1; : >log; settle; add '" + l3 + "'; wait_for '" +
           l3 + "'; stop INT",
       l1 + l2 + l3, "130\n",
       "stampcut: log: truncated; following from its start\n"},
      // An END already passed by the clock ends the follow at the file's
      // end: this one lies ten minutes ahead of the run.
      {"END passed by a line", "0 $(($(date +%s) + 600))",
       add2 + "add '" + lines({now + 3600}) + "'", l1 + l2, "0\n"},
      // Lines of 2024 all lie before an END of now, which the clock passes
      // two seconds later.
      {"END passed by the clock", "0 $(date +%s)", add2, l1 + l2, "0\n"},
      {"SIGINT leaves a half-written line out", "0",
       add2 + "add '" + stamp(T + 3) + " half'; settle; stop INT", l1 + l2},
      {"the output's reader leaving an idle follow", "0", "", l1, "141\n", "",
       "", "| head -n 1"},
  };
  for (const follow_case &c : cases)
    for (const std::string mode :
         {"", "-m", "-f '%Y-%m-%dT%H:%M:%S'", "-r -m"}) {
      write("log", l1);
      shell("rm -f log.1 .out .err .st .mid .late .pid");
      const std::string run =
          "{ TZ=UTC timeout --preserve-status 10 " STAMPCUT_BIN " -F " + mode +
          " log " + c.bounds + " 2>.err " + (c.pipe.empty() ? ">.out " : "") +
          "& echo $! >.pid; wait $!; echo $? >.st; } " +
          (c.pipe.empty() ? "" : c.pipe + " >.out") + " 2>/dev/null & ";
      shell(helpers + run + "wait_for '" + l1 + "'; " + c.steps + "\nwait");
      const std::string row = std::string(c.what) + ", " + mode;
      EXPECT_EQ(read(".out"), c.want) << row;
      EXPECT_EQ(read(".err"), c.err) << row;
      EXPECT_EQ(read(".st"), c.status) << row;
      EXPECT_EQ(read(".late"), "") << row;
      EXPECT_EQ(read(".mid"), c.mid) << row;
    }
}

// A file cut while a long line of it is copied out to a slow reader: what
// was written of the line is ended with an LF, and the follow goes on from
// the file's new start.
TEST_F(Follow, ACutUnderALongLineEndsItAndFollowsOn) {
  const std::string l1 = lines({T + 1}), l3 = lines({T + 3});
  write("log", l1 + stamp(T + 2) + " " + std::string(3 << 20, 'x') + "\n");
  shell("rm -f .out .err .st .late .pid");
  shell(helpers +
        "{ TZ=UTC timeout --preserve-status 10 " STAMPCUT_BIN
        " -F log 0 2>.err & echo $! >.pid; wait $!; echo $? >.st; } "
        "| { sleep 1; cat; } >.out & sleep 0.5; : >log; settle; add '" +
        l3 + "'; wait_for '" + l3 + "'; stop INT\nwait");
  const std::string out = read(".out");
  EXPECT_EQ(out.substr(0, l1.size()), l1);
  ASSERT_GT(out.size(), l1.size() + l3.size());
  EXPECT_EQ(out.substr(out.size() - l3.size() - 1), "\n" + l3);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
  EXPECT_EQ(read(".err"),
            "stampcut: log: truncated; following from its start\n"
            "stampcut: log: input ended inside a line longer than 8 KiB: "
            "written up to there, with an LF added\n");
  EXPECT_EQ(read(".st"), "130\n");
}

TEST_F(Follow, InputThatIsNotAFileIsReadToItsEnd) {
  const std::string log = lines({T + 1, T + 2});
  write("log", log);
  const bool gzip = shell("command -v gzip >/dev/null && gzip -k log") == 0;
  for (const std::string args :
       {"- 0 <log >.out", "fifo 0 >.out & cat log >fifo", "log.gz 0 >.out"}) {
    if (args[0] == 'l' && !gzip)
      continue;
    shell("rm -f fifo .out; mkfifo fifo");
    EXPECT_EQ(shell("TZ=UTC timeout 10 " STAMPCUT_BIN " -F " + args + "; wait"),
              0)
        << args;
    EXPECT_EQ(read(".out"), log) << args;
  }
}

} // namespace
