#include "link/reply_reader.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
  prompt_tail_due_ = false;
  end_ = fd_ >= 0 ? End::none : End::read_error;
}

void ReplyReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = length_ = 0;
  end_ = End::none;
  prompt_tail_due_ = false;
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
// has waited past its deadline, the watchdog signals the reading thread. The
// handler does nothing and is installed without SA_RESTART, so the read
// returns EINTR and the reader compares the clock with its deadline. A signal
// that comes just before the read begins is sent again at the next look.
// Only two stores and a clock read (no system call) are added to a read.

namespace {

std::atomic<int64_t> read_started{0};  // when the waiting read began, 0 when none
std::atomic<int> read_deadline{0};     // its deadline, in milliseconds
std::atomic<int> nudge_after{-1};      // the nudge's wait, in milliseconds; -1: none
std::atomic<void (*)()> nudge_call{nullptr};
std::atomic<bool> nudge_done{false};
std::atomic<pthread_t> reading_thread;
const int watchdog_interval_ms = 50;

int watchdog_signal() { return SIGRTMIN + 4; }

void read_overdue(int) {}

bool overdue(int64_t since, int deadline) { return since != 0 && monotonic_ms() - since >= deadline; }

void start_watchdog() {
  static std::once_flag started;
  std::call_once(started, [] {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = read_overdue;
    sa.sa_flags = 0;  // no SA_RESTART: the read is interrupted
    sigemptyset(&sa.sa_mask);
    sigaction(watchdog_signal(), &sa, nullptr);
    std::thread([] {
      for (;;) {
        struct timespec pause = {0, watchdog_interval_ms * 1000000L};
        nanosleep(&pause, nullptr);
        int64_t since = read_started.load();
        int nudge = nudge_after.load();
        if (nudge >= 0 && !nudge_done.load() && overdue(since, nudge)) {
          void (*call)() = nudge_call.load();
          nudge_done.store(true);
          if (call) call();
        }
        if (overdue(since, read_deadline.load())) pthread_kill(reading_thread.load(), watchdog_signal());
      }
    }).detach();
  });
}

}  // namespace

void ReplyReader::set_nudge(int milliseconds, void (*nudge)()) {
  nudge_call.store(nudge);
  nudge_done.store(false);
  nudge_after.store(milliseconds);
  if (milliseconds >= 0) start_watchdog();
}

bool ReplyReader::nudged() const { return nudge_done.load(); }

// One read() into the buffer from `offset` on: the number of bytes, 0 at end
// of file, -1 on an error (errno set), -2 when the deadline passed first.
ssize_t ReplyReader::read_some(size_t offset) {
  if (deadline_ms_ < 0 && nudge_after.load() < 0) return read(fd_, buffer_ + offset, buffer_size - offset);
  start_watchdog();
  reading_thread.store(pthread_self());
  read_deadline.store(deadline_ms_ >= 0 ? deadline_ms_ : INT32_MAX);
  int64_t since = monotonic_ms();
  read_started.store(since);
  ssize_t n;
  for (;;) {
    n = read(fd_, buffer_ + offset, buffer_size - offset);
    if (n >= 0 || errno != EINTR) break;
    if (deadline_ms_ >= 0 && overdue(since, deadline_ms_)) {
      n = -2;
      break;
    }
  }
  int saved = errno;
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
  take_prompt_tail();
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

// The prompt at buffer_[at] ('<' there): the length of "<bochs:N>" when it is
// one (its number in *number), 0 when the bytes differ, -1 when the bytes
// buffered end while they still match.
int ReplyReader::prompt_at(size_t at, uint32_t *number) {
  static const char word[] = "<bochs:";
  const size_t word_length = sizeof word - 1, most_digits = 20;
  size_t i = 0;
  for (; i < word_length; i++) {
    if (at + i >= length_) return -1;
    if (buffer_[at + i] != word[i]) return 0;
  }
  uint64_t value = 0;
  size_t digits = 0;
  for (;; i++, digits++) {
    if (at + i >= length_) return -1;
    char c = buffer_[at + i];
    if (c < '0' || c > '9') break;
    if (digits == most_digits) return 0;
    uint64_t digit = (uint64_t)(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  if (digits == 0 || buffer_[at + i] != '>') return 0;
  *number = value > UINT32_MAX ? UINT32_MAX : (uint32_t)value;
  return (int)(i + 1);
}

void ReplyReader::take_prompt_tail() {
  if (!prompt_tail_due_) return;
  prompt_tail_due_ = false;
  get();
}

bool ReplyReader::read_reply(std::string *text, uint32_t *prompt_number, size_t line_limit,
                             size_t total_limit) {
  text->clear();
  take_prompt_tail();
  size_t line_length = 0;  // of the line being read, kept or not
  for (;;) {
    if (position_ == length_ && !refill()) return false;
    const char *start = buffer_ + position_, *end = buffer_ + length_;
    const char *lt = static_cast<const char *>(memchr(start, '<', (size_t)(end - start)));
    if (lt == nullptr) {
      append_limited(text, start, end, &line_length, line_limit, total_limit);
      position_ = length_;
      continue;
    }
    append_limited(text, start, lt, &line_length, line_limit, total_limit);
    position_ = (size_t)(lt - buffer_);
    uint32_t number = 0;
    int prompt = prompt_at(position_, &number);
    if (prompt < 0) {
      // The prompt may go on in bytes not read yet: keep what is there at
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
    if (prompt == 0) {
      append_limited(text, lt, lt + 1, &line_length, line_limit, total_limit);
      position_++;
      continue;
    }
    position_ += (size_t)prompt;
    *prompt_number = number;
    // The blank after '>' is the prompt's; when it has not come yet, the
    // next read takes it first.
    if (position_ < length_)
      position_++;
    else
      prompt_tail_due_ = true;
    return true;
  }
}

bool ReplyReader::line_buffered() const {
  return position_ < length_ && memchr(buffer_ + position_, '\n', length_ - position_) != nullptr;
}
