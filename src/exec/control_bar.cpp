#include "exec/control_bar.hpp"

#include <cstring>

#include "exec/stop_reports.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "views/cpu_state_panel.hpp"

GtkWidget *physical_entry = NULL;
GtkWidget *location_entry = NULL;
GtkWidget *instruction_entry = NULL;
GtkWidget *go_button = NULL;
GtkWidget *stop_button = NULL;
GtkWidget *step_button = NULL;
GtkWidget *next_button = NULL;

bool next_enabled = false;
bool next_pending = false;
uint32_t next_target = 0;

ExecEvents exec_events = {};

void report_message(const char *text) {
  if (exec_events.message) exec_events.message(text);
}

static const char *const offline_banner = ".. o f f l i n e ..";
static const char *const running_banner = ".. r u n n i n g ..";

// The text each entry shows next, when it is not showing it yet.
static GtkWidget **const bar_entries[3] = {&physical_entry, &location_entry, &instruction_entry};
static char entry_texts[3][128];
static bool entry_waiting[3] = {false, false, false};

static void show_entry_texts() {
  for (int i = 0; i < 3; i++) {
    if (!entry_waiting[i]) continue;
    entry_waiting[i] = false;
    if (*bar_entries[i] == NULL) continue;  // the window has gone
    GtkEntry *entry = GTK_ENTRY(*bar_entries[i]);
    if (strcmp(gtk_entry_get_text(entry), entry_texts[i]) != 0) gtk_entry_set_text(entry, entry_texts[i]);
  }
}

void show_in_entry(GtkWidget *entry, const char *text) {
  for (int i = 0; i < 3; i++) {
    if (*bar_entries[i] != entry) continue;
    g_strlcpy(entry_texts[i], text, sizeof entry_texts[i]);
    entry_waiting[i] = true;
    defer_display_update(show_entry_texts);
    return;
  }
  gtk_entry_set_text(GTK_ENTRY(entry), text);
}

static GtkWidget *add_read_only_entry(GtkWidget *box, int expand, int width, GtkWidget **kept) {
  GtkWidget *entry = add_entry(box, expand, width);
  gtk_entry_set_editable(GTK_ENTRY(entry), FALSE);
  // A text still waiting when the window goes (at quit) is not shown.
  connect_signal(entry, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), kept);
  return entry;
}

void build_control_bar(GtkWidget *box) {
  GtkWidget *bar = add_hbox(box, 0);
  physical_entry = add_read_only_entry(bar, 0, 85, &physical_entry);
  location_entry = add_read_only_entry(bar, 0, 140, &location_entry);
  instruction_entry = add_read_only_entry(bar, 1, -1, &instruction_entry);
  go_button = add_button(bar, 0, " Go ");
  connect_signal(go_button, "clicked", VUM_SIGNAL_FUNC(go_clicked), NULL);
  stop_button = add_button(bar, 0, " Stop ");
  connect_signal(stop_button, "clicked", VUM_SIGNAL_FUNC(stop_clicked), NULL);
  step_button = add_button(bar, 0, " Step ");
  connect_signal(step_button, "clicked", VUM_SIGNAL_FUNC(step_clicked), NULL);
  next_button = add_button(bar, 0, " Next ");
  connect_signal(next_button, "clicked", VUM_SIGNAL_FUNC(next_clicked), NULL);
  next_enabled = false;
  next_pending = false;
}

static void set_sensitive(GtkWidget *widget, bool on) {
  if (widget) gtk_widget_set_sensitive(widget, on ? TRUE : FALSE);
}

void set_control_bar_sensitive(bool online) {
  if (!online) {
    show_in_entry(physical_entry, "");
    show_in_entry(location_entry, "");
    show_in_entry(instruction_entry, offline_banner);
    set_sensitive(stop_button, false);
  }
  set_sensitive(go_button, online);
  set_sensitive(step_button, online);
  set_sensitive(next_button, online && next_enabled);
}

void set_run_state(int running) {
  bool run = running == 1;
  if (run) {
    show_in_entry(physical_entry, "");
    show_in_entry(location_entry, "");
    show_in_entry(instruction_entry, running_banner);
  }
  set_sensitive(stop_button, run);
  set_sensitive(go_button, !run);
  set_sensitive(step_button, !run);
  set_sensitive(next_button, !run && next_enabled);
  // The pages and the other controls follow.
  if (exec_events.run_state) exec_events.run_state(run);
}

// The buttons that send commands are insensitive unless the debugger waits at
// its prompt; a handler called any other way does nothing.
static bool debugger_waits() {
  return !debugger_offline && !target_running && reply_stream.is_open();
}

// Lets the target run: the reply to "c\n" is read when it arrives.
static void run_target(const char *message) {
  target_running = true;
  set_run_state(1);
  send_command("%s", command_continue);
  // The character after the last prompt's '>', which wait_for_prompt left.
  reply_stream.get();
  watch_replies();
  report_message(message);
}

void go_clicked(GtkWidget *, gpointer) {
  if (!debugger_waits()) return;
  run_target("GO...");
}

void next_clicked(GtkWidget *, gpointer) {
  if (!debugger_waits()) return;
  next_target = stop_location.physical_address + stop_location.length;
  send_command(format_next_breakpoint, next_target);
  wait_for_prompt();
  next_pending = true;
  run_target("NEXT...");
}

void step_clicked(GtkWidget *, gpointer) {
  if (!debugger_waits()) return;
  send_command("%s", command_step);
  refresh_after_stop();
}

void stop_clicked(GtkWidget *, gpointer) {
  if (!target_running) return;
  handle_reply_ready(false);
}

void reply_ready(gpointer, gint, GdkInputCondition) { handle_reply_ready(true); }

void refresh_after_stop() {
  if (debugger_offline) return;
  read_current_instruction();
  wait_for_prompt();
  // A report cut off by the end of the debugger adds nothing: the lost
  // connection is reported when the end of the child is handled.
  if (instruction_report_lost) return;
  note_new_stop();
  refresh_cpu_state();
  // An unreadable report gives no row: there is no instruction to show.
  if (!instruction_report_unreadable && exec_events.instruction) exec_events.instruction();
}
