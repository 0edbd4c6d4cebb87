#include "link/reply_reader.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

ReplyReader::~ReplyReader() {
  close();
  free(buffer_);
}

void ReplyReader::attach(int fd) {
  close();
  if (buffer_ == nullptr) buffer_ = static_cast<char *>(malloc(buffer_size));
  fd_ = buffer_ ? fd : -1;
  if (buffer_ == nullptr && fd >= 0) ::close(fd);
  position_ = length_ = 0;
  end_ = fd_ >= 0 ? End::none : End::read_error;
}

void ReplyReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = length_ = 0;
  end_ = End::none;
}

void ReplyReader::finish(End why) {
  if (end_ != End::none) return;
  end_ = why;
  if (end_handler_) end_handler_(why);
}

static int64_t monotonic_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// ---------------------------------------------------------------------------
// Deadlines. A wait for reply bytes is a plain blocking read(), as cheap as a
// read can be: the exchange with the debugger is the hot path of every step.
// A watchdog thread looks at the waiting read a few times a second; once it
// has waited past its deadline, the watchdog signals the reading thread,
// whose handler leaves the read for the point where it began. Nothing but
// two stores and a clock read (no system call) is added to a read.

namespace {

std::atomic<int64_t> read_started{0};  // when the waiting read began, 0 when none
std::atomic<int> read_deadline{0};     // its deadline, in milliseconds
std::atomic<pthread_t> reading_thread;
volatile sig_atomic_t in_read = 0;     // the reading thread is inside read()
sigjmp_buf read_abandoned;
const int watchdog_interval_ms = 50;

int watchdog_signal() { return SIGRTMIN + 4; }

void read_overdue(int) {
  int64_t since = read_started.load();
  if (in_read && since != 0 && monotonic_ms() - since >= read_deadline.load()) {
    in_read = 0;
    siglongjmp(read_abandoned, 1);
  }
}

void start_watchdog() {
  static std::once_flag started;
  std::call_once(started, [] {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = read_overdue;
    // Restarted and not blocked while it runs: a signal that comes just as
    // the read returns changes nothing, and the jump leaves no mask behind.
    sa.sa_flags = SA_RESTART | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(watchdog_signal(), &sa, nullptr);
    std::thread([] {
      for (;;) {
        struct timespec pause = {0, watchdog_interval_ms * 1000000L};
        nanosleep(&pause, nullptr);
        int64_t since = read_started.load();
        if (since != 0 && monotonic_ms() - since >= read_deadline.load())
          pthread_kill(reading_thread.load(), watchdog_signal());
      }
    }).detach();
  });
}

}  // namespace

// One read() into the buffer from `offset` on: the number of bytes, 0 at end
// of file, -1 on an error (errno set), -2 when the deadline passed first.
ssize_t ReplyReader::read_some(size_t offset) {
  if (deadline_ms_ < 0) return read(fd_, buffer_ + offset, buffer_size - offset);
  start_watchdog();
  if (sigsetjmp(read_abandoned, 0) != 0) {
    read_started.store(0);
    return -2;
  }
  reading_thread.store(pthread_self());
  read_deadline.store(deadline_ms_);
  read_started.store(monotonic_ms());
  in_read = 1;
  ssize_t n = read(fd_, buffer_ + offset, buffer_size - offset);
  int saved = errno;
  in_read = 0;
  read_started.store(0);
  errno = saved;
  return n;
}

bool ReplyReader::refill() {
  position_ = length_ = 0;
  return read_more();
}

// Appends what one read() gives to the buffered bytes.
bool ReplyReader::read_more() {
  if (fd_ < 0 || end_ != End::none || length_ >= buffer_size) return false;
  for (;;) {
    ssize_t n = read_some(length_);
    if (n > 0) {
      length_ += (size_t)n;
      return true;
    }
    if (n == 0) {
      finish(End::end_of_file);
      return false;
    }
    if (n == -2) {
      finish(End::silence);
      return false;
    }
    if (errno == EINTR) continue;
    finish(End::read_error);
    return false;
  }
}

void ReplyReader::unget(int c) {
  // A byte just handed out by get() is still in the buffer before position_.
  if (c >= 0 && position_ > 0) position_--;
}

bool ReplyReader::read_line(char *line, size_t size, bool stop_at_prompt) {
  size_t n = 0;
  while (n + 1 < size) {
    if (position_ == length_ && !refill()) {
      // The bytes ended before the line was whole: nothing half-received is
      // left behind.
      line[0] = '\0';
      return false;
    }
    // Copy what the buffer holds of the line in one go.
    const char *start = buffer_ + position_;
    size_t room = size - 1 - n, avail = length_ - position_;
    size_t take = avail < room ? avail : room;
    const char *newline = static_cast<const char *>(memchr(start, '\n', take));
    size_t upto = newline ? (size_t)(newline - start) + 1 : take;
    if (stop_at_prompt) {
      const char *lt = static_cast<const char *>(memchr(start, '<', upto));
      if (lt != nullptr) {
        size_t before = (size_t)(lt - start);
        memcpy(line + n, start, before);
        n += before;
        position_ += before;
        break;
      }
    }
    memcpy(line + n, start, upto);
    n += upto;
    position_ += upto;
    if (newline != nullptr) break;
  }
  line[n] = '\0';
  return true;
}

// Appends [start, end) to the text, a line keeping at most line_limit bytes
// and its newline, the text at most total_limit.
static void append_limited(std::string *text, const char *start, const char *end,
                           size_t *line_length, size_t line_limit, size_t total_limit) {
  for (const char *p = start; p < end;) {
    const char *newline = static_cast<const char *>(memchr(p, '\n', (size_t)(end - p)));
    const char *stop = newline ? newline : end;
    size_t room = *line_length < line_limit ? line_limit - *line_length : 0;
    size_t keep = (size_t)(stop - p) < room ? (size_t)(stop - p) : room;
    if (text->size() + keep > total_limit) keep = total_limit > text->size() ? total_limit - text->size() : 0;
    text->append(p, keep);
    *line_length += (size_t)(stop - p);
    p = stop;
    if (newline != nullptr) {
      if (text->size() < total_limit) text->push_back('\n');
      *line_length = 0;
      p++;
    }
  }
}

bool ReplyReader::read_until_prompt(std::string *text, size_t line_limit, size_t total_limit) {
  return read_until_marker(text, "<", line_limit, total_limit);
}

bool ReplyReader::read_until_marker(std::string *text, const char *marker, size_t line_limit,
                                    size_t total_limit) {
  text->clear();
  size_t line_length = 0;  // of the line being read, kept or not
  const size_t marker_length = strlen(marker);
  for (;;) {
    if (position_ == length_ && !refill()) return false;
    const char *start = buffer_ + position_, *end = buffer_ + length_;
    const char *first = static_cast<const char *>(memchr(start, marker[0], (size_t)(end - start)));
    if (first == nullptr) {
      append_limited(text, start, end, &line_length, line_limit, total_limit);
      position_ = length_;
      continue;
    }
    append_limited(text, start, first, &line_length, line_limit, total_limit);
    position_ = (size_t)(first - buffer_);
    if ((size_t)(end - first) < marker_length) {
      // The marker may go on in bytes not read yet: keep what is there at
      // the front of the buffer and read on behind it.
      memmove(buffer_, buffer_ + position_, length_ - position_);
      length_ -= position_;
      position_ = 0;
      if (!read_more()) {
        append_limited(text, buffer_, buffer_ + length_, &line_length, line_limit, total_limit);
        position_ = length_;
        return false;
      }
      continue;
    }
    if (memcmp(first, marker, marker_length) == 0) return true;
    append_limited(text, first, first + 1, &line_length, line_limit, total_limit);
    position_++;
  }
}

bool ReplyReader::skip_through(char wanted) {
  for (;;) {
    if (position_ == length_ && !refill()) return false;
    const char *start = buffer_ + position_;
    const char *found = static_cast<const char *>(memchr(start, wanted, length_ - position_));
    if (found != nullptr) {
      position_ += (size_t)(found - start) + 1;
      return true;
    }
    position_ = length_;
  }
}

bool ReplyReader::line_buffered() const {
  return position_ < length_ && memchr(buffer_ + position_, '\n', length_ - position_) != nullptr;
}

// ---------------------------------------------------------------------------

void scan_prompt_rest(ReplyReader &reader, uint32_t *number) {
  for (const char *p = "bochs:"; *p; p++) {
    int c = reader.get();
    if (c != (unsigned char)*p) {
      reader.unget(c);
      return;
    }
  }
  // "%u": blanks skipped, an optional sign, decimal digits; as strtoul, the
  // magnitude saturates and a minus sign negates it.
  int c;
  do c = reader.get();
  while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r');
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = reader.get();
  }
  if (c < '0' || c > '9') {
    reader.unget(c);
    return;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; c >= '0' && c <= '9'; c = reader.get()) {
    uint64_t digit = (uint64_t)(c - '0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  reader.unget(c);
  *number = (uint32_t)(overflow ? UINT64_MAX : negative ? (uint64_t)0 - value : value);
  c = reader.get();
  if (c != '>') reader.unget(c);
}

void skip_to_prompt(ReplyReader &reader, uint32_t *number) {
  if (reader.skip_through('<')) scan_prompt_rest(reader, number);
}
