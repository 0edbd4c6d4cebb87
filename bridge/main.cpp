// vum-bridge: offered to VUM as "bochs" (through the directory bridge-bin),
// it starts Debian's Bochs 2.7 with a configuration file and translates the
// debugger dialogue both ways (session.hpp). VUM's commands come on standard
// input; the old dialect's replies go to standard error; what the guest
// writes to port 0xE9 goes to standard output. SIGINT is passed on to the
// emulator once it has read the run it is meant to stop.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session.hpp"

namespace {

const char kUsage[] =
    "usage: vum-bridge [-q] [-f FILE | --config FILE] [--log FILE] [BOCHSRC-LINE...]\n"
    "Starts Bochs 2.7 (bochs-bin) and speaks the old debugger dialect VUM uses:\n"
    "commands on standard input, replies and prompts on standard error; what the\n"
    "guest writes to port 0xE9 (with port_e9_hack: enabled=1) on standard output.\n"
    "\n"
    "The configuration file is the first of: -f/--config FILE; $VUM_BOCHSRC;\n"
    "bochsrc, .bochsrc or bochsrc.txt in the current directory; the demo floppy's\n"
    "configuration installed with the bridge. $VUM_DEMO_DIR is set to the\n"
    "configuration file's directory, so a file can name its disk images by it.\n"
    "\n"
    "Environment: VUM_BOCHSRC (configuration file), VUM_BRIDGE_LOG (file that gets\n"
    "the emulator's own standard error), VUM_BOCHS_BIN (emulator program, default\n"
    "bochs-bin), VUM_BRIDGE_TRANSCRIPT (file that gets every command line received).\n";

// The preloaded library that keeps the guest's bytes apart (guest_output.c).
const char kGuestOutputLibrary[] = "vum-bridge-e9.so";

// Guest bytes the bridge holds while VUM does not read them; beyond this the
// oldest go, so that the bridge, and the emulator behind it, never wait.
constexpr size_t kGuestOutputLimit = 1 << 20;

// A SIGINT Bochs took just before it started the run goes again after this.
constexpr long long kInterruptAgainMs = 50;

volatile sig_atomic_t interrupt_requested = 0;
volatile sig_atomic_t terminate_requested = 0;
int wake_pipe[2] = {-1, -1};  // signal handlers write a byte; the loop wakes

void wake(int signo) {
  int saved = errno;
  if (signo == SIGTERM || signo == SIGHUP) terminate_requested = 1;
  if (signo == SIGINT) interrupt_requested = 1;
  char b = 1;
  if (write(wake_pipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string directory_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string absolute(const std::string &path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) != NULL) return buf;
  return path;
}

std::string program_directory() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return std::string();
  exe[n] = '\0';
  return directory_of(exe);
}

// The demo configuration beside the program: installed, share/vum/demo/;
// in the build tree, demo/ beside the bridge's folder.
std::string demo_configuration() {
  std::string dir = program_directory();
  if (dir.empty()) return std::string();
  for (const char *rel : {"/../share/vum/demo/bochsrc", "/../demo/bochsrc"}) {
    std::string p = dir + rel;
    if (file_exists(p)) return absolute(p);
  }
  return std::string();
}

// The guest output library: beside the program in the build tree, in
// libexec/vum when installed.
std::string guest_output_library() {
  std::string dir = program_directory();
  if (dir.empty()) return std::string();
  for (std::string p : {dir + "/" + kGuestOutputLibrary,
                        dir + "/" + VUM_BRIDGE_LIBEXEC_FROM_BIN + "/" + kGuestOutputLibrary})
    if (file_exists(p)) return absolute(p);
  return std::string();
}

// Writes all of `text`; false when the descriptor takes no more (its
// reader has gone).
bool write_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// Messages of the bridge itself: to the log when there is one, and to
// standard error before the first prompt (where VUM keeps the last lines of
// a start that failed, and a person who runs the bridge by hand reads them).
// No '<' in them.
struct Notes {
  int log = -1;
  bool to_stderr = true;
  void say(const std::string &text, bool always = false) {
    std::string line = "vum-bridge: " + text + "\n";
    for (char &c : line)
      if (c == '<') c = '?';
    if (log >= 0) write_all(log, line);
    if (to_stderr || always) write_all(2, line);
  }
};

struct Options {
  std::string config;
  std::string log;
  std::vector<std::string> extra;  // configuration lines for Bochs
};

bool parse_options(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "-q") continue;
    if ((a == "-f" || a == "--config" || a == "--log") && i + 1 < argc) {
      (a == "--log" ? o->log : o->config) = argv[++i];
    } else if (a == "-h" || a == "--help") {
      fputs(kUsage, stdout);
      exit(0);
    } else if (!a.empty() && a[0] == '-') {
      fprintf(stderr, "vum-bridge: unknown option %s\n%s", a.c_str(), kUsage);
      return false;
    } else {
      o->extra.push_back(a);
    }
  }
  if (o->config.empty() && getenv("VUM_BOCHSRC") && *getenv("VUM_BOCHSRC")) o->config = getenv("VUM_BOCHSRC");
  if (o->config.empty())
    for (const char *name : {"bochsrc", ".bochsrc", "bochsrc.txt"})
      if (file_exists(name)) {
        o->config = name;
        break;
      }
  if (o->config.empty()) o->config = demo_configuration();
  if (o->log.empty() && getenv("VUM_BRIDGE_LOG")) o->log = getenv("VUM_BRIDGE_LOG");
  return true;
}

// ---------------------------------------------------------------------------
// What the bridge checks in the configuration before it starts Bochs

std::string trimmed(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return std::string();
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// $NAME and ${NAME} as Bochs expands them in its configuration.
std::string expand(const std::string &text, const std::string &demo_dir) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '$') {
      out += text[i];
      continue;
    }
    size_t start = i + 1, end;
    bool braced = start < text.size() && text[start] == '{';
    if (braced) {
      end = text.find('}', start);
      if (end == std::string::npos) return out + text.substr(i);
      start++;
    } else {
      end = start;
      while (end < text.size() && (isalnum((unsigned char)text[end]) || text[end] == '_')) end++;
    }
    std::string name = text.substr(start, end - start);
    const char *value = name == "VUM_DEMO_DIR" ? demo_dir.c_str() : getenv(name.c_str());
    if (value) out += value;
    i = braced ? end : end - 1;
  }
  return out;
}

// The value of the last "KEY: value" line of the configuration text and the
// extra lines (which Bochs reads after the file), up to its first comma.
std::string config_value(const std::string &file_text, const std::vector<std::string> &extra,
                         const std::string &key) {
  std::string found;
  auto look = [&](const std::string &line) {
    std::string l = trimmed(line);
    if (l.compare(0, key.size(), key) != 0) return;
    std::string rest = trimmed(l.substr(key.size()));
    if (rest.empty() || rest[0] != ':') return;
    rest = trimmed(rest.substr(1));
    found = trimmed(rest.substr(0, rest.find(',')));
  };
  std::istringstream in(file_text);
  for (std::string line; std::getline(in, line);) look(line);
  for (const std::string &line : extra) look(line);
  return found;
}

// Why Bochs could not be driven with this configuration, or "".
std::string configuration_problem(const std::string &file_text, const std::vector<std::string> &extra) {
  std::string library = config_value(file_text, extra, "display_library");
  if (library.empty()) library = "x";  // Debian's Bochs starts the X display when none is named
  if (library == "term")
    return "display_library term cannot be driven: Bochs draws the guest's screen into a terminal nobody reads "
           "and stops once it is full; use display_library: x";
  if (library == "rfb" || library == "vncsrv")
    return "display_library " + library + " cannot be driven: Bochs waits for a viewer to connect before it starts; "
           "use display_library: x";
  if (library == "x" || library == "sdl" || library == "sdl2" || library == "wx") {
    const char *display = getenv("DISPLAY");
    if (!display || !*display) return "display_library " + library + " needs an X display, and DISPLAY is not set";
  }
  return std::string();
}

// ---------------------------------------------------------------------------
// Bochs's last words

bool is_log_line(const std::string &l) {
  // "00000000000p[MEM0  ] >>PANIC<< ROM: …": 11 digits, a level letter, '['.
  if (l.size() < 13) return false;
  for (int i = 0; i < 11; i++)
    if (!isdigit((unsigned char)l[i])) return false;
  return l[12] == '[';
}

// "[MEM0  ] text" → "text"
std::string without_device(const std::string &l) {
  if (l.empty() || l[0] != '[') return l;
  size_t close = l.find("] ");
  return close == std::string::npos ? l : l.substr(close + 2);
}

// What Bochs said about why it ended, from what it wrote on its standard
// error: the message it exits with, else its panics, else its errors, else
// its last lines that are not log lines; none of the log's noise.
std::vector<std::string> last_words(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\a')) line.pop_back();
    if (!line.empty() && line[0] == '\a') line.erase(0, 1);
    lines.push_back(line);
  }
  std::vector<std::string> words;
  auto add = [&words](std::string w) {
    w = trimmed(w);
    if (w.empty() || std::find(words.begin(), words.end(), w) != words.end()) return;
    for (char &c : w)
      if (c == '<' || (unsigned char)c < 0x20) c = '?';
    words.push_back(w);
  };
  for (size_t i = 0; i < lines.size(); i++)
    if (lines[i] == "Bochs is exiting with the following message:")
      for (size_t j = i + 1; j < lines.size() && lines[j].compare(0, 8, "========") != 0; j++)
        add(without_device(lines[j]));
  if (!words.empty()) return words;
  for (const std::string &l : lines) {
    size_t panic = l.find(">>PANIC<< ");
    if (panic != std::string::npos) add(l.substr(panic + 10));
  }
  if (!words.empty()) return words;
  for (const std::string &l : lines)
    if (is_log_line(l) && l[11] == 'e' && l.find("no bxevent_callback") == std::string::npos)
      add(without_device(l.substr(12)));
  if (!words.empty()) return words;
  for (size_t i = lines.size(); i-- > 0 && words.size() < 3;) {
    const std::string &l = lines[i];
    if (trimmed(l).empty() || is_log_line(l) || l.compare(0, 9, "ALSA lib ") == 0) continue;
    words.insert(words.begin(), trimmed(l));
  }
  return words;
}

// ---------------------------------------------------------------------------
// The emulator

struct Emulator {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;  // its stdin (ours to write), stdout, stderr
  int guest = -1;                   // the guest's port 0xE9 bytes
};

bool start_emulator(const Options &o, const std::string &preload, Emulator *e, Notes *notes) {
  int in[2], out[2], err[2], guest[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) ||
      (!preload.empty() && pipe2(guest, O_CLOEXEC))) {
    notes->say(std::string("cannot make pipes: ") + strerror(errno));
    return false;
  }
  const char *program = getenv("VUM_BOCHS_BIN");
  if (!program || !*program) program = "bochs-bin";
  std::string config = absolute(o.config);
  std::vector<std::string> args = {program, "-q", "-f", config};
  args.insert(args.end(), o.extra.begin(), o.extra.end());
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    notes->say(std::string("cannot fork: ") + strerror(errno));
    return false;
  }
  if (pid == 0) {
    // Its own process group: a Ctrl-C typed at VUM's terminal reaches the
    // bridge, which passes it on once. It dies with the bridge.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (guest[1] >= 0) {
      int fd = dup(guest[1]);  // without close-on-exec
      if (fd >= 0) {
        setenv("VUM_BRIDGE_GUEST_FD", std::to_string(fd).c_str(), 1);
        const char *before = getenv("LD_PRELOAD");
        setenv("LD_PRELOAD", (before && *before ? preload + ":" + before : preload).c_str(), 1);
      }
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    // readline: a wide line so that the echo of a long command stays one
    // plain line; no user key bindings; a terminal type it needs no database for.
    setenv("COLUMNS", "1000", 1);
    setenv("LINES", "50", 1);
    setenv("INPUTRC", "/dev/null", 1);
    setenv("TERM", "dumb", 1);
    setenv("VUM_DEMO_DIR", directory_of(config).c_str(), 1);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(NULL);
    execvp(program, argv.data());
    dprintf(2, "cannot run %s: %s\n", program, strerror(errno));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (guest[1] >= 0) close(guest[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  if (guest[0] >= 0) fcntl(guest[0], F_SETFL, O_NONBLOCK);
  e->pid = pid;
  e->in = in[1];
  e->out = out[0];
  e->err = err[0];
  e->guest = guest[0];
  std::string command;
  for (const std::string &a : args) command += (command.empty() ? "" : " ") + a;
  if (notes->log >= 0) write_all(notes->log, "vum-bridge: started " + command + "\n");
  return true;
}

// Bochs's log as it comes: on its standard error (and in the bridge's log
// file, if any), and in the file its configuration names, if any. Lines are
// handed to the session while a run may end in a reset; the last words are
// kept for when Bochs ends.
struct EmulatorLog {
  int fd = -1;  // Bochs's standard error
  bool open = true;
  std::string file;  // the configuration's "log:" file, if any
  int file_fd = -1;
  std::string partial, file_partial;
  std::string recent;  // the last bytes of its standard error

  void lines_to(std::string *partial_line, const char *bytes, size_t n, bridge::Session *session) {
    if (!session) return;
    partial_line->append(bytes, n);
    size_t start = 0;
    for (size_t nl; (nl = partial_line->find('\n', start)) != std::string::npos; start = nl + 1)
      session->from_emulator_log(std::string_view(*partial_line).substr(start, nl - start));
    partial_line->erase(0, start);
    if (partial_line->size() > 4096) partial_line->clear();
  }

  // Reads what is there now; `session` null: read and passed over.
  void drain(Notes *notes, bridge::Session *session, char *buf, size_t size) {
    while (open) {
      ssize_t got = read(fd, buf, size);
      if (got > 0) {
        if (notes->log >= 0) write_all(notes->log, std::string(buf, size_t(got)));
        recent.append(buf, size_t(got));
        if (recent.size() > 16384) recent.erase(0, recent.size() - 16384);
        lines_to(&partial, buf, size_t(got), session);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno == EAGAIN) break;
      open = false;
      close(fd);
    }
    if (file.empty()) return;
    if (file_fd < 0) file_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (file_fd < 0) return;
    for (;;) {
      ssize_t got = read(file_fd, buf, size);
      if (got <= 0) break;
      lines_to(&file_partial, buf, size_t(got), session);
    }
  }
};

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Writes what the (non-blocking) descriptor takes now.
bool write_some(int fd, std::string *buf) {
  ssize_t w = write(fd, buf->data(), buf->size());
  if (w > 0) {
    buf->erase(0, size_t(w));
    return true;
  }
  return w < 0 && (errno == EINTR || errno == EAGAIN);
}

std::string exit_text(int status) {
  if (status > 128) return "killed by signal " + std::to_string(status - 128);
  return "exit status " + std::to_string(status);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) return 2;
  Notes notes;
  if (!options.log.empty()) {
    notes.log = open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (notes.log < 0) notes.say("cannot open the log " + options.log + ": " + strerror(errno));
  }
  int transcript = -1;
  if (const char *t = getenv("VUM_BRIDGE_TRANSCRIPT"))
    transcript = open(t, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (options.config.empty()) {
    notes.say("no configuration file: give one with -f FILE or VUM_BOCHSRC");
    return 1;
  }
  std::string config_text;
  {
    std::ifstream in(options.config, std::ios::binary);
    if (!file_exists(options.config) || !in) {
      notes.say("cannot read the configuration file " + options.config + ": " +
                (file_exists(options.config) ? "permission denied" : "no such file"));
      return 1;
    }
    std::stringstream s;
    s << in.rdbuf();
    config_text = s.str();
  }
  std::string problem = configuration_problem(config_text, options.extra);
  if (!problem.empty()) {
    notes.say(problem);
    return 1;
  }
  std::string preload = guest_output_library();
  if (preload.empty())
    notes.say(std::string("cannot find ") + kGuestOutputLibrary +
              ": the guest's port 0xE9 output will be mixed into the replies");

  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  signal(SIGPIPE, SIG_IGN);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = wake;
  sa.sa_flags = 0;  // these end a wait in poll at once
  sigaction(SIGINT, &sa, NULL);
  sigaction(SIGCHLD, &sa, NULL);
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGHUP, &sa, NULL);

  Emulator emu;
  if (!start_emulator(options, preload, &emu, &notes)) return 1;
  // Bochs answers a command in many small writes (readline writes the echo
  // and the prompt a byte at a time). The bridge waits for them in poll and
  // knows a reply is whole by its prompt, not by a pause. As a batch process
  // (Bochs, started before, stays an ordinary one) its wake-ups do not
  // preempt the writer: sharing a processor with Bochs, it runs once Bochs
  // waits for its next command, and reads the whole reply at once, rather
  // than taking the processor from Bochs at each write.
  struct sched_param no_priority = {};
  sched_setscheduler(0, SCHED_BATCH, &no_priority);
  EmulatorLog log;
  log.fd = emu.err;
  std::string log_file = expand(config_value(config_text, options.extra, "log"), directory_of(absolute(options.config)));
  if (!log_file.empty() && log_file != "-" && log_file.compare(0, 5, "/dev/") != 0) log.file = log_file;

  bridge::Session session;
  bool front_in_open = true;   // VUM's command stream
  bool front_out_open = true;  // VUM's reply stream
  bool guest_out_open = true;  // VUM's guest output stream
  std::string guest_out;       // guest bytes not written yet
  size_t guest_dropped = 0;
  bool emulator_out_open = true, emulator_exited = false;
  int exit_status = 0;
  long long give_up_at = -1;    // when the emulator is killed if it has not ended
  long long interrupt_at = 0;   // when the last SIGINT went to the emulator
  unsigned runs_seen = 0;       // session.runs_sent() when the log was last read away
  bool terminated = false;
  char buf[65536];

  // VUM's command lines that are there now (before a SIGINT is weighed, the
  // "c" VUM wrote just before it must be in).
  auto read_front_now = [&] {
    while (front_in_open) {
      struct pollfd p = {0, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
      ssize_t got = read(0, buf, sizeof buf);
      if (got > 0) {
        session.from_front(std::string_view(buf, size_t(got)));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      front_in_open = false;
      session.front_closed();
    }
  };
  // When a run may have ended in a reset, the session asks for what Bochs
  // logged before it.
  char log_buf[16384];
  session.on_log_wanted([&] { log.drain(&notes, &session, log_buf, sizeof log_buf); });
  auto from_emulator = [&](size_t got) { session.from_emulator(std::string_view(buf, got)); };
  auto read_guest = [&] {
    while (emu.guest >= 0) {
      ssize_t got = read(emu.guest, buf, sizeof buf);
      if (got > 0) {
        if (guest_out_open) guest_out.append(buf, size_t(got));
        if (guest_out.size() > kGuestOutputLimit) {
          size_t drop = guest_out.size() - kGuestOutputLimit;
          guest_out.erase(0, drop);
          guest_dropped += drop;
        }
        continue;
      }
      if (got < 0 && (errno == EINTR)) continue;
      if (got < 0 && errno == EAGAIN) return;
      close(emu.guest);
      emu.guest = -1;
    }
  };

  bool check_exit = false;  // SIGCHLD or the end of the emulator's output
  for (;;) {
    if (check_exit && !emulator_exited) {
      check_exit = false;
      int status;
      if (waitpid(emu.pid, &status, WNOHANG) == emu.pid) {
        emulator_exited = true;
        exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (notes.log >= 0)
          write_all(notes.log, "vum-bridge: the emulator ended, " + exit_text(exit_status) + "\n");
      }
    }
    if (interrupt_requested) {
      interrupt_requested = 0;
      read_front_now();
      session.interrupt();
    }
    if (!emulator_exited) {
      if (session.interrupt_due()) {
        kill(emu.pid, SIGINT);
        session.interrupt_sent();
        interrupt_at = now_ms();
      } else if (session.interrupt_outstanding() && now_ms() - interrupt_at >= kInterruptAgainMs) {
        kill(emu.pid, SIGINT);
        interrupt_at = now_ms();
      }
    }
    if (session.started()) notes.to_stderr = false;
    if (transcript >= 0)
      while (!session.received().empty()) {
        write_all(transcript, session.received().front() + "\n");
        session.received().pop_front();
      }
    else
      session.received().clear();
    while (!session.refusals().empty()) {
      if (notes.log >= 0) write_all(notes.log, "vum-bridge: Bochs refused: " + session.refusals().front() + "\n");
      session.refusals().pop_front();
    }

    // Hand over what is ready at once. The command pipe is the bridge's own
    // and does not block; VUM's reply pipe may, which only holds the bridge
    // back while VUM is not reading (and VUM reads every reply it asked for).
    if (emu.in >= 0 && !session.to_emulator().empty()) {
      if (session.runs_sent() != runs_seen) {
        // Whatever Bochs logged so far came before this run.
        runs_seen = session.runs_sent();
        log.drain(&notes, nullptr, buf, sizeof buf);
      }
      if (!write_some(emu.in, &session.to_emulator())) {
        close(emu.in);
        emu.in = -1;
      }
    }
    if (emu.in < 0) session.to_emulator().clear();
    if (!session.to_front().empty()) {
      if (front_out_open) {
        std::string &out = session.to_front();
        if (!write_all(2, out)) front_out_open = false;
      }
      session.to_front().clear();
    }

    // Everything the emulator said is in and handed on: the bridge ends with it.
    if (emulator_exited && !emulator_out_open && emu.guest < 0) break;
    if (terminate_requested && !terminated) {
      // SIGTERM or SIGHUP: the emulator goes first.
      terminated = true;
      if (!emulator_exited) kill(emu.pid, SIGTERM);
      give_up_at = now_ms() + 2000;
    }
    if (session.front_ended() && give_up_at < 0) give_up_at = now_ms() + 3000;
    if (give_up_at >= 0 && now_ms() >= give_up_at && !emulator_exited) {
      kill(emu.pid, SIGKILL);
      give_up_at = now_ms() + 60000;
    }

    struct pollfd fds[7];
    int n = 0;
    int i_wake = n;
    fds[n++] = {wake_pipe[0], POLLIN, 0};
    int i_front_in = -1, i_emu_out = -1, i_emu_err = -1, i_emu_in = -1, i_guest = -1, i_guest_out = -1;
    if (front_in_open) fds[i_front_in = n++] = {0, POLLIN, 0};
    if (emulator_out_open) fds[i_emu_out = n++] = {emu.out, POLLIN, 0};
    if (log.open) fds[i_emu_err = n++] = {emu.err, POLLIN, 0};
    if (emu.in >= 0 && !session.to_emulator().empty()) fds[i_emu_in = n++] = {emu.in, POLLOUT, 0};
    if (emu.guest >= 0) fds[i_guest = n++] = {emu.guest, POLLIN, 0};
    if (guest_out_open && !guest_out.empty()) fds[i_guest_out = n++] = {1, POLLOUT, 0};
    int timeout = -1;
    if (give_up_at >= 0) timeout = int(std::max(0LL, give_up_at - now_ms()));
    if (emulator_exited) timeout = timeout < 0 ? 200 : std::min(timeout, 200);
    if (session.interrupt_outstanding()) {
      int again = int(std::max(0LL, interrupt_at + kInterruptAgainMs - now_ms()));
      timeout = timeout < 0 ? again : std::min(timeout, again);
    }
    int r = poll(fds, nfds_t(n), timeout);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) {
      if (emulator_exited && timeout != 0 && !session.interrupt_outstanding()) {
        emulator_out_open = log.open = false;
        if (emu.guest >= 0) close(emu.guest);
        emu.guest = -1;
      }
      continue;
    }
    if (fds[i_wake].revents) {
      while (read(wake_pipe[0], buf, sizeof buf) > 0) {
      }
      check_exit = true;
    }
    if (i_guest >= 0 && fds[i_guest].revents) read_guest();
    if (i_guest_out >= 0 && fds[i_guest_out].revents) {
      // What the pipe takes without blocking: a free buffer holds PIPE_BUF.
      std::string part = guest_out.substr(0, PIPE_BUF);
      ssize_t w = write(1, part.data(), part.size());
      if (w > 0)
        guest_out.erase(0, size_t(w));
      else if (w < 0 && errno != EINTR && errno != EAGAIN) {
        guest_out_open = false;
        guest_out.clear();
      }
    }
    if (i_emu_in >= 0 && fds[i_emu_in].revents) {
      if (session.runs_sent() != runs_seen) {
        runs_seen = session.runs_sent();
        log.drain(&notes, nullptr, buf, sizeof buf);
      }
      if (!write_some(emu.in, &session.to_emulator())) {
        close(emu.in);
        emu.in = -1;
      }
    }
    if (i_emu_out >= 0 && fds[i_emu_out].revents) {
      ssize_t got = read(emu.out, buf, sizeof buf);
      if (got > 0) {
        from_emulator(size_t(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        emulator_out_open = false;
        close(emu.out);
        check_exit = true;
      }
    }
    if (i_emu_err >= 0 && fds[i_emu_err].revents) log.drain(&notes, session.wants_log() ? &session : nullptr, buf, sizeof buf);
    if (i_front_in >= 0 && fds[i_front_in].revents) {
      ssize_t got = read(0, buf, sizeof buf);
      if (got > 0) {
        session.from_front(std::string_view(buf, size_t(got)));
      } else if (got == 0 || errno != EINTR) {
        // VUM has gone or closed its commands: a run is interrupted, and the
        // session sends the quit command once Bochs is at its prompt.
        front_in_open = false;
        session.front_closed();
      }
    }
  }
  // The guest's last bytes, as far as VUM takes them in a moment.
  for (long long until = now_ms() + 200; guest_out_open && !guest_out.empty() && now_ms() < until;) {
    struct pollfd p = {1, POLLOUT, 0};
    if (poll(&p, 1, int(until - now_ms())) <= 0) break;
    std::string part = guest_out.substr(0, PIPE_BUF);
    ssize_t w = write(1, part.data(), part.size());
    if (w > 0)
      guest_out.erase(0, size_t(w));
    else if (w < 0 && errno != EINTR && errno != EAGAIN)
      break;
  }
  guest_dropped += guest_out.size();
  if (guest_dropped > 0 && notes.log >= 0)
    write_all(notes.log, "vum-bridge: " + std::to_string(guest_dropped) + " bytes of guest output were not read\n");
  if (!session.quit_sent()) {
    // The emulator ended on its own: its last words say why, as the last
    // lines VUM gets. Before the first prompt that is a failed start, which
    // always ends with a status other than 0.
    if (log.open) log.drain(&notes, nullptr, buf, sizeof buf);
    std::vector<std::string> words = last_words(log.recent);
    if (!session.started()) {
      notes.say("Bochs ended before its first prompt (" + exit_text(exit_status) + ")" +
                    (words.empty() ? "" : "; it said:"),
                true);
      if (exit_status == 0) exit_status = 1;
    } else {
      notes.say("Bochs ended (" + exit_text(exit_status) + ")" + (words.empty() ? "" : "; it said:"), true);
    }
    std::string text;
    for (const std::string &w : words) text += w + "\n";
    if (front_out_open) write_all(2, text);
    if (notes.log >= 0) write_all(notes.log, text);
  }
  return exit_status;
}
