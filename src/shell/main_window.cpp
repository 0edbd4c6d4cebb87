#include "shell/main_window.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <gdk/gdkkeysyms.h>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "history/history.hpp"
#include "kit/long_work.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "link/signal_pipe.hpp"
#include "settings/preferences_page.hpp"
#include "shell/pages.hpp"
#include "views/cpu_state_panel.hpp"

const char *const vum_home_page = "https://vum.example.org/";

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

static void quit_sequence() {
  history_flush_repeats();
  stop_debugger();
  history_close();
  leave_main_loop();
}

static void main_window_destroyed(GtkWidget *, gpointer) { quit_sequence(); }

// SIGTERM, SIGHUP and SIGINT end VUM as Quit does, from the main loop.
static void quit_signal(int) {
  if (!W.main_loop_left) quit_sequence();
}

void quit_clicked(GtkWidget *, gpointer) { quit_sequence(); }

void quit_program(const char *message) {
  history_flush_repeats();
  g_print("VUM: %s\n", message);
  history_close();
  leave_main_loop();
}

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
}

// A long read (a big list or dump, read in parts from the main loop) talks
// to the debugger between its parts: meanwhile nothing else may, as while
// the target runs. Quit, Kill and the read's own Cancel stay.
static void long_work_busy_changed(bool busy) {
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
}

static void stopped(const Stop &stop) {
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
  for (int i = 0; i < page_count; i++)
    if (page_table[i].starting) page_table[i].starting();
}

static void tracing_enabled() {
  history_flush_repeats();
  history_reset_repeats();
}

static void state_button_clicked(GtkWidget *button, gpointer) {
  bool show = !state_panel_shown();
  show_state_panel(show);
  gtk_object_set(GTK_OBJECT(button), "label", show ? " Hide State " : " Show State ", NULL);
}

// What the link, run control and the pages report, to those that show it.
static void connect_events() {
  link_events.starting = link_starting;
  link_events.online = set_debugger_controls_sensitive;
  link_events.started = link_started;
  link_events.reply_ready = run_reply_ready;
  link_events.lost = link_lost;
  link_events.failed_to_run = quit_program;
  link_events.message = history_message;
  run_events.message = history_message;
  run_events.running = run_state_changed;
  run_events.stopped = stopped;
  run_events.hit = hit;
  run_events.traced = history_add_instruction;
  run_events.tracing_enabled = tracing_enabled;
  preferences_events.history_length_changed = history_trim;
  preferences_events.stack_counts_changed = refresh_stack;
  preferences_events.clear_history = history_clear;
  long_work_events.busy = long_work_busy_changed;
}

// Keys a debugger user's hands already know, anywhere in the main window.
// Each one clicks its button, so it does what the button does, and nothing
// while the button is insensitive (the toolkit activates no accelerator of
// an insensitive widget). The buttons' tooltips name them.
static void add_key_bindings() {
  const ControlBar &bar = control_bar();
  GtkAccelGroup *keys = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(W.window), keys);
  struct Binding {
    GtkWidget *button;
    guint key;
    GdkModifierType modifiers;
  } bindings[] = {
      {bar.go_button, GDK_F5, (GdkModifierType)0},
      {bar.stop_button, GDK_F5, GDK_SHIFT_MASK},
      {bar.stop_button, GDK_Escape, (GdkModifierType)0},
      {bar.step_button, GDK_F11, (GdkModifierType)0},
      {bar.next_button, GDK_F10, (GdkModifierType)0},
      {W.quit_button, GDK_q, GDK_CONTROL_MASK},
  };
  for (const Binding &b : bindings)
    gtk_widget_add_accelerator(b.button, "clicked", keys, b.key, b.modifiers, GTK_ACCEL_VISIBLE);
  gtk_widget_set_tooltip_text(bar.go_button, "Run until something stops the target (F5)");
  gtk_widget_set_tooltip_text(bar.stop_button, "Stop the running target (Shift+F5 or Escape)");
  gtk_widget_set_tooltip_text(bar.step_button, "Step one instruction (F11)");
  gtk_widget_set_tooltip_text(bar.next_button, "Step over a call, interrupt, loop or jump (F10)");
  gtk_widget_set_tooltip_text(W.quit_button, "Quit VUM (Ctrl+Q)");
}

void start_up(int *argc, char ***argv) {
  init_link_state();
  connect_events();
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) react_to_signal(sig, NULL, quit_signal);
  gtk_init(argc, argv);

  char paths[3][200];
  int n = resource_file_paths(paths);
  for (int i = 0; i < n; i++) gtk_rc_parse(paths[i]);

  char title[256];
  snprintf(title, sizeof title, "VUM -- %s", vum_home_page);
  W.window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 630, 500);
  connect_signal(W.window, "destroy", VUM_SIGNAL_FUNC(main_window_destroyed), NULL);
  W.box = add_window_box(W.window);

  build_control_bar(W.box);

  W.notebook = gtk_notebook_new();
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(W.notebook), GTK_POS_BOTTOM);
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(W.notebook), TRUE);
  gtk_box_pack_start(GTK_BOX(W.box), W.notebook, TRUE, TRUE, 0);
  gtk_widget_show(W.notebook);

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
  add_key_bindings();

  stop_debugger();
  for (int i = 0; i < page_count; i++)
    if (page_table[i].after_build) page_table[i].after_build();
}
