#include "support/gui_fixture.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "kit/widget_kit.hpp"
#include "link/link_state.hpp"

std::string GuiTest::printed;

#if defined(__SANITIZE_ADDRESS__)
static const gint64 slower_build = 5;
#else
static const gint64 slower_build = 1;
#endif

gint64 GuiTest::promised(gint64 microseconds) { return microseconds * slower_build; }

static void capture_print(const gchar *text) {
  GuiTest::printed += text;
  fputs(text, stdout);
  fflush(stdout);
}

void GuiTest::SetUp() {
  char tmpl[] = "/tmp/vum-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  work_dir = tmpl;
  ASSERT_EQ(chdir(work_dir.c_str()), 0);
  transcript_path = work_dir + "/transcript";
  setenv("VUM_SIM_TRANSCRIPT", transcript_path.c_str(), 1);
  // The window's size and page are remembered under the test's own
  // directory, never the user's.
  setenv("XDG_CONFIG_HOME", (work_dir + "/config").c_str(), 1);
  std::string path = std::string(VUM_SIM_BIN_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  printed.clear();
  g_set_print_handler(capture_print);
}

void GuiTest::TearDown() {
  if (HasFailure()) {
    fprintf(stderr, "--- transcript ---\n%s--- history ---\n", read_file(transcript_path).c_str());
    for (const std::string &t : history_texts()) fprintf(stderr, "%s\n", t.c_str());
  }
  std::string cmd = "rm -rf '" + work_dir + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", work_dir.c_str());
}

namespace {
// The tests share one display, and the pointer is kept in its bottom-right
// corner, over no window. When the toolkit looks for the window under the
// pointer, it asks the X server down through the windows there, whichever
// program they belong to; a window of another test that ends meanwhile
// makes the question fail with BadWindow, which ends this test's process.
void park_pointer() {
  GdkDisplay *display = gdk_display_get_default();
  GdkScreen *screen = gdk_screen_get_default();
  if (display == NULL || screen == NULL) return;
  gdk_display_warp_pointer(display, screen, gdk_screen_get_width(screen) - 1, gdk_screen_get_height(screen) - 1);
  gdk_flush();
}
}  // namespace

void GuiTest::init_toolkit() {
  // A display that is briefly not accepting connections (a busy virtual
  // server) is tried again rather than failing the test.
  for (int i = 0; i < 50 && !gtk_init_check(NULL, NULL); i++) g_usleep(100000);
  park_pointer();
}

bool GuiTest::simulate_key(GdkWindow *window, guint key, GdkModifierType modifiers) {
  bool sent = gdk_test_simulate_key(window, -1, -1, key, modifiers, GDK_KEY_PRESS) &&
              gdk_test_simulate_key(window, -1, -1, key, modifiers, GDK_KEY_RELEASE);
  park_pointer();
  return sent;
}

void GuiTest::build_window() {
  init_toolkit();
  static char name[] = "vum";
  static char *args[] = {name, NULL};
  int argc = 1;
  char **argv = args;
  start_up(&argc, &argv);
}

bool GuiTest::pump_until(const std::function<bool()> &done, int timeout_ms) {
  gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
  for (;;) {
    // A source that is always ready (a guest printing without pause) must
    // not keep the loop here past the deadline.
    while (g_main_context_iteration(NULL, FALSE)) {
      if (done()) return true;
      if (g_get_monotonic_time() > deadline) return false;
    }
    if (done()) return true;
    if (g_get_monotonic_time() > deadline) return false;
    g_usleep(2000);
  }
}

void GuiTest::pump_for(int ms) {
  pump_until([] { return false; }, ms);
}

void GuiTest::drawn() {
  for (int pass = 0; pass < 3; pass++) {
    gdk_flush();
    pump_until([] { return !gtk_events_pending(); }, 5000);
    gdk_window_process_all_updates();
  }
  gdk_flush();
}

std::vector<guchar> GuiTest::offscreen_pixels(GtkWidget *window) {
  std::vector<guchar> out;
  GdkPixbuf *shot = gtk_offscreen_window_get_pixbuf(GTK_OFFSCREEN_WINDOW(window));
  if (shot == NULL) return out;
  int rowstride = gdk_pixbuf_get_rowstride(shot), width = gdk_pixbuf_get_width(shot) * gdk_pixbuf_get_n_channels(shot);
  const guchar *p = gdk_pixbuf_get_pixels(shot);
  for (int y = 0; y < gdk_pixbuf_get_height(shot); y++) out.insert(out.end(), p + y * rowstride, p + y * rowstride + width);
  g_object_unref(shot);
  return out;
}

void GuiTest::click(GtkWidget *button) {
  ASSERT_NE(button, nullptr);
  gtk_button_clicked(GTK_BUTTON(button));
}

void GuiTest::type_into(GtkWidget *entry, const std::string &text) {
  gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
}

void GuiTest::activate(GtkWidget *entry) { gtk_widget_activate(entry); }

void GuiTest::start_bochs() {
  // The start runs to its first stop inside the click.
  click(main_window().start_button);
  ASSERT_FALSE(link_seam().debugger_offline) << "the debugger did not start";
}

std::string GuiTest::entry_text(GtkWidget *entry) const {
  flush_display_updates();
  return gtk_entry_get_text(GTK_ENTRY(entry));
}

std::string GuiTest::button_label(GtkWidget *button) const {
  const gchar *l = gtk_button_get_label(GTK_BUTTON(button));
  return l ? l : "";
}

std::string GuiTest::cell(GtkWidget *list, int row, int column) const {
  flush_display_updates();
  if (GTK_IS_TREE_VIEW(list)) {
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
    GtkTreeIter iter;
    if (model == NULL || column < 0 || column >= gtk_tree_model_get_n_columns(model) ||
        !gtk_tree_model_iter_nth_child(model, &iter, NULL, row))
      return "<none>";
    gchar *text = NULL;
    gtk_tree_model_get(model, &iter, column, &text, -1);
    std::string out = text ? text : "<none>";
    g_free(text);
    return out;
  }
  gchar *text = NULL;
  if (!gtk_clist_get_text(GTK_CLIST(list), row, column, &text) || text == NULL) return "<none>";
  return text;
}

int GuiTest::row_count(GtkWidget *list) const {
  flush_display_updates();
  if (GTK_IS_TREE_VIEW(list)) {
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
    return model ? gtk_tree_model_iter_n_children(model, NULL) : 0;
  }
  return GTK_CLIST(list)->rows;
}

int GuiTest::selected_row(GtkWidget *list) const {
  flush_display_updates();
  if (GTK_IS_TREE_VIEW(list)) {
    GtkTreeModel *model;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), &model, &iter)) return -1;
    GtkTreePath *path = gtk_tree_model_get_path(model, &iter);
    int row = path ? gtk_tree_path_get_indices(path)[0] : -1;
    gtk_tree_path_free(path);
    return row;
  }
  GList *selection = GTK_CLIST(list)->selection;
  return selection ? GPOINTER_TO_INT(selection->data) : -1;
}

int GuiTest::column_width(GtkWidget *list, int column) const {
  if (GTK_IS_TREE_VIEW(list)) return gtk_tree_view_column_get_width(gtk_tree_view_get_column(GTK_TREE_VIEW(list), column));
  return GTK_CLIST(list)->column[column].width;
}

bool GuiTest::row_fully_visible(GtkWidget *list, int row) const {
  flush_display_updates();
  if (GTK_IS_TREE_VIEW(list)) {
    GdkRectangle shown, area;
    gtk_tree_view_get_visible_rect(GTK_TREE_VIEW(list), &shown);
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_view_get_background_area(GTK_TREE_VIEW(list), path, NULL, &area);
    gtk_tree_path_free(path);
    int top, bottom;  // the row's place in the whole list, as the visible rectangle's
    gtk_tree_view_convert_bin_window_to_tree_coords(GTK_TREE_VIEW(list), 0, area.y, NULL, &top);
    bottom = top + area.height;
    return area.height > 0 && top >= shown.y && bottom <= shown.y + shown.height;
  }
  return gtk_clist_row_is_visible(GTK_CLIST(list), row) == GTK_VISIBILITY_FULL;
}

bool GuiTest::sensitive(GtkWidget *widget) const { return GTK_WIDGET_SENSITIVE(widget); }

bool GuiTest::active(GtkWidget *toggle) const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
}

std::vector<std::string> GuiTest::history_texts() const {
  std::vector<std::string> out;
  if (history_page().list == NULL) return out;
  flush_display_updates();
  for (int r = 0; r < row_count(history_page().list); r++) out.push_back(cell(history_page().list, r, 3));
  return out;
}

bool GuiTest::history_has(const std::string &text) const {
  for (const std::string &t : history_texts())
    if (t == text) return true;
  return false;
}

std::vector<std::string> GuiTest::transcript() const {
  std::vector<std::string> lines;
  std::istringstream in(read_file(transcript_path));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool GuiTest::transcript_has(const std::string &line) const {
  for (const std::string &l : transcript())
    if (l == line) return true;
  return false;
}

bool GuiTest::wait_for_transcript(const std::vector<std::string> &expected, int timeout_ms) {
  return pump_until([&] { return transcript() == expected; }, timeout_ms);
}

std::string GuiTest::read_file(const std::string &path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int GuiTest::zombie_children() const {
  int zombies = 0;
  DIR *proc = opendir("/proc");
  if (!proc) return -1;
  pid_t me = getpid();
  while (struct dirent *e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::string stat = read_file(std::string("/proc/") + e->d_name + "/stat");
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &ppid) == 2 && ppid == me &&
        state == 'Z')
      zombies++;
  }
  closedir(proc);
  return zombies;
}

int GuiTest::open_descriptors() const {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n;
}
