// A list window of 1000 elements of 4 fields refreshed (4000 exchanges with
// the simulated PC) against a bare client doing the same 4000 exchanges over
// the same kind of pipes, in one run.
//
// VUM's side is the real Refresh: the Start and Total entries read, one
// "x /1wx" per field, each reply read through its prompt and scanned, the
// value texts made, the list rebuilt batch by batch (a read longer than
// 0.1 s goes on from the main loop, the list drawn between its parts) and,
// in the later figures, drawn by the toolkit before the clock stops. The bare client writes the
// same command lines and reads each reply up to the prompt.
//
// The list has 2000 elements in memory filled with a pattern, and the window
// shows 1000 of them. Three figures: the same 1000 refreshed (the handler
// alone, then with the drawing), and Start moved between 0 and 1000 at each
// refresh, so that every cell of the list changes.
//
// Usage: struct_bench [--rounds R]
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

#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "views/struct_windows.hpp"
#include "link/link_state.hpp"

namespace {

const uint32_t list_base = 0x100000;
const int elements = 2000, shown = 1000, fields = 4;

double now() { return (double)g_get_monotonic_time() / 1e6; }

// Runs what is due, for five seconds at most: a source that is always ready
// (a guest printing without pause) cannot keep the benchmark here.
void pump() {
  const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (g_main_context_iteration(NULL, FALSE) && g_get_monotonic_time() < end) {
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The debugger through "/bin/sh -c" with two pipes, raw reads and writes; a
// reply ends with its prompt "<bochs:N>" and the byte after it.
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

  int next_byte() {
    if (head == tail) {
      ssize_t n;
      do n = read(reply_fd, buffer, sizeof buffer);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return -1;
      head = 0;
      tail = (size_t)n;
    }
    return (unsigned char)buffer[head++];
  }

  bool wait_prompt() {
    static const char opening[] = "<bochs:";
    size_t matched = 0;
    for (int c; (c = next_byte()) != -1;) {
      if (c == opening[matched]) {
        if (opening[++matched] == '\0') break;
      } else {
        matched = c == '<' ? 1 : 0;
      }
    }
    int c;
    do c = next_byte();
    while (c != -1 && c != '>');
    return c != -1 && next_byte() != -1;
  }

  void send(const char *line, size_t length) {
    ssize_t ignored = write(command_fd, line, length);
    (void)ignored;
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

// A read longer than its first slice goes on from the main loop: it has
// ended when the window's Refresh is sensitive again.
bool read_ended(StructDef *def) { return GTK_WIDGET_SENSITIVE(def->refresh_button); }

double vum_refresh(StructDef *def, bool redraw, int start) {
  char text[16];
  snprintf(text, sizeof text, "%d", start);
  gtk_entry_set_text(GTK_ENTRY(def->start_entry), text);
  double t0 = now();
  refresh_struct_window(def);
  while (!read_ended(def)) g_main_context_iteration(NULL, TRUE);
  if (redraw) {
    pump();
    gdk_flush();
  }
  double t = now() - t0;
  pump();
  gdk_flush();
  return t;
}

// The bare client's command lines, made before the clock starts: it does
// nothing but the exchanges.
std::vector<std::string> bare_commands(int start) {
  std::vector<std::string> lines;
  for (int e = start; e < start + shown; e++)
    for (int f = 0; f < fields; f++) {
      char line[40];
      snprintf(line, sizeof line, "x /1wx 0x%X\n", list_base + (uint32_t)(e * 16 + f * 4));
      lines.push_back(line);
    }
  return lines;
}

double bare_refresh(BareClient &bare, int start) {
  std::vector<std::string> lines = bare_commands(start);
  double t0 = now();
  for (const std::string &line : lines) {
    bare.send(line.data(), line.size());
    bare.wait_prompt();
  }
  return now() - t0;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 7;
  for (int i = 1; i + 1 < argc; i += 2)
    if (!strcmp(argv[i], "--rounds")) rounds = atoi(argv[i + 1]);
  if (rounds < 1) {
    fprintf(stderr, "usage: struct_bench [--rounds R]\n");
    return 2;
  }

  // Both sides and their debuggers on one processor, as in exec_bench.
  {
    cpu_set_t one;
    CPU_ZERO(&one);
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    CPU_SET(cpus > 1 ? cpus - 1 : 0, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) perror("sched_setaffinity");
  }

  char dir[] = "/tmp/vum-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  // VUM's remembered window (its page, the state panel) is this run's own,
  // not the user's: every run starts from the same window.
  setenv("XDG_CONFIG_HOME", dir, 1);
  FILE *f = fopen(".vumrc", "w");
  if (!f) return 1;
  fprintf(f, "{list big %x %d\n  a 4\n  b 4\n  c 4\n  d 4\n}\n", list_base, elements);
  fclose(f);
  // Memory with a value in every field, different from field to field.
  f = fopen("state", "w");
  if (!f) return 1;
  fprintf(f, "mem %x ", list_base);
  for (int i = 0; i < elements * fields * 4; i++) fprintf(f, "%02x", (unsigned)((i * 37 + i / 251) & 0xff));
  fprintf(f, "\n");
  fclose(f);
  setenv("VUM_SIM_STATE", (std::string(dir) + "/state").c_str(), 1);
  std::string path = std::string(VUM_SIM_BIN_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  unsetenv("VUM_SIM_TRANSCRIPT");

  g_set_print_handler([](const gchar *) {});
  start_up(&argc, &argv);
  pump();
  gtk_button_clicked(GTK_BUTTON(main_window().start_button));
  if (link_seam().debugger_offline || struct_defs.first == NULL) {
    fprintf(stderr, "the simulated PC did not start, or the list is not defined\n");
    return 1;
  }
  pump();
  gtk_clist_select_row(GTK_CLIST(structures_list()), 0, 0);  // opens the window: the first refresh
  StructDef *def = struct_defs.first;
  while (def->window != NULL && !read_ended(def)) g_main_context_iteration(NULL, TRUE);
  pump();
  if (def->window == NULL) {
    fprintf(stderr, "the list window did not open\n");
    return 1;
  }
  char total[16];
  snprintf(total, sizeof total, "%d", shown);
  gtk_entry_set_text(GTK_ENTRY(def->total_entry), total);
  vum_refresh(def, true, 0);
  if (GTK_CLIST(def->list)->rows != shown * (fields + 1)) {
    fprintf(stderr, "the list window does not show %d rows\n", shown * (fields + 1));
    return 1;
  }

  BareClient bare;
  if (!bare.start()) {
    fprintf(stderr, "the bare client could not start the simulated PC\n");
    return 1;
  }
  bare_refresh(bare, 0);  // warm up

  struct Figure {
    bool redraw, move;
    const char *what;
  } figures[] = {
      {false, false, "the same elements, until read (the list drawn between its parts)"},
      {true, false, "the same elements, the window drawn before the clock stops"},
      {true, true, "Start moved at each refresh (every cell new), the window drawn"},
  };
  for (const Figure &fig : figures) {
    std::vector<double> vum_ms, bare_ms, ratios;
    for (int r = 0; r < rounds; r++) {
      int start = fig.move ? (r % 2 == 0 ? shown : 0) : 0;
      double v = vum_refresh(def, fig.redraw, start) * 1e3;
      double b = bare_refresh(bare, start) * 1e3;
      vum_ms.push_back(v);
      bare_ms.push_back(b);
      ratios.push_back(v / b);
    }
    printf("list window, %d of %d elements x %d fields (%d exchanges), %s: %d rounds, medians\n",
           shown, elements, fields, shown * fields, fig.what, rounds);
    printf("    VUM Refresh       %8.1f ms  (%.1f us/exchange)\n", median(vum_ms),
           median(vum_ms) * 1e3 / (shown * fields));
    printf("    bare client       %8.1f ms  (%.1f us/exchange)\n", median(bare_ms),
           median(bare_ms) * 1e3 / (shown * fields));
    printf("    VUM/bare time ratio %.2f (goal: within 1.25)\n", median(ratios));
    fflush(stdout);
  }
  bare.finish();
  quit_clicked(NULL, NULL);
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
