// A FORMAT and lines to time by it: the lines timed in turn with one minute
// memo, as the scan times them, must get what each gets without it.
#include "timing.h"

#include <cstdlib>
#include <ctime>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

// FORMAT is the input's first line; the lines after it are timed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  std::size_t lf = input.find('\n');
  if (lf == std::string::npos)
    return 0;
  const std::string text = input.substr(0, lf);
  stamp_format f;
  char why[why_size];
  if (text.find('\0') != std::string::npos ||
      !compile_format(text.c_str(), &f, why))
    return 0;
  set_reference(&f, 1704067200); // 2024-01-01T00:00:00Z
  date_memo memo{};
  for (std::size_t at = lf + 1; at < input.size();) {
    std::size_t end = input.find('\n', at);
    std::string line =
        input.substr(at, end == std::string::npos ? end : end - at);
    std::size_t length = line.size();
    // The memo compares minute_reach bytes, past the line's end too.
    line.append(minute_reach, '\0');
    char *first = &line[0];
    if (line_time(first, first + length, &f, &memo) !=
        line_time(first, first + length, &f, nullptr))
      std::abort();
    at = end == std::string::npos ? input.size() : end + 1;
  }
  return 0;
}
