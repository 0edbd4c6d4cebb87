// The bridge's cost: Step and the register dump through the bridge, as VUM
// sends them ("s", "dump_cpu", replies on the child's standard error), side
// by side with a bare client that talks to the same emulator program directly
// ("s" and "r;sreg;creg;dreg", replies on its standard output). Both
// emulators boot the demo floppy, stop in its protected-mode loop, and are
// measured in alternating rounds in one run.
//
// Usage: bridge_bench [--rounds R] [--per-round N]
// Needs an X display (make bench provides Xvfb) and Debian's bochs-bin.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// A debugger over two pipes: commands in, replies read up to "<bochs:N> ".
struct Debugger {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string buf;

  // `reply_fd`: 1 for Bochs's own dialect, 2 for the old one (the bridge).
  void start(const std::vector<std::string> &argv, int reply_fd, const std::vector<std::string> &env) {
    int a[2], b[2];
    if (pipe(a) || pipe(b)) exit(1);
    pid = fork();
    if (pid == 0) {
      dup2(a[0], 0);
      dup2(b[1], reply_fd);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, reply_fd == 1 ? 2 : 1);
      for (int fd : {a[0], a[1], b[0], b[1], null}) close(fd);
      for (const std::string &e : env) putenv(strdup(e.c_str()));
      std::vector<char *> args;
      for (const std::string &s : argv) args.push_back(strdup(s.c_str()));
      args.push_back(NULL);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(a[0]);
    close(b[1]);
    in = a[1];
    out = b[0];
  }

  // Reads through the next prompt; false at end of file.
  bool prompt() {
    for (;;) {
      size_t lt = buf.rfind("<bochs:");
      if (lt != std::string::npos && buf.size() >= lt + 9 && buf.compare(buf.size() - 2, 2, "> ") == 0) {
        buf.clear();
        return true;
      }
      char chunk[65536];
      ssize_t n = read(out, chunk, sizeof chunk);
      if (n <= 0) return false;
      buf.append(chunk, size_t(n));
    }
  }

  bool exchange(const char *line) {
    size_t n = strlen(line);
    if (write(in, line, n) != ssize_t(n)) return false;
    return prompt();
  }

  void end() {
    if (write(in, "q\n", 2) != 2) {
    }
    close(in);
    int status;
    waitpid(pid, &status, 0);
    close(out);
  }
};

struct Stats {
  std::vector<double> us;
  double median() const {
    std::vector<double> v = us;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  double pct(double p) const {
    std::vector<double> v = us;
    std::sort(v.begin(), v.end());
    return v[size_t(p * (v.size() - 1))];
  }
  double mean() const {
    double s = 0;
    for (double x : us) s += x;
    return s / us.size();
  }
};

void row(const char *what, const Stats &bridge, const Stats &bare) {
  printf("%-26s %9.1f %9.1f %9.1f   %9.1f %9.1f %9.1f   %+6.1f%% %+6.1f%%\n", what, bridge.median(), bridge.pct(0.9),
         bridge.mean(), bare.median(), bare.pct(0.9), bare.mean(), 100 * (bridge.median() / bare.median() - 1),
         100 * (bridge.mean() / bare.mean() - 1));
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 40, per_round = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--rounds")) rounds = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--per-round")) per_round = atoi(argv[i + 1]);
  }
  if (!getenv("DISPLAY")) {
    fprintf(stderr, "bridge_bench: needs an X display (try xvfb-run)\n");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  const std::string demo = VUM_DEMO_DIR;
  Debugger bridge, bare;
  std::string path = std::string("PATH=") + VUM_BRIDGE_BIN_DIR + ":" + getenv("PATH");
  bridge.start({"/bin/sh", "-c", "exec bochs -q"}, 2, {path, "VUM_BOCHSRC=" + demo + "/bochsrc"});
  // The bare client gives Bochs the environment the bridge gives it.
  bare.start({"bochs-bin", "-q", "-f", demo + "/bochsrc"}, 1,
             {"VUM_DEMO_DIR=" + demo, "COLUMNS=1000", "LINES=50", "INPUTRC=/dev/null", "TERM=dumb"});
  for (Debugger *d : {&bridge, &bare}) {
    if (!d->prompt() || !d->exchange("pb 0x7ca0\n") || !d->exchange("c\n") || !d->exchange("d 1\n")) {
      fprintf(stderr, "bridge_bench: the emulator did not start (is bochs-bin installed?)\n");
      return 1;
    }
    for (int i = 0; i < 50; i++) d->exchange("s\n");  // warm-up
  }

  Stats step_bridge, step_bare, dump_bridge, dump_bare, both_bridge, both_bare;
  // The two sides take turns in rounds (which goes first alternates), so
  // that a load that comes and goes on the machine falls on both; within a
  // round one side runs alone, as VUM would.
  for (int r = 0; r < rounds; r++)
    for (int k = 0; k < 2; k++)
      for (int i = 0; i < per_round; i++) {
        int side = (k + r) % 2;
        Debugger &d = side ? bare : bridge;
        double t0 = now_us();
        d.exchange("s\n");
        double t1 = now_us();
        d.exchange(side ? "r;sreg;creg;dreg\n" : "dump_cpu\n");
        double t2 = now_us();
        (side ? step_bare : step_bridge).us.push_back(t1 - t0);
        (side ? dump_bare : dump_bridge).us.push_back(t2 - t1);
        (side ? both_bare : both_bridge).us.push_back(t2 - t0);
      }
  bridge.end();
  bare.end();

  printf("Round trips in microseconds, %d of each, in rounds of %d taking turns.\n", rounds * per_round,
         per_round);
  printf("%-26s %9s %9s %9s   %9s %9s %9s   %7s %7s\n", "", "bridge", "", "", "bare", "", "", "added", "");
  printf("%-26s %9s %9s %9s   %9s %9s %9s   %7s %7s\n", "exchange", "median", "p90", "mean", "median", "p90",
         "mean", "median", "mean");
  row("step (s)", step_bridge, step_bare);
  row("register dump", dump_bridge, dump_bare);
  row("step + register dump", both_bridge, both_bare);
  return 0;
}
