// The Watchpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>
#include <cstdio>

#include "shell/widget_kit.hpp"

struct Watchpoint {
  uint32_t kind;     // 0 read, 1 write
  int32_t in_use;    // read completely by the last query; the first 0 ends the live entries
  uint32_t address;  // watched physical address
  uint32_t value;    // value shown by the debugger
  uint32_t width;    // 2 or 4 bytes
};

extern Watchpoint watchpoint_table[30];
extern uint32_t watchpoint_count;
extern int32_t watchpoint_selected_row;

extern GtkWidget *watchpoint_list;
extern GtkWidget *remove_watchpoint_button;
extern GtkWidget *remove_all_watchpoints_button;
extern ButtonGroup *watchpoint_kind_group;
extern GtkWidget *watchpoint_entry;
extern GtkWidget *add_watchpoint_button;

// Reads a "watch" reply from `in` into `table` and `*count`: every entry is
// first marked not in use and the count set to 0. Leaves the prompt unread.
// The result is false when the stream ended while an entry was looked for
// (no prompt is to be read then), true otherwise.
bool scan_watchpoint_list(FILE *in, Watchpoint table[30], uint32_t *count);

void build_watchpoints_page(GtkWidget *page);
void query_watchpoints();
void refresh_watchpoints(int skip_query);
void add_watchpoint(GtkWidget *widget, gpointer refresh);
void remove_watchpoint(GtkWidget *widget, gpointer data);
void remove_all_watchpoints(GtkWidget *widget, gpointer data);
void watchpoint_row_selected(GtkWidget *list, gint row, gint column, GdkEvent *event, gpointer data);
void watchpoint_row_unselected(GtkWidget *list, gint row, gint column, GdkEvent *event,
                               gpointer data);
void set_watchpoints_sensitive(int on);
void reload_watchpoints_now();
void mark_watchpoint_hit(uint32_t kind, uint32_t address);
