#include "points/breakpoints_page.hpp"

// The Breakpoints page is not built yet; these keep their final names.

Breakpoint breakpoint_table[30];
uint32_t breakpoint_count = 0;
int32_t breakpoint_selected_row = -1;

void build_breakpoints_page(GtkWidget *) {}
void query_breakpoints() {}
void refresh_breakpoints(int) {}
void set_breakpoints_sensitive(int) {}
void reload_breakpoints_now() {}
void mark_breakpoint_hit(uint32_t) {}
