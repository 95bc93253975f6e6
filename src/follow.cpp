// -F, --follow: reads a log file on past its end. At the end it waits on
// inotify for the file or its folder to change, looking again at least
// once a second (a file on NFS changes without a word), and never spins.
// A file renamed away is read to its end before the one created at the
// path is read from its first byte; a file cut in place is read again from
// its start.
#include "follow.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_include)
#if __has_include(<sys/inotify.h>)
#include <sys/inotify.h>
#define STAMPCUT_HAVE_INOTIFY
#endif
#endif

namespace {

// The signal that asked the run to end, 0 while none has. A handler can
// tell the run only through an object of static storage, and of this
// type: this is the one global the follow has.
volatile sig_atomic_t ending_signal = 0;

void note_signal(int sig) {
  ending_signal = sig;
}

constexpr int ending_signals[] = {SIGINT, SIGTERM};

// Lines still arriving may carry a time up to this many seconds before the
// clock's: the writer's clock read, then its line written and flushed.
constexpr uint64_t grace = 2;

// Longest wait between looks at the file, in milliseconds.
constexpr int look_interval = 1000;

// Catches the signals that end a follow, but leaves ignored those that the
// run was started with ignored (nohup, a background job of a shell without
// job control), as the parent meant. No SA_RESTART: a wait ends at once.
void catch_ending_signals() {
  for (int sig : ending_signals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
      continue;
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

void fail_with(input *in, int error) {
  std::snprintf(in->failure, sizeof in->failure, "%s", std::strerror(error));
}

follow_state *state_of(input *in) {
  return static_cast<follow_state *>(in->state);
}

// Watches the file at the path for writes, truncation and its leaving the
// path. Without a watch the timed looks still see every change.
void watch_file(follow_state *f) {
#ifdef STAMPCUT_HAVE_INOTIFY
  if (f->notify < 0)
    return;
  if (f->file_watch >= 0)
    inotify_rm_watch(f->notify, f->file_watch);
  f->file_watch =
      inotify_add_watch(f->notify, f->name,
                        IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
#else
  (void)f;
#endif
}

// Watches the folder of the path for a file created or moved to it.
void watch_folder(follow_state *f) {
#ifdef STAMPCUT_HAVE_INOTIFY
  char folder[PATH_MAX];
  const char *slash = std::strrchr(f->name, '/');
  if (slash == nullptr)
    std::snprintf(folder, sizeof folder, ".");
  else if (slash == f->name)
    std::snprintf(folder, sizeof folder, "/");
  else
    std::snprintf(folder, sizeof folder, "%.*s",
                  static_cast<int>(slash - f->name), f->name);
  inotify_add_watch(f->notify, folder, IN_CREATE | IN_MOVED_TO);
#else
  (void)f;
#endif
}

// Whether the file was cut under the reading position (copytruncate):
// then it is read again from its start, and said. False after an error.
bool look_for_cut(input *in) {
  struct stat st;
  if (fstat(in->fd, &st) != 0) {
    fail_with(in, errno);
    return false;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  // A file never seen with a size is not measured: the kernel's files
  // (/proc) say 0 whatever they hold.
  if (in->size_seen != 0 && size < in->offset) {
    report(state_of(in)->name, "truncated; following from its start");
    in->offset = 0;
    in->broken = true;
  }
  in->size_seen = size;
  return true;
}

// 1 when the path names another regular file than the one being read, 0
// when it names the same or none (renamed away, not yet created anew).
int replaced(input *in) {
  struct stat now, here;
  if (stat(state_of(in)->name, &now) != 0 || !S_ISREG(now.st_mode))
    return 0;
  if (fstat(in->fd, &here) != 0)
    return 1;
  return now.st_dev != here.st_dev || now.st_ino != here.st_ino ? 1 : 0;
}

// Moves on to the file at the path, from its first byte, whose bytes then
// do not follow on from the old file's. False after an error; a file gone
// again before it is opened is looked for again later.
bool take_replacement(input *in) {
  follow_state *f = state_of(in);
  int fd = open(f->name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      return true;
    fail_with(in, errno);
    return false;
  }
  close(in->fd);
  in->fd = fd;
  in->offset = 0;
  in->size_seen = 0;
  in->broken = true;
  watch_file(f);
  return true;
}

// The clock's reading as the log's stamps read it, and the milliseconds
// to the next second; false when it has none.
bool clock_now(const follow_state *f, uint64_t *now, int *to_next) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  int64_t t = stamp_time_at(static_cast<int64_t>(ts.tv_sec), f->format);
  if (t < 0)
    return false;
  *now = static_cast<uint64_t>(t);
  *to_next = 1000 - static_cast<int>(ts.tv_nsec / 1000000);
  return true;
}

// Whether the clock has passed the deadline; *wait gets the milliseconds
// until the next look, at most a second and not past the deadline.
bool past_deadline(const follow_state *f, int *wait) {
  *wait = look_interval;
  uint64_t now;
  int to_next;
  if (!f->has_deadline || !clock_now(f, &now, &to_next))
    return false;
  if (now > f->deadline)
    return true;
  // The first second later than the deadline begins at the next second
  // boundary once the clock reads the deadline itself.
  if (now == f->deadline && to_next < *wait)
    *wait = to_next;
  return false;
}

// Empties inotify's queue: what changed is looked at anew, whatever it was.
void drain_events(follow_state *f) {
  alignas(8) char events[4096];
  while (read(f->notify, events, sizeof events) > 0) {
  }
}

// Waits for a change to the file or its folder, a signal, the output's
// reader to leave, or wait milliseconds. The ending signals are blocked
// from the test of the flag to the wait, which lets them in atomically, so
// that one arriving in between is not missed for a whole wait.
bool wait_for_change(input *in, int wait) {
  follow_state *f = state_of(in);
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int sig : ending_signals)
    sigaddset(&ending, sig);
  sigprocmask(SIG_BLOCK, &ending, &before);
  pollfd fds[2];
  nfds_t count = 0;
  if (f->notify >= 0)
    fds[count++] = {f->notify, POLLIN, 0};
  // A pipe's writer is told of its reader leaving by POLLERR, a socket's
  // by POLLHUP, both given whatever the events asked for.
  if (f->out >= 0)
    fds[count++] = {f->out, 0, 0};
  timespec timeout = {wait / 1000, (wait % 1000) * 1000000L};
  int r = ending_signal != 0 ? 0 : ppoll(fds, count, &timeout, &before);
  int error = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (r < 0 && error != EINTR) {
    fail_with(in, error);
    return false;
  }
  for (nfds_t i = 0; r > 0 && i < count; ++i) {
    if (fds[i].fd == f->out && (fds[i].revents & (POLLERR | POLLHUP)) != 0)
      f->reader_gone = true;
    if (fds[i].fd == f->notify && (fds[i].revents & POLLIN) != 0)
      drain_events(f);
  }
  return true;
}

// Reads on from the reading position, as a regular file is read, but at
// its end waits for more.
ssize_t follow_read(input *in, char *buf, std::size_t count) {
  follow_state *f = state_of(in);
  // Invariant: nothing has been read by this call; broken says whether
  // what it will give follows on from what the calls before gave.
  for (;;) {
    if (ending_signal != 0 || f->reader_gone) {
      in->broken = true;
      return 0;
    }
    if (!look_for_cut(in))
      return -1;
    ssize_t n = read_fully_at(in, in->offset, buf, count);
    if (n != 0) {
      in->offset += n > 0 ? static_cast<uint64_t>(n) : 0;
      return n;
    }
    // At the end of the file. A file renamed away may still have been
    // written to since the read: it is read to its very end before the one
    // at the path is taken.
    if (replaced(in) == 1) {
      n = read_fully_at(in, in->offset, buf, count);
      if (n != 0) {
        in->offset += n > 0 ? static_cast<uint64_t>(n) : 0;
        return n;
      }
      if (!take_replacement(in))
        return -1;
      continue;
    }
    int wait;
    if (past_deadline(f, &wait)) {
      in->broken = true;
      return 0;
    }
    if (!wait_for_change(in, wait))
      return -1;
  }
}

void follow_close(input *in) {
  follow_state *f = state_of(in);
  close(in->fd);
  if (f->notify >= 0)
    close(f->notify);
  in->fd = f->notify = -1;
}

} // namespace

void prepare_follow(follow_state *f, uint64_t end, const stamp_format *format,
                    int out) {
  f->name = nullptr;
  f->has_deadline = end != 0;
  f->deadline = end > UINT64_MAX - grace ? UINT64_MAX : end + grace;
  f->format = format;
  f->reader_gone = false;
  f->file_watch = -1;
  f->notify = -1;
  struct stat st;
  f->out =
      fstat(out, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
          ? out
          : -1;
}

bool open_follow(input *followed, follow_state *f, const input *file,
                 const char *name) {
  *followed = input{};
  followed->fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
  if (followed->fd < 0)
    return false;
  followed->read = follow_read;
  followed->read_at = file_read_at;
  followed->close = follow_close;
  followed->state = f;
  followed->regular = true;
  followed->may_wait = true;
  followed->offset = file->offset;
  followed->size_seen = file->size_seen;
  f->name = name;
#ifdef STAMPCUT_HAVE_INOTIFY
  f->notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (f->notify >= 0) {
    watch_file(f);
    watch_folder(f);
  }
#endif
  catch_ending_signals();
  return true;
}

bool end_follow(const follow_state *f) {
  int sig = ending_signal;
  if (sig != 0) {
    signal(sig, SIG_DFL);
    raise(sig);
  }
  if (f->reader_gone) {
    raise(SIGPIPE);
    report("standard output", std::strerror(EPIPE));
    return false;
  }
  return true;
}
