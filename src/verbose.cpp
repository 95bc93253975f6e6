// -v, --verbose: on standard error, what the run understood of its command
// line and its log, and what it did, so that a run that came back empty
// says why in one go. Output and status are those of the run without it.
#include "verbose.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// A second as the log's stamps read it, or the number where it has none.
std::string shown_second(uint64_t t, const stamp_format *f) {
  reading_text r =
      t <= INT64_MAX ? reading_of(static_cast<int64_t>(t), f) : reading_text{};
  return r.text[0] != '\0' ? r.text : std::to_string(t);
}

} // namespace

void say_understood(const run_args *args, bool from_file) {
  const stamp_format *f = run_format(args);
  if (args->how == cutting::records)
    say("stampcut: records from their first digit, timed by the default "
        "stamp\n");
  else if (f == nullptr)
    say("stampcut: whole lines, timed by the default stamp within their "
        "first 128 bytes (recognised)\n");
  else
    say("stampcut: whole lines, timed by FORMAT '%s' (%s)\n", args->format_text,
        args->source == format_source::given ? "given" : "recognised");
  if (f != nullptr && !f->has_year && f->epoch_unit == 0) {
    // The reference is an instant, said in UTC: the year it gives is that
    // of its reading under TZ.
    std::time_t at = static_cast<std::time_t>(f->reference);
    std::tm tm;
    char when[32] = "?";
    if (gmtime_r(&at, &tm) != nullptr)
      std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    say("stampcut: stamps without a year are placed against %s (%s): the "
        "year %d, the one after or the one before\n",
        when, from_file ? "the file's last change" : "the time of the run",
        f->reference_year);
  }
  say("stampcut: START %s, %s: lines from %s on\n", args->start_text,
      args->start.rule, shown_second(args->start.value + 1, f).c_str());
  if (args->end.value == 0)
    say("stampcut: no END: lines up to the end of the input\n");
  else
    say("stampcut: END %s, %s: lines up to %s\n", args->end_text,
        args->end.rule, shown_second(args->end.value, f).c_str());
}

void say_done(const char *name, const char *ended_in, const run_args *args,
              const search_result &found, const scan_result &r,
              uint64_t sampled) {
  // In a set, the line that ended the run may lie in a later file.
  char of[PATH_MAX + 8] = "";
  if (std::strcmp(ended_in, name) != 0)
    std::snprintf(of, sizeof of, " of %s", ended_in);
  char why[PATH_MAX + 96];
  switch (r.end) {
  case scan_end::input_end:
    std::snprintf(why, sizeof why, "the end of the input");
    break;
  case scan_end::past_end:
    std::snprintf(why, sizeof why, "the first line past END, byte %llu%s",
                  static_cast<unsigned long long>(r.end_offset), of);
    break;
  case scan_end::stopped:
    std::snprintf(why, sizeof why, "a line without a timestamp, byte %llu%s",
                  static_cast<unsigned long long>(r.end_offset), of);
    break;
  case scan_end::failed:
    std::snprintf(why, sizeof why, "an error");
    break;
  }
  say("stampcut: %s: started at byte %llu after %u probes; read %llu bytes; "
      "wrote %llu %s; ended at %s\n",
      name, static_cast<unsigned long long>(found.start), found.probes,
      static_cast<unsigned long long>(sampled + found.bytes_read +
                                      r.bytes_read),
      static_cast<unsigned long long>(r.written),
      args->how == cutting::lines ? "lines" : "records", why);
}
