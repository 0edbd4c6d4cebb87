// The bridge's cost, against a bare client that talks to the same emulator
// program (bochs-bin) directly, in one run, taking turns:
//
// (a) Step with the CPU state panel hidden: VUM's real window in this
//     process, its Step button clicked, through the bridge to Bochs 2.7, from
//     the click until the window has been redrawn (a low-priority idle after
//     gdk_flush), against a bare client writing "s" and "r;sreg;creg;dreg"
//     (what the bridge sends Bochs for VUM's "s" and "dump_cpu") and reading
//     each reply up to its prompt. Per step: wall time, and the CPU of VUM,
//     the X server, the bridge and Bochs (from /proc/PID/task/*/schedstat).
// (b) Start: from the click on Start until the first location has been
//     drawn, against the bare client's start of bochs-bin up to its first
//     prompt "<bochs:1> ".
// (c) The bridge alone: step and register dump as VUM sends them ("s",
//     "dump_cpu", replies on the child's standard error) by a bare client of
//     the bridge, against the bare client of bochs-bin.
//
// Every emulator boots the demo floppy; (a) and (c) stop it in its
// protected-mode loop first.
//
// Usage: bridge_bench [--rounds R] [--per-round N] [--starts S] [--parts abc]
//                     [--bridge-bin DIR] [--cpus N]
// --cpus N runs everything but the X server on N processors.
// Needs an X display (make bench provides Xvfb) and Debian's bochs-bin.
#include <dirent.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sched.h>
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

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "shell/main_window.hpp"
#include "views/cpu_state_panel.hpp"

namespace {

double now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// ---------------------------------------------------------------------------
// Processes and their CPU time

std::string read_file(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

// Time on a processor of every thread of `pid`, in microseconds; 0 when
// the process is not there.
double cpu_us(pid_t pid) {
  if (pid <= 0) return 0;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR *d = opendir(dir.c_str());
  if (!d) return 0;
  double ns = 0;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    ns += atof(read_file(dir + "/" + e->d_name + "/schedstat").c_str());
  }
  closedir(d);
  return ns / 1e3;
}

std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> kids;
  std::string p = std::to_string(parent);
  std::string text = read_file("/proc/" + p + "/task/" + p + "/children");
  for (const char *s = text.c_str(); *s;) {
    char *end;
    long k = strtol(s, &end, 10);
    if (end == s) break;
    kids.push_back(pid_t(k));
    s = end;
  }
  return kids;
}

// The X server of $DISPLAY: a process whose program is X, Xorg or Xvfb and
// one of whose arguments is the display (":N"). 0 when none is found.
pid_t x_server() {
  const char *display = getenv("DISPLAY");
  if (!display) return 0;
  std::string name = display;
  name = name.substr(0, name.find('.', name.find(':')));
  if (name.empty() || name[0] != ':') return 0;
  DIR *d = opendir("/proc");
  if (!d) return 0;
  pid_t found = 0;
  while (struct dirent *e = readdir(d)) {
    if (!isdigit((unsigned char)e->d_name[0])) continue;
    std::string cmd = read_file(std::string("/proc/") + e->d_name + "/cmdline");
    std::vector<std::string> args;
    for (size_t at = 0; at < cmd.size();) {
      size_t z = cmd.find('\0', at);
      if (z == std::string::npos) z = cmd.size();
      args.push_back(cmd.substr(at, z - at));
      at = z + 1;
    }
    if (args.empty()) continue;
    std::string prog = args[0].substr(args[0].rfind('/') == std::string::npos ? 0 : args[0].rfind('/') + 1);
    if (prog != "Xvfb" && prog != "Xorg" && prog != "X") continue;
    if (std::find(args.begin() + 1, args.end(), name) != args.end()) {
      found = pid_t(atol(e->d_name));
      break;
    }
  }
  closedir(d);
  return found;
}

// ---------------------------------------------------------------------------
// A debugger over two pipes: commands in, replies read up to "<bochs:N> ".

struct Debugger {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string buf;

  // `reply_fd`: 1 for Bochs's own dialect, 2 for the old one (the bridge).
  void start(const std::vector<std::string> &argv, int reply_fd, const std::vector<std::string> &env) {
    int a[2], b[2];
    if (pipe2(a, O_CLOEXEC) || pipe2(b, O_CLOEXEC)) exit(1);
    // The child's environment is made before the fork.
    std::vector<char *> args;
    for (const std::string &s : argv) args.push_back(strdup(s.c_str()));
    args.push_back(NULL);
    std::vector<char *> envs;
    for (const std::string &e : env) envs.push_back(strdup(e.c_str()));
    buf.clear();
    pid = fork();
    if (pid == 0) {
      dup2(a[0], 0);
      dup2(b[1], reply_fd);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, reply_fd == 1 ? 2 : 1);
      for (char *e : envs) putenv(e);
      signal(SIGPIPE, SIG_DFL);
      execvp(args[0], args.data());
      _exit(127);
    }
    for (char *s : args) free(s);
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
    pid = -1;
  }
};

struct Stats {
  std::vector<double> us;
  void add(double v) { us.push_back(v); }
  double median() const {
    if (us.empty()) return 0;
    std::vector<double> v = us;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  double pct(double p) const {
    if (us.empty()) return 0;
    std::vector<double> v = us;
    std::sort(v.begin(), v.end());
    return v[size_t(p * (v.size() - 1))];
  }
  double mean() const {
    double s = 0;
    for (double x : us) s += x;
    return us.empty() ? 0 : s / us.size();
  }
};

void row(const char *what, const Stats &bridge, const Stats &bare) {
  printf("    %-24s %9.1f %9.1f %9.1f   %9.1f %9.1f %9.1f   %5.2f %5.2f\n", what, bridge.median(), bridge.pct(0.9),
         bridge.mean(), bare.median(), bare.pct(0.9), bare.mean(), bridge.median() / bare.median(),
         bridge.mean() / bare.mean());
}

void header(const char *left, const char *right) {
  printf("    %-24s %9s %9s %9s   %9s %9s %9s   %5s %5s\n", "", left, "", "", right, "", "", "ratio", "");
  printf("    %-24s %9s %9s %9s   %9s %9s %9s   %5s %5s\n", "", "median", "p90", "mean", "median", "p90", "mean",
         "med", "mean");
}

std::string demo_dir() { return VUM_DEMO_DIR; }

// The directory whose "bochs" is the bridge (--bridge-bin: another build's,
// to compare two bridges on one machine).
std::string bridge_bin = VUM_BRIDGE_BIN_DIR;

// The bare client of bochs-bin, with the environment the bridge gives it.
void start_bare(Debugger *d) {
  d->start({"bochs-bin", "-q", "-f", demo_dir() + "/bochsrc"}, 1,
           {"VUM_DEMO_DIR=" + demo_dir(), "COLUMNS=1000", "LINES=50", "INPUTRC=/dev/null", "TERM=dumb"});
}

// To the demo's protected-mode loop, as VUM's users reach it.
const char kToTheLoop[][16] = {"pb 0x7ca0\n", "c\n", "d 1\n"};

// ---------------------------------------------------------------------------
// VUM in this process

// Runs what is due, for five seconds at most: a source that is always ready
// (a guest printing without pause) cannot keep the benchmark here.
void pump() {
  const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (g_main_context_iteration(NULL, FALSE) && g_get_monotonic_time() < end) {
  }
}

// The main loop runs until everything the last click queued is drawn and
// the X server has done it: a low-priority idle, after the redraws, flushes.
void wait_until_redrawn() {
  bool done = false;
  g_idle_add_full(
      G_PRIORITY_LOW,
      [](gpointer p) -> gboolean {
        gdk_flush();
        *static_cast<bool *>(p) = true;
        return FALSE;
      },
      &done, NULL);
  while (!done) g_main_context_iteration(NULL, TRUE);
}

// The bridge VUM runs and the emulator under it.
pid_t vum_bridge() { return link_seam().child_pid; }
pid_t vum_emulator() {
  std::vector<pid_t> kids = children_of(vum_bridge());
  return kids.empty() ? 0 : kids[0];
}

bool vum_start() {
  gtk_button_clicked(GTK_BUTTON(main_window().start_button));
  wait_until_redrawn();
  return !link_seam().debugger_offline;
}

void vum_kill() {
  if (!link_seam().debugger_offline) gtk_button_clicked(GTK_BUTTON(main_window().start_button));
  pump();
}

bool vum_to_the_loop() {
  std::string reply;
  if (!exchange(&reply, "pb 0x7ca0")) return false;
  run_go();
  for (double give_up = now_us() + 30e6; target_running() && now_us() < give_up;)
    g_main_context_iteration(NULL, TRUE);
  if (target_running()) return false;
  return exchange(&reply, "d 1");
}

// CPU of the processes that take part, sampled around a batch.
struct Cpu {
  pid_t x = 0, bridge = 0, emulator = 0;
  double self = 0, x_us = 0, bridge_us = 0, emulator_us = 0;
  void sample() {
    self = cpu_us(getpid());
    x_us = cpu_us(x);
    bridge_us = cpu_us(bridge);
    emulator_us = cpu_us(emulator);
  }
};

struct CpuStats {
  Stats self, x, bridge, emulator;
  void add(const Cpu &before, const Cpu &after, int n) {
    self.add((after.self - before.self) / n);
    x.add((after.x_us - before.x_us) / n);
    bridge.add((after.bridge_us - before.bridge_us) / n);
    emulator.add((after.emulator_us - before.emulator_us) / n);
  }
};

void cpu_rows(const CpuStats &vum, const CpuStats &bare, bool x_known) {
  row("CPU: VUM / the client", vum.self, bare.self);
  if (x_known) row("CPU: X server", vum.x, bare.x);
  row("CPU: the bridge", vum.bridge, bare.bridge);
  row("CPU: Bochs", vum.emulator, bare.emulator);
}

void print_load(const char *when) {
  double load[3] = {0, 0, 0};
  std::string text = read_file("/proc/loadavg");
  sscanf(text.c_str(), "%lf %lf %lf", &load[0], &load[1], &load[2]);
  printf("load average %s: %.2f %.2f %.2f (%ld processors)\n", when, load[0], load[1], load[2],
         sysconf(_SC_NPROCESSORS_ONLN));
}

// (a) Step with the panel hidden.
bool bench_steps(int rounds, int per_round, pid_t x) {
  Debugger bare;
  start_bare(&bare);
  if (!bare.prompt()) {
    fprintf(stderr, "bridge_bench: bochs-bin did not start (is it installed?)\n");
    return false;
  }
  for (const char *line : kToTheLoop) bare.exchange(line);
  if (!vum_start() || !vum_to_the_loop()) {
    fprintf(stderr, "bridge_bench: VUM did not start Bochs through the bridge\n");
    return false;
  }
  // The panel hidden: a step asks for the location and the registers alone.
  if (state_panel_shown()) gtk_button_clicked(GTK_BUTTON(main_window().show_state_button));
  pump();
  if (state_panel_shown()) {
    fprintf(stderr, "bridge_bench: the CPU state panel could not be hidden\n");
    return false;
  }
  GtkWidget *step = control_bar().step_button;
  for (int i = 0; i < 50; i++) {  // warm-up
    gtk_button_clicked(GTK_BUTTON(step));
    wait_until_redrawn();
    bare.exchange("s\n");
    bare.exchange("r;sreg;creg;dreg\n");
  }

  Stats vum_us, bare_us;
  CpuStats vum_cpu, bare_cpu;
  Cpu before, after;
  for (int r = 0; r < rounds; r++)
    for (int k = 0; k < 2; k++) {
      bool vum_side = (k + r) % 2 == 0;
      before.x = after.x = x;
      before.bridge = after.bridge = vum_side ? vum_bridge() : 0;
      before.emulator = after.emulator = vum_side ? vum_emulator() : bare.pid;
      before.sample();
      for (int i = 0; i < per_round; i++) {
        double t0 = now_us();
        if (vum_side) {
          gtk_button_clicked(GTK_BUTTON(step));
          wait_until_redrawn();
        } else {
          bare.exchange("s\n");
          bare.exchange("r;sreg;creg;dreg\n");
        }
        (vum_side ? vum_us : bare_us).add(now_us() - t0);
      }
      after.sample();
      (vum_side ? vum_cpu : bare_cpu).add(before, after, per_round);
    }
  bool ok = !link_seam().debugger_offline;
  vum_kill();
  bare.end();
  printf("(a) Step with the CPU state panel hidden, microseconds per step, %d of each in rounds of %d taking "
         "turns:\n",
         rounds * per_round, per_round);
  printf("    VUM: the Step button clicked until the window is redrawn, through the bridge;\n");
  printf("    bare: \"s\" and \"r;sreg;creg;dreg\" written to bochs-bin, each reply read to its prompt.\n");
  header("VUM", "bare");
  row("wall time", vum_us, bare_us);
  cpu_rows(vum_cpu, bare_cpu, x != 0);
  printf("    VUM/bare wall time, medians: %.2f (goal: at most 1.5)\n", vum_us.median() / bare_us.median());
  fflush(stdout);
  return ok;
}

// (b) Start to the first location drawn.
bool bench_starts(int starts, pid_t x) {
  Stats vum_us, bare_us;
  CpuStats vum_cpu, bare_cpu;
  for (int r = 0; r < 2 * starts; r++) {
    bool vum_side = r % 4 == 0 || r % 4 == 3;  // VUM, bare, bare, VUM, ...
    Cpu before;
    before.x = x;
    before.sample();
    double t0 = now_us();
    Cpu after = before;
    if (vum_side) {
      if (!vum_start()) {
        fprintf(stderr, "bridge_bench: VUM did not start Bochs through the bridge\n");
        return false;
      }
      vum_us.add(now_us() - t0);
      // The processes are gone by the time they are sampled at the end; the
      // samples of before are of processes that did not exist (0).
      after.bridge = vum_bridge();
      after.emulator = vum_emulator();
      after.sample();
      vum_cpu.add(before, after, 1);
      vum_kill();
    } else {
      Debugger bare;
      start_bare(&bare);
      if (!bare.prompt()) {
        fprintf(stderr, "bridge_bench: bochs-bin did not start (is it installed?)\n");
        return false;
      }
      bare_us.add(now_us() - t0);
      after.emulator = bare.pid;
      after.sample();
      bare_cpu.add(before, after, 1);
      bare.end();
    }
  }
  printf("(b) Start, milliseconds, %d of each taking turns:\n", starts);
  printf("    VUM: Start clicked until the first location is drawn, through the bridge;\n");
  printf("    bare: bochs-bin started until its first prompt has been read.\n");
  for (Stats *s : {&vum_us, &bare_us})
    for (double &v : s->us) v /= 1000;
  for (CpuStats *c : {&vum_cpu, &bare_cpu})
    for (Stats *s : {&c->self, &c->x, &c->bridge, &c->emulator})
      for (double &v : s->us) v /= 1000;
  header("VUM", "bare");
  row("wall time", vum_us, bare_us);
  cpu_rows(vum_cpu, bare_cpu, x != 0);
  printf("    VUM/bare wall time, medians: %.2f (goal: at most 1.5)\n", vum_us.median() / bare_us.median());
  fflush(stdout);
  return true;
}

// (c) The bridge alone, as a pipe client sees it.
bool bench_bridge_alone(int rounds, int per_round) {
  Debugger bridge, bare;
  std::string path = "PATH=" + bridge_bin + ":" + getenv("PATH");
  bridge.start({"/bin/sh", "-c", "exec bochs -q"}, 2, {path, "VUM_BOCHSRC=" + demo_dir() + "/bochsrc"});
  start_bare(&bare);
  for (Debugger *d : {&bridge, &bare}) {
    if (!d->prompt()) {
      fprintf(stderr, "bridge_bench: the emulator did not start (is bochs-bin installed?)\n");
      return false;
    }
    for (const char *line : kToTheLoop) d->exchange(line);
    for (int i = 0; i < 50; i++) d->exchange("s\n");  // warm-up
  }
  Stats step_bridge, step_bare, dump_bridge, dump_bare, both_bridge, both_bare;
  // Within a round one side runs alone, as VUM would.
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
        (side ? step_bare : step_bridge).add(t1 - t0);
        (side ? dump_bare : dump_bridge).add(t2 - t1);
        (side ? both_bare : both_bridge).add(t2 - t0);
      }
  bridge.end();
  bare.end();
  printf("(c) The bridge alone: round trips in microseconds, %d of each, in rounds of %d taking turns:\n",
         rounds * per_round, per_round);
  header("bridge", "bare");
  row("step (s)", step_bridge, step_bare);
  row("register dump", dump_bridge, dump_bare);
  row("step + register dump", both_bridge, both_bare);
  fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 20, per_round = 50, starts = 8, cpus = 0;
  std::string parts = "abc";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--rounds")) rounds = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--per-round")) per_round = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--starts")) starts = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--parts")) parts = argv[i + 1];
    if (!strcmp(argv[i], "--bridge-bin")) bridge_bin = argv[i + 1];
    if (!strcmp(argv[i], "--cpus")) cpus = atoi(argv[i + 1]);
  }
  if (rounds < 1 || per_round < 1 || starts < 1) {
    fprintf(stderr, "usage: bridge_bench [--rounds R] [--per-round N] [--starts S] [--parts abc] "
                    "[--bridge-bin DIR] [--cpus N]\n");
    return 2;
  }
  if (!getenv("DISPLAY")) {
    fprintf(stderr, "bridge_bench: needs an X display (try xvfb-run)\n");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  if (cpus > 0) {
    // VUM, the bridge, Bochs and the bare client (not the X server) on the
    // last `cpus` processors: a machine with fewer of them, or a busy one.
    cpu_set_t set;
    CPU_ZERO(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    for (long c = std::max(0L, online - cpus); c < online; c++) CPU_SET(c, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) perror("sched_setaffinity");
  }

  // VUM's settings, window memory and history log go to a directory of
  // their own; "bochs" is the bridge.
  char dir[] = "/tmp/vum-bridge-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  setenv("XDG_CONFIG_HOME", dir, 1);
  std::string path = bridge_bin + ":" + (getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  unsetenv("VUM_BRIDGE_TRANSCRIPT");
  unsetenv("VUM_BOCHSRC");

  pid_t x = x_server();
  print_load("before");
  if (x == 0) printf("(the X server's process was not found: its CPU is not shown)\n");
  fflush(stdout);

  int status = 0;
  if (parts.find_first_of("ab") != std::string::npos) {
    g_set_print_handler([](const gchar *) {});  // the child-life diagnostics
    char *vum_argv[] = {argv[0], NULL};
    int vum_argc = 1;
    char **vum_argvp = vum_argv;
    start_up(&vum_argc, &vum_argvp);
    pump();
    if (parts.find('a') != std::string::npos && !bench_steps(rounds, per_round, x)) status = 1;
    if (parts.find('b') != std::string::npos && !bench_starts(starts, x)) status = 1;
  }
  if (parts.find('c') != std::string::npos && !bench_bridge_alone(rounds, per_round * 2)) status = 1;
  print_load("after");
  if (parts.find_first_of("ab") != std::string::npos) quit_clicked(NULL, NULL);
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return status;
}
