// What a user feels, measured from the click until the window has been
// redrawn, side by side with a bare client that sends the same command lines
// over the same kind of pipes and draws nothing, in one run, alternating:
//
//   step    Step with the CPU state panel shown, simulated PC
//   bridge  Step with the panel shown, then hidden, through the bridge to
//           Bochs 2.7, against a bare client of bochs-bin
//   dump    memory dump windows: 64 KiB of bytes, 256 KiB of doublewords,
//           and bytes from 64 KiB to 1 MiB (the cost per KiB)
//   start   Start Bochs to the first location drawn (simulated PC, Bochs 2.7)
//   history Step with the History page at 50 rows and at 99,999, and the
//           memory each row takes
//   list    a list window of 1,000,000 elements: how soon it shows progress,
//           the longest the window goes without its main loop running,
//           Cancel, memory
//
// "Redrawn": after the handler, the main loop runs until an idle of low
// priority (below the toolkit's layout and redraw) finds, after gdk_flush,
// nothing more to do: the X server has carried out every drawing request.
// For each operation: the wall time, VUM's CPU time (this process; the bare
// client's side runs in it too, but at other times) and the X server's
// (/proc/PID/schedstat of the server of $DISPLAY).
//
// After each Step row, the toolkit's own share: the entries each timed Step
// changed are given the same texts again by the harness, with no exchange and
// none of VUM's code, and redrawn; the Steps that changed entries and those
// that changed none (the guest jumping to itself) are shown apart.
//
// The harness drives VUM's window through its widgets, found by their
// labels, and calls nothing of VUM's but start_up(): the same source builds
// against an older tree (bench/build-before) for before-and-after figures.
//
// Usage: views_bench [--parts step,bridge,dump,start,history,list]
//                    [--rounds R] [--per-round N] [--pin] [--full-list] [--shots DIR]
#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "shell/main_window.hpp"

namespace {

// ---------------------------------------------------------------------------
// Clocks.

double now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double own_cpu_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

pid_t x_server = 0;

// The X server of $DISPLAY: a process named X* whose arguments hold ":N".
pid_t find_x_server() {
  const char *display = getenv("DISPLAY");
  if (display == NULL) return 0;
  std::string want = display;
  size_t dot = want.find('.', want.find(':'));
  if (dot != std::string::npos) want.resize(dot);
  if (want.empty() || want[0] != ':') return 0;
  pid_t found = 0;
  FILE *ls = popen("ls /proc", "r");
  if (ls == NULL) return 0;
  char name[64];
  while (fscanf(ls, "%63s", name) == 1) {
    if (name[0] < '0' || name[0] > '9') continue;
    std::string path = std::string("/proc/") + name + "/cmdline";
    FILE *f = fopen(path.c_str(), "r");
    if (f == NULL) continue;
    char args[4096];
    size_t n = fread(args, 1, sizeof args - 1, f);
    fclose(f);
    args[n] = '\0';
    const char *program = strrchr(args, '/') ? strrchr(args, '/') + 1 : args;
    if (program[0] != 'X') continue;
    for (size_t at = strlen(args) + 1; at < n; at += strlen(args + at) + 1)
      if (want == args + at) found = (pid_t)atoi(name);
  }
  pclose(ls);
  return found;
}

// The X server's CPU time so far; -1 when unknown.
double x_cpu_ms() {
  if (x_server <= 0) return -1;
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/schedstat", (int)x_server);
  FILE *f = fopen(path, "r");
  if (f != NULL) {
    unsigned long long ns = 0;
    int got = fscanf(f, "%llu", &ns);
    fclose(f);
    if (got == 1) return ns / 1e6;
  }
  snprintf(path, sizeof path, "/proc/%d/stat", (int)x_server);
  f = fopen(path, "r");
  if (f == NULL) return -1;
  char text[1024];
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  const char *p = strrchr(text, ')');
  unsigned long user = 0, system_ = 0;
  if (p == NULL || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system_) != 2)
    return -1;
  return (user + system_) * 1000.0 / sysconf(_SC_CLK_TCK);
}

long status_kb(const char *field) {
  FILE *f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  size_t n = strlen(field);
  while (fgets(line, sizeof line, f))
    if (strncmp(line, field, n) == 0 && sscanf(line + n, " %ld", &kb) == 1) break;
  fclose(f);
  return kb;
}

double heap_in_use_kb() { return mallinfo2().uordblks / 1024.0; }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// ---------------------------------------------------------------------------
// The main loop.

bool low_idle_ran = false;
gboolean low_idle(gpointer) {
  gdk_flush();
  low_idle_ran = true;
  return FALSE;
}

// Runs the main loop until the window has been redrawn: an idle below the
// toolkit's layout and redraw has run after gdk_flush and nothing came of it.
void wait_drawn() {
  for (int pass = 0; pass < 8; pass++) {
    low_idle_ran = false;
    g_idle_add_full(G_PRIORITY_LOW, low_idle, NULL, NULL);
    while (!low_idle_ran) g_main_context_iteration(NULL, TRUE);
    if (!gdk_events_pending() && !g_main_context_pending(NULL)) return;
  }
}

// Runs the main loop until `done` holds; false after `ms`.
bool pump_until(const std::function<bool()> &done, double ms) {
  double end = now_ms() + ms;
  while (!done()) {
    if (now_ms() > end) return false;
    if (!g_main_context_iteration(NULL, FALSE)) g_usleep(500);
  }
  return true;
}

void pump_for(double ms) {
  pump_until([] { return false; }, ms);
}

// ---------------------------------------------------------------------------
// VUM's widgets, found by what they show.

void all_widgets(GtkWidget *w, std::vector<GtkWidget *> *out) {
  out->push_back(w);
  if (GTK_IS_CONTAINER(w))
    gtk_container_forall(
        GTK_CONTAINER(w), [](GtkWidget *child, gpointer data) { all_widgets(child, (std::vector<GtkWidget *> *)data); },
        out);
}

std::vector<GtkWidget *> widgets_of(GtkWidget *top) {
  std::vector<GtkWidget *> all;
  all_widgets(top, &all);
  return all;
}

std::vector<GtkWidget *> toplevels() {
  std::vector<GtkWidget *> out;
  GList *list = gtk_window_list_toplevels();
  for (GList *l = list; l; l = l->next)
    if (GTK_WIDGET_VISIBLE(l->data) && GTK_WINDOW(l->data)->type == GTK_WINDOW_TOPLEVEL)
      out.push_back(GTK_WIDGET(l->data));
  g_list_free(list);
  return out;
}

GtkWidget *main_window_widget = NULL;

GtkWidget *window_titled(const char *prefix) {
  for (GtkWidget *w : toplevels()) {
    const char *title = gtk_window_get_title(GTK_WINDOW(w));
    if (title && strncmp(title, prefix, strlen(prefix)) == 0) return w;
  }
  return NULL;
}

GtkWidget *button_in(GtkWidget *top, const char *label) {
  for (GtkWidget *w : widgets_of(top))
    if (GTK_IS_BUTTON(w) && gtk_button_get_label(GTK_BUTTON(w)) &&
        strcmp(gtk_button_get_label(GTK_BUTTON(w)), label) == 0)
      return w;
  return NULL;
}

GtkWidget *button(const char *label) { return button_in(main_window_widget, label); }

// The entry in the row of a label.
GtkWidget *entry_beside(const char *label) {
  for (GtkWidget *w : widgets_of(main_window_widget))
    if (GTK_IS_LABEL(w) && strcmp(gtk_label_get_text(GTK_LABEL(w)), label) == 0)
      for (GtkWidget *x : widgets_of(gtk_widget_get_parent(w)))
        if (GTK_IS_ENTRY(x)) return x;
  return NULL;
}

// A list (GtkCList or GtkTreeView) whose first column has the title.
GtkWidget *list_titled(GtkWidget *top, const char *first_title) {
  for (GtkWidget *w : widgets_of(top)) {
    if (GTK_IS_CLIST(w) && GTK_CLIST(w)->columns > 0) {
      const char *t = gtk_clist_get_column_title(GTK_CLIST(w), 0);
      if (t && strcmp(t, first_title) == 0) return w;
    }
    if (GTK_IS_TREE_VIEW(w)) {
      GtkTreeViewColumn *c = gtk_tree_view_get_column(GTK_TREE_VIEW(w), 0);
      if (c && gtk_tree_view_column_get_title(c) && strcmp(gtk_tree_view_column_get_title(c), first_title) == 0)
        return w;
    }
  }
  return NULL;
}

int list_rows(GtkWidget *list) {
  if (list == NULL) return -1;
  if (GTK_IS_CLIST(list)) return GTK_CLIST(list)->rows;
  GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
  return model ? gtk_tree_model_iter_n_children(model, NULL) : 0;
}

// Found once: a lookup walks every widget of the window.
GtkWidget *step_button() {
  static GtkWidget *step = NULL;
  if (step == NULL) step = button(" Step ");
  return step;
}

// The control bar's first entry (the physical address of the location).
GtkWidget *location_entry() {
  static GtkWidget *entry = NULL;
  if (entry != NULL) return entry;
  GtkWidget *row = gtk_widget_get_parent(step_button());
  for (GtkWidget *w : widgets_of(row))
    if (GTK_IS_ENTRY(w)) return entry = w;
  return NULL;
}

void show_page(const char *title) {
  for (GtkWidget *w : widgets_of(main_window_widget)) {
    if (!GTK_IS_NOTEBOOK(w)) continue;
    GtkNotebook *book = GTK_NOTEBOOK(w);
    for (int i = 0; i < gtk_notebook_get_n_pages(book); i++) {
      const char *t = gtk_notebook_get_tab_label_text(book, gtk_notebook_get_nth_page(book, i));
      if (t && strcmp(t, title) == 0) gtk_notebook_set_current_page(book, i);
    }
  }
  wait_drawn();
}

bool online() { return GTK_WIDGET_SENSITIVE(step_button()); }

// ---------------------------------------------------------------------------
// A bare client: a debugger over two pipes, command lines out, each reply
// read up to its prompt "<bochs:N> " and split into lines, nothing drawn.

struct BareClient {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string text;  // the reply being read
  std::vector<std::pair<const char *, size_t>> lines;

  // `reply_fd`: 2 for VUM's dialect (the simulated PC, the bridge), 1 for
  // Bochs 2.7 itself.
  bool start(const std::vector<std::string> &argv, int reply_fd, const std::vector<std::string> &env = {}) {
    int a[2], b[2];
    if (pipe2(a, O_CLOEXEC) || pipe2(b, O_CLOEXEC)) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(a[0], 0);
      dup2(b[1], reply_fd);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, reply_fd == 1 ? 2 : 1);
      for (const std::string &e : env) putenv(strdup(e.c_str()));
      signal(SIGPIPE, SIG_DFL);
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
    return prompt();
  }

  // Reads through the next prompt; the reply's lines are split.
  bool prompt() {
    text.clear();
    for (;;) {
      size_t lt = text.size() >= 24 ? text.size() - 24 : 0;
      if (text.size() >= 9 && text.compare(text.size() - 2, 2, "> ") == 0 &&
          text.find("<bochs:", lt) != std::string::npos)
        break;
      char chunk[65536];
      ssize_t n = read(out, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.append(chunk, (size_t)n);
    }
    lines.clear();
    const char *p = text.data(), *end = p + text.size();
    while (p < end) {
      const char *nl = (const char *)memchr(p, '\n', (size_t)(end - p));
      if (nl == NULL) nl = end;
      lines.emplace_back(p, (size_t)(nl - p));
      p = nl + 1;
    }
    return true;
  }

  bool exchange(const std::string &line) {
    if (write(in, line.data(), line.size()) != (ssize_t)line.size()) return false;
    return prompt();
  }

  void finish() {
    if (pid <= 0) return;
    if (write(in, "q\n", 2) != 2) {
    }
    close(in);
    for (int i = 0; i < 100 && waitpid(pid, NULL, WNOHANG) == 0; i++) g_usleep(10000);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    close(out);
    pid = -1;
  }
};

// ---------------------------------------------------------------------------
// Figures.

struct Side {
  std::vector<double> ms;       // one per operation
  std::vector<double> handler;  // of which the click's handler
  double cpu_ms = 0, x_ms = 0;
  int ops = 0;
};

// Times one VUM operation: `act` (a click), then the redraw.
void time_vum(Side *side, const std::function<void()> &act, const std::function<bool()> &done = nullptr) {
  double x0 = x_cpu_ms(), c0 = own_cpu_ms(), t0 = now_ms();
  act();
  side->handler.push_back(now_ms() - t0);
  if (done) pump_until(done, 600000);
  wait_drawn();
  double t1 = now_ms(), c1 = own_cpu_ms(), x1 = x_cpu_ms();
  side->ms.push_back(t1 - t0);
  side->cpu_ms += c1 - c0;
  side->x_ms += x1 - x0;
  side->ops++;
}

void time_bare(Side *side, const std::function<void()> &act) {
  double x0 = x_cpu_ms(), c0 = own_cpu_ms(), t0 = now_ms();
  act();
  double t1 = now_ms(), c1 = own_cpu_ms(), x1 = x_cpu_ms();
  side->ms.push_back(t1 - t0);
  side->cpu_ms += c1 - c0;
  side->x_ms += x1 - x0;
  side->ops++;
}

void print_pair(const char *what, const Side &vum, const Side &bare, const char *goal = NULL) {
  double v = median(vum.ms), b = median(bare.ms);
  printf("%s\n", what);
  printf("    VUM          %9.2f ms   VUM CPU %7.2f ms   X server CPU %6.2f ms   (median of %d; the handler %.2f ms)\n",
         v, vum.cpu_ms / std::max(1, vum.ops), x_server > 0 ? vum.x_ms / std::max(1, vum.ops) : -1.0, vum.ops,
         median(vum.handler));
  printf("    bare client  %9.2f ms   CPU     %7.2f ms   X server CPU %6.2f ms\n", b,
         bare.cpu_ms / std::max(1, bare.ops), x_server > 0 ? bare.x_ms / std::max(1, bare.ops) : -1.0);
  printf("    ratio %.2f%s%s\n", b > 0 ? v / b : 0.0, goal ? "   goal: " : "", goal ? goal : "");
  fflush(stdout);
}

struct Options {
  std::string shots;  // a directory for pictures of the window, or none
  std::string parts = "step,bridge,dump,start,history,list";
  int rounds = 10, per_round = 20;
  bool pin = false, full_list = false;
  bool has(const char *part) const { return ("," + parts + ",").find(std::string(",") + part + ",") != std::string::npos; }
} opt;

std::string work_dir;
Side warm_up;  // operations not counted

// With --shots DIR: a picture of the main window as it is drawn now.
void picture(const char *name) {
  if (opt.shots.empty() || main_window_widget == NULL) return;
  wait_drawn();
  GdkWindow *w = main_window_widget->window;
  int width, height;
  gdk_drawable_get_size(w, &width, &height);
  GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(NULL, w, NULL, 0, 0, 0, 0, width, height);
  if (shot == NULL) return;
  std::string path = opt.shots + "/" + name + ".png";
  gdk_pixbuf_save(shot, path.c_str(), "png", NULL, NULL);
  g_object_unref(shot);
}
std::string sim_path, bridge_path;

void use_debugger(const std::string &bin_dir) {
  std::string path = bin_dir + ":" + (getenv("ORIGINAL_PATH") ? getenv("ORIGINAL_PATH") : "");
  setenv("PATH", path.c_str(), 1);
}

// Presses Start and waits until the first location has been drawn.
bool start_vum(Side *side = NULL) {
  GtkWidget *start = button(" Start Bochs ");
  if (start == NULL) return false;
  Side ignored;
  // The start is over when the first location is shown, or when the click
  // left the debugger offline (a start that failed has nothing to wait for).
  time_vum(side ? side : &ignored, [&] { gtk_button_clicked(GTK_BUTTON(start)); },
           [] { return !online() || gtk_entry_get_text(GTK_ENTRY(location_entry()))[0] != '\0'; });
  return online();
}

struct sigaction vum_reactions[65];
void note_signal(int sig, siginfo_t *info, void *context) {
  char text[96];
  int n = snprintf(text, sizeof text, "views_bench: signal %d from pid %d\n", sig, (int)info->si_pid);
  if (write(2, text, (size_t)n) < 0) {
  }
  const struct sigaction &old = vum_reactions[sig];
  if (old.sa_flags & SA_SIGINFO)
    old.sa_sigaction(sig, info, context);
  else if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN)
    old.sa_handler(sig);
}

// With VUM_BENCH_EXPOSES set: what each Step draws (widgets and areas) and
// lays out.
std::string exposes;
gboolean note_expose(GSignalInvocationHint *, guint n, const GValue *values, gpointer) {
  if (n < 2) return TRUE;
  GtkWidget *w = GTK_WIDGET(g_value_get_object(&values[0]));
  GdkEventExpose *e = (GdkEventExpose *)g_value_get_boxed(&values[1]);
  char text[160];
  snprintf(text, sizeof text, "  %s %dx%d+%d+%d %s\n", G_OBJECT_TYPE_NAME(w), e->area.width, e->area.height,
           e->area.x, e->area.y, GTK_IS_ENTRY(w) ? gtk_entry_get_text(GTK_ENTRY(w)) : "");
  exposes += text;
  return TRUE;
}

// And what it laid out: a widget asked for its size, or given one.
gboolean note_size(GSignalInvocationHint *h, guint, const GValue *values, gpointer) {
  GtkWidget *w = GTK_WIDGET(g_value_get_object(&values[0]));
  char text[160];
  snprintf(text, sizeof text, "  %s %s\n", g_signal_name(h->signal_id), G_OBJECT_TYPE_NAME(w));
  exposes += text;
  return TRUE;
}

void watch_exposes() {
  g_type_class_ref(GTK_TYPE_WIDGET);
  g_signal_add_emission_hook(g_signal_lookup("size-request", GTK_TYPE_WIDGET), 0, note_size, NULL, NULL);
  g_signal_add_emission_hook(g_signal_lookup("size-allocate", GTK_TYPE_WIDGET), 0, note_size, NULL, NULL);
  g_signal_add_emission_hook(g_signal_lookup("expose-event", GTK_TYPE_WIDGET), 0, note_expose, NULL, NULL);
}

void watch_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = note_signal;
    sa.sa_flags = SA_SIGINFO;
    sigaction(sig, &sa, &vum_reactions[sig]);
  }
}

// The last rows of the History page (column 4), when VUM_BENCH_VERBOSE is set.
void print_history_tail(const char *when) {
  if (!getenv("VUM_BENCH_VERBOSE")) return;
  GtkWidget *list = list_titled(main_window_widget, "Physical");
  if (list == NULL || !GTK_IS_CLIST(list)) return;
  int rows = list_rows(list);
  fprintf(stderr, "-- history, %s (%d rows)\n", when, rows);
  for (int r = std::max(0, rows - 8); r < rows; r++) {
    gchar *text = NULL;
    gtk_clist_get_text(GTK_CLIST(list), r, 3, &text);
    fprintf(stderr, "   %s\n", text ? text : "");
  }
}

void kill_vum() {
  print_history_tail("before Kill");
  GtkWidget *kill_button = button(" Kill Bochs ");
  if (kill_button) gtk_button_clicked(GTK_BUTTON(kill_button));
  wait_drawn();
}

void set_state_shown(bool shown) {
  GtkWidget *b = button(shown ? " Show State " : " Hide State ");
  if (b) gtk_button_clicked(GTK_BUTTON(b));
  wait_drawn();
}

// The command lines the simulated PC received since line `from`.
std::vector<std::string> transcript_lines(const std::string &path, size_t from) {
  std::vector<std::string> out;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return out;
  char line[512];
  size_t n = 0;
  while (fgets(line, sizeof line, f))
    if (n++ >= from) out.push_back(line);
  fclose(f);
  return out;
}

size_t transcript_size(const std::string &path) {
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return 0;
  size_t n = 0;
  for (int c; (c = fgetc(f)) != EOF;) n += c == '\n';
  fclose(f);
  return n;
}

// The texts of the entries on the screen, to learn what a Step changed.
struct EntryTexts {
  std::vector<GtkWidget *> entries;
  std::vector<std::string> texts;
};

EntryTexts entry_texts() {
  EntryTexts out;
  for (GtkWidget *w : widgets_of(main_window_widget))
    if (GTK_IS_ENTRY(w) && GTK_WIDGET_DRAWABLE(w)) {
      out.entries.push_back(w);
      out.texts.push_back(gtk_entry_get_text(GTK_ENTRY(w)));
    }
  return out;
}

// The entries one Step changed: each with its text before and after.
struct EntryChange {
  GtkWidget *entry;
  std::string before, after;
};
typedef std::vector<EntryChange> StepChanges;

StepChanges changes_between(const EntryTexts &before, const EntryTexts &after) {
  StepChanges out;
  if (before.entries != after.entries) return out;
  for (size_t i = 0; i < before.entries.size(); i++)
    if (before.texts[i] != after.texts[i]) out.push_back({before.entries[i], before.texts[i], after.texts[i]});
  return out;
}

// Steps, VUM and the bare client taking turns step by step (which goes
// first alternates), `commands` being the bare client's lines for one step.
// What each of VUM's Steps changed in the entries goes to `changes`.
void step_rounds(BareClient &bare, const std::vector<std::string> &commands, Side *vum, Side *bare_side,
                 std::vector<StepChanges> *changes) {
  for (int r = 0; r < opt.rounds; r++)
    for (int i = 0; i < opt.per_round; i++)
      for (int k = 0; k < 2; k++) {
        if ((k + i + r) % 2 == 0) {
          exposes.clear();
          EntryTexts before = entry_texts();
          time_vum(vum, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
          changes->push_back(changes_between(before, entry_texts()));
          if (getenv("VUM_BENCH_EXPOSES") && i == 0) fprintf(stderr, "Step drew:\n%s", exposes.c_str());
        } else {
          time_bare(bare_side, [&] {
            for (const std::string &c : commands) bare.exchange(c);
          });
        }
      }
}

// The toolkit's own share of the Steps just timed, with none of VUM's code
// and no exchange: the harness gives the entries each Step changed their
// texts from before it, then, timed, their texts after it, as the Step did,
// and the window is redrawn. Beside it, the floor under every operation: the
// wait for a window where nothing changed (an idle of low priority and a
// round trip to the X server). The Steps that changed entries and those that
// changed none (a guest jumping to itself: only the tick count moves) are
// shown apart, each with VUM's time for them, against what the goal leaves
// over the bare client for all VUM does, the redraw included.
void print_toolkit_share(const Side &vum, const std::vector<StepChanges> &changes, double bare_ms, double goal) {
  Side idle;
  std::vector<double> own[2], toolkit[2];  // [0] Steps that changed no entry, [1] the others
  size_t entries = 0;
  for (size_t j = 0; j < changes.size() && j < vum.ms.size(); j++) {
    const StepChanges &step = changes[j];
    for (const EntryChange &c : step) gtk_entry_set_text(GTK_ENTRY(c.entry), c.before.c_str());
    wait_drawn();
    time_vum(&idle, [] {});
    Side set;
    time_vum(&set, [&] {
      for (const EntryChange &c : step) gtk_entry_set_text(GTK_ENTRY(c.entry), c.after.c_str());
    });
    own[!step.empty()].push_back(vum.ms[j]);
    toolkit[!step.empty()].push_back(set.ms[0]);
    entries += step.size();
  }
  printf("    the goal leaves %.2f ms over the bare client; the toolkit alone, nothing to redraw: %.2f ms\n",
         (goal - 1) * bare_ms, median(idle.ms));
  if (!own[1].empty())
    printf("    %zu Steps changed entries (%.1f on average): VUM %.2f ms; the toolkit alone, those entries given "
           "their new texts and redrawn, %.2f ms\n",
           own[1].size(), (double)entries / own[1].size(), median(own[1]), median(toolkit[1]));
  if (!own[0].empty())
    printf("    %zu Steps changed no entry: VUM %.2f ms\n", own[0].size(), median(own[0]));
  fflush(stdout);
}

// ---------------------------------------------------------------------------
// The parts.

void part_step() {
  printf("== Step with the CPU state panel shown, simulated PC\n");
  use_debugger(sim_path);
  std::string transcript = work_dir + "/vum.transcript";
  setenv("VUM_SIM_TRANSCRIPT", transcript.c_str(), 1);
  unlink(transcript.c_str());
  if (!start_vum()) {
    printf("    the simulated PC did not start\n");
    return;
  }
  set_state_shown(true);
  for (int i = 0; i < 20; i++) time_vum(&warm_up, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
  size_t before = transcript_size(transcript);
  gtk_button_clicked(GTK_BUTTON(step_button()));
  wait_drawn();
  std::vector<std::string> commands = transcript_lines(transcript, before);
  std::string bare_transcript = work_dir + "/bare.transcript";
  BareClient bare;
  if (!bare.start({"/bin/sh", "-c", "exec bochs -q"}, 2, {"VUM_SIM_TRANSCRIPT=" + bare_transcript})) {
    printf("    the bare client could not start the simulated PC\n");
    return;
  }
  for (int i = 0; i < 20; i++)
    for (const std::string &c : commands) bare.exchange(c);
  Side vum, bare_side;
  std::vector<StepChanges> changes;
  step_rounds(bare, commands, &vum, &bare_side, &changes);
  char what[160];
  snprintf(what, sizeof what, "Step, panel shown, simulated PC (%zu commands)", commands.size());
  print_pair(what, vum, bare_side, "within 1.25");
  print_toolkit_share(vum, changes, median(bare_side.ms), 1.25);
  bare.finish();
  set_state_shown(false);
  kill_vum();
  unsetenv("VUM_SIM_TRANSCRIPT");
}

void part_bridge() {
  printf("== Step through the bridge to Bochs 2.7 (demo floppy, its 32-bit loop)\n");
  use_debugger(bridge_path);
  std::string demo = VUM_DEMO_DIR;
  setenv("VUM_BOCHSRC", (demo + "/bochsrc").c_str(), 1);
  if (!start_vum()) {
    printf("    the bridge did not start Bochs 2.7 (is bochs-bin installed?)\n");
    return;
  }
  // Into the demo's protected-mode loop: Go, a moment, Stop.
  gtk_button_clicked(GTK_BUTTON(button(" Go ")));
  pump_for(1500);
  gtk_button_clicked(GTK_BUTTON(button(" Stop ")));
  pump_until(online, 10000);
  wait_drawn();

  BareClient bare;
  if (!bare.start({"bochs-bin", "-q", "-f", demo + "/bochsrc"}, 1,
                  {"VUM_DEMO_DIR=" + demo, "COLUMNS=1000", "LINES=50", "INPUTRC=/dev/null", "TERM=dumb"}) ||
      !bare.exchange("pb 0x7ca0\n") || !bare.exchange("c\n") || !bare.exchange("d 1\n")) {
    printf("    the bare client could not start bochs-bin\n");
    kill_vum();
    return;
  }
  // The panel's 13 stack reads around ESP, as VUM makes them (8 above, 4 below).
  unsigned long esp = 0x8fffc;
  bare.exchange("r\n");
  const char *at = strstr(bare.text.c_str(), "esp: 0x");
  if (at) esp = strtoul(at + 7, NULL, 16);
  std::vector<std::string> shown = {"s\n", "r;sreg;creg;dreg\n"};
  for (int i = 8; i >= -4; i--) {
    char line[40];
    snprintf(line, sizeof line, "x /1wx 0x%lX\n", esp + 4 * i);
    shown.push_back(line);
  }
  std::vector<std::string> hidden = {"s\n", "r;sreg;creg;dreg\n"};
  for (bool panel : {true, false}) {
    set_state_shown(panel);
    for (int i = 0; i < 10; i++) time_vum(&warm_up, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
    Side vum, bare_side;
    std::vector<StepChanges> changes;
    step_rounds(bare, panel ? shown : hidden, &vum, &bare_side, &changes);
    print_pair(panel ? "Step, panel shown, through the bridge (step, register dump, 13 stack reads)"
                     : "Step, panel hidden, through the bridge (step, register dump)",
               vum, bare_side, "within 1.5");
    print_toolkit_share(vum, changes, median(bare_side.ms), 1.5);
  }
  set_state_shown(false);
  bare.finish();
  kill_vum();
  unsetenv("VUM_BOCHSRC");
}

// Opens a dump window and waits until it shows `rows` rows, drawn; closes it.
bool vum_dump(Side *side, unsigned units, int size_button, int rows) {
  static const char *const sizes[4] = {" Byte ", " Word ", " DoubleWord ", " QuadWord "};
  gtk_button_clicked(GTK_BUTTON(button(sizes[size_button])));
  char text[16];
  snprintf(text, sizeof text, "%u", units);
  gtk_entry_set_text(GTK_ENTRY(entry_beside("Units (dec)")), text);
  if (strcmp(gtk_entry_get_text(GTK_ENTRY(entry_beside("Units (dec)"))), text) != 0) return false;
  gtk_entry_set_text(GTK_ENTRY(entry_beside("Address (hex)")), "100000");
  GtkWidget *window = NULL;
  GtkWidget *dump = button(" Dump ");
  time_vum(side, [&] { gtk_button_clicked(GTK_BUTTON(dump)); },
           [&] {
             if (window == NULL) window = window_titled("VUM - Memory Dump");
             return window && list_rows(list_titled(window, "Base")) == rows;
           });
  if (window == NULL) return false;
  gtk_button_clicked(GTK_BUTTON(button_in(window, " Close ")));
  wait_drawn();
  return true;
}

void part_dump() {
  printf("== Memory dump windows, simulated PC, memory from 0x100000 filled\n");
  use_debugger(sim_path);
  std::string state = work_dir + "/dump.state";
  FILE *f = fopen(state.c_str(), "w");
  if (!f) return;
  fprintf(f, "mem 100000 ");
  for (int i = 0; i < (1 << 20); i++) fprintf(f, "%02x", (unsigned)((i * 37 + i / 251) & 0xff));
  fprintf(f, "\n");
  fclose(f);
  setenv("VUM_SIM_STATE", state.c_str(), 1);
  if (!start_vum()) {
    printf("    the simulated PC did not start\n");
    return;
  }
  BareClient bare;
  bare.start({"/bin/sh", "-c", "exec bochs -q"}, 2);
  struct Case {
    const char *what;
    unsigned units;
    int size;
    char letter;
    int per_line;
  } cases[] = {
      {"Dump, 64 KiB of bytes", 65536, 0, 'b', 8},
      {"Dump, 256 KiB of doublewords", 65536, 2, 'w', 4},
  };
  for (const Case &c : cases) {
    Side vum, bare_side;
    char line[64];
    snprintf(line, sizeof line, "xp /%u%cx 0x100000\n", c.units, c.letter);
    int rows = (int)((c.units + c.per_line - 1) / c.per_line);
    vum_dump(&warm_up, c.units, c.size, rows);  // warm up
    bare.exchange(line);
    for (int r = 0; r < std::max(3, opt.rounds / 2); r++) {
      if (!vum_dump(&vum, c.units, c.size, rows)) {
        printf("    %s: the Units entry does not take %u\n", c.what, c.units);
        break;
      }
      time_bare(&bare_side, [&] { bare.exchange(line); });
    }
    if (!vum.ms.empty()) print_pair(c.what, vum, bare_side, "within 3");
  }
  // Bytes, from 64 KiB to 1 MiB: the cost per KiB should not grow.
  printf("Dump of bytes by size: VUM ms (ms per KiB) | bare client ms (ms per KiB), medians of %d\n",
         std::max(3, opt.rounds / 3));
  for (unsigned kib : {64u, 128u, 256u, 512u, 1024u}) {
    Side vum, bare_side;
    unsigned units = kib * 1024;
    bool ok = true;
    // The bare client sends the dump as VUM does: one command per 64 KiB.
    std::vector<std::string> lines;
    for (unsigned done = 0; done < units; done += 65536) {
      char line[64];
      snprintf(line, sizeof line, "xp /%ubx 0x%X\n", std::min(65536u, units - done), 0x100000 + done);
      lines.push_back(line);
    }
    for (int r = 0; r < std::max(3, opt.rounds / 3) && ok; r++) {
      ok = vum_dump(&vum, units, 0, (int)(units / 8));
      time_bare(&bare_side, [&] {
        for (const std::string &l : lines) bare.exchange(l);
      });
    }
    if (!ok) {
      printf("    %4u KiB: the Units entry does not take %u\n", kib, units);
      continue;
    }
    double v = median(vum.ms), b = median(bare_side.ms);
    printf("    %4u KiB: %8.1f ms (%.3f) | %7.1f ms (%.3f)  ratio %.2f  VUM CPU %.1f ms  X CPU %.1f ms\n", kib, v,
           v / kib, b, b / kib, v / b, vum.cpu_ms / vum.ops, vum.x_ms / vum.ops);
    fflush(stdout);
  }
  bare.finish();
  kill_vum();
  unsetenv("VUM_SIM_STATE");
}

void part_start() {
  printf("== Start Bochs to the first location drawn\n");
  int runs = std::max(3, opt.rounds / 2);
  struct Target {
    const char *what;
    std::string dir;
    bool bochs27;
  } targets[] = {{"simulated PC", sim_path, false}, {"Bochs 2.7 through the bridge", bridge_path, true}};
  std::string demo = VUM_DEMO_DIR;
  for (const Target &t : targets) {
    use_debugger(t.dir);
    if (t.bochs27) setenv("VUM_BOCHSRC", (demo + "/bochsrc").c_str(), 1);
    Side vum, bare_side;
    for (int r = 0; r < runs; r++) {
      if (!start_vum(&vum)) {
        printf("    %s did not start\n", t.what);
        break;
      }
      kill_vum();
      // The bare client: the debugger started, its first prompt, one step.
      BareClient bare;
      time_bare(&bare_side, [&] {
        if (t.bochs27)
          bare.start({"bochs-bin", "-q", "-f", demo + "/bochsrc"}, 1,
                     {"VUM_DEMO_DIR=" + demo, "COLUMNS=1000", "LINES=50", "INPUTRC=/dev/null", "TERM=dumb"});
        else
          bare.start({"/bin/sh", "-c", "exec bochs -q"}, 2);
        bare.exchange("s\n");
      });
      bare.finish();  // after the clock has stopped
    }
    if (!vum.ms.empty()) {
      std::string what = std::string("Start to the first location drawn, ") + t.what +
                         " (bare client: start, first prompt, one step, end)";
      print_pair(what.c_str(), vum, bare_side);
    }
    unsetenv("VUM_BOCHSRC");
  }
}

// The history: steps at 50 rows and at 99,999 (filled by tracing the
// simulated PC over a loop), with the History page shown.
void part_history() {
  printf("== Step with the History page at 50 and at 99,999 rows (the page shown, panel hidden)\n");
  use_debugger(sim_path);
  // l: nop; nop; jmp l -- every step lands at a new address than the one before
  std::string image = work_dir + "/loop.img";
  static const unsigned char code[] = {0x90, 0x90, 0xeb, 0xfc};
  FILE *f = fopen(image.c_str(), "wb");
  if (!f || fwrite(code, 1, sizeof code, f) != sizeof code) return;
  fclose(f);
  setenv("VUM_SIM_IMAGE", image.c_str(), 1);
  GtkWidget *history = list_titled(main_window_widget, "Physical");
  GtkWidget *length = entry_beside("Instruction History Length");
  if (history == NULL || length == NULL || !start_vum()) {
    printf("    no history list, or the simulated PC did not start\n");
    return;
  }
  show_page("History");
  auto set_length = [&](const char *n) {
    gtk_entry_set_text(GTK_ENTRY(length), n);
    gtk_widget_activate(length);
    wait_drawn();
  };
  set_length("50");
  Side at50, at_max;
  for (int i = 0; i < 60; i++) time_vum(&warm_up, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
  malloc_trim(0);
  long rss50 = status_kb("VmRSS:");
  double heap50 = heap_in_use_kb();
  int rows50 = list_rows(history);
  for (int i = 0; i < opt.rounds * opt.per_round; i++) {
    exposes.clear();
    time_vum(&at50, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
    if (getenv("VUM_BENCH_EXPOSES") && i == 5) fprintf(stderr, "Step drew:\n%s", exposes.c_str());
  }
  picture("history-50");

  set_length("99999");
  GtkWidget *trace = button("Enable instruction tracing");
  gtk_button_clicked(GTK_BUTTON(trace));
  double t0 = now_ms();
  gtk_button_clicked(GTK_BUTTON(button(" Go ")));
  pump_until([&] { return list_rows(history) >= 99999; }, 600000);
  gtk_button_clicked(GTK_BUTTON(button(" Stop ")));
  pump_until(online, 10000);
  gtk_button_clicked(GTK_BUTTON(trace));
  wait_drawn();
  double fill_ms = now_ms() - t0;
  for (int i = 0; i < 20; i++) time_vum(&warm_up, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
  malloc_trim(0);
  long rss_max = status_kb("VmRSS:");
  double heap_max = heap_in_use_kb();
  int rows_max = list_rows(history);
  for (int i = 0; i < opt.rounds * opt.per_round; i++)
    time_vum(&at_max, [] { gtk_button_clicked(GTK_BUTTON(step_button())); });
  picture("history-99999");

  printf("History: %d rows filled by tracing in %.1f s\n", rows_max, fill_ms / 1e3);
  printf("    Step at %5d rows %8.2f ms   VUM CPU %6.2f ms   X server CPU %6.2f ms\n", rows50, median(at50.ms),
         at50.cpu_ms / at50.ops, at50.x_ms / at50.ops);
  printf("    Step at %5d rows %8.2f ms   VUM CPU %6.2f ms   X server CPU %6.2f ms\n", rows_max, median(at_max.ms),
         at_max.cpu_ms / at_max.ops, at_max.x_ms / at_max.ops);
  printf("    ratio %.2f   goal: within 1.25\n", median(at_max.ms) / median(at50.ms));
  double per_rows = (double)(rows_max - rows50);
  printf("    memory per row: resident %.0f bytes, heap in use %.0f bytes (%ld kB -> %ld kB resident)\n",
         (rss_max - rss50) * 1024.0 / per_rows, (heap_max - heap50) * 1024.0 / per_rows, rss50, rss_max);
  fflush(stdout);
  set_length("50");
  kill_vum();
  unsetenv("VUM_SIM_IMAGE");
}

// The longest the main loop went without running, seen by a timer.
double last_tick = 0, longest_gap = 0;
gboolean tick(gpointer) {
  double t = now_ms();
  if (last_tick > 0) longest_gap = std::max(longest_gap, t - last_tick);
  last_tick = t;
  return TRUE;
}

void part_list() {
  const int elements = 1000000;
  printf("== A list window of %d elements of one doubleword, simulated PC\n", elements);
  use_debugger(sim_path);
  if (!start_vum()) {
    printf("    the simulated PC did not start\n");
    return;
  }
  GtkWidget *structures = list_titled(main_window_widget, "Open");
  if (structures == NULL || list_rows(structures) < 1) {
    printf("    the list is not defined\n");
    kill_vum();
    return;
  }
  show_page("Structures");
  malloc_trim(0);
  long rss0 = status_kb("VmRSS:");
  last_tick = 0;
  longest_gap = 0;
  guint ticker = g_timeout_add(10, tick, NULL);
  double t0 = now_ms(), c0 = own_cpu_ms();
  gtk_clist_select_row(GTK_CLIST(structures), 0, 0);  // opens the window and reads it
  double returned = now_ms() - t0;
  GtkWidget *window = window_titled("VUM - List");
  GtkWidget *list = window ? list_titled(window, "Base") : NULL;
  // A read that goes on from the main loop shows its progress bar and
  // Cancel once it has run for a while: wait for them.
  GtkWidget *cancel = NULL;
  if (window)
    pump_until([&] { return (cancel = button_in(window, " Cancel ")) != NULL; }, 2000);
  if (cancel == NULL) {
    // Read inside the click: the window was frozen until now.
    wait_drawn();
    double t = now_ms() - t0;
    printf("    read inside the click: %.1f s until drawn (the window frozen), VUM CPU %.1f s, %d rows\n", t / 1e3,
           (own_cpu_ms() - c0) / 1e3, list_rows(list));
    printf("    resident memory %ld MB more (%.0f bytes per element)\n", (status_kb("VmRSS:") - rss0) / 1024,
           (status_kb("VmRSS:") - rss0) * 1024.0 / elements);
  } else {
    double shown_at = -1;
    GtkWidget *bar = NULL;
    for (GtkWidget *w : widgets_of(window))
      if (GTK_IS_PROGRESS_BAR(w)) bar = w;
    pump_until([&] {
      if (shown_at < 0 && bar && GTK_WIDGET_VISIBLE(bar) && GTK_WIDGET_MAPPED(bar)) shown_at = now_ms() - t0;
      return shown_at >= 0 && now_ms() - t0 > 3000;
    }, 60000);
    int rows_then = list_rows(list);
    double read_ms = now_ms() - t0;
    printf("    the click returned after %.0f ms; progress bar shown after %.0f ms\n", returned, shown_at);
    if (opt.full_list) {
      pump_until([&] { return !GTK_WIDGET_VISIBLE(cancel); }, 3600000);
      read_ms = now_ms() - t0;
      wait_drawn();
      printf("    whole list read and drawn in %.1f s, %d rows; VUM CPU %.1f s\n", read_ms / 1e3, list_rows(list),
             (own_cpu_ms() - c0) / 1e3);
      printf("    longest time without the main loop: %.0f ms\n", longest_gap);
      malloc_trim(0);
      printf("    resident memory %ld MB more (%.0f bytes per element)\n", (status_kb("VmRSS:") - rss0) / 1024,
             (status_kb("VmRSS:") - rss0) * 1024.0 / elements);
    } else {
      printf("    %d rows read in %.1f s (%.0f elements/s); longest time without the main loop: %.0f ms\n", rows_then,
             read_ms / 1e3, rows_then / 2 / (read_ms / 1e3), longest_gap);
      long rss = status_kb("VmRSS:");
      printf("    resident memory %ld MB more at %d rows (%.0f bytes per element read)\n", (rss - rss0) / 1024,
             rows_then, (rss - rss0) * 1024.0 / std::max(1, rows_then / 2));
      double c = now_ms();
      gtk_button_clicked(GTK_BUTTON(cancel));
      int rows_at_cancel = list_rows(list);
      wait_drawn();
      double cancelled = now_ms() - c;
      pump_for(300);
      printf("    Cancel: the read ended and the window was drawn %.1f ms after the click; %d rows kept (%d later)\n",
             cancelled, rows_at_cancel, list_rows(list));
    }
  }
  g_source_remove(ticker);
  if (window) {
    GtkWidget *close = button_in(window, " Close ");
    if (close) gtk_button_clicked(GTK_BUTTON(close));
  }
  wait_drawn();
  kill_vum();
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--parts") && i + 1 < argc) opt.parts = argv[++i];
    else if (!strcmp(argv[i], "--rounds") && i + 1 < argc) opt.rounds = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--per-round") && i + 1 < argc) opt.per_round = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--pin")) opt.pin = true;
    else if (!strcmp(argv[i], "--shots") && i + 1 < argc)
      opt.shots = argv[++i];
    else if (!strcmp(argv[i], "--full-list"))
      opt.full_list = true;
    else {
      fprintf(stderr,
              "usage: views_bench [--parts step,bridge,dump,start,history,list] [--rounds R] [--per-round N] "
              "[--pin] [--full-list] [--shots DIR]\n");
      return 2;
    }
  }
  if (opt.rounds < 1 || opt.per_round < 1) return 2;
  if (!getenv("DISPLAY")) {
    fprintf(stderr, "views_bench: needs an X display (try xvfb-run)\n");
    return 1;
  }
  if (opt.pin) {
    // VUM, the bare client and their debuggers on one processor.
    cpu_set_t one;
    CPU_ZERO(&one);
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    CPU_SET(cpus > 1 ? cpus - 1 : 0, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) perror("sched_setaffinity");
  }
  signal(SIGPIPE, SIG_IGN);
  x_server = find_x_server();
  setenv("ORIGINAL_PATH", getenv("PATH") ? getenv("PATH") : "", 1);
  sim_path = VUM_SIM_BIN_DIR;
  bridge_path = VUM_BRIDGE_BIN_DIR;

  char dir[] = "/tmp/vum-views-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  // VUM's remembered window (its page, the state panel) is this run's own,
  // not the user's: every run starts from the same window.
  setenv("XDG_CONFIG_HOME", dir, 1);
  work_dir = dir;
  // The list of the last part, for the Structures page.
  FILE *f = fopen(".vumrc", "w");
  if (!f) return 1;
  fprintf(f, "{list big 400000 1000000\n  value 4\n}\n");
  fclose(f);
  unsetenv("VUM_SIM_TRANSCRIPT");
  unsetenv("VUM_SIM_STATE");
  unsetenv("VUM_SIM_IMAGE");

  printf("views_bench: load average %s", [] {
    static char text[128] = "?\n";
    FILE *l = fopen("/proc/loadavg", "r");
    if (l) {
      if (!fgets(text, sizeof text, l)) strcpy(text, "?\n");
      fclose(l);
    }
    return text;
  }());
  printf("views_bench: X server %s; %d rounds of %d operations a side%s\n",
         x_server > 0 ? ("pid " + std::to_string(x_server)).c_str() : "not found (its CPU is not shown)",
         opt.rounds, opt.per_round, opt.pin ? ", on one processor" : "");
  fflush(stdout);

  if (!getenv("VUM_BENCH_VERBOSE")) g_set_print_handler([](const gchar *) {});
  start_up(&argc, &argv);
  if (getenv("VUM_BENCH_EXPOSES")) watch_exposes();
  if (getenv("VUM_BENCH_VERBOSE")) {
    watch_signals();
    fprintf(stderr, "views_bench: pid %d\n", (int)getpid());
  }
  for (GtkWidget *w : toplevels())
    if (button_in(w, " Start Bochs ")) main_window_widget = w;
  if (main_window_widget == NULL) {
    fprintf(stderr, "views_bench: no main window\n");
    return 1;
  }
  wait_drawn();

  if (opt.has("start")) part_start();
  if (opt.has("step")) part_step();
  if (opt.has("bridge")) part_bridge();
  if (opt.has("dump")) part_dump();
  if (opt.has("history")) part_history();
  if (opt.has("list")) part_list();

  GtkWidget *quit = button(" Quit ");
  if (quit) gtk_button_clicked(GTK_BUTTON(quit));
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
