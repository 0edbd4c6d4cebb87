// vum-bridge: offered to VUM as "bochs" (through the directory bridge-bin),
// it starts Debian's Bochs 2.7 with a configuration file and translates the
// debugger dialogue both ways (session.hpp). VUM's commands come on standard
// input; the old dialect's replies go to standard error; standard output is
// not used. SIGINT is passed on to the emulator.
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
#include <string>
#include <vector>

#include "session.hpp"

namespace {

const char kUsage[] =
    "usage: vum-bridge [-q] [-f FILE | --config FILE] [--log FILE] [BOCHSRC-LINE...]\n"
    "Starts Bochs 2.7 (bochs-bin) and speaks the old debugger dialect VUM uses:\n"
    "commands on standard input, replies and prompts on standard error.\n"
    "\n"
    "The configuration file is the first of: -f/--config FILE; $VUM_BOCHSRC;\n"
    "bochsrc, .bochsrc or bochsrc.txt in the current directory; the demo floppy's\n"
    "configuration installed with the bridge. $VUM_DEMO_DIR is set to the\n"
    "configuration file's directory, so a file can name its disk images by it.\n"
    "\n"
    "Environment: VUM_BOCHSRC (configuration file), VUM_BRIDGE_LOG (file that gets\n"
    "the emulator's own standard error), VUM_BOCHS_BIN (emulator program, default\n"
    "bochs-bin), VUM_BRIDGE_TRANSCRIPT (file that gets every command line received),\n"
    "VUM_BRIDGE_SPIN_US (how long the bridge waits awake for the next bytes after a\n"
    "command or a reply, default 200 microseconds; 0 makes it sleep at once).\n";

volatile sig_atomic_t emulator_pid = 0;
volatile sig_atomic_t terminate_requested = 0;
int wake_pipe[2] = {-1, -1};  // signal handlers write a byte; the loop wakes

void pass_interrupt(int) {
  int saved = errno;
  if (emulator_pid > 0) kill(pid_t(emulator_pid), SIGINT);
  errno = saved;
}

void wake(int signo) {
  int saved = errno;
  if (signo == SIGTERM || signo == SIGHUP) terminate_requested = 1;
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

// The demo configuration beside the program: installed, share/vum/demo/;
// in the build tree, demo/ beside the bridge's folder.
std::string demo_configuration() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return std::string();
  exe[n] = '\0';
  std::string dir = directory_of(exe);
  for (const char *rel : {"/../share/vum/demo/bochsrc", "/../demo/bochsrc"}) {
    std::string p = dir + rel;
    if (file_exists(p)) return absolute(p);
  }
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
// standard error before the first prompt (where VUM drops all text, and a
// person who runs the bridge by hand reads it). No '<' in them.
struct Notes {
  int log = -1;
  bool to_stderr = true;
  void say(const std::string &text) {
    std::string line = "vum-bridge: " + text + "\n";
    for (char &c : line)
      if (c == '<') c = '?';
    if (log >= 0) write_all(log, line);
    if (to_stderr) write_all(2, line);
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

struct Emulator {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;  // its stdin (ours to write), stdout, stderr
};

bool start_emulator(const Options &o, Emulator *e, Notes *notes) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
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
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  e->pid = pid;
  e->in = in[1];
  e->out = out[0];
  e->err = err[0];
  emulator_pid = pid;
  std::string command;
  for (const std::string &a : args) command += (command.empty() ? "" : " ") + a;
  if (notes->log >= 0) write_all(notes->log, "vum-bridge: started " + command + "\n");
  return true;
}

// Reads what the emulator wrote on its standard error (non-blocking): to the
// log, and kept while it has not shown its first prompt.
void drain_errors(int fd, bool *open, Notes *notes, const bridge::Session *session, std::string *start_error,
                  char *buf, size_t size) {
  while (*open) {
    ssize_t got = read(fd, buf, size);
    if (got > 0) {
      if (notes->log >= 0) write_all(notes->log, std::string(buf, size_t(got)));
      if (!session->started()) {
        start_error->append(buf, size_t(got));
        if (start_error->size() > 4096) start_error->erase(0, start_error->size() - 4096);
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    *open = false;
    close(fd);
  }
}

// After a command or a reply, the next bytes are watched for this long
// without sleeping (VUM_BRIDGE_SPIN_US; 0 never).
long long hot_microseconds() {
  const char *v = getenv("VUM_BRIDGE_SPIN_US");
  return v && *v ? atoll(v) : 200;
}
const long long kHotMicroseconds = hot_microseconds();

long long now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

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
  if (!file_exists(options.config)) {
    notes.say("cannot read the configuration file " + options.config);
    return 1;
  }

  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  signal(SIGPIPE, SIG_IGN);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_flags = SA_RESTART;
  sa.sa_handler = pass_interrupt;
  sigaction(SIGINT, &sa, NULL);
  sa.sa_handler = wake;
  sa.sa_flags = 0;  // these end a wait in poll at once
  sigaction(SIGCHLD, &sa, NULL);
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGHUP, &sa, NULL);

  Emulator emu;
  if (!start_emulator(options, &emu, &notes)) return 1;

  bridge::Session session;
  bool front_in_open = true;   // VUM's command stream
  bool front_out_open = true;  // VUM's reply stream
  bool emulator_out_open = true, emulator_err_open = true, emulator_exited = false;
  int exit_status = 0;
  long long give_up_at = -1;  // when the emulator is killed if it has not ended
  bool terminated = false;
  std::string start_error;  // the emulator's last words before its first prompt
  char buf[65536];

  bool check_exit = false;     // SIGCHLD or the end of the emulator's output
  long long hot_until = 0;     // until then the loop polls for VUM's next command without sleeping
  for (;;) {
    if (check_exit && !emulator_exited) {
      check_exit = false;
      int status;
      if (waitpid(emu.pid, &status, WNOHANG) == emu.pid) {
        emulator_exited = true;
        emulator_pid = 0;
        exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (notes.log >= 0)
          write_all(notes.log, "vum-bridge: the emulator ended, status " + std::to_string(exit_status) + "\n");
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
        hot_until = now_us() + kHotMicroseconds;  // VUM's next command comes soon
      }
      session.to_front().clear();
    }

    // Everything the emulator said is in and handed on: the bridge ends with it.
    if (emulator_exited && !emulator_out_open) break;
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

    // A step or a dump is answered within a few dozen microseconds, in many
    // small writes (readline writes the echo and the prompt a byte at a
    // time). Reading them as they come, without sleeping in between, spares
    // a wake-up per write, and Bochs writes without waking anybody. After
    // half a millisecond without a byte the loop sleeps in poll as usual.
    if (emulator_out_open && session.awaiting_reply() && !session.running() && session.to_emulator().empty()) {
      long long until = now_us() + kHotMicroseconds;
      while (session.awaiting_reply() && session.to_front().empty() && now_us() < until && !terminate_requested &&
             !check_exit) {
        // Looked at with poll, which takes no lock of the pipe's: a read that
        // finds it empty would take the lock Bochs needs for each of its
        // writes, and slow them down.
        struct pollfd ready = {emu.out, POLLIN, 0};
        if (poll(&ready, 1, 0) == 0) {
          // A few microseconds without a system call: Bochs writes on.
          for (long long pause_until = now_us() + 3; now_us() < pause_until;) {
          }
          continue;
        }
        ssize_t got = read(emu.out, buf, sizeof buf);
        if (got > 0) {
          session.from_emulator(std::string_view(buf, size_t(got)));
          until = now_us() + kHotMicroseconds;
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
          break;  // the end: the poll below sees it
        } else {
          sched_yield();
        }
      }
      if (!session.to_front().empty() || !session.to_emulator().empty()) continue;
    }

    struct pollfd fds[5];
    int n = 0;
    int i_wake = n;
    fds[n++] = {wake_pipe[0], POLLIN, 0};
    int i_front_in = -1, i_emu_out = -1, i_emu_err = -1, i_emu_in = -1;
    if (front_in_open) fds[i_front_in = n++] = {0, POLLIN, 0};
    if (emulator_out_open) fds[i_emu_out = n++] = {emu.out, POLLIN, 0};
    if (emulator_err_open) fds[i_emu_err = n++] = {emu.err, POLLIN, 0};
    if (emu.in >= 0 && !session.to_emulator().empty()) fds[i_emu_in = n++] = {emu.in, POLLOUT, 0};
    int timeout = -1;
    if (give_up_at >= 0) timeout = int(std::max(0LL, give_up_at - now_ms()));
    if (emulator_exited) timeout = timeout < 0 ? 200 : std::min(timeout, 200);
    // Right after a reply VUM's next command is usually a few microseconds
    // away (a step is followed by the register dump): wait for it awake.
    if (now_us() < hot_until && !session.awaiting_reply()) timeout = 0;
    int r = poll(fds, nfds_t(n), timeout);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) {
      if (emulator_exited && timeout != 0) emulator_out_open = emulator_err_open = false;
      if (timeout == 0) sched_yield();  // the emulator may want this processor
      continue;
    }
    if (fds[i_wake].revents) {
      while (read(wake_pipe[0], buf, sizeof buf) > 0) {
      }
      check_exit = true;
    }
    if (i_emu_in >= 0 && fds[i_emu_in].revents) {
      if (!write_some(emu.in, &session.to_emulator())) {
        close(emu.in);
        emu.in = -1;
      }
    }
    if (i_emu_out >= 0 && fds[i_emu_out].revents) {
      ssize_t got = read(emu.out, buf, sizeof buf);
      if (got > 0) {
        session.from_emulator(std::string_view(buf, size_t(got)));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        emulator_out_open = false;
        close(emu.out);
        check_exit = true;
      }
    }
    if (i_emu_err >= 0 && fds[i_emu_err].revents)
      drain_errors(emu.err, &emulator_err_open, &notes, &session, &start_error, buf, sizeof buf);
    if (i_front_in >= 0 && fds[i_front_in].revents) {
      ssize_t got = read(0, buf, sizeof buf);
      if (got > 0) {
        session.from_front(std::string_view(buf, size_t(got)));
      } else if (got == 0 || errno != EINTR) {
        front_in_open = false;
        // VUM has gone or closed its commands: a run is interrupted, and the
        // session sends the quit command once Bochs is at its prompt.
        if (session.running()) kill(emu.pid, SIGINT);
        session.front_closed();
      }
    }
  }
  if (!session.started() && !start_error.empty()) {
    // The emulator ended before its first prompt: its last words say why.
    std::string tail = start_error.substr(start_error.size() > 1500 ? start_error.size() - 1500 : 0);
    notes.say("the emulator ended before its first prompt; it said:\n" + tail);
  }
  return exit_status;
}
