#include "points/watchpoints_page.hpp"

// The Watchpoints page is not built yet; these keep their final names.

Watchpoint watchpoint_table[30];
uint32_t watchpoint_count = 0;
int32_t watchpoint_selected_row = -1;

void build_watchpoints_page(GtkWidget *) {}
void query_watchpoints() {}
void refresh_watchpoints(int) {}
void set_watchpoints_sensitive(int) {}
void reload_watchpoints_now() {}
void mark_watchpoint_hit(uint32_t, uint32_t) {}
