// The Breakpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>
#include <cstdio>

#include "shell/widget_kit.hpp"

struct Breakpoint {
  uint32_t number;   // the debugger's number, argument of the delete command
  uint32_t kind;     // 0 physical, 1 linear, 2 virtual
  int32_t enabled;   // 1 when listed as enabled; the first 0 ends the live entries
  uint32_t segment;  // virtual breakpoints only
  uint32_t offset;   // address, or offset within `segment`
};

extern Breakpoint breakpoint_table[30];
extern uint32_t breakpoint_count;
extern int32_t breakpoint_selected_row;

extern GtkWidget *breakpoint_list;
extern GtkWidget *remove_breakpoint_button;
extern GtkWidget *remove_all_breakpoints_button;
extern ButtonGroup *breakpoint_kind_group;
extern GtkWidget *breakpoint_entry;
extern GtkWidget *add_breakpoint_button;

// Reads an "info break" reply from `in` into `table` and `*count`: every
// entry is first marked not live and the count set to 0. Leaves the prompt
// unread. The result is false when the stream ended before the list did
// (no prompt is to be read then), true otherwise.
bool scan_breakpoint_list(FILE *in, Breakpoint table[30], uint32_t *count);

void build_breakpoints_page(GtkWidget *page);
void query_breakpoints();
void refresh_breakpoints(int skip_query);
void add_breakpoint(GtkWidget *widget, gpointer refresh);
void remove_breakpoint(GtkWidget *widget, gpointer data);
void remove_all_breakpoints(GtkWidget *widget, gpointer data);
void breakpoint_row_selected(GtkWidget *list, gint row, gint column, GdkEvent *event, gpointer data);
void breakpoint_row_unselected(GtkWidget *list, gint row, gint column, GdkEvent *event,
                               gpointer data);
void set_breakpoints_sensitive(int on);
void reload_breakpoints_now();
void mark_breakpoint_hit(uint32_t number);
