#include "shell/main_window.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <gdk/gdkkeysyms.h>

#include "exec/control_bar.hpp"
#include "exec/stop_reports.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/config_file.hpp"
#include "settings/preferences_page.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/dump_windows.hpp"
#include "views/struct_windows.hpp"

GtkWidget *main_window = NULL;
GtkWidget *main_box = NULL;
GtkWidget *notebook = NULL;
GtkWidget *state_panel = NULL;
GtkWidget *start_button = NULL;
uint32_t start_button_handler = 0;
GtkWidget *refresh_all_button = NULL;
GtkWidget *show_state_button = NULL;
int main_loop_left = 0;

const char *const vum_home_page = "https://vum.example.org/";

int resource_file_paths(char paths[3][200]) {
  const char *home = getenv("HOME");
  int n = 0;
  if (home) snprintf(paths[n++], 200, "%s/.gtkrc", home);
  snprintf(paths[n++], 200, "%s/gtkrc-vum", "/usr/local/etc");
  if (home) snprintf(paths[n++], 200, "%s/.gtkrc-vum", home);
  return n;
}

static GtkWidget *append_page_box(const char *title) {
  // Shown before it is appended, so that the first page becomes the current one.
  GtkWidget *page = gtk_vbox_new(FALSE, 5);
  gtk_widget_show(page);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), page, gtk_label_new(title));
  return page;
}

GtkWidget *add_scrolled_page(const char *title) {
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

GtkWidget *add_plain_page(const char *title) { return append_page_box(title); }

void leave_main_loop() {
  main_loop_left = 1;
  if (gtk_main_level() > 0) gtk_main_quit();
}

static void quit_sequence() {
  history_flush_repeats();
  stop_debugger();
  history_close();
  leave_main_loop();
}

void main_window_destroyed(GtkWidget *, gpointer) { quit_sequence(); }

// SIGTERM, SIGHUP and SIGINT end VUM as Quit does. The handler only wakes the
// main loop through a pipe; the quit itself runs there.
static int quit_pipe[2] = {-1, -1};

static void quit_signal_handler(int) {
  int saved = errno;
  ssize_t ignored = write(quit_pipe[1], "q", 1);
  (void)ignored;
  errno = saved;
}

static gboolean quit_signal_ready(GIOChannel *, GIOCondition, gpointer) {
  char drain[16];
  while (read(quit_pipe[0], drain, sizeof drain) > 0) {
  }
  if (!main_loop_left) quit_sequence();
  return TRUE;
}

static void install_quit_signals() {
  if (quit_pipe[0] >= 0 || pipe2(quit_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  GIOChannel *channel = g_io_channel_unix_new(quit_pipe[0]);
  g_io_add_watch(channel, G_IO_IN, quit_signal_ready, NULL);
  g_io_channel_unref(channel);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = quit_signal_handler;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, NULL);
}

void quit_clicked(GtkWidget *, gpointer) { quit_sequence(); }

void quit_program(const char *message) {
  history_flush_repeats();
  g_print("VUM: %s\n", message);
  history_close();
  leave_main_loop();
}

void refresh_all_windows(GtkWidget *, gpointer) {
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next) refresh_struct_window(def);
  for (DumpWindow *w = dump_windows.first; w != NULL; w = w->next) refresh_dump_window(w);
}

// ---------------------------------------------------------------------------
// The controls that follow the link and the run state.

static void set_sensitive(GtkWidget *widget, bool on) {
  if (widget) gtk_widget_set_sensitive(widget, on ? TRUE : FALSE);
}

// The pages and the controls outside the control bar: sensitive while the
// debugger waits at its prompt.
static void set_pages_sensitive(bool on) {
  set_breakpoints_sensitive(on);
  set_watchpoints_sensitive(on);
  set_memory_sensitive(on);
  set_structs_sensitive(on);
  set_sensitive(trace_button, on);
  set_sensitive(refresh_all_button, on);
}

void set_debugger_controls_sensitive(bool on) {
  set_control_bar_sensitive(on);
  set_pages_sensitive(on);
}

static void run_state_changed(bool running) { set_pages_sensitive(!running); }

// ---------------------------------------------------------------------------
// The start button.

void start_clicked(GtkWidget *button, gpointer) {
  if (debugger_offline) {
    g_print("bochs on\n");
    start_debugger();
    gtk_object_set(GTK_OBJECT(button), "label", " Kill Bochs ", NULL);
    if (debugger_offline) {
      set_toggle_quietly(start_button, &start_button_handler, VUM_SIGNAL_FUNC(start_clicked), NULL,
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
static void link_lost() { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(start_button), FALSE); }

// The debugger took its first step: read it, then set the points again.
static void link_started() {
  refresh_after_stop();
  reload_breakpoints_now();
  reload_watchpoints_now();
}

// A new debugger: the history folds afresh, and nothing counts as changed
// until its second stop.
static void link_starting() {
  history_reset_repeats();
  forget_previous_stop();
}

static void tracing_enabled() {
  history_flush_repeats();
  history_reset_repeats();
}

// What the link and execution control report, to the pages that show it.
static void connect_events() {
  link_events.starting = link_starting;
  link_events.online = set_debugger_controls_sensitive;
  link_events.started = link_started;
  link_events.reply_ready = reply_ready;
  link_events.lost = link_lost;
  link_events.failed_to_run = quit_program;
  link_events.message = history_message;
  exec_events.message = history_message;
  exec_events.instruction = history_add_instruction;
  exec_events.tracing_enabled = tracing_enabled;
  exec_events.run_state = run_state_changed;
}

// Keys a debugger user's hands already know, anywhere in the main window.
// Each one clicks its button, so it does what the button does, and nothing
// while the button is insensitive (the toolkit activates no accelerator of
// an insensitive widget). The buttons' tooltips name them.
static void add_key_bindings(GtkWidget *quit_button) {
  GtkAccelGroup *keys = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(main_window), keys);
  struct Binding {
    GtkWidget *button;
    guint key;
    GdkModifierType modifiers;
  } bindings[] = {
      {go_button, GDK_F5, (GdkModifierType)0},
      {stop_button, GDK_F5, GDK_SHIFT_MASK},
      {stop_button, GDK_Escape, (GdkModifierType)0},
      {step_button, GDK_F11, (GdkModifierType)0},
      {next_button, GDK_F10, (GdkModifierType)0},
      {quit_button, GDK_q, GDK_CONTROL_MASK},
  };
  for (const Binding &b : bindings)
    gtk_widget_add_accelerator(b.button, "clicked", keys, b.key, b.modifiers, GTK_ACCEL_VISIBLE);
  gtk_widget_set_tooltip_text(go_button, "Run until something stops the target (F5)");
  gtk_widget_set_tooltip_text(stop_button, "Stop the running target (Shift+F5 or Escape)");
  gtk_widget_set_tooltip_text(step_button, "Step one instruction (F11)");
  gtk_widget_set_tooltip_text(next_button, "Step over a call, interrupt, loop or jump (F10)");
  gtk_widget_set_tooltip_text(quit_button, "Quit VUM (Ctrl+Q)");
}

void start_up(int *argc, char ***argv) {
  state_panel_shown = false;
  init_link_state();
  connect_events();
  install_quit_signals();
  gtk_init(argc, argv);

  char paths[3][200];
  int n = resource_file_paths(paths);
  for (int i = 0; i < n; i++) gtk_rc_parse(paths[i]);

  char title[256];
  snprintf(title, sizeof title, "VUM -- %s", vum_home_page);
  main_window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 630, 500);
  connect_signal(main_window, "destroy", VUM_SIGNAL_FUNC(main_window_destroyed), NULL);
  main_box = add_window_box(main_window);

  build_control_bar(main_box);

  notebook = gtk_notebook_new();
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook), GTK_POS_BOTTOM);
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook), TRUE);
  gtk_box_pack_start(GTK_BOX(main_box), notebook, TRUE, TRUE, 0);
  gtk_widget_show(notebook);

  build_breakpoints_page(add_scrolled_page("Breakpoints"));
  build_watchpoints_page(add_scrolled_page("Watchpoints"));
  build_memory_page(add_scrolled_page("Memory"));
  build_structures_page(add_plain_page("Structures"));
  build_preferences_page(add_scrolled_page("Preferences"));
  build_history_page(add_plain_page("History"));

  state_panel = gtk_hbox_new(FALSE, 12);
  gtk_box_pack_start(GTK_BOX(main_box), state_panel, FALSE, FALSE, 0);
  build_state_panel(state_panel);

  GtkWidget *row = add_hbox(main_box, 0);
  start_button = add_toggle_button(row, 0, " Start Bochs ");
  start_button_handler = connect_signal(start_button, "clicked", VUM_SIGNAL_FUNC(start_clicked), NULL);
  refresh_all_button = add_button(row, 0, " Refresh All Windows ");
  connect_signal(refresh_all_button, "clicked", VUM_SIGNAL_FUNC(refresh_all_windows), NULL);
  show_state_button = add_toggle_button(row, 1, " Show State ");
  connect_signal(show_state_button, "clicked", VUM_SIGNAL_FUNC(toggle_state_panel), NULL);
  GtkWidget *quit = add_button(row, 0, " Quit ");
  connect_signal(quit, "clicked", VUM_SIGNAL_FUNC(quit_clicked), NULL);
  add_key_bindings(quit);

  stop_debugger();
  fill_struct_list();
}
