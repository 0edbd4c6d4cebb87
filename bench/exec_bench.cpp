// Execution control against the simulated PC, side by side with a bare client
// that does the same exchanges over the same kind of pipes, in one run.
//
// (a) Steps per second: VUM's real Step handler (reply parsing, control bar,
//     history row, log line, redraw of the real window) against a client that
//     writes "s\n" and "dump_cpu\n", the two exchanges of every stop, and
//     reads each reply up to its prompt.
// (b) Tracing over an endless loop: trace lines per second that VUM ingests
//     (history length 50) against a reader of the same stream, and VUM's
//     resident memory after 10 thousand and after 1 million lines.
//
// Both run a boot image that loops over three instructions forever, so every
// step and every trace line lands at a new address and adds a history row.
//
// Usage: exec_bench [--steps N] [--rounds R] [--lines M]
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

namespace {

double now() { return (double)g_get_monotonic_time() / 1e6; }

// Runs what is due, for five seconds at most: a source that is always ready
// (a guest printing without pause) cannot keep the benchmark here.
void pump() {
  const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (g_main_context_iteration(NULL, FALSE) && g_get_monotonic_time() < end) {
  }
}

long resident_kb() {
  FILE *f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f))
    if (sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
  fclose(f);
  return kb;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// ---------------------------------------------------------------------------
// The bare client: the debugger through "/bin/sh -c" with two pipes, raw
// reads and writes, no parsing beyond finding the prompt.

struct BareClient {
  pid_t pid = 0;
  int command_fd = -1, reply_fd = -1;
  char buffer[65536];
  size_t head = 0, tail = 0;

  bool start() {
    int command_pipe[2], reply_pipe[2];
    if (pipe2(command_pipe, O_CLOEXEC) != 0 || pipe2(reply_pipe, O_CLOEXEC) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(command_pipe[0], 0);
      dup2(reply_pipe[1], 2);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      signal(SIGPIPE, SIG_DFL);
      execl("/bin/sh", "sh", "-c", "bochs -q", (char *)NULL);
      _exit(1);
    }
    close(command_pipe[0]);
    close(reply_pipe[1]);
    command_fd = command_pipe[1];
    reply_fd = reply_pipe[0];
    return wait_prompt();
  }

  bool fill() {
    if (head < tail) return true;
    ssize_t n;
    do n = read(reply_fd, buffer, sizeof buffer);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    head = 0;
    tail = (size_t)n;
    return true;
  }

  int next_byte() { return fill() ? (unsigned char)buffer[head++] : -1; }

  // Reads up to and including the prompt's '>' and the character after it.
  bool wait_prompt() {
    int c;
    do c = next_byte();
    while (c != -1 && c != '<');
    do c = next_byte();
    while (c != -1 && c != '>');
    return c != -1 && next_byte() != -1;
  }

  void send(const char *line) {
    ssize_t ignored = write(command_fd, line, strlen(line));
    (void)ignored;
  }

  // Reads `lines` lines.
  bool read_lines(long lines) {
    for (long n = 0; n < lines;) {
      if (!fill()) return false;
      const char *p = buffer + head, *end = buffer + tail;
      while (p < end && n < lines) {
        const char *newline = static_cast<const char *>(memchr(p, '\n', end - p));
        if (newline == NULL) {
          p = end;
          break;
        }
        p = newline + 1;
        n++;
      }
      head = p - buffer;
    }
    return true;
  }

  void finish() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, NULL, 0);
    }
    close(command_fd);
    close(reply_fd);
    pid = 0;
  }
};

// ---------------------------------------------------------------------------

long selected_rows = 0;  // trace lines VUM has taken so far

// Ends a trace run that makes no progress for two seconds.
long rows_at_last_check = -1;
bool stalled = false;
gboolean check_progress(gpointer) {
  if (selected_rows == rows_at_last_check) stalled = true;
  rows_at_last_check = selected_rows;
  return TRUE;
}

// Time for `steps` steps through the real Step handler. With `redraw`, the
// main loop runs after each step, as after a click, so the window is brought
// up to date (and the X server has finished drawing) before the next one.
double vum_steps(int steps, bool redraw) {
  double t0 = now();
  for (int i = 0; i < steps; i++) {
    run_step();
    if (redraw) {
      pump();
      gdk_flush();
    }
  }
  double t = now() - t0;
  pump();
  gdk_flush();  // nothing left for the X server while the bare client runs
  return t;
}

double bare_steps(BareClient &bare, int steps) {
  double t0 = now();
  for (int i = 0; i < steps; i++) {
    bare.send("s\n");
    bare.wait_prompt();
    bare.send("dump_cpu\n");
    bare.wait_prompt();
  }
  return now() - t0;
}

// Lines written to the history log so far, counted as they come.
struct LogCounter {
  FILE *log = NULL;
  long lines = 0;
  long count() {
    if (history_page().log) fflush(history_page().log);
    if (log == NULL) log = fopen("__vum.log__", "r");
    if (log == NULL) return lines;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, log)) > 0)
      for (size_t i = 0; i < n; i++) lines += chunk[i] == '\n';
    clearerr(log);
    return lines;
  }
};

}  // namespace

int main(int argc, char **argv) {
  int steps = 5000, rounds = 5;
  long lines = 1000000;
  std::string parts = "ab";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--steps")) steps = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--rounds")) rounds = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--lines")) lines = atol(argv[i + 1]);
    if (!strcmp(argv[i], "--parts")) parts = argv[i + 1];
  }
  if (steps < 1 || rounds < 1 || lines < 20000) {
    fprintf(stderr, "usage: exec_bench [--steps N] [--rounds R] [--lines M>=20000] [--parts a|b|ab]\n");
    return 2;
  }

  // Everything measured here (VUM, the bare client and their debuggers, which
  // inherit it) runs on one processor: a round trip between processors costs
  // far more than one on a processor, and would otherwise decide the figures
  // by where the scheduler happens to put the two ends.
  {
    cpu_set_t one;
    CPU_ZERO(&one);
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    CPU_SET(cpus > 1 ? cpus - 1 : 0, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) perror("sched_setaffinity");
  }

  // A work directory for the history log and the boot image.
  char dir[] = "/tmp/vum-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  // VUM's remembered window (its page, the state panel) is this run's own,
  // not the user's: every run starts from the same window.
  setenv("XDG_CONFIG_HOME", dir, 1);
  // l: nop; nop; jmp l
  static const unsigned char image[] = {0x90, 0x90, 0xeb, 0xfc};
  FILE *f = fopen("loop.img", "wb");
  if (!f || fwrite(image, 1, sizeof image, f) != sizeof image) return 1;
  fclose(f);
  std::string image_path = std::string(dir) + "/loop.img";
  setenv("VUM_SIM_IMAGE", image_path.c_str(), 1);
  std::string path = std::string(VUM_SIM_BIN_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  unsetenv("VUM_SIM_TRANSCRIPT");

  g_set_print_handler([](const gchar *) {});  // the child-life diagnostics
  start_up(&argc, &argv);
  pump();
  gtk_button_clicked(GTK_BUTTON(main_window().start_button));
  if (link_seam().debugger_offline) {
    fprintf(stderr, "the simulated PC did not start\n");
    return 1;
  }
  pump();

  if (parts.find('a') != std::string::npos) {
  // (a) Steps.
  BareClient bare;
  if (!bare.start()) {
    fprintf(stderr, "the bare client could not start the simulated PC\n");
    return 1;
  }
  vum_steps(200, true);  // warm up both
  bare_steps(bare, 200);
  // Chunks of each, interleaved, so that both see the same machine.
  for (bool redraw : {false, true}) {
    std::vector<double> vum_us, bare_us, ratios;
    for (int r = 0; r < rounds; r++) {
      double v = vum_steps(steps, redraw) / steps * 1e6;
      double b = bare_steps(bare, steps) / steps * 1e6;
      vum_us.push_back(v);
      bare_us.push_back(b);
      ratios.push_back(v / b);
    }
    printf("(a) steps%s: %d rounds of %d steps each, medians\n",
           redraw ? ", the window redrawn after each step" : ", handler only", rounds, steps);
    printf("    VUM Step handler  %8.1f us/step  (%.0f steps/s)\n", median(vum_us), 1e6 / median(vum_us));
    printf("    bare client       %8.1f us/step  (%.0f steps/s)\n", median(bare_us), 1e6 / median(bare_us));
    printf("    VUM/bare time ratio %.2f (goal: within 1.25)\n", median(ratios));
    fflush(stdout);
  }
  bare.finish();
  }
  if (parts.find('b') == std::string::npos) {
    quit_clicked(NULL, NULL);
    return 0;
  }

  // (b) Tracing over the endless loop, history length 50.
  settings.history_length = 50;
  history_trim();
  gtk_button_clicked(GTK_BUTTON(preferences_page().trace_button));
  LogCounter counter;
  run_go();
  long rows0 = counter.count();  // the messages so far
  g_timeout_add(2000, check_progress, NULL);
  long rss_10k = -1;
  double t_10k = 0;
  long vum_lines = 0;
  while (vum_lines < lines && !link_seam().debugger_offline && !stalled) {
    g_main_context_iteration(NULL, TRUE);
    vum_lines = selected_rows = counter.count() - rows0;
    if (rss_10k < 0 && vum_lines >= 10000) {
      rss_10k = resident_kb();
      t_10k = now();
    }
  }
  double t1 = now();
  long rss_end = resident_kb();
  run_stop();
  if (vum_lines < 20000) {
    printf("(b) tracing: the debugger sent only %ld trace lines\n", vum_lines);
    quit_clicked(NULL, NULL);
    return 1;
  }
  double vum_line_rate = (vum_lines - 10000) / (t1 - t_10k);

  BareClient reader;
  if (!reader.start()) return 1;
  reader.send("trace-on\n");
  reader.wait_prompt();
  reader.send("c\n");
  double b0 = now();
  reader.read_lines(10000);
  double b1 = now();
  reader.read_lines(vum_lines - 10000);
  double b2 = now();
  reader.finish();
  (void)b0;
  double bare_line_rate = (vum_lines - 10000) / (b2 - b1);

  printf("(b) tracing: %ld trace lines, history length %u, rates past the first 10000\n", vum_lines,
         settings.history_length);
  printf("    VUM ingests       %10.0f lines/s  (%.2f us/line)\n", vum_line_rate,
         1e6 / vum_line_rate);
  printf("    bare reader       %10.0f lines/s  (%.2f us/line)\n", bare_line_rate,
         1e6 / bare_line_rate);
  printf("    VUM/bare time ratio %.2f\n", bare_line_rate / vum_line_rate);
  printf("    VUM resident memory: %ld kB after 10000 lines, %ld kB after %ld lines\n", rss_10k,
         rss_end, vum_lines);
  printf("    history rows now %u\n", history_page().rows);

  quit_clicked(NULL, NULL);
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
