// A line's time under cutting::lines: where its timestamp is looked for,
// by the default shape or by a FORMAT. The scan and the search's probe both
// time lines here, so that they can never order a line differently.
#include "timing.h"

namespace {

// The first timestamp of the default shape that begins a run of digits
// before reach.
int64_t stamp_time(char *line, char *reach, date_memo *memo) {
  // Invariant: p is the first digit of a run that begins before reach, or
  // reach; no run before it begins a timestamp.
  for (char *p = find_digit(line, reach); p < reach; p = find_digit(p, reach)) {
    int64_t t = parse_date(p, memo);
    if (t != -1)
      return t;
    while (is_digit(*p))
      ++p;
  }
  return -1;
}

// The first match of f among the candidates of [line, cut): every position
// of an anchored format, those before reach of any other.
int64_t formatted_time(char *line, char *reach, char *cut,
                       const stamp_format *f, date_memo *memo) {
  format_runs runs;
  std::memset(runs.known, 0, sizeof runs.known);
  if (f->anchored) {
    const char first = static_cast<char>(f->arg[0]);
    for (char *p = line; p < cut; ++p) {
      p = find_byte(p, cut, first);
      if (p == cut)
        break;
      int64_t t = format_time(f, p, memo, &runs);
      if (t != -1)
        return t;
    }
    return -1;
  }
  // Invariant: no candidate before p matches.
  for (char *p = line; p < reach; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!f->begins[c] ||
        (p > line && f->blocks[static_cast<unsigned char>(p[-1])]))
      continue;
    int64_t t = format_time(f, p, memo, &runs);
    if (t != -1)
      return t;
  }
  return -1;
}

} // namespace

int64_t line_time(char *line, char *end, const stamp_format *format,
                  date_memo *memo) {
  char *cut = timed_end(line, end);
  // The match sees the line's own bytes, up to its first window.
  char saved = *cut;
  *cut = '\0';
  char *reach = cut - line > static_cast<std::ptrdiff_t>(stamp_reach)
                    ? line + stamp_reach
                    : cut;
  int64_t t = format != nullptr ? formatted_time(line, reach, cut, format, memo)
                                : stamp_time(line, reach, memo);
  *cut = saved;
  return t;
}
