// The Watchpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/widget_kit.hpp"
#include "points/point_lists.hpp"

extern Watchpoint watchpoint_table[30];
extern uint32_t watchpoint_count;
extern int32_t watchpoint_selected_row;

extern GtkWidget *watchpoint_list;
extern GtkWidget *remove_watchpoint_button;
extern GtkWidget *remove_all_watchpoints_button;
extern ButtonGroup *watchpoint_kind_group;
extern GtkWidget *watchpoint_entry;
extern GtkWidget *add_watchpoint_button;

// Add the watchpoints of the last list again when a new debugger has
// started; a setting of the Preferences page.
extern bool reload_watchpoints;

void build_watchpoints_page(GtkWidget *page);
void query_watchpoints();
void refresh_watchpoints(bool skip_query);
void add_watchpoint(GtkWidget *widget, gpointer refresh);
void remove_watchpoint(GtkWidget *widget, gpointer data);
void remove_all_watchpoints(GtkWidget *widget, gpointer data);
void watchpoint_row_selected(GtkWidget *list, gint row, gint column, GdkEvent *event, gpointer data);
void watchpoint_row_unselected(GtkWidget *list, gint row, gint column, GdkEvent *event,
                               gpointer data);
void set_watchpoints_sensitive(bool on);
void reload_watchpoints_now();
void mark_watchpoint_hit(WatchpointKind kind, uint32_t address);
