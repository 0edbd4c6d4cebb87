// The Watchpoints page and its 30-entry table.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

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

void build_watchpoints_page(GtkWidget *page);
void query_watchpoints();
void refresh_watchpoints(int skip_query);
void set_watchpoints_sensitive(int on);
void reload_watchpoints_now();
void mark_watchpoint_hit(uint32_t kind, uint32_t address);
