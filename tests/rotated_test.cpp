// -r: a rotated set read as one log, against its files joined oldest first
// and read through a pipe.
#include "cli.h"

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int64_t T = 1709294400; // 2024-03-01T12:00:00Z

class Rotated : public cli_test {};

TEST_F(Rotated, ReadsAsTheJoinOfItsFiles) {
  std::mt19937_64 rng(20261208);
  auto pick = [&rng](uint64_t n) { return rng() % n; };
  const char *const packers[][2] = {{"", ""},
                                    {"gzip", ".gz"},
                                    {"zstd -q", ".zst"},
                                    {"xz", ".xz"},
                                    {"bzip2", ".bz2"}};
  for (int set = 0; set < 40; ++set) {
    // Sorted lines, traces without a digit after some.
    std::vector<std::string> log;
    int64_t t = T;
    for (std::size_t i = 20 + pick(400); i > 0; --i) {
      t += static_cast<int64_t>(pick(3));
      log.push_back(lines({t}));
      if (pick(8) == 0)
        log.back() += "\tat com.example.Foo.bar(Foo.java)\n";
    }
    // Cut into files at random lines, an empty one among them at times.
    shell("rm -f app.log*");
    const std::size_t files = 1 + pick(5);
    std::vector<std::size_t> cuts = {0};
    for (std::size_t k = 1; k < files; ++k)
      cuts.push_back(pick(log.size() + 1));
    cuts.push_back(log.size());
    std::sort(cuts.begin(), cuts.end());
    std::string join;
    for (std::size_t k = 0; k < files; ++k) {
      std::string text;
      for (std::size_t i = cuts[k]; i < cuts[k + 1]; ++i)
        text += log[i];
      join += text;
      // The oldest has the highest number, or the earliest date.
      const bool dated = set % 2 == 1;
      const std::size_t age = files - 1 - k;
      std::string name = "app.log";
      if (age != 0)
        name += dated ? "-2024030" + std::to_string(9 - age)
                      : "." + std::to_string(age);
      write(name, text);
      const auto &p = packers[age == 0 ? 0 : pick(5)];
      if (p[0][0] != '\0' &&
          shell("command -v " + std::string(p[0]).substr(0, 4) +
                " >/dev/null") == 0)
        shell(std::string(p[0]) + " -c " + name + " >" + name + p[1] +
              " && rm " + name);
    }
    write("join", join);
    for (int q = 0; q < 6; ++q) {
      const int64_t s = T + static_cast<int64_t>(pick(t - T + 20)) - 10;
      const std::string bounds =
          std::to_string(s) + " " +
          (q % 3 == 0 ? "0" : std::to_string(s + 1 + pick(60)));
      for (const std::string mode : {"", "-m "}) {
        run_result set_run = run(mode + "-r app.log " + bounds);
        run_result piped = run(mode + "- " + bounds, "cat join");
        ASSERT_EQ(set_run.out, piped.out)
            << "set " << set << ", " << mode << bounds;
        EXPECT_EQ(set_run.status, 0);
      }
    }
  }
}

TEST_F(Rotated, OrderAndFaults) {
  const std::string a = lines({T, T + 1}), b = lines({T + 2, T + 3}),
                    c = lines({T + 4, T + 5});
  const struct {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string args, out, err;
    int status;
  } cases[] = {
      {"names that disagree with the stamps: the stamps decide",
       {{"app.log", c}, {"app.log.1", a}, {"app.log.2", b}},
       "-r app.log 0",
       a + b + c,
       "",
       0},
      {"dated names, hourly and with seconds",
       {{"app.log", c},
        {"app.log-2024030112", b},
        {"app.log-20240301-1709290000", a}},
       "-r app.log 0",
       a + b + c,
       "",
       0},
      {"an empty file and one without stamps keep their places",
       {{"app.log", c},
        {"app.log.1", ""},
        {"app.log.2", "no stamps\n"},
        {"app.log.3", a}},
       "-m -r app.log " + std::to_string(T),
       lines({T + 1}) + "no stamps\n" + c,
       "",
       0},
      {"a file of the set that is corrupt: the records before it, then 255",
       {{"app.log", c},
        {"app.log.1.gz", "\x1f\x8b\x08 not gzip\n"},
        {"app.log.2", a}},
       "-r app.log 0",
       a,
       "stampcut: app.log.1.gz: corrupt gzip data",
       255},
      {"just after rotation: the newest file empty, a time of day",
       {{"app.log", ""}, {"app.log.1", a + b}},
       "-r app.log 12:00:01 12:00:03",
       lines({T + 1, T + 2}),
       "",
       0},
      {"a note names the file of the line it is on, and its offset there",
       {{"app.log", c},
        {"app.log.1",
         lines({T + 2}) + "=== restarted 2.4 ===\n" + lines({T + 3})},
        {"app.log.2", a}},
       "-r -s 1 app.log " + std::to_string(T) + " " + std::to_string(T + 5),
       lines({T + 1, T + 2}),
       "stampcut: app.log.1: stopped at a line without a timestamp, byte 52: "
       "2.4 === (see -m and -f): its stamps read as -m reads them: "
       "stampcut -m -r -s 1 app.log",
       0},
      {"-v names the file the scan began in, and the one it ended in",
       {{"app.log", lines({T + 5}) + "=== 2.4 ===\n" + lines({T + 6})},
        {"app.log.1", lines({T + 2, T + 3, T + 4})},
        {"app.log.2", a}},
       "-v -r app.log " + std::to_string(T + 2) + " " + std::to_string(T + 6),
       lines({T + 3, T + 4, T + 5}),
       "stampcut: app.log.1: started at byte 0 after 6 probes; read 776 "
       "bytes; wrote 3 records; ended at a line without a timestamp, byte 42 "
       "of app.log\n",
       0},
      {"the output is a file of the set",
       {{"app.log", c}, {"app.log.1", a}},
       // An END that the file's second line passes ends the run, should
       // it be let write into the file it reads.
       "-r app.log 0 " + std::to_string(T) + " >>app.log.1",
       "",
       "stampcut: app.log.1: input file is also the output\n",
       255},
      {"-r needs a file",
       {{"app.log", a}},
       "-r - 0 <app.log",
       "",
       "stampcut: -r needs a file\n",
       255},
  };
  for (const auto &k : cases) {
    shell("rm -f app.log*");
    for (const auto &f : k.files)
      write(f.first, f.second);
    run_result r = run(k.args);
    EXPECT_EQ(r.out, k.out) << k.what;
    EXPECT_NE(r.err.find(k.err), std::string::npos) << k.what << r.err;
    EXPECT_EQ(r.status, k.status) << k.what;
  }
}

} // namespace
