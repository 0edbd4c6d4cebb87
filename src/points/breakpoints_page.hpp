// The Breakpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

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

void build_breakpoints_page(GtkWidget *page);
void query_breakpoints();
void refresh_breakpoints(int skip_query);
void set_breakpoints_sensitive(int on);
void reload_breakpoints_now();
void mark_breakpoint_hit(uint32_t number);
