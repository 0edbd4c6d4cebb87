// The Breakpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/widget_kit.hpp"
#include "points/point_lists.hpp"

extern Breakpoint breakpoint_table[30];
extern uint32_t breakpoint_count;
extern int32_t breakpoint_selected_row;

extern GtkWidget *breakpoint_list;
extern GtkWidget *remove_breakpoint_button;
extern GtkWidget *remove_all_breakpoints_button;
extern ButtonGroup *breakpoint_kind_group;
extern GtkWidget *breakpoint_entry;
extern GtkWidget *add_breakpoint_button;

// Add the breakpoints of the last list again when a new debugger has
// started; a setting of the Preferences page.
extern bool reload_breakpoints;

void build_breakpoints_page(GtkWidget *page);
void query_breakpoints();
void refresh_breakpoints(bool skip_query);
void add_breakpoint(GtkWidget *widget, gpointer refresh);
void remove_breakpoint(GtkWidget *widget, gpointer data);
void remove_all_breakpoints(GtkWidget *widget, gpointer data);
void breakpoint_row_selected(GtkWidget *list, gint row, gint column, GdkEvent *event, gpointer data);
void breakpoint_row_unselected(GtkWidget *list, gint row, gint column, GdkEvent *event,
                               gpointer data);
void set_breakpoints_sensitive(bool on);
void reload_breakpoints_now();
void mark_breakpoint_hit(uint32_t number);
