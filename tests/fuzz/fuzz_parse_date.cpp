// parse_date against a plain reading of the same pattern by sscanf and
// mktime, with and without a memo of an earlier text.
#include "timing.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

int64_t reference(const char *text) {
  // %lld reads what %d reads, but an int's overflow is seen, not undefined.
  long long f[6];
  if (std::sscanf(text, "%lld-%lld-%lldT%lld:%lld:%lldZ", &f[0], &f[1], &f[2],
                  &f[3], &f[4], &f[5]) != 6)
    return -1;
  for (long long v : f)
    if (v < INT_MIN || v > INT_MAX)
      return -1;
  if (f[0] - 1900 < INT_MIN || f[1] - 1 < INT_MIN)
    return -1;
  std::tm tm{};
  tm.tm_year = static_cast<int>(f[0] - 1900);
  tm.tm_mon = static_cast<int>(f[1] - 1);
  tm.tm_mday = static_cast<int>(f[2]);
  tm.tm_hour = static_cast<int>(f[3]);
  tm.tm_min = static_cast<int>(f[4]);
  tm.tm_sec = static_cast<int>(f[5]);
  return std::mktime(&tm);
}

void check(const char *text, int64_t got) {
  if (got == reference(text))
    return;
  // A clock reading that occurs twice gets either answer from mktime,
  // depending on its earlier calls: ask once more after a different one.
  reference("1800-01-01T00:00:00Z");
  if (got == reference(text))
    return;
  reference("2200-07-01T00:00:00Z");
  if (got != reference(text))
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

// The input is two texts split at the first zero byte: the second is parsed
// after the first with one memo, as the scan parses consecutive records.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  // The memo compares minute_reach bytes at a text, wherever it ends.
  input.append(minute_reach, '\0');
  const char *first = input.c_str();
  std::size_t split = std::strlen(first);
  const char *second = split < size ? first + split + 1 : first;

  check(first, parse_date(first));
  date_memo memo{};
  check(first, parse_date(first, &memo));
  check(second, parse_date(second, &memo));
  return 0;
}
