// Stamps recognised without -f: a catalogue of the FORMATs that everyday
// software writes, and the choice among them by the lines of a sample of
// the log. Under -m the chosen one times every line of the input, exactly
// as -f with that FORMAT would; in the default mode the choice only names
// the command that would read the log.
#include "recognise.h"

namespace {

// An entry of the catalogue: a FORMAT, and for an epoch the run of digits
// that tells seconds from milliseconds (1973 to 2286 either way).
struct shape {
  const char *format;
  int epoch_least, epoch_most;
};

// In the order the choice prefers them on a tie. Entry 0 stands for the
// default stamp, which needs no FORMAT.
constexpr shape catalogue[] = {
    {nullptr, 0, 0},
    {"%Y-%m-%d %H:%M:%S", 0, 0}, // Python, log4j, PostgreSQL; %S takes ,123
    {"%Y/%m/%d %H:%M:%S", 0, 0}, // nginx error, Go
    {"[%d/%b/%Y:%H:%M:%S %z]", 0, 0}, // access logs
    {"[%a %b %d %H:%M:%S %Y]", 0, 0}, // Apache error, with or without .123
    // Before syslog's, which reads the same stamp but for its year.
    {"%a %b %e %H:%M:%S %Y", 0, 0}, // the C library's asctime, unbracketed
    {"%b %e %H:%M:%S", 0, 0},       // classic syslog
    {"%m-%d %H:%M:%S", 0, 0},       // Android logcat
    {"%y%m%d %H%M%S", 0, 0},        // HDFS
    {"%y/%m/%d %H:%M:%S", 0, 0},
    {"%Y-%m-%d-%H.%M.%S", 0, 0},
    {"%Y%m%d-%H:%M:%S", 0, 0},
    {"[%m.%d %H:%M:%S]", 0, 0},
    {"\"time\": \"%FT%T", 0, 0}, // JSON, the key anywhere in the line
    {"\"ts\": \"%FT%T", 0, 0},
    {"\"timestamp\": \"%FT%T", 0, 0},
    {"\"@timestamp\": \"%FT%T", 0, 0},
    {"\"time\": %s", 9, 10},  // epoch seconds as a JSON value
    {"\"time\": %Q", 12, 13}, // and milliseconds
    {"\"ts\": %s", 9, 10},
    {"\"ts\": %Q", 12, 13},
    {"\"timestamp\": %s", 9, 10},
    {"\"timestamp\": %Q", 12, 13},
    {"%d-%b-%Y %H:%M:%S", 0, 0}, // Tomcat
    {"%d %b %Y %H:%M:%S", 0, 0}, // Redis
    {"%Y%m%dT%H%M%S", 0, 0},     // ISO 8601 basic
    {"%d.%m.%Y %H:%M:%S", 0, 0}, // dotted European dates
};
static_assert(sizeof catalogue / sizeof catalogue[0] == catalogue_size,
              "catalogue_size counts the catalogue");

// Lines a stretch lends the choice at most: enough to outvote a banner,
// few enough that the choice costs a fraction of a narrow query (each
// entry times each line at most once).
constexpr std::size_t lines_counted = 32;
constexpr std::size_t max_stretches = 2;

// A line of a stretch: its first byte and its end (LF, or the input's).
struct span {
  char *line, *end;
};

// Lists the whole lines of s in spans from *n on, at most lines_counted.
void list_lines(const stretch &s, span *spans, std::size_t *n) {
  char *p = s.text, *end = s.text + s.size;
  if (!s.from_line_start) {
    p = find_byte(p, end, '\n');
    p = p < end ? p + 1 : end;
  }
  // Invariant: p is the first byte of a line not yet listed.
  for (std::size_t listed = 0; p < end && listed < lines_counted; ++listed) {
    char *lf = find_byte(p, end, '\n');
    if (lf == end && !s.at_input_end)
      break; // cut short by the read: no line to count
    spans[(*n)++] = {p, lf};
    p = lf + 1;
  }
}

} // namespace

const char *shape_format(std::size_t entry) {
  return catalogue[entry].format;
}

void compile_shape(std::size_t entry, stamp_format *f) {
  char why[why_size];
  compile_format(catalogue[entry].format, f, why);
  // As under -m, a stamp's reading is local standard time of TZ: an
  // offset is read over, not applied.
  f->zone_ignored = true;
  f->has_zone = false;
  if (catalogue[entry].epoch_most != 0) {
    f->epoch_least = catalogue[entry].epoch_least;
    f->epoch_most = catalogue[entry].epoch_most;
  }
}

choice recognise(const stretch *stretches, std::size_t count,
                 int64_t reference) {
  span spans[max_stretches * lines_counted];
  std::size_t lines = 0;
  for (std::size_t i = 0; i < count && i < max_stretches; ++i)
    list_lines(stretches[i], spans, &lines);
  choice best = {0, 0};
  // Once one times every line, no later entry can win.
  for (std::size_t entry = 0;
       entry < catalogue_size && (entry == 0 || best.timed < lines); ++entry) {
    stamp_format compiled;
    const stamp_format *f = nullptr;
    if (entry != 0) {
      compile_shape(entry, &compiled);
      set_reference(&compiled, reference);
      f = &compiled;
    }
    std::size_t timed = 0;
    // The lines of a log are mostly of a few minutes: the memo spares a
    // conversion for each.
    date_memo memo{};
    // An entry is dropped once it can no longer time more lines than the
    // best so far, which wins a tie.
    for (std::size_t k = 0; k < lines && timed + (lines - k) > best.timed; ++k)
      timed += line_time(spans[k].line, spans[k].end, f, &memo) != -1 ? 1 : 0;
    if (timed > best.timed)
      best = {entry, timed};
  }
  return best;
}

// Under -m without -f, the catalogue's entry that times the most of the
// sample's lines times the run's; entry 0, the default stamp, needs no
// FORMAT.
void choose_format(run_args *args, const log_sample &sample,
                   int64_t reference) {
  choice c = recognise(sample.parts, sample.count, reference);
  if (c.entry == 0)
    return;
  compile_shape(c.entry, &args->format);
  args->format_text = shape_format(c.entry);
  args->source = format_source::recognised;
}
