// Opening the log: FILE or standard input, compressed or not, alone or
// with its rotated set, and the choice of how its lines are timed, which
// needs the first of its bytes.
#include "open_log.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether standard output is the regular file a, which the run would then
// grow while reading it.
bool is_the_output(const struct stat &a) {
  struct stat b;
  return fstat(STDOUT_FILENO, &b) == 0 && S_ISREG(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writes_to_itself(FILE *in) {
  struct stat a;
  // With standard output closed, the input took its descriptor: then the
  // first write fails instead.
  return fileno(in) != STDOUT_FILENO && fstat(fileno(in), &a) == 0 &&
         is_the_output(a);
}

// The file of the set that is also the output, or nullptr.
const set_file *set_writes_to_itself(const std::vector<set_file> &set) {
  for (const set_file &f : set) {
    struct stat a;
    if (stat(f.path.c_str(), &a) == 0 && is_the_output(a))
      return &f;
  }
  return nullptr;
}

// The time a reading without a year is placed against: the file's last
// change, which a log's last line is written shortly before; for anything
// else, now.
int64_t reference_time(FILE *in, int64_t now) {
  struct stat st;
  if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
    return static_cast<int64_t>(st.st_mtime);
  return now;
}

// Says why the log cannot be read, closes it, and fails.
bool fail(run_log *log, const char *name, const char *reason) {
  report(name, reason);
  close_log(log);
  return false;
}

// The compression that FILE's first bytes announce, read where the log
// begins (a regular file) or as the head that the scan takes first.
bool find_compression(run_log *log) {
  input *plain = &log->plain;
  if (plain->read_at == nullptr) {
    if (!read_head(plain, &log->sample))
      return false;
    log->sampled = true;
    log->packed =
        compression_of(reinterpret_cast<unsigned char *>(log->sample.head),
                       log->sample.parts[0].size);
    return true;
  }
  unsigned char magic[magic_room];
  ssize_t n = read_fully_at(plain, log->origin, reinterpret_cast<char *>(magic),
                            sizeof magic);
  if (n < 0)
    return false;
  log->packed = compression_of(magic, static_cast<std::size_t>(n));
  return true;
}

} // namespace

bool open_log(run_args *args, int64_t now, run_log *log) {
  log->in = &log->plain;
  log->plain = input{};
  log->sampled = false;
  log->packed = nullptr;
  // "-" is standard input, as for other tools; "./-" names a file.
  bool standard_input = std::strcmp(args->file, "-") == 0;
  log->file = standard_input ? stdin : std::fopen(args->file, "r");
  if (log->file == nullptr)
    return fail(log, args->file, std::strerror(errno));
  if (writes_to_itself(log->file))
    return fail(log, args->file, "input file is also the output");
  // The scan gathers its output into large writes itself.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (!open_input(&log->plain, log->file))
    return fail(log, args->file, std::strerror(errno));
  // The log begins where the input stands.
  log->origin = log->plain.offset;
  log->reference = reference_time(log->file, now);
  if (args->rotated) {
    // A rotated set: its files found and ordered by their first lines, each
    // read, compressed or not, when its turn comes; each file's stamps are
    // placed against its own last change.
    if (standard_input || !log->plain.regular) {
      say("stampcut: -r needs a file\n");
      close_log(log);
      return false;
    }
    if (!list_rotated(args->file, &log->set))
      return fail(log, args->file, std::strerror(errno));
    if (const set_file *f = set_writes_to_itself(log->set))
      return fail(log, f->path.c_str(), "input file is also the output");
    time_set(args, &log->set, &log->sample);
    return true;
  }
  if (!find_compression(log))
    return fail(log, args->file, std::strerror(errno));
  // A compressed log is read through its library, from its first byte on,
  // as a pipe is; its year rule still takes the file's last change.
  if (log->packed != nullptr && log->packed->decoder != nullptr) {
    bool opened = open_decompressed(
        &log->unpacking, log->packed, &log->plain,
        log->sampled ? log->sample.head : nullptr,
        log->sampled ? log->sample.parts[0].size : 0, &log->unpacked);
    if (opened)
      log->in = &log->unpacked;
    if (!opened || !read_head(log->in, &log->sample))
      return fail(log, args->file,
                  log->unpacking.failure[0] != '\0' ? log->unpacking.failure
                                                    : std::strerror(errno));
    log->sampled = true;
  }
  if (args->how == cutting::lines && args->source == format_source::none) {
    if (!log->sampled && !read_sample(log->in, log->origin, &log->sample))
      return fail(log, args->file, std::strerror(errno));
    log->sampled = true;
    choose_format(args, log->sample, log->reference);
  }
  return true;
}

bool read_set_from(run_args *args, uint64_t target, const timer &how,
                   run_log *log, search_result *found) {
  std::vector<set_file> &set = log->set;
  *found = {0, 0, 0, 0};
  // The first file that can hold the interval is searched as a lone file
  // is, unless compressed; the set is read on from there.
  std::size_t first = first_to_read(&set, target);
  if (args->verbose)
    for (const set_file &f : set)
      say("stampcut: -r: %s%s\n", f.path.c_str(),
          f.skipped ? ", skipped: no line of the interval" : "");
  stamp_format *format = how.format != nullptr ? &args->format : nullptr;
  FILE *file;
  input searched;
  if (open_plain(set[first], &file, &searched)) {
    if (format != nullptr)
      set_reference(format, set[first].changed);
    *found = find_start(&searched, target, how);
    std::fclose(file);
  } else {
    found->error = errno;
  }
  if (found->error != 0) {
    report(set[first].path.c_str(), std::strerror(found->error));
    return false;
  }
  open_set(&log->set_reading, &set, first, found->start, format, &log->joined,
           log->follow, args->file);
  log->in = &log->joined;
  if (!read_head(log->in, &log->sample)) {
    const set_reader &r = log->set_reading;
    report(r.failed.empty() ? args->file : r.failed.c_str(),
           r.failure[0] != '\0' ? r.failure : std::strerror(errno));
    return false;
  }
  log->sampled = true;
  return true;
}

int64_t last_line_time(run_args *args, const timer &how, run_log *log) {
  int64_t first = -1, last = -1;
  if (!args->rotated)
    edge_times(log->in, log->origin, how, &first, &last);
  // In a set, the last timed line is in the newest file that has one.
  stamp_format *format = how.format != nullptr ? &args->format : nullptr;
  for (std::size_t i = log->set.size(); i-- > 0 && last < 0;) {
    const set_file &f = log->set[i];
    FILE *file;
    input in;
    if (open_plain(f, &file, &in)) {
      if (format != nullptr)
        set_reference(format, f.changed);
      edge_times(&in, 0, how, &first, &last);
      std::fclose(file);
    }
  }
  if (format != nullptr)
    set_reference(format, log->reference);
  return last;
}

void close_log(run_log *log) {
  if (log->in != &log->plain)
    close_input(log->in);
  close_input(&log->plain);
  if (log->file != nullptr)
    std::fclose(log->file);
  log->file = nullptr;
}
