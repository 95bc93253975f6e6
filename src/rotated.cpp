// -r, --rotated: FILE with the files log rotation made of it, read as if
// joined oldest first and read through a pipe. What makes it fast: a file
// is read beyond its first lines only if the interval can lie in it, and
// the first file that can is searched as a lone file is.
#include "rotated.h"

#include "follow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *packed_endings[] = {"", ".gz", ".bz2", ".xz", ".zst"};

// Whether text is a run of digits, of count when count is not 0, and then
// one of the endings a compressed file may have: *after gets where the
// digits end.
bool digits_then_ending(const char *text, std::size_t count,
                        const char **after) {
  const char *p = text;
  while (is_digit(*p))
    ++p;
  std::size_t n = static_cast<std::size_t>(p - text);
  if (n == 0 || (count != 0 && n != count))
    return false;
  *after = p;
  for (const char *ending : packed_endings)
    if (std::strcmp(p, ending) == 0)
      return true;
  return false;
}

// How a name of the folder belongs to the set: its place by name, oldest
// first (FILE.N by N, highest first; FILE-DATE by its date; FILE last).
struct name_place {
  int scheme; // 0: FILE.N, 1: FILE-DATE, 2: FILE
  uint64_t number;
  std::string date;
};

bool place_of(const std::string &base, const char *name, name_place *place) {
  if (std::strncmp(name, base.c_str(), base.size()) != 0)
    return false;
  const char *rest = name + base.size();
  const char *after;
  if (*rest == '\0') {
    *place = {2, 0, ""};
    return true;
  }
  if (*rest == '.' && digits_then_ending(rest + 1, 0, &after)) {
    *place = {0, std::strtoull(rest + 1, nullptr, 10), ""};
    return true;
  }
  // -YYYYMMDD, -YYYYMMDDHH, -YYYYMMDD-SECONDS.
  if (*rest != '-')
    return false;
  const char *date = rest + 1, *p = date;
  while (is_digit(*p))
    ++p;
  std::size_t n = static_cast<std::size_t>(p - date);
  bool dated = (n == 8 || n == 10) && digits_then_ending(date, n, &after);
  if (!dated && n == 8 && *p == '-')
    dated = digits_then_ending(p + 1, 0, &after);
  if (!dated)
    return false;
  *place = {1, 0, std::string(date, after)};
  return true;
}

bool older_by_name(const name_place &a, const name_place &b) {
  if (a.scheme != b.scheme)
    return a.scheme < b.scheme;
  if (a.scheme == 0)
    return a.number > b.number;
  return a.date < b.date;
}

// Opens a set's file, through its decompression when compressed, ready to
// be read from offset; nullptr with r->failure said.
input *open_file(set_reader *r, const set_file &f, uint64_t offset) {
  r->raw = std::fopen(f.path.c_str(), "r");
  if (r->raw == nullptr || !open_input(&r->file, r->raw)) {
    std::snprintf(r->failure, sizeof r->failure, "%s", std::strerror(errno));
    return nullptr;
  }
  unsigned char magic[magic_room];
  ssize_t n =
      read_fully_at(&r->file, 0, reinterpret_cast<char *>(magic), sizeof magic);
  const compression *kind =
      compression_of(magic, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (kind == nullptr) {
    r->file.offset = offset;
    return &r->file;
  }
  if (!open_decompressed(&r->unpacking, kind, &r->file, nullptr, 0,
                         &r->unpacked)) {
    std::snprintf(r->failure, sizeof r->failure, "%s", r->unpacking.failure);
    return nullptr;
  }
  return &r->unpacked;
}

// Closes the file being read.
void close_file(set_reader *r) {
  if (r->log != nullptr)
    close_input(r->log);
  if (r->raw != nullptr)
    std::fclose(r->raw);
  r->log = nullptr;
  r->raw = nullptr;
}

// The set's read: the bytes of the file being read, then of the next,
// never of two at once, so that a file's reference is set before any of
// its lines is taken.
ssize_t read_set(input *in, char *buf, std::size_t size) {
  set_reader *r = static_cast<set_reader *>(in->state);
  for (;;) {
    if (r->log == nullptr) {
      if (r->current >= r->files->size())
        return 0;
      const set_file &f = (*r->files)[r->current];
      // in->offset: the bytes the set has given so far.
      uint64_t offset = in->offset == 0 ? r->offset : 0;
      r->log = open_file(r, f, offset);
      // Only the live file grows: the others are read to their ends.
      if (r->log == &r->file && r->follow != nullptr && f.path == r->live) {
        bool followed =
            open_follow(&r->followed, r->follow, &r->file, f.path.c_str());
        if (!followed)
          std::snprintf(r->failure, sizeof r->failure, "%s",
                        std::strerror(errno));
        r->log = followed ? &r->followed : nullptr;
      }
      if (r->log == nullptr) {
        if (r->raw != nullptr)
          std::fclose(r->raw);
        r->raw = nullptr;
        r->failed = f.path;
        errno = EIO;
        return -1;
      }
      if (r->format != nullptr)
        set_reference(r->format, f.changed);
      (*r->files)[r->current].begin = in->offset;
      (*r->files)[r->current].from = r->log->offset;
    }
    ssize_t n = r->log->read(r->log, buf, size);
    in->broken = in->broken || r->log->broken;
    r->log->broken = false;
    if (n > 0) {
      in->offset += static_cast<uint64_t>(n);
      return n;
    }
    if (n < 0) {
      r->failed = (*r->files)[r->current].path;
      std::snprintf(r->failure, sizeof r->failure, "%s",
                    r->log->failure[0] != '\0' ? r->log->failure
                                               : std::strerror(errno));
      errno = EIO;
      return -1;
    }
    close_file(r);
    ++r->current;
  }
}

void close_set(input *in) {
  close_file(static_cast<set_reader *>(in->state));
}

} // namespace

bool list_rotated(const char *file, std::vector<set_file> *files) {
  std::string path = file;
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string prefix = slash == std::string::npos ? "" : folder + "/";
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr)
    return false;
  std::vector<std::pair<name_place, std::string>> found;
  while (dirent *e = readdir(dir)) {
    name_place place;
    if (place_of(base, e->d_name, &place))
      found.push_back({place, prefix + e->d_name});
  }
  closedir(dir);
  std::stable_sort(found.begin(), found.end(),
                   [](const auto &a, const auto &b) {
                     return older_by_name(a.first, b.first);
                   });
  files->clear();
  for (const auto &f : found) {
    struct stat st;
    if (stat(f.second.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    files->push_back({f.second, static_cast<int64_t>(st.st_mtime), -1, false,
                      UINT64_MAX, 0});
  }
  return true;
}

void order_by_first_lines(std::vector<set_file> *files) {
  std::vector<set_file> timed;
  for (const set_file &f : *files)
    if (f.first_time >= 0)
      timed.push_back(f);
  std::stable_sort(timed.begin(), timed.end(),
                   [](const set_file &a, const set_file &b) {
                     return a.first_time < b.first_time;
                   });
  // The timed files take the places of the timed files, in their order.
  std::size_t next = 0;
  for (set_file &f : *files)
    if (f.first_time >= 0)
      f = timed[next++];
}

std::size_t first_to_read(std::vector<set_file> *files, uint64_t start) {
  std::size_t first = 0;
  // Invariant: every file before first has a later file whose first timed
  // line is not later than start.
  for (std::size_t i = 0; i < files->size(); ++i)
    if ((*files)[i].first_time >= 0 &&
        static_cast<uint64_t>((*files)[i].first_time) <= start && i > 0)
      first = i;
  for (std::size_t i = 0; i < first; ++i)
    (*files)[i].skipped = true;
  return first;
}

void open_set(set_reader *r, std::vector<set_file> *files, std::size_t first,
              uint64_t offset, stamp_format *format, input *set,
              follow_state *follow, const char *live) {
  r->files = files;
  r->current = first;
  r->offset = offset;
  r->raw = nullptr;
  r->log = nullptr;
  r->format = format;
  r->failure[0] = '\0';
  *set = input{};
  set->read = read_set;
  set->close = close_set;
  set->state = r;
  set->fd = -1;
  r->follow = follow;
  r->live = live;
  set->may_wait = follow != nullptr;
}

const set_file *file_holding(const std::vector<set_file> &files,
                             uint64_t offset, uint64_t *own) {
  // The files were opened in their order: the last opened at or before
  // offset gave it.
  const set_file *holder = nullptr;
  for (const set_file &f : files)
    if (f.begin != UINT64_MAX && f.begin <= offset)
      holder = &f;
  if (holder != nullptr)
    *own = offset - holder->begin + holder->from;
  return holder;
}

bool read_file_head(const std::string &path, log_sample *sample) {
  set_reader r;
  set_file f = {path, 0, -1, false, 0, 0};
  r.log = open_file(&r, f, 0);
  bool read = r.log != nullptr && read_head(r.log, sample);
  close_file(&r);
  return read;
}

namespace {

// The time of the first timed line among the first head_room bytes of the
// file at path, read a window at a time until it is found: in a compressed
// file, each window decoded costs as much as reading it many times over.
// -1 when there is none; false when the file cannot be read.
bool first_time_of(const std::string &path, const timer &how, char *head,
                   int64_t *first) {
  set_reader r;
  set_file f = {path, 0, -1, false, 0, 0};
  r.log = open_file(&r, f, 0);
  *first = -1;
  std::size_t got = 0;
  ssize_t n = 0;
  // Invariant: head[0, got) holds the file's first bytes, and no line in
  // them that ends there has a time.
  while (r.log != nullptr && *first < 0 && got < head_room) {
    std::size_t want =
        head_room - got < window_size ? head_room - got : window_size;
    n = r.log->read(r.log, head + got, want);
    if (n <= 0)
      break;
    got += static_cast<std::size_t>(n);
    std::memset(head + got, 0, minute_reach);
    *first = first_time_in(head, got, false, how);
  }
  if (n == 0 && *first < 0)
    *first = first_time_in(head, got, true, how);
  bool read = r.log != nullptr && n >= 0;
  close_file(&r);
  return read;
}

} // namespace

void time_set(run_args *args, std::vector<set_file> *files,
              log_sample *sample) {
  // The shape is the one recognised in the newest file that has stamps.
  if (args->how == cutting::lines && args->source == format_source::none)
    for (std::size_t i = files->size(); i-- > 0;) {
      const set_file &f = (*files)[i];
      if (!read_file_head(f.path, sample))
        continue;
      choose_format(args, *sample, f.changed);
      if (args->source != format_source::none ||
          recognise(sample->parts, sample->count, f.changed).timed > 0)
        break;
    }
  const stamp_format *format = run_format(args);
  const timer how = {args->how, format};
  for (set_file &f : *files) {
    // A file that cannot be read keeps its place by name, and fails the
    // run when its turn comes, after the records of the files before it.
    if (format != nullptr)
      set_reference(&args->format, f.changed);
    int64_t first;
    if (first_time_of(f.path, how, sample->head, &first))
      f.first_time = first;
  }
  order_by_first_lines(files);
}

bool open_plain(const set_file &f, FILE **file, input *in) {
  *file = std::fopen(f.path.c_str(), "r");
  if (*file == nullptr)
    return false;
  unsigned char magic[magic_room];
  ssize_t n = -1;
  if (open_input(in, *file))
    n = read_fully_at(in, 0, reinterpret_cast<char *>(magic), sizeof magic);
  if (n >= 0 && compression_of(magic, static_cast<std::size_t>(n)) == nullptr)
    return true;
  int error = n < 0 ? errno : 0;
  std::fclose(*file);
  errno = error;
  return false;
}
