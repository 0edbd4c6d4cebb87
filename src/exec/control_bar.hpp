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

extern int next_enabled;       // the current instruction may be stepped over
extern int next_pending;       // a Next's temporary breakpoint is not reached yet
extern uint32_t next_target;   // physical address of that breakpoint

void build_control_bar(GtkWidget *box);
void set_control_bar_sensitive(int online);
void set_run_state(int running);
void go_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void stop_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void step_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void next_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void reply_ready(gpointer data, gint source, GdkInputCondition condition);
void refresh_after_stop();

// Shows a text in one of the three entries of the bar. The entries are
// redrawn once the main loop is idle, with the last text each was given.
void show_in_entry(GtkWidget *entry, const char *text);
