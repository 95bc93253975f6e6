// A line's time under cutting::lines: the first timestamp that begins a run
// of digits among the line's first bytes. The scan and the search's probe
// both time lines here, so that they can never order a line differently.
#include "stampcut.h"

int64_t line_time(char *line, char *end, date_memo *memo) {
  char *cut = timed_end(line, end);
  char *reach = cut - line > static_cast<std::ptrdiff_t>(stamp_reach)
                    ? line + stamp_reach
                    : cut;
  char saved = *cut;
  *cut = '\0';
  int64_t t = -1;
  // Invariant: p is the first digit of a run that begins before reach, or
  // reach; no run before it begins a timestamp.
  for (char *p = find_digit(line, reach); p < reach; p = find_digit(p, reach)) {
    t = parse_date(p, memo);
    if (t != -1)
      break;
    while (is_digit(*p))
      ++p;
  }
  *cut = saved;
  return t;
}
