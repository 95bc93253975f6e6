// Notes on standard error. Before the run, on what the command line most
// likely did not mean; after the output, on what the output cannot show:
// why nothing, or not all, came out. The notes change nothing else: the
// output and the exit status are those of the same run without them.
#include "notes.h"

#include "compressed.h"
#include "recognise.h"
#include "timing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A bound given as a clock reading, a word or a number with text after it
// converts to the number it begins with, or 0, and the run then prints
// nothing or everything. Say what it was read as, and what the text means
// as a time when it is one. A number past the year 9999 is most likely in
// milliseconds, and selects nothing as START or everything as END.
bool note_bound(const char *which, const char *text, const bound &b) {
  if (b.kind == bound_kind::past_9999)
    say("stampcut: %s %llu lies after the year 9999: bounds are seconds, not "
        "milliseconds\n",
        which, static_cast<unsigned long long>(b.value));
  if (b.kind != bound_kind::text)
    return b.kind == bound_kind::past_9999;
  char shown[escaped_size];
  escape(text, std::strlen(text), shown);
  // An option after FILE became a bound.
  if (text[0] == '-' && is_letter(text[1])) {
    say("stampcut: %s \"%s\" is not a bound: options go before FILE\n", which,
        shown);
    return true;
  }
  // Two files named: the second became START.
  struct stat st;
  if (*text != '\0' && stat(text, &st) == 0) {
    say("stampcut: %s \"%s\" is a file: one FILE is read; -r reads a rotated "
        "set\n",
        which, shown);
    return true;
  }
  // A time before the epoch would not help: as a bound it wraps around.
  int64_t t = parse_date(text);
  char as_time[64] = "";
  if (t >= 0)
    std::snprintf(as_time, sizeof as_time, "; as a time under TZ it is %lld",
                  static_cast<long long>(t));
  say("stampcut: %s \"%s\" is read as %llu: bounds are seconds since "
      "the epoch%s\n",
      which, shown, static_cast<unsigned long long>(b.value), as_time);
  return true;
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
bool note_empty_interval(const run_args *args) {
  if (args->end.value == 0 || args->end.value >= args->start.value)
    return false;
  say("stampcut: END %s is before START %s: nothing can be selected\n",
      shown_bound(args->end_text, args->end).c_str(),
      shown_bound(args->start_text, args->start).c_str());
  return true;
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

// A compressed file that this stampcut has no library for is read as text,
// and prints binary fragments or nothing: say how to read it, with the
// option and the bounds as they were typed, in a command that can be
// pasted.
bool note_compressed(const compression *c, const run_args *args) {
  if (c == nullptr || c->decoder != nullptr)
    return false;
  std::string command =
      std::string(c->tool) + " " + shell_word(args->file) + " | stampcut ";
  if (args->source == format_source::given)
    command += "-f " + shell_word(args->format_text) + " ";
  else if (args->how == cutting::lines)
    command += "-m ";
  command += "/dev/stdin " + shell_word(args->start_text);
  if (args->end_text != nullptr)
    command += " " + shell_word(args->end_text);
  say("stampcut: %s: compressed (%s): %s\n", args->file, c->name,
      command.c_str());
  return true;
}

// The bounds as the suggested command gives them: as typed.
std::string bounds_typed(const run_args *args) {
  std::string words = shell_word(args->start_text);
  if (args->end_text != nullptr)
    words += std::string(" ") + shell_word(args->end_text);
  return words;
}

// The end of a default-mode note when the catalogue times lines of the log:
// the command that reads them.
std::string read_by_m(const run_args *args, bool recognised) {
  if (!recognised)
    return "";
  // The command is the run's own with -m: the options that chose what is
  // read and how far stay.
  std::string options = "-m ";
  if (args->rotated)
    options += "-r ";
  if (args->slack != 0)
    options += "-s " + std::to_string(args->slack) + " ";
  return ": its stamps read as -m reads them: stampcut " + options +
         shell_word(args->file) + " " + bounds_typed(args);
}

// Whether stamps without a year took it from the year rule.
bool yearless(const stamp_format *f) {
  return f != nullptr && !f->has_year && f->epoch_unit == 0;
}

} // namespace

reading_text reading_of(int64_t t, const stamp_format *format) {
  reading_text r = {};
  bool instant = format != nullptr && (format->has_zone || format->epoch_unit);
  clock_reading c;
  if (instant) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm;
    if (gmtime_r(&tt, &tm) == nullptr)
      return r;
    c = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
         tm.tm_hour,        tm.tm_min,     tm.tm_sec};
  } else if (!standard_reading(t, &c)) {
    return r;
  }
  if (c.year < 0 || c.year > 9999)
    return r;
  std::snprintf(r.text, sizeof r.text, "%04d-%02d-%02dT%02d:%02d:%02d%s",
                c.year, c.month, c.day, c.hour, c.minute, c.second,
                instant ? "Z" : "");
  return r;
}

bool note_operands(const run_args *args) {
  bool said = false;
  const char *late =
      args->late_option != nullptr ? args->late_option : args->late_operand;
  if (late != nullptr) {
    char shown[escaped_size];
    escape(late, std::strlen(late), shown);
    say("stampcut: \"%s\" after the bounds is ignored: %s\n", shown,
        args->late_option != nullptr ? "options go before FILE"
                                     : "one FILE is read, from START to END");
    said = true;
  }
  said = note_bound("START", args->start_text, args->start) || said;
  if (args->end_text != nullptr)
    said = note_bound("END", args->end_text, args->end) || said;
  return said;
}

bool note_mistakes(const compression *packed, const run_args *args) {
  bool said = note_operands(args);
  said = note_empty_interval(args) || said;
  said = note_compressed(packed, args) || said;
  return said;
}

bool wants_shape(const run_args *args, const scan_result &r) {
  return args->how == cutting::records && r.end != scan_end::failed &&
         (r.end == scan_end::stopped || (r.cut > 0 && r.timed == 0));
}

bool note_outcome(const run_args *args, const scan_result &r,
                  const outcome &o) {
  const char *file = o.name != nullptr ? o.name : args->file;
  if (r.end == scan_end::failed) {
    if (r.failure[0] != '\0')
      report(file, r.failure);
    return true;
  }
  // Where the log steps back further than the slack, lines of the interval
  // may lie before the start or past the end: the slack that covers every
  // step back met.
  bool disorder = r.largest_step != 0;
  if (disorder)
    say("stampcut: %s: not in time order: a line at %s follows one at %s "
        "(byte %llu): lines of the interval may be missed; --slack %lld "
        "reads past the edges\n",
        o.late_name != nullptr ? o.late_name : file,
        reading_of(r.late_time, run_format(args)).text,
        reading_of(r.late_after, run_format(args)).text,
        static_cast<unsigned long long>(r.late_after_at),
        static_cast<long long>(r.largest_step));
  std::string m = read_by_m(args, o.shape_recognised);
  if (r.end == scan_end::stopped) {
    say("stampcut: %s: stopped at a line without a timestamp, byte %llu: %s "
        "(see -m and -f)%s\n",
        file, static_cast<unsigned long long>(r.end_offset), r.text, m.c_str());
    return true;
  }
  bool said = disorder || r.written_in_part;
  if (r.written_in_part)
    say("stampcut: %s: input ended inside a line longer than 8 KiB: written "
        "up to there, with an LF added\n",
        file);
  if (r.unterminated) {
    say("stampcut: %s: the last line has no line end and is not written: %s "
        "(see -m)\n",
        file, r.text);
    said = true;
  }
  // In the default mode a line without a digit holds no record: a log of
  // such lines alone is cut into nothing, and has no timed line either.
  bool untimed =
      r.timed == 0 && (r.cut > 0 || (o.has_text && o.first < 0 && o.last < 0));
  if (untimed && !disorder) {
    say("stampcut: %s: no line has a timestamp stampcut reads%s\n", file,
        args->how == cutting::lines ? " (see -f)" : m.c_str());
    return true;
  }
  if (said || o.said_before || r.written != 0 || o.first < 0 || o.last < 0)
    return said;
  const stamp_format *f = run_format(args);
  say("stampcut: %s: nothing lies in the interval: its lines run from %s to "
      "%s%s\n",
      file, reading_of(o.first, f).text, reading_of(o.last, f).text,
      !yearless(f)       ? ""
      : o.year_from_file ? " (the year from the file's last change)"
                         : " (the year from the time of the run)");
  return true;
}
