// The control bar: where the CPU stands, and Go, Stop, Step and Next.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

extern GtkWidget *physical_entry;
extern GtkWidget *location_entry;
extern GtkWidget *instruction_entry;
extern GtkWidget *go_button;
extern GtkWidget *stop_button;
extern GtkWidget *step_button;
extern GtkWidget *next_button;

extern bool next_enabled;      // the current instruction may be stepped over
extern bool next_pending;      // a Next's temporary breakpoint is not reached yet
extern uint32_t next_target;   // physical address of that breakpoint

// What execution control reports to the rest of the window; the shell
// connects them. Every member may be left empty.
struct ExecEvents {
  void (*message)(const char *text);  // an event for the history
  void (*instruction)();              // the CPU stopped at stop_location, for the history
  void (*tracing_enabled)();          // tracing was switched on
  void (*run_state)(bool running);    // the target started or stopped running
};
extern ExecEvents exec_events;

void build_control_bar(GtkWidget *box);
void set_control_bar_sensitive(bool online);
void set_run_state(int running);

// Tells the history (through exec_events).
void report_message(const char *text);
void go_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void stop_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void step_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void next_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void reply_ready(gpointer data, gint source, GdkInputCondition condition);
void refresh_after_stop();

// Shows a text in one of the three entries of the bar. The entries are
// redrawn once the main loop is idle, with the last text each was given.
void show_in_entry(GtkWidget *entry, const char *text);
