#include "debugger.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cpu.hpp"
#include "guest_output.hpp"
#include "replies.hpp"
#include "text.hpp"

namespace sim {

// ---------------------------------------------------------------------------
// SIGINT. The handler only records; the run loop looks at the flag before
// every instruction, and a halted run waits for it in ppoll.
//
// A SIGINT while a run goes on stops it. One that comes while a command line
// is waiting (the front end has sent "c", but the run has not started yet)
// is kept for the next "c", which then stops before its first instruction;
// it is dropped when the input runs dry. A SIGINT at the idle prompt, with
// nothing waiting, is ignored.
namespace {

volatile sig_atomic_t g_running = 0;
volatile sig_atomic_t g_interrupt = 0;
volatile sig_atomic_t g_held = 0;
volatile sig_atomic_t g_line_pending = 0;  // a line is read but not yet answered
volatile sig_atomic_t g_buffered = 0;      // unread bytes in the input buffer
int g_transcript_fd = -1;
bool g_ignore_sigint = false;  // the hook: SIGINT is recorded and nothing else
GuestOutput g_output;          // the guest's console on standard output

bool stdin_readable() {
  struct pollfd p = {0, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void on_sigint(int) {
  int saved = errno;
  if (g_transcript_fd >= 0) {
    ssize_t r = write(g_transcript_fd, "#SIGINT\n", 8);
    (void)r;
  }
  if (g_ignore_sigint) {
    errno = saved;
    return;
  }
  if (g_running)
    g_interrupt = 1;
  else if (g_line_pending || g_buffered || stdin_readable())
    g_held = 1;
  errno = saved;
}

// True when the writer of standard input has gone and nothing is left to
// read: a run then ends, and the command loop finds the end of input.
bool stdin_hung_up(int timeout_ms, const sigset_t *mask) {
  struct pollfd p = {0, 0, 0};
  struct timespec ts = {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  int r = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &ts, mask);
  return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// ---------------------------------------------------------------------------
// Standard input, line by line, with unbounded line lengths cut at kMaxLine
// bytes (the rest of such a line is read and dropped).
class LineReader {
 public:
  static constexpr size_t kMaxLine = 1 << 20;

  // False at the end of input with nothing read. A last line without a
  // newline counts as a line.
  bool next(std::string *line, bool *too_long) {
    line->clear();
    *too_long = false;
    for (;;) {
      while (pos_ < len_) {
        char *start = buf_ + pos_;
        char *nl = static_cast<char *>(memchr(start, '\n', len_ - pos_));
        size_t n = nl ? size_t(nl - start) : len_ - pos_;
        size_t room = kMaxLine - line->size();
        if (n > room) {
          *too_long = true;
          line->append(start, room);
        } else {
          line->append(start, n);
        }
        pos_ += n + (nl ? 1 : 0);
        if (nl) return taken();
      }
      g_buffered = 0;
      if (eof_) return line->empty() && !*too_long ? false : taken();
      fill();
    }
  }

 private:
  // Reads what standard input offers. SIGINT is blocked except while
  // waiting in ppoll, so the handler never runs between the kernel handing
  // over bytes and this reader counting them: it sees them either still in
  // the pipe or in the buffer.
  void fill() {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &old);
    sigset_t during = old;
    sigdelset(&during, SIGINT);
    if (!stdin_readable()) g_held = 0;  // nothing waits: a kept SIGINT is stale
    // While waiting, the guest's bytes that standard output could not take
    // yet go out as room appears.
    for (;;) {
      struct pollfd p[2] = {{0, POLLIN, 0}, {g_output.pending() ? g_output.descriptor() : -1, POLLOUT, 0}};
      int r = ppoll(p, 2, nullptr, &during);
      if (r < 0 && errno == EINTR) continue;
      if (r > 0 && p[1].revents) g_output.flush();
      if (r < 0 || p[0].revents) break;
    }
    ssize_t r;
    do {
      r = read(0, buf_, sizeof buf_);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
      eof_ = true;
    } else {
      pos_ = 0;
      len_ = size_t(r);
      g_buffered = 1;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }

  bool taken() {
    g_line_pending = 1;
    g_buffered = pos_ < len_;
    return true;
  }
  char buf_[65536];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

// ---------------------------------------------------------------------------
// Standard error. Replies go out whole, so that a reply and its prompt are
// one write. A reply armed with a mid-reply hook stops after its first line,
// and then the program exits or falls silent. A silent console writes
// nothing; a closed one has also let go of every descriptor of the stream.
class Console {
 public:
  enum class AfterFirstLine { Go, Exit, FallSilent };

  Console() { setvbuf(stderr, buffer_, _IOFBF, sizeof buffer_); }

  void arm_mid_reply(AfterFirstLine what) { after_first_line_ = what; }
  void fall_silent() { silent_ = true; }

  // Replaces every descriptor that refers to the file of standard error
  // (standard error itself, and standard output or any other duplicate) by
  // /dev/null, so that the reader of the stream sees its end while this
  // process lives on. The numbers stay taken: nothing opened later can land
  // on descriptor 2.
  void close_stream() {
    silent_ = true;
    struct stat reply_file;
    if (fstat(2, &reply_file) != 0) return;
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (int fd : open_descriptors()) {
      struct stat st;
      if (fd == null_fd || fstat(fd, &st) != 0 || st.st_dev != reply_file.st_dev ||
          st.st_ino != reply_file.st_ino)
        continue;
      if (null_fd < 0 || dup2(null_fd, fd) < 0) close(fd);
    }
    if (null_fd >= 0) close(null_fd);
  }

  void reply(const std::string &text) {
    if (text.empty()) return;
    if (after_first_line_ != AfterFirstLine::Go) {
      size_t nl = text.find('\n');
      if (!silent_) fwrite(text.data(), 1, nl == std::string::npos ? text.size() : nl + 1, stderr);
      fflush(stderr);
      if (after_first_line_ == AfterFirstLine::Exit) _exit(1);
      after_first_line_ = AfterFirstLine::Go;
      silent_ = true;
      return;
    }
    if (!silent_) fwrite(text.data(), 1, text.size(), stderr);
  }
  // A trace line: out at once, not part of the reply.
  void trace(const std::string &text) {
    if (silent_) return;
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
  }
  void prompt(unsigned n) {
    g_output.flush();
    if (after_first_line_ != AfterFirstLine::Go) {
      fflush(stderr);
      if (after_first_line_ == AfterFirstLine::Exit) _exit(1);
      after_first_line_ = AfterFirstLine::Go;
      silent_ = true;
    }
    if (silent_) return;
    std::string p = reply::prompt(n);
    fwrite(p.data(), 1, p.size(), stderr);
    fflush(stderr);
  }
  void flush() { fflush(stderr); }

 private:
  // The open descriptors of this process, from /dev/fd where the system has
  // it, else by trying each number below the table size.
  static std::vector<int> open_descriptors() {
    std::vector<int> fds;
    if (DIR *d = opendir("/dev/fd")) {
      int own = dirfd(d);
      while (struct dirent *e = readdir(d)) {
        char *end;
        long fd = strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && fd != own) fds.push_back(int(fd));
      }
      closedir(d);
      if (!fds.empty()) return fds;
    }
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 0; fd < max; ++fd)
      if (fcntl(fd, F_GETFD) >= 0) fds.push_back(fd);
    return fds;
  }

  char buffer_[1 << 16];
  AfterFirstLine after_first_line_ = AfterFirstLine::Go;
  bool silent_ = false;
};

// Sleeps until the program is killed (SIGINT interrupts the sleep only).
[[noreturn]] void sleep_for_good() {
  for (;;) pause();
}

void sleep_ms(unsigned ms) {
  struct timespec ts = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
  }
}

enum class StopReason { None, Breakpoint, Watch, Interrupt, Magic, Reset };

// The largest count of "s N"; SIGINT ends a long one early.
constexpr uint64_t kMaxStepCount = 100000000;

// The most instructions one "u" disassembles.
constexpr uint64_t kMaxDisassembly = 64;

// A burst of guest output ends after this many steps without a byte for the
// console port; while standard output is full, a new try waits this many.
constexpr unsigned kBurstGap = 64;
constexpr unsigned kFullRetry = 0x10000;

// "set" registers, by name.
struct RegisterName {
  const char *name;
  int index;  // a general register, or -1 for eip, -2 for eflags
};
const RegisterName kRegisterNames[] = {{"eax", EAX}, {"ebx", EBX}, {"ecx", ECX}, {"edx", EDX},
                                       {"esi", ESI}, {"edi", EDI}, {"ebp", EBP}, {"esp", ESP},
                                       {"eip", -1},  {"eflags", -2}};

class Debugger {
 public:
  Debugger(Machine &m, const Options &o) : m_(m), o_(o) {}

  int run(const std::string &image_name, const std::vector<std::string> &notes) {
    console_.reply(reply::banner() + reply::startup(image_name, notes));
    if (o_.fail_start) {
      console_.reply(reply::failed_start(o_.fail_text));
      console_.flush();
      return 1;
    }
    console_.reply(reply::location(m_));
    if (o_.exit_before_prompt) {
      console_.flush();
      return 1;
    }
    uint64_t received = 0;
    std::string line;
    bool too_long;
    for (;;) {
      g_line_pending = 0;
      console_.prompt(++prompt_);
      if (!reader_.next(&line, &too_long)) return end_of_input();
      record(line);
      ++received;
      if (o_.exit_after && received == o_.exit_after) return 0;
      if (o_.silent_after && received == o_.silent_after) console_.fall_silent();
      if (o_.close_replies_after && received == o_.close_replies_after) console_.close_stream();
      console_.arm_mid_reply(o_.exit_mid_reply && received == o_.exit_mid_reply
                                 ? Console::AfterFirstLine::Exit
                             : o_.silent_mid_reply && received == o_.silent_mid_reply
                                 ? Console::AfterFirstLine::FallSilent
                                 : Console::AfterFirstLine::Go);
      if (o_.delay_ms) sleep_ms(o_.delay_ms);
      if (too_long) {
        g_line_pending = 0;
        console_.reply(reply::line_too_long());
        continue;
      }
      if (!command(line)) return 0;
    }
  }

 private:
  void record(const std::string &line) {
    if (g_transcript_fd < 0) return;
    std::string out = line;
    out += '\n';
    const char *p = out.data();
    size_t left = out.size();
    while (left > 0) {
      ssize_t r = write(g_transcript_fd, p, left);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      p += r;
      left -= size_t(r);
    }
  }

  // The end of standard input ends the program, unless quitting is ignored.
  int end_of_input() {
    if (!o_.ignore_quit) return 0;
    console_.flush();
    sleep_for_good();
  }

  // True when the writer of standard input has gone and that is to end a run.
  bool input_gone() { return !o_.ignore_quit && stdin_hung_up(0, nullptr); }

  // False: quit.
  bool command(const std::string &line) {
    std::vector<std::string> w = split_words(line);
    // "x/4bx" and "xp/4bx": the /NUF part may follow the command without a blank.
    if (!w.empty() && w[0].size() > 1 &&
        (w[0].compare(0, 2, "x/") == 0 || w[0].compare(0, 3, "xp/") == 0 || w[0].compare(0, 2, "u/") == 0)) {
      size_t slash = w[0].find('/');
      w.insert(w.begin() + 1, w[0].substr(slash));
      w[0].resize(slash);
    }
    const std::string cmd = w.empty() ? std::string() : w[0];
    if (cmd == "c" || cmd == "cont" || cmd == "continue") {
      if (w.size() != 1) return usage("c");
      cont();
      return true;
    }
    if (cmd == "s" || cmd == "step" || cmd == "stepi") {
      uint64_t n = 1;
      if (w.size() > 2 || (w.size() == 2 && !parse_decimal(w[1], kMaxStepCount, &n)))
        return usage("s [count]");
      step(n);
      return true;
    }
    g_line_pending = 0;
    if (w.empty()) return true;
    if (cmd == "q" || cmd == "quit" || cmd == "exit") return o_.ignore_quit;
    if (cmd == "pb" || cmd == "pbreak" || cmd == "lb" || cmd == "lbreak") {
      uint32_t a;
      if (w.size() != 2) return usage(cmd[0] == 'p' ? "pb ADDR" : "lb ADDR");
      if (!parse_address(w[1], &a)) return error(reply::bad_number(w[1]));
      add_breakpoint(cmd[0] == 'p' ? BreakKind::Physical : BreakKind::Linear, 0, a, a);
    } else if (cmd == "vb" || cmd == "vbreak") {
      if (w.size() != 2) return usage("vb SEG:OFF");
      size_t colon = w[1].find(':');
      uint32_t seg, off, linear;
      if (colon == std::string::npos || !parse_address(w[1].substr(0, colon), &seg) || seg > 0xffff ||
          !parse_address(w[1].substr(colon + 1), &off))
        return error(reply::bad_number(w[1]));
      if (!virtual_to_linear(m_, uint16_t(seg), off, &linear)) return error(reply::no_segment(uint16_t(seg)));
      add_breakpoint(BreakKind::Virtual, uint16_t(seg), off, linear);
    } else if (cmd == "d" || cmd == "del" || cmd == "delete") {
      uint64_t n;
      if (w.size() != 2) return usage("d N");
      if (!parse_decimal(w[1], 0xffffffffu, &n) || !breakpoints_.remove(unsigned(n)))
        return error(reply::no_breakpoint(w[1]));
    } else if (cmd == "info") {
      if (w.size() != 2 || (w[1] != "break" && w[1] != "b" && w[1] != "breakpoints")) return usage("info break");
      console_.reply(reply::breakpoint_list(breakpoints_.list()));
    } else if (cmd == "watch") {
      watch(w);
    } else if (cmd == "unwatch") {
      unwatch(w);
    } else if (cmd == "trace-on" || cmd == "trace-off") {
      if (w.size() != 1) return usage(cmd == "trace-on" ? "trace-on" : "trace-off");
      tracing_ = cmd == "trace-on";
      console_.reply(reply::tracing(tracing_));
    } else if (cmd == "dump_cpu") {
      if (w.size() != 1) return usage("dump_cpu");
      console_.reply(reply::dump_cpu(m_.cpu));
    } else if (cmd == "x" || cmd == "xp") {
      examine(w);
    } else if (cmd == "u") {
      disassemble_memory(w);
    } else if (cmd == "set") {
      set_register(w);
    } else if (cmd == "setpmem") {
      set_memory(w);
    } else if (cmd == "help" || cmd == "h") {
      console_.reply(reply::help());
    } else {
      console_.reply(reply::unknown_command(cmd));
    }
    return true;
  }

  bool usage(const char *form) {
    g_line_pending = 0;
    console_.reply(reply::usage(form));
    return true;
  }
  bool error(const std::string &text) {
    console_.reply(text);
    return true;
  }

  void add_breakpoint(BreakKind kind, uint16_t seg, uint32_t off, uint32_t linear) {
    if (!breakpoints_.add(kind, seg, off, linear)) console_.reply(reply::too_many_breakpoints());
  }

  // The "read|write ADDR" that follows watch and unwatch; false, after telling
  // the user, when the words do not fit.
  bool watch_target(const std::vector<std::string> &w, const char *usage_text, bool *write,
                    uint32_t *a) {
    if (w.size() != 3 || (w[1] != "read" && w[1] != "write")) {
      usage(usage_text);
      return false;
    }
    if (!parse_address(w[2], a)) {
      console_.reply(reply::bad_number(w[2]));
      return false;
    }
    *write = w[1] == "write";
    return true;
  }

  void watch(const std::vector<std::string> &w) {
    if (w.size() == 1) {
      console_.reply(reply::watch_list(watchpoints_.listing(), m_.mem));
      return;
    }
    bool write;
    uint32_t a;
    if (!watch_target(w, "watch [read|write ADDR]", &write, &a)) return;
    if (!watchpoints_.add(write, a)) console_.reply(reply::too_many_watchpoints());
  }

  void unwatch(const std::vector<std::string> &w) {
    if (w.size() == 1) {
      watchpoints_.clear();
      return;
    }
    bool write;
    uint32_t a;
    if (!watch_target(w, "unwatch [read|write ADDR]", &write, &a)) return;
    if (!watchpoints_.remove(write, a)) console_.reply(reply::no_watchpoint(write, a));
  }

  void examine(const std::vector<std::string> &w) {
    const bool physical = w[0] == "xp";
    const char *form = physical ? "xp /NUF ADDR" : "x /NUF ADDR";
    unsigned count = 1;
    char unit = 'w', format = 'x';
    size_t at = 1;
    if (w.size() > 1 && w[1][0] == '/') {
      if (!parse_examine_format(w[1], &count, &unit, &format)) {
        usage(form);
        return;
      }
      at = 2;
    }
    uint32_t address;
    if (w.size() != at + 1) {
      usage(form);
      return;
    }
    if (!parse_address(w[at], &address)) {
      console_.reply(reply::bad_number(w[at]));
      return;
    }
    const unsigned size = unit == 'b' ? 1 : unit == 'h' ? 2 : unit == 'w' ? 4 : 8;
    const uint64_t bytes = uint64_t(count) * size;
    // Without paging linear addresses are physical. A range that does not
    // end inside memory, or that touches a page that is not present, gets
    // the error line alone, no part of the dump.
    if (physical || !m_.cpu.paging()) {
      if (!Memory::in_range(address, bytes)) {
        console_.reply(reply::past_end_of_memory(address, bytes));
        return;
      }
      console_.reply(reply::examine(m_.mem, address, count, unit, format));
      return;
    }
    if (bytes > kMemorySize || uint64_t(address) + bytes > (uint64_t(1) << 32)) {
      console_.reply(reply::past_end_of_memory(address, bytes));
      return;
    }
    std::vector<uint8_t> data(bytes);
    uint32_t frame = 0;
    for (uint64_t i = 0; i < bytes; ++i) {
      uint32_t linear = address + uint32_t(i);
      if (i == 0 || (linear & 0xfff) == 0) {
        if (!translate(m_, linear & ~0xfffu, &frame)) {
          console_.reply(reply::page_not_present(linear));
          return;
        }
      }
      uint32_t p = frame | (linear & 0xfff);
      if (p >= kMemorySize) {
        console_.reply(reply::past_end_of_memory(address, bytes));
        return;
      }
      data[i] = m_.mem.read8(p);
    }
    console_.reply(reply::examine_bytes(data.data(), address, count, unit, format));
  }

  // "u /N ADDR": N instructions (1 to 64, default 1) from a linear address,
  // decoded in the size of the current code segment.
  void disassemble_memory(const std::vector<std::string> &w) {
    const char *form = "u /N ADDR (N from 1 to 64)";
    uint64_t count = 1;
    size_t at = 1;
    if (w.size() > 1 && w[1][0] == '/') {
      if (!parse_decimal(w[1].substr(1), kMaxDisassembly, &count) || count == 0) {
        usage(form);
        return;
      }
      at = 2;
    }
    if (w.size() != at + 1) {
      usage(form);
      return;
    }
    uint32_t address;
    if (!parse_address(w[at], &address)) {
      console_.reply(reply::bad_number(w[at]));
      return;
    }
    const Cpu &c = m_.cpu;
    const uint32_t mask = c.code32() ? 0xffffffffu : 0xffffu;
    std::string out;
    for (uint64_t i = 0; i < count; ++i) {
      uint8_t code[15];
      unsigned n = fetch_code(m_, 0, address, 0xffffffffu, code, true);
      Insn in = decode(code, n, c.code32(), (address - c.seg[CS].base) & mask);
      if (in.incomplete) {
        uint32_t missing = address + n, p;
        out += translate(m_, missing, &p) ? reply::read_past_end_of_memory(missing) : reply::page_not_present(missing);
        break;
      }
      out += reply::disassembly_line(address, in);
      address += in.length;
    }
    console_.reply(out);
  }

  // "set REG = VALUE" (blanks around '=' optional).
  void set_register(const std::vector<std::string> &w) {
    const char *form = "set REG = VALUE";
    std::string rest;
    for (size_t i = 1; i < w.size(); ++i) rest += w[i];
    size_t eq = rest.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == rest.size() || rest.find('=', eq + 1) != std::string::npos) {
      usage(form);
      return;
    }
    std::string name = rest.substr(0, eq), text = rest.substr(eq + 1);
    const RegisterName *r = nullptr;
    for (const RegisterName &n : kRegisterNames)
      if (name == n.name) r = &n;
    if (!r) {
      console_.reply(reply::not_a_register(name));
      return;
    }
    uint32_t value;
    if (!parse_address(text, &value)) {
      console_.reply(reply::bad_number(text));
      return;
    }
    Cpu &c = m_.cpu;
    if (r->index >= 0)
      c.regs[r->index] = value;
    else if (r->index == -1)
      c.eip = value;
    else
      c.eflags = value | 2;
  }

  // "setpmem ADDR SIZE VALUE": SIZE bytes of physical memory, little-endian.
  void set_memory(const std::vector<std::string> &w) {
    if (w.size() != 4) {
      usage("setpmem ADDR SIZE VALUE");
      return;
    }
    uint32_t address, value;
    uint64_t size;
    if (!parse_address(w[1], &address)) {
      console_.reply(reply::bad_number(w[1]));
      return;
    }
    if (!parse_decimal(w[2], 4, &size) || size == 0 || size == 3) {
      console_.reply(reply::bad_size(w[2]));
      return;
    }
    if (!parse_address(w[3], &value)) {
      console_.reply(reply::bad_number(w[3]));
      return;
    }
    if (size < 4 && value >> (8 * size) != 0) {
      console_.reply(reply::value_too_wide(value, unsigned(size)));
      return;
    }
    if (!Memory::in_range(address, size)) {
      console_.reply(reply::write_past_end_of_memory(address, unsigned(size)));
      return;
    }
    m_.mem.write(address, unsigned(size), value);
  }

  // --- running ---

  // The guest's bytes of the last step go to standard output at the end of
  // their burst (or once a burst grows long).
  void take_console() {
    if (!m_.console.empty()) {
      g_output.put(m_.console);
      m_.console.clear();
      quiet_steps_ = 0;
      return;
    }
    if (g_output.pending() && ++quiet_steps_ >= flush_after_) {
      g_output.flush();
      quiet_steps_ = 0;
      flush_after_ = g_output.pending() ? kFullRetry : kBurstGap;
    }
  }

  // Before a stop report: the guest's bytes go out, and a count of those
  // that had to be dropped becomes a notice.
  std::string flush_console() {
    take_console();
    g_output.flush();
    flush_after_ = kBurstGap;
    uint64_t dropped = g_output.take_dropped();
    return dropped ? reply::guest_output_dropped(dropped) : std::string();
  }

  // "s N". A processor halted with interrupts off (by this step or before
  // it) wakes up no more: the step then waits for SIGINT, as Bochs does.
  void step(uint64_t n) {
    g_running = 1;
    g_line_pending = 0;
    g_interrupt = 0;
    std::string notices;
    for (uint64_t i = 0; i < n && !g_interrupt && !m_.cpu.halted; ++i) {
      StepEvents events;
      StepResult r = sim::step(m_, nullptr, &events);
      take_console();
      if (r == StepResult::Idle) break;
      if (events.reset) {
        notices += reply::triple_fault_reset();
        break;
      }
      if (events.magic && o_.magic_break) {
        notices += reply::magic_breakpoint();
        break;
      }
      if ((i & 0xffff) == 0xffff && input_gone()) break;
    }
    if (m_.cpu.halted && !(m_.cpu.eflags & IF) && !g_interrupt) {
      if (g_held)
        g_held = 0;  // the SIGINT that came with this line wakes it at once
      else
        wait_for_interrupt();
    }
    g_running = 0;
    g_interrupt = 0;
    notices += flush_console();
    console_.reply(notices + reply::location(m_));
  }

  void cont() {
    g_running = 1;
    g_line_pending = 0;
    if (g_held) g_interrupt = 1;
    g_held = 0;
    StopReason why = StopReason::None;
    const Breakpoint *bp = nullptr;
    const Watchpoint *wp = nullptr;
    bool first = true, mid_repeat = false;
    uint64_t since_poll = 0;
    AccessLog log;
    for (;;) {
      if (g_interrupt) {
        why = StopReason::Interrupt;
        break;
      }
      if (m_.cpu.halted || m_.cpu.shutdown) {
        if (wait_for_interrupt()) why = StopReason::Interrupt;
        break;
      }
      if (!first && !mid_repeat && !breakpoints_.empty() && (bp = breakpoint_here()) != nullptr) {
        why = StopReason::Breakpoint;
        break;
      }
      if (tracing_) {
        g_output.flush();
        console_.trace(reply::instruction_line(m_));
      }
      log.count = 0;
      StepEvents events;
      StepResult r = sim::step(m_, &log, &events);
      take_console();
      first = false;
      mid_repeat = r == StepResult::Repeating;
      if ((wp = watchpoints_.hit(log)) != nullptr) {
        why = StopReason::Watch;
        break;
      }
      if (events.reset) {
        why = StopReason::Reset;
        break;
      }
      if (events.magic && o_.magic_break) {
        why = StopReason::Magic;
        break;
      }
      if (++since_poll == 0x10000) {
        since_poll = 0;
        if (input_gone()) break;
      }
    }
    g_running = 0;
    g_interrupt = 0;
    std::string out;
    if (why == StopReason::Breakpoint) out = reply::breakpoint_stop(bp->number, bp->linear);
    if (why == StopReason::Watch) out = reply::watch_stop(wp->write, wp->address);
    if (why == StopReason::Reset) out = reply::triple_fault_reset();
    if (why == StopReason::Magic) out = reply::magic_breakpoint();
    out += flush_console();
    console_.reply(out + reply::location(m_));
  }

  // The breakpoint at CS:EIP: linear and virtual ones by its linear
  // address, physical ones by its physical address.
  const Breakpoint *breakpoint_here() const {
    uint32_t linear = m_.cpu.linear_ip(), physical;
    bool known = translate(m_, linear, &physical);
    return breakpoints_.at(linear, physical, known);
  }

  // A halted processor: wait, without using the processor, for SIGINT.
  // False when standard input hung up instead (which, when quitting is
  // ignored, is not waited for).
  bool wait_for_interrupt() {
    console_.flush();
    take_console();
    g_output.flush();
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &old);
    sigset_t during = old;
    sigdelset(&during, SIGINT);
    bool interrupted = true;
    while (!g_interrupt) {
      // Standard input is watched for its writer going away (unless quitting
      // is ignored); standard output for room for the guest's bytes.
      struct pollfd p[2] = {{o_.ignore_quit ? -1 : 0, 0, 0},
                            {g_output.pending() ? g_output.descriptor() : -1, POLLOUT, 0}};
      int r = ppoll(p, 2, nullptr, &during);
      if (r <= 0) continue;
      if (p[1].revents) g_output.flush();
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        interrupted = false;
        break;
      }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return interrupted;
  }

  Machine &m_;
  const Options &o_;
  Console console_;
  LineReader reader_;
  Breakpoints breakpoints_;
  Watchpoints watchpoints_;
  bool tracing_ = false;
  unsigned prompt_ = 0;
  unsigned quiet_steps_ = 0;  // steps since the guest last wrote to its console
  unsigned flush_after_ = kBurstGap;
};

}  // namespace

bool parse_address(const std::string &text, uint32_t *out) {
  uint64_t v;
  if (!parse_hex(text, 0xffffffffu, &v)) return false;
  *out = uint32_t(v);
  return true;
}

bool parse_examine_format(const std::string &text, unsigned *count, char *unit, char *format) {
  if (text.empty() || text[0] != '/') return false;
  size_t i = 1;
  uint64_t n = 1;
  if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      n = n * 10 + unsigned(text[i] - '0');
      if (n > (1u << 24)) return false;
      ++i;
    }
  }
  char u = 'w', f = 'x';
  for (; i < text.size(); ++i) {
    if (strchr("bhwg", text[i]))
      u = text[i];
    else if (strchr("xduto", text[i]))
      f = text[i];
    else
      return false;
  }
  *count = unsigned(n);
  *unit = u;
  *format = f;
  return true;
}

int run_debugger(Machine &m, const Options &options, const std::string &image_name,
                 const std::vector<std::string> &notes) {
  signal(SIGPIPE, SIG_IGN);
  g_output.open(1);
  if (options.ignore_sigterm) signal(SIGTERM, SIG_IGN);
  g_ignore_sigint = options.ignore_sigint;
  if (!options.transcript.empty())
    g_transcript_fd = open(options.transcript.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  std::vector<std::string> all = notes;
  if (!options.transcript.empty() && g_transcript_fd < 0) all.push_back("Cannot open the transcript file");
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_sigint;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  static Debugger *debugger;  // large buffers: kept off the stack
  debugger = new Debugger(m, options);
  int status = debugger->run(image_name, all);
  fflush(stderr);
  return status;
}

}  // namespace sim
