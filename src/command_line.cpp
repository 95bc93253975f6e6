// Command line: the run's arguments, and the notes on standard error for a
// run that will go on as asked but most likely not as meant. The notes
// change nothing else: the output and the exit status are those of the same
// run without them.
#include "stampcut.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A compressed format by the bytes its files begin with.
struct compression {
  const char *name;
  const char *tool; // prints the file decompressed
  const char *magic;
  std::size_t size;
  const char *then; // the bytes that may follow the magic, or nullptr: any
};

constexpr compression compressions[] = {
    {"gzip", "zcat", "\x1f\x8b", 2, nullptr},
    // The block size, 1 to 9, follows: "BZh" alone may begin a line of text.
    {"bzip2", "bzcat", "BZh", 3, "123456789"},
    {"xz", "xzcat",
     "\xfd"
     "7zXZ\0",
     6, nullptr},
    {"zstd", "zstdcat", "\x28\xb5\x2f\xfd", 4, nullptr},
};

// Enough for the longest magic and the byte after any.
constexpr std::size_t head_size = 8;

// Whether the n bytes at head begin as c's files do.
bool begins_as(const unsigned char *head, ssize_t n, const compression &c) {
  ssize_t need = static_cast<ssize_t>(c.size) + (c.then != nullptr ? 1 : 0);
  return n >= need && std::memcmp(head, c.magic, c.size) == 0 &&
         (c.then == nullptr ||
          (head[c.size] != 0 && std::strchr(c.then, head[c.size]) != nullptr));
}

// A bound given as a clock reading, a word or a number with text after it
// converts to the number it begins with, or 0, and the run then prints
// nothing or everything. Say what it was read as, and what the text means
// as a time when it is one. A number past the year 9999 is most likely in
// milliseconds, and selects nothing as START or everything as END.
void note_bound(const char *which, const char *text, const bound &b) {
  if (b.kind == bound_kind::past_9999)
    say("stampcut: %s %llu lies after the year 9999: bounds are seconds, not "
        "milliseconds\n",
        which, static_cast<unsigned long long>(b.value));
  if (b.kind != bound_kind::text)
    return;
  char shown[escaped_size];
  escape(text, std::strlen(text), shown);
  // A time before the epoch would not help: as a bound it wraps around.
  int64_t t = parse_date(text);
  char as_time[64] = "";
  if (t >= 0)
    std::snprintf(as_time, sizeof as_time, "; as a time under TZ it is %lld",
                  static_cast<long long>(t));
  say("stampcut: %s \"%s\" is read as %llu: bounds are seconds since "
      "the epoch%s\n",
      which, shown, static_cast<unsigned long long>(b.value), as_time);
}

// A bound as the note on an empty interval shows it: a number as read, a
// time as typed, its converted second being one before what was typed.
std::string shown_bound(const char *text, const bound &b) {
  if (b.kind != bound_kind::time)
    return std::to_string(b.value);
  char shown[escaped_size];
  escape(text, std::strlen(text), shown);
  return std::string("\"") + shown + "\"";
}

// Bounds swapped, or mistyped: no time is later than START and not later
// than END.
void note_empty_interval(const run_args *args) {
  if (args->end.value == 0 || args->end.value >= args->start.value)
    return;
  say("stampcut: END %s is before START %s: nothing can be selected\n",
      shown_bound(args->end_text, args->end).c_str(),
      shown_bound(args->start_text, args->start).c_str());
}

// The compression that a regular file's first bytes announce, or nullptr.
// The bytes are read with pread, so the stream's position stays as it is;
// a pipe is never read here, as its bytes would be lost to the run.
const compression *compression_of(FILE *in) {
  int fd = fileno(in);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return nullptr;
  // The log begins where the stream stands, as for the search.
  off_t at = ftello(in);
  unsigned char head[head_size] = {};
  ssize_t n = pread(fd, head, sizeof head, at > 0 ? at : 0);
  for (const compression &c : compressions)
    if (begins_as(head, n, c))
      return &c;
  return nullptr;
}

// text as one word of a shell command: as it is when the shell takes it
// so, else in single quotes.
std::string shell_word(const char *text) {
  static constexpr char plain[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
      "0123456789_-./:,+=@%";
  if (*text != '\0' && text[std::strspn(text, plain)] == '\0')
    return text;
  std::string word = "'";
  for (; *text != '\0'; ++text)
    word += *text == '\'' ? std::string("'\\''") : std::string(1, *text);
  return word + "'";
}

// A compressed file is read as text, and prints binary fragments or
// nothing: say how to read it, with the option and the bounds as they were
// typed, in a command that can be pasted.
void note_compressed(FILE *in, const run_args *args) {
  const compression *c = compression_of(in);
  if (c == nullptr)
    return;
  std::string command =
      std::string(c->tool) + " " + shell_word(args->file) + " | stampcut ";
  if (args->format_text != nullptr)
    command += "-f " + shell_word(args->format_text) + " ";
  else if (args->how == cutting::lines)
    command += "-m ";
  command += "/dev/stdin " + shell_word(args->start_text);
  if (args->end_text != nullptr)
    command += " " + shell_word(args->end_text);
  say("stampcut: %s: compressed (%s): %s\n", args->file, c->name,
      command.c_str());
}

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

bool write_help() {
  return write_out(usage_text) &&
         write_out("  -m, --multiline      cut FILE into whole lines; a line "
                   "without a time goes\n"
                   "                       with the line before it\n"
                   "  -f, --format=FORMAT  find each line's time as FORMAT "
                   "describes it (implies -m)\n"
                   "  -s, --slack=SECONDS  find every line of the interval in "
                   "a log whose lines\n"
                   "                       may be up to SECONDS out of time "
                   "order\n"
                   "  -h, --help           write this help and exit\n"
                   "      --version        write the version and exit\n"
                   "START and END: seconds since the epoch (START excluded, "
                   "END included), or\n"
                   "times (START included, END excluded): a date such as "
                   "2024-03-01T03:30:00Z,\n"
                   "a text in FORMAT, now, or -N or now-N with s, m, h or d "
                   "(-15m).\n");
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
      {"format", required_argument, nullptr, 'f'},
      {"slack", required_argument, nullptr, 's'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, version},
      {nullptr, 0, nullptr, 0},
  };
  args->how = cutting::records;
  args->format_text = nullptr;
  args->slack = 0;
  // "+": options stand before FILE only, and "--" ends them. ":": a
  // missing argument is told apart from an unknown option.
  opterr = 0;
  optind = 0;
  for (;;) {
    // The argument being read, to name a long option by what was typed.
    const char *typed = argv[optind > 0 ? optind : 1];
    int c = getopt_long(argc, argv, "+:mf:s:h", options, nullptr);
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
  for (char **extra = operand + 3; extra < argv + argc; ++extra)
    if ((*extra)[0] == '-' && (is_letter((*extra)[1]) || (*extra)[1] == '-')) {
      args->late_option = *extra;
      break;
    }
  if (args->format_text != nullptr) {
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

void note_mistakes(FILE *in, const run_args *args) {
  if (args->late_option != nullptr) {
    char shown[escaped_size];
    escape(args->late_option, std::strlen(args->late_option), shown);
    say("stampcut: \"%s\" after the bounds is ignored: options go before "
        "FILE\n",
        shown);
  }
  note_bound("START", args->start_text, args->start);
  if (args->end_text != nullptr)
    note_bound("END", args->end_text, args->end);
  note_empty_interval(args);
  note_compressed(in, args);
}
