// Command line: the run's options and operands, the help and the usage.
#include "timing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char usage_text[] =
    "Syntax: stampcut [file] [start unix ts] [end unix ts]. "
    "minimum 2 arguments. \n";

// Writes text to standard output; says why when that fails.
bool write_out(const char *text) {
  if (write_all(stdout, text, std::strlen(text)))
    return true;
  report("standard output", std::strerror(errno));
  return false;
}

// The help begins with a synopsis of its own: the usage text of a run
// with too few operands names numbers only, and no option. It fits a
// screen: one line an option, the bounds in two; the rules are the man
// page's.
bool write_help() {
  return write_out(
      "Usage: stampcut [-m] [-f FORMAT] [-s SECONDS] [-rF] [-v] [--] FILE "
      "START [END]\n"
      "       stampcut -h | --help | --version\n"
      "Print the lines of the time-ordered log FILE (-: standard input) from "
      "START\n"
      "up to END; the first is found by bisection, not by reading from the "
      "top.\n"
      "  -m, --multiline      whole lines, timed by the stamp shape "
      "recognised\n"
      "  -f, --format=FORMAT  stamps as FORMAT describes them ('%b %e %T'); "
      "implies -m\n"
      "  -s, --slack=SECONDS  find every line of a log up to SECONDS out of "
      "order\n"
      "  -r, --rotated        read FILE with FILE.1, FILE.2.gz ... as one "
      "log\n"
      "  -F, --follow         at its end, wait for lines appended to FILE; "
      "write them\n"
      "  -v, --verbose        say on standard error what the run understood "
      "and did\n"
      "  -h, --help           write this help and exit\n"
      "      --version        write the version and exit\n"
      "START, END: a date (2024-03-01T03:30), a time of day (03:30), today, "
      "-15m, now,\n"
      "a text in FORMAT: [START, END); or seconds since the epoch: (START, "
      "END].\n"
      "See stampcut(1).\n");
}

// Reads text, decimal digits and nothing else, as a number of seconds.
bool read_seconds(const char *text, uint64_t *seconds) {
  if (*text == '\0' || text[std::strspn(text, "0123456789")] != '\0')
    return false;
  errno = 0;
  *seconds = std::strtoull(text, nullptr, 10);
  return errno == 0;
}

bool write_version() {
  return write_out("stampcut " STAMPCUT_VERSION "\n");
}

} // namespace

command read_command_line(int argc, char **argv, run_args *args) {
  enum { version = 1 };
  static const option options[] = {
      {"multiline", no_argument, nullptr, 'm'},
      {"verbose", no_argument, nullptr, 'v'},
      {"rotated", no_argument, nullptr, 'r'},
      {"follow", no_argument, nullptr, 'F'},
      {"format", required_argument, nullptr, 'f'},
      {"slack", required_argument, nullptr, 's'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, version},
      {nullptr, 0, nullptr, 0},
  };
  args->how = cutting::records;
  args->format_text = nullptr;
  args->source = format_source::none;
  args->verbose = false;
  args->rotated = false;
  args->follow = false;
  args->slack = 0;
  // "+": options stand before FILE only, and "--" ends them. ":": a
  // missing argument is told apart from an unknown option.
  opterr = 0;
  optind = 0;
  for (;;) {
    // The argument being read, to name a long option by what was typed.
    const char *typed = argv[optind > 0 ? optind : 1];
    int c = getopt_long(argc, argv, "+:mvrFf:s:h", options, nullptr);
    if (c == -1)
      break;
    bool long_option = typed != nullptr && std::strncmp(typed, "--", 2) == 0;
    std::string name = long_option
                           ? std::string(typed, std::strcspn(typed, "="))
                           : std::string("-") + static_cast<char>(optopt);
    switch (c) {
    case 'm':
      args->how = cutting::lines;
      break;
    case 'f':
      args->how = cutting::lines;
      args->format_text = optarg;
      args->source = format_source::given;
      break;
    case 'v':
      args->verbose = true;
      break;
    case 'r':
      args->rotated = true;
      break;
    case 'F':
      args->follow = true;
      break;
    case 's':
      if (!read_seconds(optarg, &args->slack)) {
        char shown[escaped_size];
        escape(optarg, std::strlen(optarg), shown);
        say("stampcut: option %s: \"%s\" is not a number of seconds\n",
            long_option ? name.c_str() : "-s", shown);
        return command::failed;
      }
      break;
    case 'h':
      return write_help() ? command::finished : command::failed;
    case version:
      return write_version() ? command::finished : command::failed;
    case ':':
      say("stampcut: option %s needs an argument\n", name.c_str());
      return command::failed;
    default:
      if (long_option && optopt != 0)
        say("stampcut: option %s takes no argument\n", name.c_str());
      else
        say("stampcut: unknown option %s\n", name.c_str());
      return command::failed;
    }
  }
  if (argc - optind < 2)
    return command::usage;
  char **operand = argv + optind;
  args->file = operand[0];
  args->start_text = operand[1];
  args->end_text = argc - optind > 2 ? operand[2] : nullptr;
  // Arguments after END are ignored; one that looks like an option was
  // most likely meant as one.
  args->late_option = nullptr;
  args->late_operand = argc - optind > 3 ? operand[3] : nullptr;
  for (char **extra = operand + 3; extra < argv + argc; ++extra)
    if ((*extra)[0] == '-' && (is_letter((*extra)[1]) || (*extra)[1] == '-')) {
      args->late_option = *extra;
      break;
    }
  if (args->source == format_source::given) {
    char why[why_size];
    if (!compile_format(args->format_text, &args->format, why)) {
      char shown[escaped_size];
      escape(args->format_text, std::strlen(args->format_text), shown);
      say("stampcut: FORMAT \"%s\": %s\n", shown, why);
      return command::failed;
    }
  }
  return command::run;
}

void write_usage() {
  std::fputs(usage_text, stdout);
}
