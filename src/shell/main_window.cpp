#include "shell/main_window.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "guest/guest_output_page.hpp"
#include "history/history.hpp"
#include "kit/long_work.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "link/signal_pipe.hpp"
#include "code/code_page.hpp"
#include "console/console_page.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/config_file.hpp"
#include "settings/preferences_page.hpp"
#include "shell/command_line.hpp"
#include "shell/pages.hpp"
#include "shell/status_line.hpp"
#include "code/code_page.hpp"
#include "shell/window_memory.hpp"
#include "tables/long_read.hpp"
#include "text/symbol_places.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/dump_windows.hpp"

static MainWindow W = {};

MainWindow &main_window() { return W; }

int resource_file_paths(char paths[3][200]) {
  const char *home = getenv("HOME");
  int n = 0;
  if (home) snprintf(paths[n++], 200, "%s/.gtkrc", home);
  snprintf(paths[n++], 200, "%s/gtkrc-vum", "/usr/local/etc");
  if (home) snprintf(paths[n++], 200, "%s/.gtkrc-vum", home);
  return n;
}

// The least height the pages ask for: their tabs and a few rows.
const int least_pages_height = 100;

static GtkWidget *append_page_box(const char *title) {
  // Shown before it is appended, so that the first page becomes the current one.
  GtkWidget *page = gtk_vbox_new(FALSE, 5);
  gtk_widget_show(page);
  gtk_notebook_append_page(GTK_NOTEBOOK(W.notebook), page, gtk_label_new(title));
  return page;
}

static GtkWidget *add_scrolled_page(const char *title) {
  GtkWidget *page = append_page_box(title);
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_container_set_border_width(GTK_CONTAINER(scrolled), 0);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_box_pack_start(GTK_BOX(page), scrolled, TRUE, TRUE, 0);
  gtk_widget_show(scrolled);
  GtkWidget *frame = gtk_frame_new(NULL);
  gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_NONE);
  gtk_container_set_border_width(GTK_CONTAINER(frame), 5);
  gtk_scrolled_window_add_with_viewport(GTK_SCROLLED_WINDOW(scrolled), frame);
  gtk_widget_show(frame);
  GtkWidget *inner = gtk_vbox_new(FALSE, 5);
  gtk_container_add(GTK_CONTAINER(frame), inner);
  gtk_widget_show(inner);
  return inner;
}

void leave_main_loop() {
  W.main_loop_left = 1;
  if (gtk_main_level() > 0) gtk_main_quit();
}

// The window as it is now, for the next start: every way of ending VUM
// saves it first.
static void remember_window() {
  WindowMemory memory;
  memory.width = W.width;
  memory.height = W.height;
  memory.state_shown = state_panel_shown();
  if (W.notebook) {
    GtkNotebook *notebook = GTK_NOTEBOOK(W.notebook);
    GtkWidget *page = gtk_notebook_get_nth_page(notebook, gtk_notebook_get_current_page(notebook));
    const gchar *title = page ? gtk_notebook_get_tab_label_text(notebook, page) : NULL;
    if (title) memory.page = title;
  }
  save_window_memory(memory);
}

// The window as it was left last time: its size at once, the state panel
// and the page once every page is built.
static void restore_window_size(const WindowMemory &memory) {
  W.width = memory.width;
  W.height = memory.height;
  gtk_window_resize(GTK_WINDOW(W.window), memory.width, memory.height);
}

static bool restoring_window = false;

static void restore_window_contents(const WindowMemory &memory) {
  restoring_window = true;
  if (memory.state_shown != state_panel_shown()) gtk_button_clicked(GTK_BUTTON(W.show_state_button));
  restoring_window = false;
  GtkNotebook *notebook = GTK_NOTEBOOK(W.notebook);
  for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++) {
    const gchar *title = gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, i));
    if (title && memory.page == title) gtk_notebook_set_current_page(notebook, i);
  }
}

static gboolean window_configured(GtkWidget *, GdkEventConfigure *event, gpointer) {
  W.width = event->width;
  W.height = event->height;
  return FALSE;
}

static void quit_sequence() {
  remember_window();
  history_flush_repeats();
  stop_debugger();
  for (int i = 0; i < page_count; i++)
    if (page_table[i].quit) page_table[i].quit();
  history_close();
  leave_main_loop();
}

static void main_window_destroyed(GtkWidget *, gpointer) {
  quit_sequence();
  W.menus = MenuBar();  // its UI manager goes with the window
}

// SIGTERM, SIGHUP and SIGINT end VUM as Quit does, from the main loop.
static void quit_signal(int) {
  if (!W.main_loop_left) quit_sequence();
}

void quit_clicked(GtkWidget *, gpointer) { quit_sequence(); }

void refresh_all_windows(GtkWidget *, gpointer) {
  int last_rank = 0;
  for (int i = 0; i < page_count; i++) last_rank = MAX(last_rank, page_table[i].refresh_rank);
  for (int rank = 1; rank <= last_rank; rank++)
    for (int i = 0; i < page_count; i++)
      if (page_table[i].refresh_rank == rank && page_table[i].refresh_windows) page_table[i].refresh_windows();
}

// ---------------------------------------------------------------------------
// The controls that follow the link and the run state.

// The pages and the controls outside the control bar: sensitive while the
// debugger waits at its prompt.
static void set_pages_sensitive(bool on) {
  for (int i = 0; i < page_count; i++)
    if (page_table[i].set_sensitive) page_table[i].set_sensitive(on);
  if (W.refresh_all_button) gtk_widget_set_sensitive(W.refresh_all_button, on ? TRUE : FALSE);
}

void set_debugger_controls_sensitive(bool on) {
  set_control_bar_sensitive(on);
  set_pages_sensitive(on);
  status_line_online(on);
}

// A long read (a big list or dump, a table, a search: read in parts from
// the main loop) talks to the debugger between its parts: meanwhile nothing
// else may, as while the target runs. Quit, Kill and the read's own Cancel
// stay.
static void long_read_busy(bool busy) {
  if (busy) {
    const ControlBar &bar = control_bar();
    for (GtkWidget *b : {bar.go_button, bar.step_button, bar.next_button})
      if (b) gtk_widget_set_sensitive(b, FALSE);
  } else if (debugger_waits()) {
    set_control_bar_sensitive(true);
  }
  set_pages_sensitive(!busy && debugger_waits());
}

static void run_state_changed(bool running) {
  control_bar_running(running);
  set_pages_sensitive(!running);
  status_line_running(running);
}

static void stopped(const Stop &stop) {
  // Symbols are named by the registers of this stop from here on.
  if (!stop.report.lost && stop.readable) remember_stop_registers(stop.cpu);
  status_line_stopped(stop);
  control_bar_stopped(stop);
  for (int i = 0; i < page_count; i++)
    if (page_table[i].stopped) page_table[i].stopped(stop);
}

static void hit(const Stop &stop) {
  for (int i = 0; i < page_count; i++)
    if (page_table[i].hit) page_table[i].hit(stop);
}

// ---------------------------------------------------------------------------
// The start button.

static void start_clicked(GtkWidget *button, gpointer) {
  if (!debugger_online()) {
    g_print("bochs on\n");
    start_debugger();
    gtk_object_set(GTK_OBJECT(button), "label", " Kill Bochs ", NULL);
    if (!debugger_online()) {
      set_toggle_quietly(W.start_button, &W.start_button_handler, VUM_SIGNAL_FUNC(start_clicked), NULL,
                         FALSE);
      gtk_object_set(GTK_OBJECT(button), "label", " Start Bochs ", NULL);
    }
  } else {
    g_print("bochs off\n");
    stop_debugger();
    gtk_object_set(GTK_OBJECT(button), "label", " Start Bochs ", NULL);
  }
}

// The child has gone: the button pops up, and its handler takes the link down.
static void link_lost() { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W.start_button), FALSE); }

// The debugger is at its first prompt: its first step is read, then the
// pages set their points again.
static void link_started() {
  run_first_step();
  for (int i = 0; i < page_count; i++)
    if (page_table[i].reload) page_table[i].reload();
}

// A new debugger: the pages start afresh.
static void link_starting() {
  forget_stop_registers();
  for (int i = 0; i < page_count; i++)
    if (page_table[i].starting) page_table[i].starting();
}

static void tracing_enabled() {
  history_flush_repeats();
  history_reset_repeats();
}

// The tallest a window grows by itself: a 1024 x 768 screen less a title
// bar. The user may make it taller.
const int tallest_grown_window = 740;

// Showing the state panel grows the window so that the panel has all the
// room it asks for (every register, every flag, the stack's rows and
// columns) and the pages keep their height, as far as the screen and
// `tallest_grown_window` allow: the pages give up height first. Hiding it
// gives back what was grown, unless the user has resized the window since.
static struct {
  int width, height;                // the size the window was grown to (height 0: not grown)
  int before_width, before_height;  // and its size before
} grown;

static void grow_for_state_panel(bool shown) {
  GtkWindow *window = GTK_WINDOW(W.window);
  if (!shown) {
    if (grown.height > 0 && W.width == grown.width && W.height == grown.height)
      gtk_window_resize(window, grown.before_width, grown.before_height);
    grown.height = 0;
    return;
  }
  GtkRequisition panel, whole;
  gtk_widget_size_request(W.state_panel, &panel);
  // The least the window's contents can be, with the panel (the window's own
  // request is its default size).
  gtk_widget_size_request(GTK_BIN(W.window)->child, &whole);
  whole.width += 2 * GTK_CONTAINER(W.window)->border_width;
  whole.height += 2 * GTK_CONTAINER(W.window)->border_width;
  GdkScreen *screen = gtk_window_get_screen(window);
  const int screen_width = gdk_screen_get_width(screen), screen_height = gdk_screen_get_height(screen);
  const int width = MIN(MAX(W.width, whole.width), screen_width);
  int height = W.height + panel.height + GTK_BOX(W.box)->spacing;
  height = MIN(height, MIN(tallest_grown_window, screen_height));
  height = MAX(height, MAX(whole.height, W.height));
  grown.before_width = W.width;
  grown.before_height = W.height;
  gtk_window_resize(window, width, height);
  grown.width = W.width = width;
  grown.height = W.height = height;
}

static void state_button_clicked(GtkWidget *button, gpointer) {
  bool show = !state_panel_shown();
  show_state_panel(show);
  gtk_object_set(GTK_OBJECT(button), "label", show ? " Hide State " : " Show State ", NULL);
  // A window restored as it was left keeps its size.
  if (!restoring_window) grow_for_state_panel(show);
}

// A register the user set. The location shown stays the last stop's: the
// debugger reports a location only when the CPU stops.
static void register_set(RegisterEntry entry) {
  if (entry == entry_eip)
    history_message("EIP was set: the location shown is the last stop's until the next step");
}

// What the link, run control and the pages report, to those that show it.
static void connect_events() {
  link_events.starting = link_starting;
  link_events.online = set_debugger_controls_sensitive;
  link_events.started = link_started;
  link_events.reply_ready = run_reply_ready;
  link_events.lost = link_lost;
  link_events.message = history_message;
  link_events.guest_output = guest_output_received;
  run_events.message = history_message;
  run_events.running = run_state_changed;
  run_events.stopped = stopped;
  run_events.hit = hit;
  run_events.traced = history_add_instruction;
  run_events.tracing_enabled = tracing_enabled;
  run_events.own_breakpoint = code_page_own_breakpoint;
  preferences_events.history_length_changed = history_trim;
  preferences_events.stack_counts_changed = refresh_stack;
  preferences_events.clear_history = history_clear;
  preferences_events.message = history_message;
  tables_events.open_dump = open_dump_at;
  tables_events.busy = long_read_busy;
  code_events.message = history_message;
  code_events.breakpoints_changed = [] { refresh_breakpoints(false); };
  code_events.symbols_changed = [] { refresh_breakpoints(true); };
  console_events.points_changed = [] {
    refresh_breakpoints(false);
    refresh_watchpoints(false);
  };
  long_work_events.busy = long_read_busy;
  state_panel_events.register_set = register_set;
}

// The keys a debugger user's hands already know are the menu items' (see
// menus.cpp); each item clicks its button. The buttons' tooltips name them.
static void name_keys_in_tooltips() {
  const ControlBar &bar = control_bar();
  gtk_widget_set_tooltip_text(bar.go_button, "Run until something stops the target (F5)");
  gtk_widget_set_tooltip_text(bar.stop_button, "Stop the running target (Shift+F5 or Escape)");
  gtk_widget_set_tooltip_text(bar.step_button, "Step one instruction (F11)");
  gtk_widget_set_tooltip_text(bar.next_button, "Step over a call, interrupt, loop or jump (F10)");
  gtk_widget_set_tooltip_text(W.quit_button, "Quit VUM (Ctrl+Q)");
}

std::string main_window_title() { return "VUM -- " + debugged_target(); }

void load_symbols(const char *path) {
  W.symbols_file = path;
  load_symbols_file(path);
}

void start_up(int *argc, char ***argv) {
  init_link_state();
  set_bochsrc(command_line().bochsrc.c_str());
  set_config_file_name(command_line().config.c_str());
  connect_events();
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) react_to_signal(sig, NULL, quit_signal);
  gtk_init(argc, argv);

  char paths[3][200];
  int n = resource_file_paths(paths);
  for (int i = 0; i < n; i++) gtk_rc_parse(paths[i]);

  // The default size is also the smallest the window can be given.
  const WindowMemory defaults;
  const WindowMemory remembered = read_window_memory();
  W.window = new_top_window(GTK_WINDOW_TOPLEVEL, main_window_title().c_str(), defaults.width, defaults.height);
  restore_window_size(remembered);
  connect_signal(W.window, "destroy", VUM_SIGNAL_FUNC(main_window_destroyed), NULL);
  connect_signal(W.window, "configure-event", VUM_SIGNAL_FUNC(window_configured), NULL);
  // The size is where the window starts; it never gets smaller than what it
  // holds asks for, so nothing in it is ever cut off.
  gtk_widget_set_size_request(W.window, -1, -1);
  gtk_window_set_default_size(GTK_WINDOW(W.window), defaults.width, defaults.height);
  // The menu bar runs from edge to edge; the rest keeps its border.
  gtk_container_set_border_width(GTK_CONTAINER(W.window), 0);
  GtkWidget *outer = add_window_box(W.window);
  gtk_box_set_spacing(GTK_BOX(outer), 0);
  W.box = add_vbox(outer, 1);
  gtk_container_set_border_width(GTK_CONTAINER(W.box), 5);

  build_control_bar(W.box);

  W.notebook = gtk_notebook_new();
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(W.notebook), GTK_POS_BOTTOM);
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(W.notebook), TRUE);
  gtk_box_pack_start(GTK_BOX(W.box), W.notebook, TRUE, TRUE, 0);
  // The pages take the room the window has: they ask for little height of
  // their own, so that the state panel always gets all it asks for.
  gtk_widget_set_size_request(W.notebook, -1, least_pages_height);
  gtk_widget_show(W.notebook);
  connect_signal(W.notebook, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &W.notebook);

  for (int i = 0; i < page_count; i++) {
    const PageRow &row = page_table[i];
    if (row.title == NULL) continue;
    row.build(row.scrolled ? add_scrolled_page(row.title) : append_page_box(row.title));
  }

  W.state_panel = gtk_hbox_new(FALSE, 12);
  gtk_box_pack_start(GTK_BOX(W.box), W.state_panel, FALSE, FALSE, 0);
  for (int i = 0; i < page_count; i++)
    if (page_table[i].title == NULL) page_table[i].build(W.state_panel);

  GtkWidget *row = add_hbox(W.box, 0);
  W.start_button = add_toggle_button(row, 0, " Start Bochs ");
  W.start_button_handler = connect_signal(W.start_button, "clicked", VUM_SIGNAL_FUNC(start_clicked), NULL);
  W.refresh_all_button = add_button(row, 0, " Refresh All Windows ");
  connect_signal(W.refresh_all_button, "clicked", VUM_SIGNAL_FUNC(refresh_all_windows), NULL);
  W.show_state_button = add_toggle_button(row, 1, " Show State ");
  connect_signal(W.show_state_button, "clicked", VUM_SIGNAL_FUNC(state_button_clicked), NULL);
  W.quit_button = add_button(row, 0, " Quit ");
  connect_signal(W.quit_button, "clicked", VUM_SIGNAL_FUNC(quit_clicked), NULL);
  build_status_line(W.box);
  name_keys_in_tooltips();

  W.menus = build_menu_bar(W.window, page_table, page_count);
  gtk_box_pack_start(GTK_BOX(outer), W.menus.widget, FALSE, FALSE, 0);
  gtk_box_reorder_child(GTK_BOX(outer), W.menus.widget, 0);

  stop_debugger();
  for (int i = 0; i < page_count; i++)
    if (page_table[i].after_build) page_table[i].after_build();
  restore_window_contents(remembered);
  if (!command_line().symbols.empty()) load_symbols(command_line().symbols.c_str());
}
