// The Watchpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "exec/run_control.hpp"
#include "points/point_page.hpp"
#include "text/point_lists.hpp"

void build_watchpoints_page(GtkWidget *box);

// Shows the debugger's list; asks for it first unless skip_query.
void refresh_watchpoints(bool skip_query);
void set_watchpoints_sensitive(bool on);

// A new debugger has taken its first step: the watchpoints of the last list
// are added again (when the reload setting says so), and the list read.
void reload_watchpoints_now();

// A stop: the list is read again while it has entries (their values may
// have changed), and the watchpoint hit is marked.
void watchpoints_stopped(const Stop &stop);
void watchpoints_starting();
void watchpoints_hit(const Stop &stop);
void mark_watchpoint_hit(WatchpointKind kind, uint32_t address);

// The page's state: one record (the test seam).
struct WatchpointsPage {
  PointWidgets w;
  Watchpoint table[point_table_size];
};
WatchpointsPage &watchpoints_page();
