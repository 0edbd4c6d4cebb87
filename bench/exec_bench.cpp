// Execution control against the simulated PC, side by side with a bare client
// that does the same exchanges over the same kind of pipes, in one run.
//
// (a) Steps per second: VUM's real Step handler (reply parsing, control bar,
//     history row, log line, redraw of the real window) against a client that
//     writes "s\n" and reads the reply up to the prompt.
// (b) Tracing over an endless loop: trace lines per second that VUM ingests
//     (history length 50) against a reader of the same stream, and VUM's
//     resident memory after 10 thousand and after 1 million lines.
//
// Both run a boot image that loops over three instructions forever, so every
// step and every trace line lands at a new address and adds a history row.
//
// Usage: exec_bench [--steps N] [--rounds R] [--lines M]
#include <fcntl.h>
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
#include "exec/stop_reports.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"

namespace {

double now() { return (double)g_get_monotonic_time() / 1e6; }

void pump() {
  while (g_main_context_iteration(NULL, FALSE)) {
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

long selected_rows = 0;  // instruction rows added to the history

void row_selected(GtkWidget *, gint, gint, GdkEvent *, gpointer) { selected_rows++; }

// Ends a trace run that makes no progress for two seconds.
long rows_at_last_check = -1;
bool stalled = false;
gboolean check_progress(gpointer) {
  if (selected_rows == rows_at_last_check) stalled = true;
  rows_at_last_check = selected_rows;
  return TRUE;
}

double vum_steps(int steps) {
  double t0 = now();
  for (int i = 0; i < steps; i++) {
    step_clicked();
    if (!getenv("NOPUMP")) pump();
  }
  return steps / (now() - t0);
}

double bare_steps(BareClient &bare, int steps) {
  double t0 = now();
  for (int i = 0; i < steps; i++) {
    bare.send("s\n");
    bare.wait_prompt();
  }
  return steps / (now() - t0);
}

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

  // A work directory for the history log and the boot image.
  char dir[] = "/tmp/vum-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
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
  gtk_button_clicked(GTK_BUTTON(start_button));
  if (debugger_offline) {
    fprintf(stderr, "the simulated PC did not start\n");
    return 1;
  }
  connect_signal(history_list, "select_row", VUM_SIGNAL_FUNC(row_selected), NULL);
  pump();

  if (parts.find('a') != std::string::npos) {
  // (a) Steps.
  BareClient bare;
  if (!bare.start()) {
    fprintf(stderr, "the bare client could not start the simulated PC\n");
    return 1;
  }
  vum_steps(200);  // warm up both
  bare_steps(bare, 200);
  std::vector<double> vum_rates, bare_rates;
  for (int r = 0; r < rounds; r++) {
    vum_rates.push_back(vum_steps(steps));
    bare_rates.push_back(bare_steps(bare, steps));
  }
  bare.finish();
  double vum_rate = median(vum_rates), bare_rate = median(bare_rates);
  printf("(a) steps: %d rounds of %d steps, median\n", rounds, steps);
  printf("    VUM step handler  %10.0f steps/s  (%.1f us/step)\n", vum_rate, 1e6 / vum_rate);
  printf("    bare client       %10.0f steps/s  (%.1f us/step)\n", bare_rate, 1e6 / bare_rate);
  printf("    VUM/bare time ratio %.2f (goal: within 1.25)\n", bare_rate / vum_rate);
  fflush(stdout);
  }
  if (parts.find('b') == std::string::npos) {
    quit_clicked(NULL, NULL);
    return 0;
  }

  // (b) Tracing over the endless loop, history length 50.
  history_length = 50;
  history_trim();
  gtk_button_clicked(GTK_BUTTON(trace_button));
  long rows0 = selected_rows;
  double t0 = now();
  go_clicked();
  g_timeout_add(2000, check_progress, NULL);
  long rss_10k = -1;
  double t_10k = 0;
  while (selected_rows - rows0 < lines && !debugger_offline && !stalled) {
    g_main_context_iteration(NULL, TRUE);
    if (rss_10k < 0 && selected_rows - rows0 >= 10000) {
      rss_10k = resident_kb();
      t_10k = now();
    }
  }
  double t1 = now();
  long rss_end = resident_kb();
  long vum_lines = selected_rows - rows0;
  stop_clicked();
  if (vum_lines < 20000) {
    printf("(b) tracing: the debugger sent only %ld trace lines\n", vum_lines);
    quit_clicked(NULL, NULL);
    return 1;
  }
  double vum_line_rate = (vum_lines - 10000) / (t1 - t_10k);
  (void)t0;

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
         history_length);
  printf("    VUM ingests       %10.0f lines/s  (%.2f us/line)\n", vum_line_rate,
         1e6 / vum_line_rate);
  printf("    bare reader       %10.0f lines/s  (%.2f us/line)\n", bare_line_rate,
         1e6 / bare_line_rate);
  printf("    VUM/bare time ratio %.2f\n", bare_line_rate / vum_line_rate);
  printf("    VUM resident memory: %ld kB after 10000 lines, %ld kB after %ld lines\n", rss_10k,
         rss_end, vum_lines);
  printf("    history rows now %u\n", history_rows);

  quit_clicked(NULL, NULL);
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
