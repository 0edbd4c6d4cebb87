// The Breakpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "exec/run_control.hpp"
#include "points/point_page.hpp"
#include "text/point_lists.hpp"

void build_breakpoints_page(GtkWidget *box);

// Shows the debugger's list; asks for it first unless skip_query.
void refresh_breakpoints(bool skip_query);
void set_breakpoints_sensitive(bool on);

// A new debugger has taken its first step: the breakpoints of the last list
// are added again (when the reload setting says so), and the list read.
void reload_breakpoints_now();

// A stop: the breakpoint hit is marked in the list.
void breakpoints_hit(const Stop &stop);
void mark_breakpoint_hit(uint32_t number);

// The page's state: one record (the test seam).
struct BreakpointsPage {
  PointWidgets w;
  Breakpoint table[point_table_size];
};
BreakpointsPage &breakpoints_page();
