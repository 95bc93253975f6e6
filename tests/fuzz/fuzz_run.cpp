// The whole run on arbitrary file bytes and bounds: the search, then the
// scan, as stampcut runs them, cutting records and cutting lines, timed by
// the default shape and by FORMATs. For a log sorted as the cutting sees
// it, the output must equal the scan's from the file's first byte.
#include "in_process.h"
#include "timing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

std::string file_name() {
  char name[] = "/tmp/stampcut-fuzz-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0)
    std::abort();
  close(fd);
  return name;
}

std::string select(const std::string &file, bool search, uint64_t start,
                   uint64_t end, cutting how, const stamp_format *format) {
  std::string out;
  if (run_in_process(file, search, start, end, &out, how, format) != 0)
    std::abort();
  return out;
}

// Every line begins with a digit and a timestamp not before the previous
// one's, and no CR stands but before an LF, nor a zero byte anywhere; the
// last line may end with a CR alone, or be cut anywhere (a log still being
// written): then the search may not change what is printed.
bool sorted_log(const std::string &log) {
  if (std::memchr(log.data(), '\0', log.size()) != nullptr)
    return false;
  uint64_t last = 0;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t lf = log.find('\n', at);
    if (lf == std::string::npos && log.find('\r', at) == std::string::npos)
      return true; // no record: neither run may write it
    std::string line = log.substr(at, lf == std::string::npos ? lf : lf - at);
    std::size_t cr = line.find('\r');
    if (cr != std::string::npos && cr + 1 != line.size())
      return false;
    if (cr != std::string::npos)
      line.pop_back();
    int64_t t = parse_date(line.c_str());
    if (line.empty() || line[0] < '0' || line[0] > '9' || t < 0 ||
        static_cast<uint64_t>(t) < last)
      return false;
    last = static_cast<uint64_t>(t);
    at = lf == std::string::npos ? log.size() : lf + 1;
  }
  return true;
}

// Cut into lines at LF and timed with format, the lines with a time, a
// last line without an LF among them, have nondecreasing times, of 1970 or
// later; lines without a time may hold anything.
bool sorted_lines(std::string log, const stamp_format *format) {
  uint64_t last = 0;
  for (std::size_t at = 0, lf; at < log.size(); at = lf + 1) {
    lf = std::min(log.find('\n', at), log.size());
    int64_t t = line_time(&log[at], &log[lf], format);
    if (t < -1 || (t >= 0 && static_cast<uint64_t>(t) < last))
      return false;
    if (t >= 0)
      last = static_cast<uint64_t>(t);
  }
  return true;
}

// FORMAT compiled, its year-less readings placed against 2024-03-01.
const stamp_format *compiled(const char *text) {
  static stamp_format formats[2];
  static int count = 0;
  char why[why_size];
  stamp_format *f = &formats[count++];
  if (!compile_format(text, f, why))
    std::abort();
  set_reference(f, 1709294400);
  return f;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

// The first 16 bytes are the start and end bounds; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  static const std::string file = file_name();
  uint64_t bounds[2] = {0, 0};
  std::size_t head = size < sizeof bounds ? size : sizeof bounds;
  std::memcpy(bounds, data, head);
  const std::string log(reinterpret_cast<const char *>(data) + head,
                        size - head);
  FILE *f = std::fopen(file.c_str(), "w");
  if (f == nullptr || std::fwrite(log.data(), 1, log.size(), f) != log.size() ||
      std::fclose(f) != 0)
    std::abort();

  static const stamp_format *const formats[] = {compiled("%F %T"),
                                                compiled("%b %e %T")};
  const struct {
    cutting how;
    const stamp_format *format;
  } runs[] = {{cutting::records, nullptr},
              {cutting::lines, nullptr},
              {cutting::lines, formats[0]},
              {cutting::lines, formats[1]}};
  for (const auto &r : runs) {
    std::string searched =
        select(file, true, bounds[0], bounds[1], r.how, r.format);
    bool sorted = r.how == cutting::records ? sorted_log(log)
                                            : sorted_lines(log, r.format);
    if (sorted &&
        searched != select(file, false, bounds[0], bounds[1], r.how, r.format))
      std::abort();
  }
  return 0;
}
